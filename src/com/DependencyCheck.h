// The module dependency check on this machine (core/DependencyWalk.h for the
// walk): tables read by the module image reader, names found the way the
// system's search finds a library for a module, and the report.
//
// The search never changes the process's current folder, which every thread
// of the setup program shares: it looks in an explicit list of folders that
// is the system's order with the importing module's folder in the place of
// the current folder: the setup program's folder, the importing module's
// folder, the system folder, the 16-bit system folder, the Windows folder,
// then the absolute folders of PATH.
#pragma once
#include <windows.h>

#include "core/DependencyWalk.h"

namespace orv::com {

// Error lines naming each unresolved module and each unresolved export.
// Nothing is written for empty containers.
void ReportUnresolvedDependencies(LPCWSTR pszPath, const UnresolvedModules& modules, const UnresolvedExports& exports);

}  // namespace orv::com
