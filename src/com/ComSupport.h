// What the COM server operations share: paths of MAX_PATH buffers, the
// error of a call that failed, child processes waited for, and the
// dependency report after a registration that failed every way.
#pragma once
#include <windows.h>

#include <string>

#include "files/FileModel.h"
#include "platform/PathText.h"

namespace orv::com {

// How long orvregsv.exe and regsvr32.exe may run.
inline constexpr DWORD kRegistrationProgramTimeoutMs = 31000;

// The error of a call that just failed; never 0, so never S_OK.
DWORD FailedCallError();

// The low 16 bits of a result: the error number of its Win32 line.
inline DWORD ErrorOf(HRESULT hr) { return static_cast<DWORD>(hr) & 0xFFFF; }

using orv::JoinPath;

// The folder of the running program (GetModuleFileNameW(NULL)).
bool ProgramFolder(WCHAR (&out)[MAX_PATH]);

// Starts a program (application may be null: the first word of the command
// line names it) without handle inheritance and waits up to timeoutMs. The
// exit code as a result (0 S_OK, positive 0x8007xxxx, negative as it is);
// the start's last error as a result; E_UNEXPECTED when the program is still
// running (it is left running) or the wait fails.
HRESULT RunAndWait(LPCWSTR application, std::wstring commandLine, DWORD timeoutMs);

// After every way of (un)registering failed: the dependency check of the
// server and, when something is missing, its report. Never fails the caller.
void ReportMissingDependencies(CWexKrExecutableFile& file, LPCWSTR server);

}  // namespace orv::com
