// Which type libraries the loader may be given: stand-alone ones whose frame
// holds, and the TYPELIB resource of a PE module, found through its resource
// directory; each broken one field at a time.
#include "core/TypeLibImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ModuleBuilder.h"

namespace {

using orvtest::Bytes;
using orvtest::Put;

// "MSFT": header, no help DLL, two type information offsets, 15 segments;
// segment 0 holds 16 bytes after the directory, the others are absent.
Bytes Msft() {
    Bytes b(0x54 + 8 + 15 * 16 + 16, 0);
    std::memcpy(b.data(), "MSFT", 4);
    Put(b, 0x20, 2);
    for (int i = 0; i < 15; ++i) Put(b, 0x5C + 16 * i, i == 0 ? 0x5C + 15 * 16 : 0xFFFFFFFF);
    Put(b, 0x5C + 4, 16);
    return b;
}

// "SLTG": three blocks (two entries) of 4 bytes each.
Bytes Sltg() {
    Bytes b(0x24 + 2 * 8, 0);
    std::memcpy(b.data(), "SLTG", 4);
    Put(b, 4, 3, 2);
    Put(b, 10, 1, 2);
    for (int i = 0; i < 2; ++i) Put(b, 0x24 + 8 * i, 4);
    Put(b, 0x24 + 6, 2, 2);
    b.push_back(1);
    for (const char* magic : {"CompObj", "dir"}) b.insert(b.end(), magic, magic + std::strlen(magic) + 1);
    b.resize(b.size() + 11 + 9 + 8, 'x');
    return b;
}

// A module whose one section also holds a resource tree: type (named), id,
// language, data entry, the type's name, then the data.
struct Module {
    Bytes bytes;
    size_t root = 0, typeName = 0, dataEntry = 0;
};
Module WithResource(const Bytes& data, bool wide = false, const char* type = "TYPELIB", uint32_t id = 1) {
    Module m{orvtest::Build(orvtest::Module{{}, {}, 0, 1, wide})};
    Bytes& f = m.bytes;
    const size_t root = m.root = f.size();
    auto rva = [](size_t offset) { return static_cast<uint32_t>(offset - 0x200 + 0x1000); };
    f.resize(root + 3 * 24 + 16);
    for (int level = 0; level < 3; ++level) {
        const size_t dir = root + 24 * level;
        Put(f, dir + (level == 0 ? 12 : 14), 1, 2);  // one named entry, then one id entry each
        Put(f, dir + 20, level < 2 ? (0x80000000u | uint32_t(24 * (level + 1))) : uint32_t(3 * 24));
    }
    Put(f, root + 24 + 16, id);
    Put(f, root + 48 + 16, 0x409);
    m.typeName = f.size();
    Put(f, root + 16, 0x80000000u | uint32_t(m.typeName - root));
    Put(f, m.typeName, std::strlen(type), 2);
    for (size_t k = 0; type[k]; ++k) Put(f, m.typeName + 2 + 2 * k, static_cast<unsigned char>(type[k]), 2);
    m.dataEntry = root + 72;
    Put(f, m.dataEntry, rva(f.size()));
    Put(f, m.dataEntry + 4, data.size());
    f.insert(f.end(), data.begin(), data.end());
    const size_t pe = 0x40, optional = pe + 24, dirs = optional + (wide ? 112 : 96), section = optional + (wide ? 240 : 224);
    Put(f, dirs + 16, rva(root));
    Put(f, section + 8, f.size() - 0x200);
    Put(f, section + 16, f.size() - 0x200);
    return m;
}

using Patch = std::function<void(Bytes&)>;

TEST(TypeLibImage, StandAloneLibraries) {
    const struct { const char* label; Bytes (*make)(); Patch patch; bool whole; } rows[] = {
        {"MSFT", Msft, {}, true},
        {"MSFT header alone", Msft, [](Bytes& b) { b.resize(0x54); }, false},
        {"MSFT directory cut", Msft, [](Bytes& b) { b.resize(0x5C + 15 * 16 - 1); }, false},
        {"MSFT segment past the end", Msft, [](Bytes& b) { Put(b, 0x5C + 4, 17); }, false},
        {"MSFT segment of negative length", Msft, [](Bytes& b) { Put(b, 0x5C + 4, 0xFFFFFFF0); }, false},
        {"MSFT segment at a negative offset", Msft, [](Bytes& b) { Put(b, 0x5C + 16, 0x80000000); }, false},
        {"MSFT negative type information count", Msft, [](Bytes& b) { Put(b, 0x20, 0xFFFFFFFF); }, false},
        {"MSFT huge type information count", Msft, [](Bytes& b) { Put(b, 0x20, 0x7FFFFFFF); }, false},
        {"MSFT without segments, up to its directory", Msft, [](Bytes& b) { Put(b, 0x5C, 0xFFFFFFFF); b.resize(0x5C + 15 * 16 + 2); }, true},
        {"MSFT help DLL field moves the directory", Msft, [](Bytes& b) { Put(b, 0x5C, 0xFFFFFFFF); b.resize(0x5C + 15 * 16 + 2); Put(b, 0x14, 0x100); }, false},
        {"SLTG", Sltg, {}, true},
        {"SLTG blocks longer than the file", Sltg, [](Bytes& b) { Put(b, 0x24, 13); }, false},
        {"SLTG next block out of range", Sltg, [](Bytes& b) { Put(b, 0x24 + 6, 3, 2); }, false},
        {"SLTG first block out of range", Sltg, [](Bytes& b) { Put(b, 10, 3, 2); }, false},
        {"SLTG without its magic", Sltg, [](Bytes& b) { b[0x24 + 16 + 3] = 'X'; }, false},
        {"SLTG block count of 65535", Sltg, [](Bytes& b) { Put(b, 4, 0xFFFF, 2); }, false},
        {"neither", Msft, [](Bytes& b) { std::memcpy(b.data(), "MSFX", 4); }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Bytes b = row.make();
        if (row.patch) row.patch(b);
        EXPECT_EQ(orv::IsWholeTypeLibrary(b.data(), b.size()), row.whole);
    }
}

TEST(TypeLibImage, LibrariesInModules) {
    using MPatch = std::function<void(Module&)>;
    const struct { const char* label; bool wide; const char* type; uint32_t id; MPatch patch; bool found, mayLoad; } rows[] = {
        {"PE32", false, "TYPELIB", 1, {}, true, true},
        {"PE32+", true, "TYPELIB", 1, {}, true, true},
        {"type name in lower case", false, "typelib", 1, {}, true, true},
        {"another type", false, "REGISTRY", 1, {}, false, false},
        {"another number", false, "TYPELIB", 2, {}, false, false},
        {"damaged library", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.bytes.size() - Msft().size() + 0x60, 17); }, true, false},
        {"data past the end", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.dataEntry + 4, 0x100000); }, false, false},
        {"data at no section", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.dataEntry, 0x90000); }, false, false},
        {"type name past the end", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.root + 16, 0x8FFFFFFF); }, false, false},
        {"subdirectory past the end", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.root + 20, 0x8FFFFFF0); }, false, false},
        {"language leads to a directory", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.root + 68, 0x80000000); }, false, false},
        {"65535 entries, none of them TYPELIB", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, m.root + 12, 0xFFFF, 2); m.bytes[m.typeName + 2] = 'X'; }, false, false},
        {"no resource directory", false, "TYPELIB", 1, [](Module& m) { Put(m.bytes, 0x40 + 24 + 96 + 16, 0); }, false, false},
        {"cut before the library", false, "TYPELIB", 1, [](Module& m) { m.bytes.resize(m.dataEntry + 16); }, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Module m = WithResource(Msft(), row.wide, row.type, row.id);
        if (row.patch) row.patch(m);
        uint64_t offset = 0, length = 0;
        EXPECT_EQ(orv::FindTypeLibResource(m.bytes.data(), m.bytes.size(), &offset, &length), row.found);
        if (row.found) {
            EXPECT_TRUE(offset + length <= m.bytes.size() && std::memcmp(&m.bytes[offset], "MSFT", 4) == 0);
        }
        EXPECT_EQ(orv::MayLoadTypeLibrary(m.bytes.data(), m.bytes.size()), row.mayLoad);
    }
}

}  // namespace
