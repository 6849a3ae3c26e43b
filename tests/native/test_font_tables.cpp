// Font file readers: the naming table walk and the version text of sfnt
// files, the module description of raster font files, and the table checks
// that make a file a font. Files are built here; the fuzz targets check what
// holds for any bytes.
#include "core/FontTables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void PutBe(Bytes& b, size_t at, uint32_t value, unsigned width) {
    if (b.size() < at + width) b.resize(at + width);
    for (unsigned i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}
void PutLe(Bytes& b, size_t at, uint32_t value, unsigned width) {
    if (b.size() < at + width) b.resize(at + width);
    for (unsigned i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct Name {
    uint16_t platform, encoding, language, id;
    std::string text;  // the stored bytes
};
Name Mac(uint16_t id, const std::string& text) { return {1, 0, 0, id, text}; }
Name Win(uint16_t language, const std::u16string& text, uint16_t encoding = 1) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    return {3, encoding, language, 4, bytes};
}

struct Sfnt {
    Bytes bytes;
    size_t nameTable = 0;  // file offset of the naming table
    std::vector<size_t> strings;  // file offset of each record's string
    size_t End(size_t record) const { return nameTable + 6 + 12 * (record + 1); }
};

// An sfnt file of `tables` records, the one at namePosition tagged "name";
// its naming table follows the directory, its string storage starts `gap`
// bytes after the records, the strings in record order.
Sfnt Build(const std::vector<Name>& names, uint16_t tables = 1, uint16_t namePosition = 0, uint16_t gap = 0) {
    Sfnt s;
    Bytes& b = s.bytes;
    PutBe(b, 0, 0x00010000, 4);
    PutBe(b, 4, tables, 2);
    b.resize(12, 0);
    s.nameTable = 12 + 16u * tables;
    for (uint16_t i = 0; i < tables; ++i) {
        const std::string tag = i == namePosition ? "name" : "t" + std::to_string(100 + i);
        b.insert(b.end(), tag.begin(), tag.begin() + 4);
        PutBe(b, b.size(), 0, 4);
        PutBe(b, b.size(), i == namePosition ? static_cast<uint32_t>(s.nameTable) : 0, 4);
        PutBe(b, b.size(), 0, 4);
    }
    const size_t storage = 6 + 12 * names.size() + gap;
    PutBe(b, s.nameTable + 2, static_cast<uint32_t>(names.size()), 2);
    PutBe(b, s.nameTable + 4, static_cast<uint32_t>(storage), 2);
    size_t offset = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const Name& n = names[i];
        const size_t r = s.nameTable + 6 + 12 * i;
        for (unsigned k = 0; k < 4; ++k) PutBe(b, r + 2 * k, (&n.platform)[k], 2);
        PutBe(b, r + 8, static_cast<uint32_t>(n.text.size()), 2);
        PutBe(b, r + 10, static_cast<uint32_t>(offset), 2);
        s.strings.push_back(s.nameTable + storage + offset);
        offset += n.text.size();
    }
    b.resize(s.nameTable + storage, 0);
    for (const Name& n : names) b.insert(b.end(), n.text.begin(), n.text.end());
    return s;
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
    const std::string filler(33000, 'x');
    Sfnt farStrings = Build({Mac(6, filler), Mac(4, "Far Name"), Mac(5, "Version 3.2")}, 1, 0, 40000);
    Sfnt zeroOffset = Build({Mac(4, "Lost")});
    PutBe(zeroOffset.bytes, 12 + 8, 0, 4);
    Sfnt twoNameTables = Build({Mac(4, "Second")}, 2, 1);
    PutBe(twoNameTables.bytes, 12, 0x6E616D65, 4);  // "name" on record 0 too, at offset 0: passed over
    const struct {
        const char* label;
        Bytes file;
        bool found;
        std::string name;
        std::u16string windowsName;
        std::string version;  // "" when no version record was read
    } rows[] = {
        {"name and version", Build({Mac(4, "Orv Sans"), Mac(5, "Version 1.10")}).bytes, true, "Orv Sans", u"", "1.10.0.0"},
        {"the last Macintosh records win",
         Build({Mac(4, "First"), Mac(5, "Version 2.0"), Win(0x409, u"Win"), Mac(4, "Second"), Mac(5, "Version 3.5")}).bytes,
         true, "Second", u"Win", "3.5.0.0"},
        {"any encoding and language", Build({{1, 1, 11, 4, "Kanji"}}).bytes, true, "Kanji", u"", ""},
        {"empty Macintosh name still counts", Build({Mac(4, "")}).bytes, true, "", u"", ""},
        {"text ends at a zero byte", Build({Mac(4, std::string("Orv\0Tail", 8))}).bytes, true, "Orv", u"", ""},
        {"Windows records only: U.S. English",
         Build({Win(0x407, u"Deutsch"), Win(0x409, u"English"), Win(0x40C, u"Fran\u00E7ais")}).bytes, false, "",
         u"English", ""},
        {"Windows records only: the first", Build({Win(0x407, u"Deutsch"), Win(0x40C, u"Autre")}).bytes, false, "",
         u"Deutsch", ""},
        {"Windows symbol and full Unicode records", Build({Win(0x409, u"Sym", 0), Win(0x409, u"Full", 10)}).bytes, false,
         "", u"Sym", ""},
        {"other encodings and platforms are no name",
         Build({Win(0x409, u"Big5", 4), {0, 3, 0, 4, std::string("\0U", 2)}, Mac(1, "Family")}).bytes, false, "", u"", ""},
        {"naming table at the 40th record", Build({Mac(4, "Fortieth")}, 40, 39).bytes, true, "Fortieth", u"", ""},
        {"naming table after the 40th record", Build({Mac(4, "Hidden")}, 41, 40).bytes, false, "", u"", ""},
        {"storage and strings beyond 32767", farStrings.bytes, true, "Far Name", u"", "3.2.0.0"},
        {"naming table at offset 0", zeroOffset.bytes, false, "", u"", ""},
        {"a second naming table", twoNameTables.bytes, true, "Second", u"", ""},
        {"not a font", Bytes(200, 0x41), false, "", u"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const orv::SfntNames names = Read(row.file);
        EXPECT_EQ(names.nameFound, row.found);
        EXPECT_EQ(names.fullName, row.name);
        EXPECT_TRUE(names.windowsFullName == row.windowsName);
        EXPECT_EQ(names.versionFound ? Version(names.version) : "", row.version);
    }
}

// Every prefix of a file: a record is read only when all of it is there; a
// string keeps the bytes that are.
TEST(FontTables, NamingTableCutShort) {
    const Sfnt s = Build({Mac(5, "Version 4.2"), Mac(4, "Orv Serif")});
    for (size_t len = 0; len <= s.bytes.size(); ++len) {
        SCOPED_TRACE(len);
        const orv::SfntNames names = Read(Bytes(s.bytes.begin(), s.bytes.begin() + len));
        ASSERT_EQ(names.nameFound, len >= s.End(1));
        const size_t kept = len > s.strings[1] ? len - s.strings[1] : 0;
        if (names.nameFound) {
            ASSERT_EQ(names.fullName, std::string("Orv Serif").substr(0, kept));
        }
        ASSERT_EQ(names.versionFound, len >= s.End(0));
    }
}

// The version text rule, and the two open cases: no digit after the start
// gives 0.0.0.0 (no version), a single number n gives n.0.0.0.
TEST(FontTables, VersionText) {
    const struct { const char* text; const char* version; } rows[] = {
        {"Version 1.01", "1.1.0.0"},
        {"Version 1.10", "1.10.0.0"},
        {"Version 2.000;PS 2.0", "2.0.0.0"},
        {"Release 4.12b", "4.12.0.0"},
        {"1.5 Version 3.2", "3.2.0.0"},
        {"VERSION 7.3", "7.3.0.0"},
        {"Version 1..2", "1.2.0.0"},
        {"Version .5", "5.0.0.0"},
        {"Version 1.2.3.4", "1.2.0.0"},
        {"Version 70000.65537", "4464.1.0.0"},
        {"Version 2", "2.0.0.0"},
        {"Version x.y", "0.0.0.0"},
        {"3.1 Version beta", "0.0.0.0"},
        {"", "0.0.0.0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        uint16_t parts[4] = {9, 9, 9, 9};
        orv::ParseFontVersion(row.text, parts);
        EXPECT_EQ(Version(parts), row.version);
    }
}

// DOS header naming an NE header at 0x40 whose non-resident names table is at namesAt.
Bytes Raster(const std::string& entry, uint32_t neAt = 0x40, uint32_t namesAt = 0x80) {
    Bytes b(0x80, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutLe(b, 60, neAt, 4);
    PutLe(b, 0x40 + 44, namesAt, 4);
    b.push_back(static_cast<uint8_t>(entry.size()));
    b.insert(b.end(), entry.begin(), entry.end());
    return b;
}

TEST(FontTables, RasterFontName) {
    Bytes cut = Raster("FONTRES 100,96,96 : Orv 10");
    cut.resize(cut.size() - 3);
    const struct { const char* label; Bytes file; bool found; std::string name; } rows[] = {
        {"module description", Raster("FONTRES 100,96,96 : Orv 10"), true, "FONTRES 100,96,96 : Orv 10"},
        {"entry of length 0", Raster(""), true, ""},
        {"entry cut by the end of the file", cut, true, "FONTRES 100,96,96 : Orv"},
        {"text ends at a zero byte", Raster(std::string("Orv\0Tail", 8)), true, "Orv"},
        {"no NE header offset", Raster("x", 0), false, "prior"},
        {"no names table offset", Raster("x", 0x40, 0), false, "prior"},
        {"names table past the end", Raster("x", 0x40, 0x10000), false, "prior"},
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

// NE module at 0x40 whose resource table (at 0x40 + 0x60) lists the given types, one resource each.
Bytes NeModule(const std::vector<uint16_t>& types) {
    Bytes b(0xA0, 0);
    PutLe(b, 60, 0x40, 4);
    PutLe(b, 0x40, 'N' | 'E' << 8, 2);
    PutLe(b, 0x40 + 0x24, 0x60, 2);
    PutLe(b, 0xA0, 4, 2);  // alignment shift
    for (uint16_t type : types) {
        const size_t at = b.size();
        PutLe(b, at, type, 2);
        PutLe(b, at + 2, 1, 2);
        b.resize(at + 8 + 12, 0);
    }
    PutLe(b, b.size(), 0, 2);
    return b;
}

TEST(FontTables, WhatMakesAFontFile) {
    Bytes collection = {'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16};
    const Bytes font = Build({Mac(4, "Orv")}).bytes;
    collection.insert(collection.end(), font.begin(), font.end());
    Bytes noTables = font, tagNotText = font, tableOutside = font, collectionOfNone = collection;
    PutBe(noTables, 4, 0, 2);
    tagNotText[12] = 0x01;
    PutBe(tableOutside, 12 + 12, 0x10000, 4);
    PutBe(collectionOfNone, 8, 0, 4);
    const struct { const char* label; Bytes file; bool sfnt; } sfntRows[] = {
        {"table directory", font, true},
        {"collection", collection, true},
        {"no tables", noTables, false},
        {"directory past the end", Bytes(font.begin(), font.begin() + 20), false},
        {"tag that is no text", tagNotText, false},
        {"table past the end", tableOutside, false},
        {"collection of no fonts", collectionOfNone, false},
    };
    for (const auto& row : sfntRows) {
        SCOPED_TRACE(row.label);
        orv::MemorySource source(row.file.data(), row.file.size());
        EXPECT_EQ(orv::HasSfntTableDirectory(source, row.file.size()), row.sfnt);
    }
    const Bytes fon = NeModule({0x8007, 0x8008});
    const struct { const char* label; Bytes file; bool fonts; } neRows[] = {
        {"font directory and fonts", fon, true},
        {"16-bit program: icons and a version", NeModule({0x8003, 0x800E, 0x8010}), false},
        {"font directory alone", NeModule({0x8007}), false},
        {"no resources", NeModule({}), false},
        {"resource table cut short", Bytes(fon.begin(), fon.begin() + 0xA8), false},
    };
    for (const auto& row : neRows) {
        SCOPED_TRACE(row.label);
        orv::MemorySource source(row.file.data(), row.file.size());
        EXPECT_EQ(orv::HasRasterFontResources(source, 0x40, row.file.size()), row.fonts);
    }
}

}  // namespace
