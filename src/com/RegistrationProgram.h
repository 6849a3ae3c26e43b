// Where the registration program orvregsv.exe is taken from. It ships beside
// the setup program, so that folder comes first; then the system folder, the
// 16-bit system folder, the Windows folder and the folders of PATH, the order
// in which the system looks for a program started by name. The current
// folder is left out (and so are relative PATH entries, which name folders
// below it): a program of that name in whatever folder the setup happens to
// run from must never run with the installer's rights. Callers start the
// program by the full path found here.
#pragma once
#include <windows.h>

namespace orv::com {

inline constexpr WCHAR kRegistrationProgram[] = L"orvregsv.exe";

// The full path of the first orvregsv.exe found in that order; false, with
// out empty, when there is none.
bool FindRegistrationProgram(WCHAR (&out)[MAX_PATH]);

}  // namespace orv::com
