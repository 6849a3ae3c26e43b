// Helpers shared by the sources of the utility library. Not exported.
#pragma once
#include <windows.h>

namespace orv::ut {

// Paths are held in MAX_PATH buffers: a path that does not fit with its
// terminator is refused.
inline bool PathFits(LPCWSTR path) {
    if (!path) return false;
    for (size_t i = 0; i < MAX_PATH; ++i) {
        if (path[i] == 0) return true;
    }
    return false;
}

// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)
inline constexpr HRESULT kHrPathTooLong = static_cast<HRESULT>(0x800700CEL);

// The thread's last error as a failure HRESULT (E_FAIL when no error was set).
inline HRESULT HrLastError() {
    const DWORD e = GetLastError();
    return e == 0 ? E_FAIL : HRESULT_FROM_WIN32(e);
}

}  // namespace orv::ut
