// Module image reader: header check, export and import tables of built
// images, and the same images broken one field at a time. The fuzz target
// checks what holds for any bytes (outputs kept on refusal, counts, bounds).
#include "core/PeImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "ModuleBuilder.h"

namespace {

using orv::ExportSet;
using orv::ImportedModule;
using orv::kPeMagic32;
using orv::kPeMagic64;
using orvtest::Bytes;
using orvtest::Put;

// Headers at 0x80; ".text" (VA 0x1000, file 0x200) and ".rdata" (VA 0x3000,
// file 0x210) holding import descriptors, lookup tables and names, then the
// export directory, name ordinals, name pointers, names and the function table.
constexpr uint32_t kPe = 0x80, kDataVa = 0x3000, kDataRaw = 0x210;

size_t Append(Bytes& b, const std::string& text, size_t hint = 0) {
    const size_t at = b.size();
    b.resize(at + hint);
    b.insert(b.end(), text.c_str(), text.c_str() + text.size() + 1);
    return at;
}
uint32_t Rva(size_t offset) { return static_cast<uint32_t>(offset - kDataRaw + kDataVa); }

// Lookup entries: a name, "#n" an ordinal (flag added) or "=n" a raw entry. Export names: name and slot.
struct Module { std::string name; std::vector<std::string> thunks; };
struct Exports { uint32_t base; std::vector<uint32_t> addresses; std::vector<std::pair<std::string, uint16_t>> names; };
struct Image {  // file offsets of what the rows patch
    Bytes bytes;
    size_t directories = 0, sections = 0, importDir = 0, exportDir = 0, namePointers = 0;
    std::vector<size_t> lookupTables;
    uint32_t End(size_t back) const { return Rva(bytes.size() - back); }
};

Image Build(uint16_t magic, const std::vector<Module>& imports, const Exports* exports) {
    Image im;
    Bytes& f = im.bytes;
    const bool wide = magic == kPeMagic64;
    const unsigned width = wide ? 8 : 4;
    f.assign(0x200, 0);
    f.resize(kDataRaw, 0xC3);
    if (!imports.empty()) {
        im.importDir = f.size();
        f.resize(f.size() + 20 * (imports.size() + 1));
        for (const Module& m : imports) {
            im.lookupTables.push_back(f.size());
            f.resize(f.size() + width * (m.thunks.size() + 1));
        }
        for (size_t i = 0; i < imports.size(); ++i) {
            const size_t desc = im.importDir + 20 * i, table = im.lookupTables[i];
            Put(f, desc, Rva(table));
            Put(f, desc + 16, Rva(table));
            Put(f, desc + 12, Rva(Append(f, imports[i].name)));
            for (size_t k = 0; k < imports[i].thunks.size(); ++k) {
                const std::string& t = imports[i].thunks[k];
                const uint64_t n = t[0] == '#' || t[0] == '=' ? std::stoull(t.substr(1), nullptr, 0) : 0;
                const uint64_t value = t[0] == '#' ? uint64_t{1} << (width * 8 - 1) | n : t[0] == '=' ? n : Rva(Append(f, t, 2));
                Put(f, table + width * k, value, width);
            }
        }
    }
    if (exports) {
        const size_t dir = im.exportDir = f.size(), n = exports->names.size();
        f.resize(dir + 40 + 2 * n);
        im.namePointers = f.size();
        f.resize(f.size() + 4 * n);
        for (size_t i = 0; i < n; ++i) {
            Put(f, dir + 40 + 2 * i, exports->names[i].second, 2);
            Put(f, im.namePointers + 4 * i, Rva(Append(f, exports->names[i].first)));
        }
        const size_t functions = f.size();
        for (size_t j = 0; j < exports->addresses.size(); ++j) Put(f, functions + 4 * j, exports->addresses[j]);
        const size_t fields[] = {exports->base, exports->addresses.size(), n, Rva(functions), Rva(im.namePointers), Rva(dir + 40)};
        for (size_t k = 0; k < 6; ++k) Put(f, dir + 16 + 4 * k, fields[k]);
    }
    const uint16_t optionalSize = wide ? 240 : 224;
    const uint32_t fields[][3] = {{0, 'M' | 'Z' << 8, 2}, {60, kPe, 4}, {kPe, 0x4550, 4}, {kPe + 4, wide ? 0x8664u : 0x14Cu, 2},
                                  {kPe + 6, 2, 2}, {kPe + 20, optionalSize, 2}, {kPe + 24, magic, 2}};
    for (const auto& field : fields) Put(f, field[0], field[1], field[2]);
    const size_t dirs = im.directories = kPe + 24 + (wide ? 112 : 96), sec = im.sections = kPe + 24 + optionalSize;
    Put(f, dirs - 4, 16);
    if (exports) Put(f, dirs, uint64_t(f.size() - im.exportDir) << 32 | Rva(im.exportDir), 8);
    if (!imports.empty()) Put(f, dirs + 8, uint64_t{20} * (imports.size() + 1) << 32 | Rva(im.importDir), 8);
    const uint32_t data = static_cast<uint32_t>(f.size() - kDataRaw);
    const uint32_t rows[2][4] = {{0x10, 0x1000, 0x10, 0x200}, {data, kDataVa, data, kDataRaw}};
    for (size_t s = 0; s < 2; ++s) {
        std::memcpy(&f[sec + 40 * s], s ? ".rdata" : ".text", s ? 6 : 5);
        for (size_t k = 0; k < 4; ++k) Put(f, sec + 40 * s + 8 + 4 * k, rows[s][k]);
    }
    return im;
}

// The last slot's address spells "AAAA": an unterminated name at the very end of an export-only image.
const Exports kSampleExports{5, {0x1000, 0, 0x1010, 0x1020, 0x41414141}, {{"Beta", 2}, {"Alpha", 0}}};
const ExportSet kSampleExportSet{L"5", L"7", L"8", L"9", L"Alpha", L"Beta"};
const std::vector<Module> kSampleImports{{"A.dll", {"f1", "f2"}}, {"B.dll", {"g1", "g2"}}};

std::wstring Render(const std::vector<ImportedModule>& modules) {
    std::wstring text;
    for (const ImportedModule& m : modules) {
        text += m.name + L":";
        for (const std::wstring& f : m.functions) text += f + (&f == &m.functions.back() ? L"" : L",");
        text += L";";
    }
    return text;
}
ExportSet ReadExports(const Bytes& b, uint16_t magic) {
    ExportSet set;
    orv::ReadExportTable(b.data(), b.size(), magic, set);
    return set;
}
std::wstring ReadImports(const Bytes& b, uint16_t magic, size_t* count = nullptr) {
    std::vector<ImportedModule> modules;
    const size_t n = orv::ReadImportTable(b.data(), b.size(), magic, modules);
    if (count) *count = n;
    return Render(modules);
}

using Patch = std::function<void(Image&)>;

TEST(PeImage, HeaderCheck) {
    const struct { const char* name; uint16_t built, accepted; Patch patch; bool ok, exportDir, importDir; } rows[] = {
        {"PE32 read as PE32", kPeMagic32, kPeMagic32, {}, true, true, true},
        {"PE32+ read as PE32+", kPeMagic64, kPeMagic64, {}, true, true, true},
        {"PE32+ refused by the PE32 reader", kPeMagic64, kPeMagic32, {}, false},
        {"PE32 refused by the PE32+ reader", kPeMagic32, kPeMagic64, {}, false},
        {"ROM magic", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, kPe + 24, 0x107, 2); }, false},
        {"only the two magics", kPeMagic32, 0x107, [](Image& i) { Put(i.bytes, kPe + 24, 0x107, 2); }, false},
        {"MZ is not examined", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes[0] = 0; }, true, true, true},
        {"cut inside the DOS header", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes.resize(63); }, false},
        {"PE offset straddles the end", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, 60, i.bytes.size() - 2); }, false},
        {"PE offset negative", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, 60, 0x80000000u); }, false},
        {"signature PE\\0\\1", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes[kPe + 3] = 1; }, false},
        {"cut before the magic", kPeMagic64, kPeMagic64, [](Image& i) { i.bytes.resize(kPe + 25); }, false},
        {"cut inside the directories", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes.resize(i.directories + 4); }, false},
        {"one directory", kPeMagic64, kPeMagic64, [](Image& i) { Put(i.bytes, i.directories - 4, 1); }, true, true, false},
        {"optional header ends before the directories", kPeMagic32, kPeMagic32,
         [](Image& i) { Put(i.bytes, kPe + 20, 100, 2); }, true, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = Build(row.built, kSampleImports, &kSampleExports);
        if (row.patch) row.patch(image);
        orv::PeImageHeaders h;
        std::memset(&h, 0xCD, sizeof h);
        ASSERT_EQ(row.ok, orv::ReadImageHeaders(image.bytes.data(), image.bytes.size(), row.accepted, &h));
        EXPECT_EQ(row.ok ? kPe : 0u, h.peHeaderOffset);
        EXPECT_EQ(row.exportDir ? Rva(image.exportDir) : 0u, h.exportRva);
        EXPECT_EQ(row.importDir ? Rva(image.importDir) : 0u, h.importRva);
        // What the image claims when mapped: its size, or a section reaching further.
        if (row.ok && image.bytes[kPe + 6] != 0) {
            const size_t sections = kPe + 24 + (image.bytes[kPe + 20] | image.bytes[kPe + 21] << 8);
            Put(image.bytes, kPe + 24 + 56, 0x3000);
            EXPECT_LE(0x3000u, orv::ClaimedImageExtent(&image.bytes[kPe], image.bytes.size() - kPe));
            Put(image.bytes, sections + 8, 0x10);
            Put(image.bytes, sections + 12, 0x78002000u);
            Put(image.bytes, sections + 16, 0x200);
            EXPECT_EQ(0x78002200u, orv::ClaimedImageExtent(&image.bytes[kPe], image.bytes.size() - kPe));
            EXPECT_EQ(0u, orv::ClaimedImageExtent(&image.bytes[kPe], 83));
        }
    }
}

TEST(PeImage, ExportSets) {
    const struct { const char* name; Exports exports; ExportSet expected; } rows[] = {
        {"named, ordinal-only and empty slots, base 5", kSampleExports, kSampleExportSet},
        {"a named slot with address 0 keeps its name", {1, {0}, {{"Gone", 0}}}, {L"1", L"Gone"}},
        {"name ordinal beyond the function table", {1, {0x1000}, {{"Far", 9}}}, {L"1", L"10", L"Far"}},
        {"ordinals wrap at 32 bits", {0xFFFFFFFF, {0x1000, 0x1000}, {}}, {L"0", L"4294967295"}},
        {"same name twice", {1, {1, 1}, {{"Same", 0}, {"Same", 1}}}, {L"1", L"2", L"Same"}},
        {"empty table", {1, {}, {}}, {}},
    };
    for (const auto& row : rows)
        for (uint16_t magic : {kPeMagic32, kPeMagic64}) {
            SCOPED_TRACE(row.name + std::to_string(magic));
            EXPECT_EQ(row.expected, ReadExports(Build(magic, kSampleImports, &row.exports).bytes, magic));
        }
}

TEST(PeImage, MalformedExportTables) {
    const ExportSet namesOnly{L"5", L"7", L"Alpha", L"Beta"};
    const struct { const char* name; Patch patch; ExportSet expected; } rows[] = {
        {"directory in no section", [](Image& i) { Put(i.bytes, i.directories, 0x9000); }, {}},
        {"directory just past its section", [](Image& i) { Put(i.bytes, i.sections + 48, i.exportDir - kDataRaw); }, {}},
        {"directory cut by the end of the view", [](Image& i) { Put(i.bytes, i.directories, i.End(20)); }, {}},
        {"name pointers past the view", [](Image& i) { Put(i.bytes, i.exportDir + 32, 0x7FFFFFF0); }, {}},
        {"name ordinals past the view", [](Image& i) { Put(i.bytes, i.exportDir + 36, 0x7FFFFFF0); }, {}},
        {"second name outside the view", [](Image& i) { Put(i.bytes, i.namePointers + 4, 0xFFFFFFF0); }, {L"7", L"Beta"}},
        {"second name below its section", [](Image& i) { Put(i.bytes, i.namePointers + 4, kDataVa - 0x100); }, {L"7", L"Beta"}},
        {"unterminated name at the end of the view", [](Image& i) { Put(i.bytes, i.namePointers + 4, i.End(4)); }, {L"7", L"Beta"}},
        {"name count past the view", [](Image& i) { Put(i.bytes, i.exportDir + 24, 0xFFFFFFFF); }, namesOnly},
        {"function count past the view", [](Image& i) { Put(i.bytes, i.exportDir + 20, 0xFFFFFFFF); }, kSampleExportSet},
        {"function table past the view", [](Image& i) { Put(i.bytes, i.exportDir + 28, 0xFFFFFFF0); }, namesOnly},
        {"function table cut by the end of the view", [](Image& i) { i.bytes.resize(i.bytes.size() - 8); }, namesOnly},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = Build(kPeMagic32, {}, &kSampleExports);
        row.patch(image);
        EXPECT_EQ(row.expected, ReadExports(image.bytes, kPeMagic32));
    }
}

TEST(PeImage, ImportLists) {
    const struct { const char* name; std::vector<Module> imports; std::wstring expected; } rows[] = {
        {"by name and by ordinal", {{"KERNEL32.dll", {"CreateFileW", "#12"}}, {"Ord.DLL", {"#1", "#65535"}}},
         L"kernel32.dll:CreateFileW,12;ord.dll:1,65535;"},
        {"empty lookup table", {{"None.dll", {}}, {"b.dll", {"g"}}}, L"none.dll:;b.dll:g;"},
        {"ordinal is the low 16 bits", {{"a.dll", {"#0x120005"}}}, L"a.dll:5;"},
        {"module name cut to 259", {{std::string(300, 'N'), {"#1"}}}, std::wstring(259, L'n') + L":1;"},
    };
    for (const auto& row : rows)
        for (uint16_t magic : {kPeMagic32, kPeMagic64}) {
            SCOPED_TRACE(row.name + std::to_string(magic));
            EXPECT_EQ(row.expected, ReadImports(Build(magic, row.imports, &kSampleExports).bytes, magic));
        }
    // In PE32+ bit 31 alone marks no ordinal: a name RVA outside the view ends the walk.
    const std::vector<Module> flagged{{"a.dll", {"f", "=0x80000005"}}, {"b.dll", {"g"}}};
    EXPECT_EQ(L"a.dll:f,5;b.dll:g;", ReadImports(Build(kPeMagic32, flagged, nullptr).bytes, kPeMagic32));
    EXPECT_EQ(L"a.dll:f;", ReadImports(Build(kPeMagic64, flagged, nullptr).bytes, kPeMagic64));
}

TEST(PeImage, MalformedImportTables) {
    const struct { const char* name; Patch patch; const wchar_t* expected; } rows[] = {
        {"directory in no section", [](Image& i) { Put(i.bytes, i.directories + 8, 0x9000); }, L""},
        {"empty table", [](Image& i) { Put(i.bytes, i.importDir, 0); }, L""},
        {"descriptors cut by the end of the view", [](Image& i) { Put(i.bytes, i.directories + 8, i.End(10)); }, L""},
        {"no end marker", [](Image& i) { Put(i.bytes, i.importDir + 40, 0x7FFFFFF0); }, L"a.dll:f1,f2;b.dll:g1,g2;"},
        {"module name outside the view", [](Image& i) { Put(i.bytes, i.importDir + 32, 0xFFFFFFF0); }, L"a.dll:f1,f2;"},
        {"lookup table outside the view", [](Image& i) { Put(i.bytes, i.importDir + 20, 0x7FFFFFF0); }, L"a.dll:f1,f2;b.dll:;"},
        {"name entry outside the view", [](Image& i) { Put(i.bytes, i.lookupTables[1] + 4, 0x7FFFFFF0); }, L"a.dll:f1,f2;b.dll:g1;"},
        {"name entry below its section", [](Image& i) { Put(i.bytes, i.lookupTables[1] + 4, kDataVa - 0x100); }, L"a.dll:f1,f2;b.dll:g1;"},
        {"unterminated name at the end of the view", [](Image& i) { i.bytes.pop_back(); }, L"a.dll:f1,f2;b.dll:g1;"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = Build(kPeMagic32, kSampleImports, nullptr);
        row.patch(image);
        EXPECT_EQ(row.expected, ReadImports(image.bytes, kPeMagic32));
    }
}

TEST(PeImage, TextConversion) {
    const Exports exports{1, {0}, {{"Ex\xC4", 0}}};
    const Bytes b = Build(kPeMagic32, {{"M\xC4X.DLL", {"Fn\xC4"}}}, &exports).bytes;
    // Default: bytes widened as Latin-1, only A-Z lower-cased.
    EXPECT_EQ(L"m\u00C4x.dll:Fn\u00C4;", ReadImports(b, kPeMagic32));
    EXPECT_EQ((ExportSet{L"1", L"Ex\u00C4"}), ReadExports(b, kPeMagic32));
    // Hooks: names go through toWide; module names also through toLower.
    orv::PeTextConverter hooks;
    hooks.toWide = [](std::string_view s) {
        std::wstring w;
        for (unsigned char c : s) w += static_cast<wchar_t>(c < 0x80 ? c : 0x400 + c);
        return w;
    };
    hooks.toLower = [](std::wstring& s) { s = L"<" + s + L">"; };
    std::vector<ImportedModule> modules;
    ExportSet set;
    orv::ReadImportTable(b.data(), b.size(), kPeMagic32, modules, hooks);
    EXPECT_EQ(L"<M\u04C4X.DLL>:Fn\u04C4;", Render(modules));
    orv::ReadExportTable(b.data(), b.size(), kPeMagic32, set, hooks);
    EXPECT_EQ((ExportSet{L"1", L"Ex\u04C4"}), set);
}

// Tables that reuse their entries would cost time and memory quadratic in the
// file's size; the walk is cut, while a large honest table is read whole.
TEST(PeImage, WalksAreBoundedByTheImageSize) {
    const size_t n = 4000;
    std::vector<std::string> thunks(n, "=1");
    thunks[0] = std::string(4000, 'x');
    Image shared = Build(kPeMagic32, {{"m.dll", thunks}}, nullptr);
    uint8_t* table = &shared.bytes[shared.lookupTables[0]];
    for (size_t k = 1; k < n; ++k) std::copy_n(table, 4, table + 4 * k);
    size_t count = 0;
    ReadImports(shared.bytes, kPeMagic32, &count);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, n / 10);

    Exports large{1, {}, {}};
    for (uint16_t j = 0; j < n; ++j) {
        large.addresses.push_back(0x1000 + j);
        large.names.emplace_back("Function_" + std::to_string(j), j);
    }
    EXPECT_EQ(2 * n, ReadExports(Build(kPeMagic64, {}, &large).bytes, kPeMagic64).size());

    // Ordinals are 16-bit: slots and names past the 65,536th are never read,
    // however many the directory claims and however far the table runs.
    const uint32_t beyond = 0x10000 + 100;
    Exports forged{1, std::vector<uint32_t>(beyond, 0x1000), {}};
    for (uint32_t i = 0; i < beyond; ++i) forged.names.emplace_back("F" + std::to_string(i), 0);
    Image image = Build(kPeMagic32, {}, &forged);
    Put(image.bytes, image.exportDir + 20, 0xFFFFFFFF);
    Put(image.bytes, image.exportDir + 24, 0xFFFFFFFF);
    const ExportSet bounded = ReadExports(image.bytes, kPeMagic32);
    EXPECT_EQ(bounded.size(), 2u * 0x10000);
    EXPECT_EQ(bounded.count(L"F65535") + bounded.count(L"65536"), 2u);
    EXPECT_EQ(bounded.count(L"F65536") + bounded.count(L"65537"), 0u);
}

}  // namespace
