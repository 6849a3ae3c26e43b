// App Paths entries of installed programs:
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\<file name>, whose
// default value is the program's full path and whose "Path" value is its
// folder, followed by ";" and the caller's extra search path when one is given.
#pragma once
#include <windows.h>

namespace orv::files {

// Writes the entry for the program at pszTarget. S_OK (a failure to write
// "Path" is ignored), or 0x8007xxxx when the key or its default value cannot
// be written. A path without a file name (or that does not fit MAX_PATH) is
// refused before the registry is touched: it would name the App Paths key itself.
HRESULT RegisterAppPath(LPCWSTR pszTarget, LPCWSTR pszAppPaths);

// Deletes the entry named by the file name of pszPath with all it holds.
// S_OK, S_FALSE when there was none, 0x8007xxxx when it cannot be deleted.
HRESULT UnregisterAppPath(LPCWSTR pszPath);

}  // namespace orv::files
