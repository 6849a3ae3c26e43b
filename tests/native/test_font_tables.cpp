// Font file readers on files built here: the sfnt naming table and version
// text, the raster font description, and the table checks that make a file a
// font. The fuzz targets check what holds for any bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/FontTables.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, size_t at, uint32_t value, unsigned width, bool bigEndian = true) {
    if (b.size() < at + width) b.resize(at + width);
    for (unsigned i = 0; i < width; ++i)
        b[at + i] = static_cast<uint8_t>(value >> (8 * (bigEndian ? width - 1 - i : i)));
}

struct Name {
    uint16_t platform, encoding, language, id;
    std::string text;  // the stored bytes
};
Name Mac(uint16_t id, const std::string& text) { return {1, 0, 0, id, text}; }
Name Win(uint16_t language, const std::string& ascii, uint16_t encoding = 1) {
    std::string bytes;
    for (char c : ascii) bytes += {'\0', c};
    return {3, encoding, language, 4, bytes};
}

// An sfnt file of `tables` table records, the one at namePosition tagged
// "name"; the naming table follows the directory, its string storage `gap`
// bytes after the records, the strings in record order. *strings: the file
// offset of each string; *ends: where each name record ends.
Bytes Build(const std::vector<Name>& names, uint16_t tables = 1, uint16_t namePosition = 0, uint16_t gap = 0,
            std::vector<size_t>* strings = nullptr, std::vector<size_t>* ends = nullptr) {
    Bytes b(12 + 16u * tables, 0);
    Put(b, 0, 0x00010000, 4);
    Put(b, 4, tables, 2);
    const uint32_t table = 12 + 16u * tables, storage = 6 + 12 * static_cast<uint32_t>(names.size()) + gap;
    for (uint16_t i = 0; i < tables; ++i) Put(b, 12 + 16 * i, i == namePosition ? 0x6E616D65 : 0x74616200 + i, 4);
    Put(b, 12 + 16 * namePosition + 8, table, 4);
    Put(b, table + 2, static_cast<uint32_t>(names.size()), 2);
    Put(b, table + 4, storage, 2);
    uint32_t offset = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const size_t r = table + 6 + 12 * i;
        for (unsigned k = 0; k < 4; ++k) Put(b, r + 2 * k, (&names[i].platform)[k], 2);
        Put(b, r + 8, static_cast<uint32_t>(names[i].text.size()), 2);
        Put(b, r + 10, offset, 2);
        if (strings) strings->push_back(table + storage + offset);
        if (ends) ends->push_back(r + 12);
        offset += static_cast<uint32_t>(names[i].text.size());
    }
    b.resize(table + storage, 0);
    for (const Name& n : names) b.insert(b.end(), n.text.begin(), n.text.end());
    return b;
}

orv::SfntNames Read(const Bytes& file) {
    orv::MemorySource source(file.data(), file.size());
    orv::SfntNames names;
    names.fullName = "stale";
    orv::ReadSfntNames(source, &names);
    return names;
}

std::string Version(const uint16_t v[4]) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

TEST(FontTables, NamingTable) {
    Bytes zeroOffset = Build({Mac(4, "Lost")});
    Put(zeroOffset, 12 + 8, 0, 4);
    // version: "" when no version record was read.
    const struct { const char* label; Bytes file; bool found; std::string name, windowsName, version; } rows[] = {
        {"the last Macintosh records win",
         Build({Mac(4, "First"), Mac(5, "Version 2.0"), Win(0x409, "Win"), Mac(4, "Second"), Mac(5, "Version 3.5")}),
         true, "Second", "Win", "3.5.0.0"},
        {"any encoding and language", Build({{1, 1, 11, 4, std::string("Kan\0ji", 6)}}), true, "Kan", "", ""},
        {"empty Macintosh name still counts", Build({Mac(4, "")}), true, "", "", ""},
        {"Windows records: the first U.S. English",
         Build({Win(0x407, "Deutsch"), Win(0x409, "English", 10), Win(0x409, "Second"), Win(0x40C, "Autre")}), false,
         "", "English", ""},
        {"Windows records: else the first", Build({Win(0x407, "Deutsch", 0), Win(0x40C, "Autre")}), false, "",
         "Deutsch", ""},
        {"other encodings and platforms", Build({Win(0x409, "Big5", 4), {0, 3, 0, 4, "U"}, Mac(1, "Family")}), false,
         "", "", ""},
        {"naming table at the 40th record", Build({Mac(4, "Fortieth")}, 40, 39), true, "Fortieth", "", ""},
        {"naming table after the 40th record", Build({Mac(4, "Hidden")}, 41, 40), false, "", "", ""},
        {"storage and strings beyond 32767",
         Build({Mac(6, std::string(33000, 'x')), Mac(4, "Far"), Mac(5, "1.5")}, 1, 0, 40000), true, "Far", "",
         "1.5.0.0"},
        {"naming table at offset 0", zeroOffset, false, "", "", ""},
        {"not a font", Bytes(200, 0x41), false, "", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const orv::SfntNames names = Read(row.file);
        EXPECT_EQ(names.nameFound, row.found);
        EXPECT_EQ(names.fullName, row.name);
        EXPECT_EQ(std::string(names.windowsFullName.begin(), names.windowsFullName.end()), row.windowsName);
        EXPECT_EQ(names.versionFound ? Version(names.version) : "", row.version);
    }
}

// Every prefix of a file: a record is read only when all of it is there; a
// string keeps the bytes that are.
TEST(FontTables, NamingTableCutShort) {
    std::vector<size_t> strings, ends;
    const Bytes file = Build({Mac(5, "Version 4.2"), Mac(4, "Orv Serif")}, 1, 0, 0, &strings, &ends);
    for (size_t len = 0; len <= file.size(); ++len) {
        SCOPED_TRACE(len);
        const orv::SfntNames names = Read(Bytes(file.begin(), file.begin() + len));
        ASSERT_EQ(names.versionFound, len >= ends[0]);
        ASSERT_EQ(names.nameFound, len >= ends[1]);
        ASSERT_EQ(names.fullName,
                  std::string(names.nameFound ? "Orv Serif" : "").substr(0, len - std::min(len, strings[1])));
    }
}

// The version text rule, and the two open cases: no digit after the start
// gives 0.0.0.0 (no version), a single number n gives n.0.0.0.
TEST(FontTables, VersionText) {
    const struct { const char* text; const char* version; } rows[] = {
        {"Version 1.01", "1.1.0.0"}, {"Version 1.10", "1.10.0.0"}, {"Version 2.000;PS 2.0", "2.0.0.0"},
        {"Release 4.12b", "4.12.0.0"}, {"1.5 Version 3.2", "3.2.0.0"}, {"VERSION 7.3", "7.3.0.0"},
        {"Version 1..2", "1.2.0.0"}, {"Version .5", "5.0.0.0"}, {"Version 1.2.3.4", "1.2.0.0"},
        {"Version 2", "2.0.0.0"}, {"Version 70000.65537", "4464.1.0.0"}, {"Version x.y", "0.0.0.0"},
        {"3.1 Version beta", "0.0.0.0"}, {"", "0.0.0.0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint16_t parts[4] = {9, 9, 9, 9};
        orv::ParseFontVersion(row.text, parts);
        EXPECT_EQ(Version(parts), row.version);
    }
}

// A DOS header naming an NE header at neAt (0x40), whose non-resident names
// table at namesAt (0x80) starts with entry, and whose resource table at 0xA0
// lists one resource of each of the types.
Bytes Ne(const std::string& entry, uint32_t neAt = 0x40, uint32_t namesAt = 0x80,
         const std::vector<uint16_t>& types = {}) {
    Bytes b(0xA2, 0);
    Put(b, 60, neAt, 4, false);
    Put(b, 0x40 + 0x24, 0x60, 2, false);
    Put(b, 0x40 + 44, namesAt, 4, false);
    b[0x80] = static_cast<uint8_t>(entry.size());
    std::copy(entry.begin(), entry.end(), b.begin() + 0x81);
    for (uint16_t type : types) {
        Put(b, b.size(), type, 2, false);
        Put(b, b.size(), 1, 2, false);
        b.resize(b.size() + 16, 0);
    }
    b.resize(b.size() + 2, 0);
    return b;
}

TEST(FontTables, RasterFontName) {
    const Bytes full = Ne("FONTRES 100,96,96 : Orv 10"), cut(full.begin(), full.begin() + 0x81 + 23);
    const struct { const char* label; Bytes file; bool found; std::string name; } rows[] = {
        {"module description", full, true, "FONTRES 100,96,96 : Orv 10"},
        {"entry of length 0", Ne(""), true, ""},
        {"entry cut by the end of the file", cut, true, "FONTRES 100,96,96 : Orv"},
        {"no NE header offset", Ne("x", 0), false, "prior"},
        {"no names table offset", Ne("x", 0x40, 0), false, "prior"},
        {"names table past the end", Ne("x", 0x40, 0x10000), false, "prior"},
        {"DOS header cut short", Bytes(63, 0), false, "prior"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        orv::MemorySource source(row.file.data(), row.file.size());
        std::string name = "prior";
        EXPECT_EQ(orv::ReadRasterFontName(source, &name), row.found);
        EXPECT_EQ(name, row.name);
    }
}

// Type detection's second look: an sfnt table directory, NE font resources.
TEST(FontTables, WhatMakesAFontFile) {
    const Bytes font = Build({Mac(4, "Orv")}), fon = Ne("", 0x40, 0x80, {0x8007, 0x8008});
    Bytes collection = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16}, noTables = font, notText = font;
    collection.insert(collection.end(), font.begin(), font.end());
    Bytes noFonts = collection, outside = font;
    Put(noTables, 4, 0, 2);
    notText[12] = 0x01;
    Put(outside, 12 + 12, 0x10000, 4);
    Put(noFonts, 8, 0, 4);
    const struct { const char* label; bool ne; Bytes file; bool font; } rows[] = {
        {"table directory", false, font, true},
        {"collection", false, collection, true},
        {"no tables", false, noTables, false},
        {"directory past the end", false, Bytes(font.begin(), font.begin() + 20), false},
        {"tag that is no text", false, notText, false},
        {"table past the end", false, outside, false},
        {"collection of no fonts", false, noFonts, false},
        {"font directory and fonts", true, fon, true},
        {"16-bit program: icon and version", true, Ne("", 0x40, 0x80, {0x8003, 0x8010}), false},
        {"font directory alone", true, Ne("", 0x40, 0x80, {0x8007}), false},
        {"no resources", true, Ne(""), false},
        {"resource table cut short", true, Bytes(fon.begin(), fon.begin() + 0xBA), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        orv::MemorySource source(row.file.data(), row.file.size());
        EXPECT_EQ(row.ne ? orv::HasRasterFontResources(source, 0x40, row.file.size())
                         : orv::HasSfntTableDirectory(source, row.file.size()),
                  row.font);
    }
}

}  // namespace
