// A library's install command, carried out by the registration program
// orvregsv.exe (taken by its full path, com/RegistrationProgram.h):
//   orvregsv.exe <path> [/u] /s /c /w /n /i[:"<command>"]
// The program's exit code is the result (0 S_OK, a positive code as a Win32
// error, a negative one as it is). What it writes to its standard output
// (UTF-16) is logged when the result is a failure, on one line, '%' and
// unprintable characters replaced by '#', cut to 4095 characters.
#pragma once
#include <windows.h>

namespace orv::files {

// How long the program may run.
inline constexpr DWORD kDllInstallCommandTimeoutMs = 20000;

// Runs the command for pszDllPath: install when bInstall is non-zero, else
// uninstall; pszCommand (may be null) is the library's own install command.
// E_UNEXPECTED when the program is still running after the time-out (it is
// left running); 0x80070002 when it is nowhere to be found; the last error of
// CreateProcessW when it cannot be started.
HRESULT RunDllInstallCommand(LPCWSTR pszDllPath, BOOL bInstall, LPCWSTR pszCommand);

}  // namespace orv::files
