// Names of the registry's top keys as they start a full key path
// ("HKEY_LOCAL_MACHINE\Software\..." or "HKLM\Software\..."). Portable.
#pragma once
#include <cstddef>

namespace orv {

enum class RegRoot : int {
    kNone = -1,
    kClassesRoot = 0,
    kCurrentUser,
    kLocalMachine,
    kUsers,
    kCurrentConfig,
    kPerformanceData,
    kDynData,
};

// Splits a full key path at its first component. The component must be a
// top key's full name or one of HKCR, HKCU, HKLM, HKU, HKCC (ASCII letter
// case ignored) and be followed by a backslash or the end. *restOffset is
// where the rest starts, after all backslashes that follow the component
// (the length of path when nothing follows). Anything else: kNone and
// *restOffset 0.
RegRoot SplitRegRoot(const wchar_t* path, size_t* restOffset);

}  // namespace orv
