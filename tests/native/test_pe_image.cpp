#include "core/PeImage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

namespace {

using orv::ExportSet;
using orv::ImportedModule;
using orv::kPeMagic32;
using orv::kPeMagic64;
using Bytes = std::vector<uint8_t>;

// ---- A small image builder -------------------------------------------------
// Headers at 0x80, section ".text" (VA 0x1000, file 0x200) and section
// ".rdata" (VA 0x3000, file 0x210) holding every table: import descriptors,
// lookup tables, module names and hint/name entries, then the export
// directory, name ordinals, name pointers, names and last the function table.
constexpr uint32_t kPe = 0x80, kDataVa = 0x3000, kDataRaw = 0x210;

void Put(Bytes& b, size_t at, uint64_t value, unsigned width) {
    if (b.size() < at + width) b.resize(at + width);
    for (unsigned i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
size_t Append(Bytes& b, const std::string& text, size_t hint = 0) {
    const size_t at = b.size();
    b.resize(at + hint);
    b.insert(b.end(), text.begin(), text.end());
    b.push_back(0);
    return at;
}

// A lookup entry: a name, an ordinal (flag added by the builder) or a raw value.
struct Thunk {
    std::string name;
    uint64_t value = 0;
    bool ordinal = false;
};
Thunk Named(std::string name) { return {std::move(name)}; }
Thunk ByOrdinal(uint64_t ordinal) { return {"", ordinal, true}; }
Thunk Raw(uint64_t value) { return {"", value, false}; }

struct Module {
    std::string name;
    std::vector<Thunk> thunks;
};
struct Exports {
    uint32_t base = 1;
    std::vector<uint32_t> addresses;
    std::vector<std::pair<std::string, uint16_t>> names;  // name, slot
};

struct Image {
    Bytes bytes;
    size_t directories = 0, sections = 0;  // file offsets of landmarks
    size_t importDir = 0, exportDir = 0, namePointers = 0;
    std::vector<size_t> lookupTables;
    static uint32_t Rva(size_t offset) { return static_cast<uint32_t>(offset - kDataRaw + kDataVa); }
    uint32_t End(size_t back) const { return Rva(bytes.size() - back); }
};

Image Build(uint16_t magic, const std::vector<Module>& imports, const Exports* exports) {
    Image image;
    Bytes d;
    auto rva = [](size_t off) { return static_cast<uint32_t>(kDataVa + off); };
    const unsigned width = magic == kPeMagic64 ? 8 : 4;
    if (!imports.empty()) {
        image.importDir = kDataRaw + d.size();
        d.resize(20 * (imports.size() + 1));
        std::vector<size_t> tables;
        for (const Module& m : imports) {
            tables.push_back(d.size());
            image.lookupTables.push_back(kDataRaw + d.size());
            d.resize(d.size() + width * (m.thunks.size() + 1));
        }
        for (size_t i = 0; i < imports.size(); ++i) {
            Put(d, 20 * i, rva(tables[i]), 4);
            Put(d, 20 * i + 12, rva(Append(d, imports[i].name)), 4);
            Put(d, 20 * i + 16, rva(tables[i]), 4);
            for (size_t k = 0; k < imports[i].thunks.size(); ++k) {
                const Thunk& t = imports[i].thunks[k];
                const uint64_t value = t.ordinal ? (uint64_t{1} << (width * 8 - 1)) | t.value
                                       : t.name.empty() ? t.value : rva(Append(d, t.name, 2));
                Put(d, tables[i] + width * k, value, width);
            }
        }
    }
    if (exports) {
        const size_t dir = d.size(), n = exports->names.size();
        image.exportDir = kDataRaw + dir;
        d.resize(dir + 40 + 2 * n);
        image.namePointers = kDataRaw + d.size();
        d.resize(d.size() + 4 * n);
        for (size_t i = 0; i < n; ++i) {
            Put(d, dir + 40 + 2 * i, exports->names[i].second, 2);
            Put(d, image.namePointers - kDataRaw + 4 * i, rva(Append(d, exports->names[i].first)), 4);
        }
        const size_t functions = d.size();
        for (size_t j = 0; j < exports->addresses.size(); ++j) Put(d, functions + 4 * j, exports->addresses[j], 4);
        const uint64_t fields[] = {exports->base, exports->addresses.size(), n, rva(functions),
                                   rva(image.namePointers - kDataRaw), rva(dir + 40)};
        for (size_t k = 0; k < 6; ++k) Put(d, dir + 16 + 4 * k, fields[k], 4);
    }
    Bytes& f = image.bytes;
    const uint16_t optionalSize = magic == kPeMagic64 ? 240 : 224;
    f.assign(0x200, 0);
    f[0] = 'M', f[1] = 'Z';
    Put(f, 60, kPe, 4);
    Put(f, kPe, 0x4550, 4);
    Put(f, kPe + 4, magic == kPeMagic64 ? 0x8664 : 0x14C, 2);
    Put(f, kPe + 6, 2, 2);
    Put(f, kPe + 20, optionalSize, 2);
    Put(f, kPe + 24, magic, 2);
    image.directories = kPe + 24 + (magic == kPeMagic64 ? 112 : 96);
    Put(f, image.directories - 4, 16, 4);
    if (exports)
        Put(f, image.directories, uint64_t{kDataRaw + d.size() - image.exportDir} << 32 | Image::Rva(image.exportDir), 8);
    if (!imports.empty())
        Put(f, image.directories + 8, uint64_t{20} * (imports.size() + 1) << 32 | Image::Rva(image.importDir), 8);
    const size_t sections = image.sections = kPe + 24 + optionalSize;
    const uint32_t rows[2][4] = {{0x10, 0x1000, 0x10, 0x200}, {uint32_t(d.size()), kDataVa, uint32_t(d.size()), kDataRaw}};
    for (size_t s = 0; s < 2; ++s) {
        std::memcpy(&f[sections + 40 * s], s ? ".rdata" : ".text", s ? 6 : 5);
        for (size_t k = 0; k < 4; ++k) Put(f, sections + 40 * s + 8 + 4 * k, rows[s][k], 4);
    }
    f.resize(kDataRaw, 0xC3);
    f.insert(f.end(), d.begin(), d.end());
    return image;
}

// The sample tables most rows start from. The last slot's address spells
// "AAAA", an unterminated name at the very end of an export-only image.
const Exports kSampleExports{5, {0x1000, 0, 0x1010, 0x1020, 0x41414141}, {{"Beta", 2}, {"Alpha", 0}}};
const ExportSet kSampleExportSet{L"5", L"7", L"8", L"9", L"Alpha", L"Beta"};
const std::vector<Module> kSampleImports{{"A.dll", {Named("f1"), Named("f2")}}, {"B.dll", {Named("g1"), Named("g2")}}};

std::wstring Render(const std::vector<ImportedModule>& modules) {
    std::wstring text;
    for (const ImportedModule& m : modules) {
        text += m.name + L":";
        for (const std::wstring& f : m.functions) text += f + (&f == &m.functions.back() ? L"" : L",");
        text += L";";
    }
    return text;
}

ExportSet ReadExports(const Bytes& b, uint16_t magic, size_t* count = nullptr) {
    ExportSet set;
    const size_t n = orv::ReadExportTable(b.data(), b.size(), magic, set);
    if (count) *count = n;
    return set;
}
std::wstring ReadImports(const Bytes& b, uint16_t magic, size_t* count = nullptr) {
    std::vector<ImportedModule> modules;
    const size_t n = orv::ReadImportTable(b.data(), b.size(), magic, modules);
    if (count) *count = n;
    return Render(modules);
}

using Patch = std::function<void(Image&)>;

// ---- Tests ------------------------------------------------------------------

TEST(PeImage, HeaderCheck) {
    struct Row {
        const char* name;
        uint16_t built, accepted;
        Patch patch;
        bool ok, exportDir, importDir;
    } rows[] = {
        {"PE32 read as PE32", kPeMagic32, kPeMagic32, {}, true, true, true},
        {"PE32+ read as PE32+", kPeMagic64, kPeMagic64, {}, true, true, true},
        {"PE32+ refused by the PE32 reader", kPeMagic64, kPeMagic32, {}, false},
        {"PE32 refused by the PE32+ reader", kPeMagic32, kPeMagic64, {}, false},
        {"ROM magic", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, kPe + 24, 0x107, 2); }, false},
        {"only the two magics", kPeMagic32, 0x107, [](Image& i) { Put(i.bytes, kPe + 24, 0x107, 2); }, false},
        {"MZ is not examined", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes[0] = 0; }, true, true, true},
        {"empty file", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes.clear(); }, false},
        {"cut inside the DOS header", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes.resize(63); }, false},
        {"PE offset at the end", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, 60, i.bytes.size(), 4); }, false},
        {"PE offset straddles the end", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, 60, i.bytes.size() - 2, 4); }, false},
        {"PE offset negative", kPeMagic32, kPeMagic32, [](Image& i) { Put(i.bytes, 60, 0x80000000u, 4); }, false},
        {"signature PE\\0\\1", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes[kPe + 3] = 1; }, false},
        {"cut before the magic", kPeMagic64, kPeMagic64, [](Image& i) { i.bytes.resize(kPe + 25); }, false},
        {"cut inside the directories", kPeMagic32, kPeMagic32, [](Image& i) { i.bytes.resize(i.directories + 4); }, false},
        {"one directory", kPeMagic64, kPeMagic64, [](Image& i) { Put(i.bytes, i.directories - 4, 1, 4); }, true, true, false},
        {"optional header ends before the directories", kPeMagic32, kPeMagic32,
         [](Image& i) { Put(i.bytes, kPe + 20, 100, 2); }, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = Build(row.built, kSampleImports, &kSampleExports);
        if (row.patch) row.patch(image);
        orv::PeImageHeaders h;
        std::memset(&h, 0xCD, sizeof h);
        ASSERT_EQ(row.ok, orv::ReadImageHeaders(image.bytes.data(), image.bytes.size(), row.accepted, &h));
        EXPECT_EQ(row.ok ? kPe : 0u, h.peHeaderOffset);
        EXPECT_EQ(row.exportDir ? Image::Rva(image.exportDir) : 0u, h.exportRva);
        EXPECT_EQ(row.importDir ? Image::Rva(image.importDir) : 0u, h.importRva);
    }
}

TEST(PeImage, ExportSets) {
    struct Row {
        const char* name;
        Exports exports;
        ExportSet expected;
    } rows[] = {
        {"named, ordinal-only and empty slots, base 5", kSampleExports, kSampleExportSet},
        {"DllRegisterServer by ordinal only", {1, {0x1000, 0x1010}, {{"DllGetClassObject", 0}}}, {L"1", L"2", L"DllGetClassObject"}},
        {"a named slot with address 0 keeps its name", {1, {0}, {{"Gone", 0}}}, {L"1", L"Gone"}},
        {"name ordinal beyond the function table", {1, {0x1000}, {{"Far", 9}}}, {L"1", L"10", L"Far"}},
        {"ordinals wrap at 32 bits", {0xFFFFFFFF, {0x1000, 0x1000}, {}}, {L"0", L"4294967295"}},
        {"same name twice", {1, {1, 1}, {{"Same", 0}, {"Same", 1}}}, {L"1", L"2", L"Same"}},
        {"empty table", {1, {}, {}}, {}},
    };
    for (const Row& row : rows)
        for (uint16_t magic : {kPeMagic32, kPeMagic64}) {
            SCOPED_TRACE(std::string(row.name) + (magic == kPeMagic64 ? " (PE32+)" : " (PE32)"));
            size_t count = 99;
            EXPECT_EQ(row.expected, ReadExports(Build(magic, kSampleImports, &row.exports).bytes, magic, &count));
            EXPECT_EQ(row.expected.size(), count);
        }
}

TEST(PeImage, MalformedExportTables) {
    const ExportSet namesOnly{L"5", L"7", L"Alpha", L"Beta"};
    struct Row {
        const char* name;
        Patch patch;
        ExportSet expected;
    } rows[] = {
        {"directory in no section", [](Image& i) { Put(i.bytes, i.directories, 0x9000, 4); }, {}},
        {"directory just past its section", [](Image& i) { Put(i.bytes, i.sections + 48, i.exportDir - kDataRaw, 4); }, {}},
        {"directory cut by the end of the view", [](Image& i) { Put(i.bytes, i.directories, i.End(20), 4); }, {}},
        {"name pointers past the view", [](Image& i) { Put(i.bytes, i.exportDir + 32, 0x7FFFFFF0, 4); }, {}},
        {"name ordinals past the view", [](Image& i) { Put(i.bytes, i.exportDir + 36, 0x7FFFFFF0, 4); }, {}},
        {"second name outside the view", [](Image& i) { Put(i.bytes, i.namePointers + 4, 0xFFFFFFF0, 4); }, {L"7", L"Beta"}},
        {"second name below its section", [](Image& i) { Put(i.bytes, i.namePointers + 4, kDataVa - 0x100, 4); }, {L"7", L"Beta"}},
        {"unterminated name at the end of the view", [](Image& i) { Put(i.bytes, i.namePointers + 4, i.End(4), 4); }, {L"7", L"Beta"}},
        {"name count past the view", [](Image& i) { Put(i.bytes, i.exportDir + 24, 0xFFFFFFFF, 4); }, namesOnly},
        {"function count past the view", [](Image& i) { Put(i.bytes, i.exportDir + 20, 0xFFFFFFFF, 4); }, kSampleExportSet},
        {"function table past the view", [](Image& i) { Put(i.bytes, i.exportDir + 28, 0xFFFFFFF0, 4); }, namesOnly},
        {"function table cut by the end of the view", [](Image& i) { i.bytes.resize(i.bytes.size() - 8); }, namesOnly},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = Build(kPeMagic32, {}, &kSampleExports);
        row.patch(image);
        EXPECT_EQ(row.expected, ReadExports(image.bytes, kPeMagic32));
    }
}

TEST(PeImage, ImportLists) {
    struct Row {
        const char* name;
        std::vector<Module> imports;
        std::wstring expected;
        size_t count;
    } rows[] = {
        {"by name and by ordinal", {{"KERNEL32.dll", {Named("CreateFileW"), ByOrdinal(12), Named("ExitProcess")}}, {"Ord.DLL", {ByOrdinal(1), ByOrdinal(65535)}}},
         L"kernel32.dll:CreateFileW,12,ExitProcess;ord.dll:1,65535;", 5},
        {"empty lookup table", {{"None.dll", {}}, {"b.dll", {Named("g")}}}, L"none.dll:;b.dll:g;", 1},
        {"ordinal is the low 16 bits", {{"a.dll", {ByOrdinal(0x120005)}}}, L"a.dll:5;", 1},
        {"module name cut to 259", {{std::string(300, 'N'), {ByOrdinal(1)}}}, std::wstring(259, L'n') + L":1;", 1},
    };
    for (const Row& row : rows)
        for (uint16_t magic : {kPeMagic32, kPeMagic64}) {
            SCOPED_TRACE(std::string(row.name) + (magic == kPeMagic64 ? " (PE32+)" : " (PE32)"));
            size_t count = 99;
            EXPECT_EQ(row.expected, ReadImports(Build(magic, row.imports, &kSampleExports).bytes, magic, &count));
            EXPECT_EQ(row.count, count);
        }
    // The lookup entry width follows the magic: in PE32+ bit 31 alone marks no
    // ordinal, so the entry is a name RVA far outside the view and ends the walk.
    const std::vector<Module> flagged{{"a.dll", {Named("f"), Raw(0x80000005)}}, {"b.dll", {Named("g")}}};
    EXPECT_EQ(L"a.dll:f,5;b.dll:g;", ReadImports(Build(kPeMagic32, flagged, nullptr).bytes, kPeMagic32));
    EXPECT_EQ(L"a.dll:f;", ReadImports(Build(kPeMagic64, flagged, nullptr).bytes, kPeMagic64));
}

TEST(PeImage, MalformedImportTables) {
    struct Row {
        const char* name;
        Patch patch;
        const wchar_t* expected;
        size_t count;
    } rows[] = {
        {"directory in no section", [](Image& i) { Put(i.bytes, i.directories + 8, 0x9000, 4); }, L"", 0},
        {"empty table", [](Image& i) { Put(i.bytes, i.importDir, 0, 4); }, L"", 0},
        {"descriptors cut by the end of the view", [](Image& i) { Put(i.bytes, i.directories + 8, i.End(10), 4); }, L"", 0},
        {"no end marker", [](Image& i) { Put(i.bytes, i.importDir + 40, 0x7FFFFFF0, 4); }, L"a.dll:f1,f2;b.dll:g1,g2;", 4},
        {"module name outside the view", [](Image& i) { Put(i.bytes, i.importDir + 32, 0xFFFFFFF0, 4); }, L"a.dll:f1,f2;", 2},
        {"lookup table outside the view", [](Image& i) { Put(i.bytes, i.importDir + 20, 0x7FFFFFF0, 4); }, L"a.dll:f1,f2;b.dll:;", 2},
        {"name entry outside the view", [](Image& i) { Put(i.bytes, i.lookupTables[1] + 4, 0x7FFFFFF0, 4); }, L"a.dll:f1,f2;b.dll:g1;", 3},
        {"name entry below its section", [](Image& i) { Put(i.bytes, i.lookupTables[1] + 4, kDataVa - 0x100, 4); }, L"a.dll:f1,f2;b.dll:g1;", 3},
        {"unterminated name at the end of the view", [](Image& i) { i.bytes.pop_back(); }, L"a.dll:f1,f2;b.dll:g1;", 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Image image = Build(kPeMagic32, kSampleImports, nullptr);
        row.patch(image);
        size_t count = 99;
        EXPECT_EQ(row.expected, ReadImports(image.bytes, kPeMagic32, &count));
        EXPECT_EQ(row.count, count);
    }
}

// Outputs keep what they held: a refused image leaves them alone and returns
// 0; an absent export directory returns the set's size as it was.
TEST(PeImage, RefusedAndAbsentTablesLeaveOutputs) {
    const Bytes notPe(512, 'x');
    struct Row {
        const char* name;
        Bytes bytes;
        uint16_t magic;
        size_t exportCount;
    } rows[] = {
        {"PE32+ image, PE32 reader", Build(kPeMagic64, kSampleImports, &kSampleExports).bytes, kPeMagic32, 0},
        {"PE32 image, PE32+ reader", Build(kPeMagic32, kSampleImports, &kSampleExports).bytes, kPeMagic64, 0},
        {"not a PE file", notPe, kPeMagic32, 0},
        {"no directories", Build(kPeMagic32, {}, nullptr).bytes, kPeMagic32, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ExportSet exports{L"prior"};
        std::vector<ImportedModule> modules{{L"prior", {L"f"}}};
        EXPECT_EQ(row.exportCount, orv::ReadExportTable(row.bytes.data(), row.bytes.size(), row.magic, exports));
        EXPECT_EQ(0u, orv::ReadImportTable(row.bytes.data(), row.bytes.size(), row.magic, modules));
        EXPECT_EQ(ExportSet{L"prior"}, exports);
        EXPECT_EQ(L"prior:f;", Render(modules));
    }
}

TEST(PeImage, TextConversion) {
    const std::vector<Module> imports{{"M\xC4X.DLL", {Named("Fn\xC4")}}};
    const Exports exports{1, {0}, {{"Ex\xC4", 0}}};
    const Bytes b = Build(kPeMagic32, imports, &exports).bytes;
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
    EXPECT_EQ(1u, orv::ReadImportTable(b.data(), b.size(), kPeMagic32, modules, hooks));
    EXPECT_EQ(L"<M\u04C4X.DLL>:Fn\u04C4;", Render(modules));
    EXPECT_EQ(2u, orv::ReadExportTable(b.data(), b.size(), kPeMagic32, set, hooks));
    EXPECT_EQ((ExportSet{L"1", L"Ex\u04C4"}), set);
}

// Tables that reuse their entries would cost time and memory quadratic in the
// file's size; the walk is cut, while a large honest table is read whole.
TEST(PeImage, WalksAreBoundedByTheImageSize) {
    const size_t n = 4000;
    std::vector<Thunk> thunks{Named(std::string(4000, 'x'))};
    thunks.resize(n, Raw(1));
    Image shared = Build(kPeMagic32, {{"m.dll", thunks}}, nullptr);
    for (size_t k = 1; k < n; ++k) Put(shared.bytes, shared.lookupTables[0] + 4 * k, Get32(shared.bytes, shared.lookupTables[0]), 4);
    size_t count = 0;
    ReadImports(shared.bytes, kPeMagic32, &count);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, n / 10);

    Exports large;
    for (uint16_t j = 0; j < n; ++j) {
        large.addresses.push_back(0x1000 + j);
        large.names.emplace_back("Function_" + std::to_string(j), j);
    }
    ReadExports(Build(kPeMagic64, {}, &large).bytes, kPeMagic64, &count);
    EXPECT_EQ(2 * n, count);
}

// Not a test: writes the fuzzer's seed images when run on purpose, as in
//   ORV_PE_SEED_DIR=fuzz/corpus/pe_image native_tests
//     --gtest_also_run_disabled_tests --gtest_filter='*WriteSeedCorpus'
TEST(PeImage, DISABLED_WriteSeedCorpus) {
    const char* dir = std::getenv("ORV_PE_SEED_DIR");
    ASSERT_NE(nullptr, dir);
    const std::vector<Module> imports{{"KERNEL32.dll", {Named("CreateFileW"), ByOrdinal(12)}}, {"ole32.dll", {ByOrdinal(7)}}};
    const std::pair<const char*, Image> seeds[] = {
        {"pe32_both", Build(kPeMagic32, imports, &kSampleExports)},
        {"pe64_both", Build(kPeMagic64, imports, &kSampleExports)},
        {"pe32_exports", Build(kPeMagic32, {}, &kSampleExports)},
        {"pe64_imports", Build(kPeMagic64, kSampleImports, nullptr)},
    };
    for (const auto& seed : seeds) {
        std::ofstream out(std::string(dir) + "/" + seed.first, std::ios::binary);
        out.write(reinterpret_cast<const char*>(seed.second.bytes.data()), seed.second.bytes.size());
        ASSERT_TRUE(out.good()) << seed.first;
    }
}

}  // namespace
