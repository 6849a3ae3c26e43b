#include "com/ComSupport.h"

#include <shlwapi.h>
#include <cwchar>

#include "platform/KrLog.h"
#include "platform/Raii.h"

namespace orv::com {

DWORD FailedCallError() {
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

bool ProgramFolder(WCHAR (&out)[MAX_PATH]) {
    const DWORD n = GetModuleFileNameW(nullptr, out, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        out[0] = 0;
        return false;
    }
    PathRemoveFileSpecW(out);
    return true;
}

HRESULT RunAndWait(LPCWSTR application, std::wstring commandLine, DWORD timeoutMs) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(application, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return HResultFromWin32(static_cast<LONG>(FailedCallError()));
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) return E_UNEXPECTED;
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode)) return HResultFromWin32(static_cast<LONG>(FailedCallError()));
    return HResultFromWin32(static_cast<LONG>(exitCode));
}

}  // namespace orv::com
