// The dependency walk over a small machine of synthesized module images,
// described by the input: up to six modules in three folders (or absent),
// each built with imports and exports of the input's choosing, some of them
// of the other bitness, replaced by raw bytes or with a byte changed. The walk
// must end, read each table once, and report exactly what a plain search over
// the same files finds missing (a broken promise aborts).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <queue>
#include <set>
#include <string>

#include "ModuleBuilder.h"
#include "core/DependencyWalk.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Bytes from the front of the input; 0 once it is used up.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }

private:
    const uint8_t* m_data;
    size_t m_size, m_at = 0;
};

const wchar_t* const kFolders[] = {L"c:\\app", L"c:\\sys", L"c:\\other"};

std::wstring LastComponent(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

orvtest::Bytes MakeModule(Input& in, uint8_t flags) {
    if (flags & 8) {  // raw bytes
        orvtest::Bytes raw(in.Byte());
        for (uint8_t& b : raw) b = in.Byte();
        return raw;
    }
    orvtest::Module m;
    m.wide = (flags & 4) != 0;
    for (int imports = in.Byte() % 5; imports > 0; --imports) {
        const uint8_t target = in.Byte();
        std::string name = "m" + std::to_string(target & 7) + ".dll";
        if (target & 8)
            for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::vector<std::string> functions;
        for (int count = in.Byte() % 4; count > 0; --count) {
            const uint8_t f = in.Byte();
            functions.push_back((f & 8) ? "#" + std::to_string(1 + f % 5) : "f" + std::to_string(f % 4));
        }
        m.imports.emplace_back(name, functions);
    }
    const uint8_t exports = in.Byte();
    for (int k = 0; k < 4; ++k)
        if (exports & (1 << k)) m.names.push_back("f" + std::to_string(k));
    m.unnamed = (exports >> 4) & 3;
    m.base = 1 + (exports >> 6);
    orvtest::Bytes image = orvtest::Build(m);
    if (flags & 16) {  // one byte changed
        const size_t at = (size_t{in.Byte()} << 8 | in.Byte()) % image.size();
        image[at] ^= static_cast<uint8_t>(in.Byte() | 1);
    }
    return image;
}

// Lower-case paths whose import tables were read, and names whose export
// tables were read, each counted once per spelling the walk used.
std::map<std::wstring, int> ByLowerKey(orvtest::Files& machine, const std::map<std::wstring, int>& reads,
                                       bool byName) {
    std::map<std::wstring, int> counts;
    for (const auto& [path, count] : reads) counts[machine.Lower(byName ? LastComponent(path) : path)] += count;
    return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    orvtest::Files machine;
    const int count = 1 + in.Byte() % 6;
    std::wstring root;
    for (int i = 0; i < count; ++i) {
        const uint8_t flags = in.Byte();
        const std::wstring path = std::wstring(kFolders[(flags & 3) % 3]) + L"\\m" + std::to_wstring(i) + L".dll";
        if (i == 0)  // the walk starts at module 0, spelled in upper case, present or not
            for (wchar_t c : path) root.push_back(static_cast<wchar_t>(std::towupper(c)));
        orvtest::Bytes image = MakeModule(in, flags);
        if ((flags & 3) != 3) machine.files[path] = std::move(image);
    }

    orv::UnresolvedModules modules;
    orv::UnresolvedExports exports;
    orv::DependencyWalkState state;
    const bool clean = orv::WalkDependencies(root, state, machine, modules, exports);
    Check(clean == (modules.empty() && exports.empty()));

    // Each import table is read once per path, each export table once per name.
    const std::map<std::wstring, int> importReads = ByLowerKey(machine, machine.importReads, false);
    for (const auto& [path, reads] : importReads) Check(reads == 1);
    for (const auto& [name, reads] : ByLowerKey(machine, machine.exportReads, true)) Check(reads == 1);

    // The same search, breadth first, over the same files: which modules are
    // reached, which names are missing, where each name is found.
    std::set<std::wstring> reached, missing;
    std::map<std::wstring, std::set<std::wstring>> foundAs;  // name -> lower-case paths
    std::map<std::wstring, std::set<std::wstring>> imported;  // name -> functions
    std::queue<std::wstring> queue;
    queue.push(machine.Lower(root));
    while (!queue.empty()) {
        const std::wstring path = queue.front();
        queue.pop();
        if (!reached.insert(path).second) continue;
        std::vector<orv::ImportedModule> records;
        auto file = machine.files.find(path);
        if (file != machine.files.end())
            orv::ReadImportTable(file->second.data(), file->second.size(), orv::kPeMagic32, records);
        std::set<std::wstring> seen;
        for (const orv::ImportedModule& record : records) {
            if (!seen.insert(record.name).second) continue;  // each edge once
            std::wstring found;
            if (!machine.Search(record.name, FolderOf(path), &found)) {
                missing.insert(record.name);
                continue;
            }
            found = machine.Lower(found);
            foundAs[record.name].insert(found);
            imported[record.name].insert(record.functions.begin(), record.functions.end());
            queue.push(found);
        }
    }
    Check(modules == missing);
    Check(importReads.size() == reached.size());
    for (const std::wstring& path : reached) Check(importReads.count(path) == 1);

    // A reported export was imported under that name from a module found
    // under it; where a name is found as one file only, the report is exact.
    std::set<std::pair<std::wstring, std::wstring>> exact, expected;
    for (const auto& [key, version] : exports) {
        Check(version == L"0.0.0.0");
        const std::wstring path = machine.Lower(key.second), name = LastComponent(path);
        Check(foundAs[name].count(path) == 1 && imported[name].count(key.first) == 1);
        if (foundAs[name].size() == 1) exact.emplace(key.first, path);
    }
    for (const auto& [name, paths] : foundAs) {
        if (paths.size() != 1) continue;
        const orvtest::Bytes& image = machine.files.at(*paths.begin());
        orv::ExportSet set;
        orv::ReadExportTable(image.data(), image.size(), orv::kPeMagic32, set);
        for (const std::wstring& function : imported[name])
            if (!set.count(function)) expected.emplace(function, *paths.begin());
    }
    Check(exact == expected);

    // A second walk over the same state adds nothing and reads nothing.
    const orv::UnresolvedModules modulesBefore = modules;
    const orv::UnresolvedExports exportsBefore = exports;
    const auto readsBefore = machine.importReads;
    Check(orv::WalkDependencies(root, state, machine, modules, exports) == clean);
    Check(modules == modulesBefore && exports == exportsBefore && machine.importReads == readsBefore);
    return 0;
}
