// The dependency walk over synthesized module images: what it reports, that
// it ends on cycles and self-imports, and that each table is read once.
#include "core/DependencyWalk.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using orv::ExportSet;
using orv::ImportedModule;
using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, size_t at, uint64_t value, unsigned width = 4) {
    if (b.size() < at + width) b.resize(at + width);
    for (unsigned i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// One module: its imports ("name" or "#ordinal" per function) and its
// exports: names first, then `unnamed` slots without names; ordinals from base.
struct Module {
    std::vector<std::pair<std::string, std::vector<std::string>>> imports;
    std::vector<std::string> names;
    uint32_t unnamed = 0, base = 1;
    bool wide = false;  // PE32+ (the other bitness for a PE32 reader)
};

// Headers at 0x40, one section (VA 0x1000, file 0x200) holding all tables.
Bytes Build(const Module& m) {
    constexpr uint32_t kPe = 0x40, kRaw = 0x200, kVa = 0x1000;
    const unsigned width = m.wide ? 8 : 4;
    Bytes f(kRaw, 0);
    auto rva = [&](size_t offset) { return static_cast<uint32_t>(offset - kRaw + kVa); };
    auto text = [&](const std::string& s, size_t hint) {  // returns its RVA
        f.resize(f.size() + hint);
        f.insert(f.end(), s.c_str(), s.c_str() + s.size() + 1);
        return rva(f.size() - s.size() - 1 - hint);
    };
    const size_t importDir = m.imports.empty() ? 0 : f.size();
    f.resize(f.size() + 20 * (m.imports.size() + 1));
    for (size_t i = 0; i < m.imports.size(); ++i) {
        const size_t table = f.size();
        f.resize(table + width * (m.imports[i].second.size() + 1));
        Put(f, importDir + 20 * i, rva(table));
        Put(f, importDir + 20 * i + 12, text(m.imports[i].first, 0));
        for (size_t k = 0; k < m.imports[i].second.size(); ++k) {
            const std::string& fn = m.imports[i].second[k];
            Put(f, table + width * k, fn[0] == '#' ? (uint64_t{1} << (width * 8 - 1)) | std::stoul(fn.substr(1)) : text(fn, 2), width);
        }
    }
    const uint32_t slots = static_cast<uint32_t>(m.names.size()) + m.unnamed, names = static_cast<uint32_t>(m.names.size());
    const size_t exportDir = slots ? f.size() : 0, functions = f.size() + 40, pointers = functions + 4 * slots;
    if (slots) f.resize(pointers + 6 * names);
    for (uint32_t j = 0; j < slots; ++j) Put(f, functions + 4 * j, 0x1000 + j);
    for (uint32_t i = 0; i < names; ++i) {
        Put(f, pointers + 4 * names + 2 * i, i, 2);
        Put(f, pointers + 4 * i, text(m.names[i], 0));
    }
    const uint32_t fields[] = {m.base, slots, names, rva(functions), rva(pointers), rva(pointers + 4 * names)};
    for (size_t k = 0; slots && k < 6; ++k) Put(f, exportDir + 16 + 4 * k, fields[k]);
    const uint16_t optionalSize = m.wide ? 240 : 224;
    const uint64_t header[][3] = {{0, 'M' | 'Z' << 8, 2}, {60, kPe, 4}, {kPe, 0x4550, 4}, {kPe + 4, m.wide ? 0x8664u : 0x14Cu, 2},
                                  {kPe + 6, 1, 2}, {kPe + 20, optionalSize, 2}, {kPe + 24, m.wide ? orv::kPeMagic64 : orv::kPeMagic32, 2}};
    for (const auto& field : header) Put(f, field[0], field[1], static_cast<unsigned>(field[2]));
    const size_t dirs = kPe + 24 + (m.wide ? 112 : 96), section = kPe + 24 + optionalSize;
    Put(f, dirs - 4, 16);
    if (exportDir) Put(f, dirs, rva(exportDir));
    if (importDir) Put(f, dirs + 8, rva(importDir));
    const uint32_t size = static_cast<uint32_t>(f.size() - kRaw);
    for (uint32_t k = 0, row[4] = {size, kVa, size, kRaw}; k < 4; ++k) Put(f, section + 8 + 4 * k, row[k]);
    return f;
}

// A machine of files: a module is found in its importer's folder, else in C:\sys.
class Files : public orv::DependencySource {
public:
    std::map<std::wstring, Bytes> files;  // by lower-case path
    std::map<std::wstring, int> importReads, exportReads;

    std::vector<ImportedModule> ReadImports(const std::wstring& path) override {
        ++importReads[path];
        std::vector<ImportedModule> modules;
        if (const Bytes* b = Find(path)) orv::ReadImportTable(b->data(), b->size(), orv::kPeMagic32, modules);
        return modules;
    }
    ExportSet ReadExports(const std::wstring& path) override {
        ++exportReads[path];
        ExportSet set;
        if (const Bytes* b = Find(path)) orv::ReadExportTable(b->data(), b->size(), orv::kPeMagic32, set);
        return set;
    }
    bool Search(const std::wstring& name, const std::wstring& folder, std::wstring* found) override {
        for (const std::wstring& dir : {folder, std::wstring(L"c:\\sys")}) {
            if (Find(dir + L"\\" + name)) {
                *found = dir + L"\\" + name;
                return true;
            }
        }
        return false;
    }
    std::wstring VersionText(const std::wstring& path) override { return path == L"c:\\sys\\v.dll" ? L"5.1.0.0" : L"0.0.0.0"; }
    std::wstring Lower(const std::wstring& text) override {
        std::wstring lower = text;
        for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
        return lower;
    }

private:
    const Bytes* Find(const std::wstring& path) {
        auto it = files.find(Lower(path));
        return it == files.end() ? nullptr : &it->second;
    }
};

TEST(DependencyWalk, ReportsWhatIsMissingOnceAndEnds) {
    const Module exportsF{{}, {"f", "g"}};
    struct Row {
        const char* label;
        std::map<std::wstring, Bytes> files;  // the walk starts at c:\app\a.dll
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
    } rows[] = {
        {"cycle and self-import, everything exported",
         {{L"c:\\app\\a.dll", Build({{{"b.dll", {"f"}}, {"a.dll", {"g"}}}, {"g"}})},
          {L"c:\\app\\b.dll", Build({{{"a.dll", {"g"}}, {"b.dll", {"f"}}}, {"f"}})}},
         {}, {}},
        {"a missing library imported by two modules is reported once",
         {{L"c:\\app\\a.dll", Build({{{"x.dll", {"f"}}, {"b.dll", {"f"}}}, {}})},
          {L"c:\\sys\\b.dll", Build({{{"X.DLL", {"g"}}}, {"f"}})}},
         {L"x.dll"}, {}},
        {"functions by ordinal against exports without names",
         {{L"c:\\app\\a.dll", Build({{{"o.dll", {"#6", "#5", "#9"}}}, {}})},
          {L"c:\\sys\\o.dll", Build({{}, {}, 2, 5})}},
         {}, {{{L"9", L"c:\\sys\\o.dll"}, L"0.0.0.0"}}},
        {"a library of the other bitness lacks every function, with its version",
         {{L"c:\\app\\a.dll", Build({{{"v.dll", {"f", "#2"}}}, {}})},
          {L"c:\\sys\\v.dll", Build({{}, {"f"}, 2, 1, true})}},
         {}, {{{L"2", L"c:\\sys\\v.dll"}, L"5.1.0.0"}, {{L"f", L"c:\\sys\\v.dll"}, L"5.1.0.0"}}},
        {"a library that is no image; the server's own folder is searched first",
         {{L"c:\\app\\a.dll", Build({{{"m.dll", {"f"}}, {"b.dll", {"g"}}}, {}})},
          {L"c:\\app\\m.dll", Bytes(600, 0xFF)}, {L"c:\\sys\\m.dll", Build(exportsF)},
          {L"c:\\app\\b.dll", Build(exportsF)}},
         {}, {{{L"f", L"C:\\App\\m.dll"}, L"0.0.0.0"}}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.label);
        Files machine;
        machine.files = row.files;
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
        EXPECT_EQ(orv::CheckModuleDependencies(L"C:\\App\\A.dll", machine, modules, exports),
                  row.modules.empty() && row.exports.empty());
        EXPECT_EQ(modules, row.modules);
        EXPECT_EQ(exports, row.exports);
        for (const auto& reads : {machine.importReads, machine.exportReads})
            for (const auto& [path, count] : reads) EXPECT_EQ(count, 1) << std::string(path.begin(), path.end());
    }
}

}  // namespace
