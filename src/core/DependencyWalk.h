// The module dependency check: which modules a module imports that cannot be
// found, and which imported functions the modules found do not export, over
// every module reachable through the import tables. Nothing is loaded: the
// tables are read from the files. Portable: how tables are read, names
// searched and versions read is the caller's DependencySource.
//
// Each import of a module (importing path, imported name) is examined once,
// so the walk ends for any set of files, cycles and self-imports included.
// The walk keeps its own stack instead of recursing, so a long chain of
// modules cannot exhaust the thread's stack.
#pragma once
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/PeImage.h"

namespace orv {

// Longest module path kept as a cache key, in UTF-16 code units.
constexpr size_t kMaxDependencyKey = 259;

// Imported module names that the search did not find, sorted by name.
using UnresolvedModules = std::set<std::wstring>;
// (function name or ordinal, full path of the module it was looked for in)
// -> that module's version text; sorted by function, then path.
using UnresolvedExports = std::map<std::pair<std::wstring, std::wstring>, std::wstring>;

// What the walk asks of the machine. A file that cannot be read as a module
// of the accepted kind has no imports and no exports.
class DependencySource {
public:
    virtual ~DependencySource() = default;
    virtual std::vector<ImportedModule> ReadImports(const std::wstring& path) = 0;
    virtual ExportSet ReadExports(const std::wstring& path) = 0;
    // The full path under which the system's search finds the module `name`
    // for a module that lies in `importerFolder`; false when it finds none.
    virtual bool Search(const std::wstring& name, const std::wstring& importerFolder, std::wstring* found) = 0;
    // The module's file version as text (the text of a version that is not
    // valid when it has none).
    virtual std::wstring VersionText(const std::wstring& path) = 0;
    virtual std::wstring Lower(const std::wstring& text) = 0;
};

// The state of one check: visited edges, import cache (by lower-case path)
// and export cache (by the imported name, as the import table spells it).
struct DependencyWalkState {
    std::set<std::pair<std::wstring, std::wstring>> visitedEdges;
    std::map<std::wstring, std::vector<ImportedModule>> importCache;
    std::map<std::wstring, ExportSet> exportCache;
};

// Walks from `path`, depth first, adding to the two result containers. True
// when both are empty afterwards (also what earlier walks added counts).
// May throw std::bad_alloc.
bool WalkDependencies(const std::wstring& path, DependencyWalkState& state, DependencySource& source,
                      UnresolvedModules& modules, UnresolvedExports& exports);

// WalkDependencies with a fresh state, discarded afterwards.
bool CheckModuleDependencies(const std::wstring& path, DependencySource& source, UnresolvedModules& modules,
                             UnresolvedExports& exports);

}  // namespace orv
