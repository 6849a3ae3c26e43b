#include "core/DependencyWalk.h"

namespace orv {
namespace {

// The folder of a path: everything before its last separator; a drive's
// root keeps its backslash ("C:\x.dll" lies in "C:\").
std::wstring FolderOf(const std::wstring& path) {
    const size_t at = path.find_last_of(L"\\/");
    if (at == std::wstring::npos) return std::wstring();
    if (at == 2 && path[1] == L':') return path.substr(0, 3);
    return path.substr(0, at);
}

// Steps of one module: its imports examined, the modules found to be walked next.
std::vector<std::wstring> Examine(const std::wstring& path, DependencyWalkState& state, DependencySource& source,
                                  UnresolvedModules& modules, UnresolvedExports& exports) {
    const std::wstring key = source.Lower(path.substr(0, kMaxDependencyKey));
    auto cached = state.importCache.find(key);
    if (cached == state.importCache.end()) cached = state.importCache.emplace(key, source.ReadImports(path)).first;

    const std::wstring folder = FolderOf(path);
    std::vector<std::wstring> toVisit;
    for (const ImportedModule& record : cached->second) {
        if (!state.visitedEdges.emplace(key, record.name).second) continue;
        std::wstring found;
        if (!source.Search(record.name, folder, &found)) {
            modules.insert(record.name);
            continue;
        }
        toVisit.push_back(found);
        auto exported = state.exportCache.find(record.name);
        if (exported == state.exportCache.end())
            exported = state.exportCache.emplace(record.name, source.ReadExports(found)).first;
        // The version only matters for what is reported; it is read once per record.
        bool versionRead = false;
        std::wstring version;
        for (const std::wstring& function : record.functions) {
            if (exported->second.count(function)) continue;
            if (!versionRead) {
                version = source.VersionText(found);
                versionRead = true;
            }
            exports.emplace(std::make_pair(function, found), version);
        }
    }
    return toVisit;
}

}  // namespace

bool WalkDependencies(const std::wstring& path, DependencyWalkState& state, DependencySource& source,
                      UnresolvedModules& modules, UnresolvedExports& exports) {
    // One entry per module being walked: the modules its imports found, and
    // how many of them have been walked. The order is that of a recursion.
    struct Level {
        std::vector<std::wstring> toVisit;
        size_t next = 0;
    };
    std::vector<Level> stack;
    stack.push_back(Level{Examine(path, state, source, modules, exports)});
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.toVisit.size()) {
            stack.pop_back();
            continue;
        }
        const std::wstring next = top.toVisit[top.next++];
        std::vector<std::wstring> found = Examine(next, state, source, modules, exports);
        stack.push_back(Level{std::move(found)});
    }
    return modules.empty() && exports.empty();
}

bool CheckModuleDependencies(const std::wstring& path, DependencySource& source, UnresolvedModules& modules,
                             UnresolvedExports& exports) {
    DependencyWalkState state;
    return WalkDependencies(path, state, source, modules, exports);
}

}  // namespace orv
