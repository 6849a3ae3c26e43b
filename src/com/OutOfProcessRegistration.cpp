// Registration by another program: the registration program orvregsv.exe
// (taken by full path, com/RegistrationProgram.h) and the system's
// regsvr32.exe. Each may run 31000 ms; its exit code is the result.
#include <string>

#include "com/ComSupport.h"
#include "com/RegistrationProgram.h"
#include "files/FileModel.h"
#include "platform/KrLog.h"

using namespace orv;

// "orvregsv.exe <path> [/u] /s /w": the path is passed as it is, without
// quotation marks; the program puts a path with blanks together again.
HRESULT CWexKrCOMServerFile::RegisterOutOfProcess(LPCWSTR pszServer, BOOL bRegister) {
    std::wstring commandLine = std::wstring(com::kRegistrationProgram) + L" " + (pszServer ? pszServer : L"");
    if (!bRegister) commandLine += L" /u";
    commandLine += L" /s /w";
    LogInfo(L"CreateProcess on: '%s'", commandLine.c_str());
    WCHAR program[MAX_PATH];
    if (!com::FindRegistrationProgram(program)) {
        LogWin32(WEX_SEV_ERROR, ERROR_FILE_NOT_FOUND,
                 L"orvregsv.exe is neither beside the setup program nor in the system folders or on the search path");
        return HResultFromWin32(ERROR_FILE_NOT_FOUND);
    }
    LogInfo(L"Registration program: '%s'", program);
    return com::RunAndWait(program, commandLine, com::kRegistrationProgramTimeoutMs);
}

// "<system folder>\regsvr32.exe <path, quoted when it has blanks>[ /s /u] /s".
// Unregistering passes both " /s /u" and " /s": harmless, and kept as callers know it.
HRESULT CWexKrCOMServerFile::RegisterWithRegsvr32(LPCWSTR pszServer, BOOL bRegister) {
    WCHAR system[MAX_PATH + 1];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return HResultFromWin32(static_cast<LONG>(com::FailedCallError()));
    const std::wstring program = std::wstring(system) + L"\\regsvr32.exe";
    const std::wstring server = pszServer ? pszServer : L"";
    std::wstring commandLine = program + L" ";
    commandLine += server.find(L' ') != std::wstring::npos ? L"\"" + server + L"\"" : server;
    if (!bRegister) commandLine += L" /s /u";
    commandLine += L" /s";
    LogInfo(L"CreateProcess on '%s'", commandLine.c_str());
    // Started by its full path, so the command line's unquoted first word is never searched for.
    return com::RunAndWait(program.c_str(), commandLine, com::kRegistrationProgramTimeoutMs);
}
