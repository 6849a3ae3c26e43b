// SelfRegister of local and in-process servers: the server registers itself,
// a program run with "/RegServer" (or "/UnregServer"), a library's entry
// point called in this process. The process error mode is 0x8003 meanwhile,
// so that no system dialog waits for a user who is not there.
#include "com/ComSupport.h"
#include "files/FileModel.h"
#include "platform/FaultGuard.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"

using namespace orv;

namespace {

constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
constexpr DWORD kLocalServerTimeoutMs = 25000;
constexpr int kTerminationWaits = 10;
constexpr DWORD kTerminationWaitMs = 1000;

// The loading and the entry point's call, run inside the fault guard.
struct EntryPointCall {
    LPCWSTR path;
    const char* entryPoint;
    HMODULE module = nullptr;
    HRESULT hr = E_FAIL;
};

void LoadAndCall(void* context) {
    auto* call = static_cast<EntryPointCall*>(context);
    call->module = LoadLibraryExW(call->path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!call->module) {
        call->hr = HResultFromWin32(static_cast<LONG>(com::FailedCallError()));
        return;
    }
    typedef HRESULT(STDAPICALLTYPE * EntryPoint)();
    auto entry = reinterpret_cast<EntryPoint>(GetProcAddress(call->module, call->entryPoint));
    if (!entry) {
        call->hr = HResultFromWin32(static_cast<LONG>(com::FailedCallError()));
        return;
    }
    call->hr = entry();
}

void Free(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

}  // namespace

HRESULT CWexKrLocalServerFile::SelfRegister(LPCWSTR pszServer, BOOL bRegister) {
    const UINT previousMode = SetErrorMode(kQuietErrorMode);
    std::wstring commandLine = bRegister ? L" /RegServer" : L" /UnregServer";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(pszServer, &commandLine[0], nullptr, nullptr, FALSE,
                                        CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, nullptr, &si, &pi);
    const DWORD startError = started ? 0 : com::FailedCallError();
    SetErrorMode(previousMode);
    if (!started) return HResultFromWin32(static_cast<LONG>(startError));
    UniqueHandle process(pi.hProcess), thread(pi.hThread);

    const DWORD waited = WaitForSingleObject(process.Get(), kLocalServerTimeoutMs);
    if (waited == WAIT_OBJECT_0) return S_OK;  // its exit code is not examined
    if (waited == WAIT_FAILED) return HResultFromWin32(static_cast<LONG>(com::FailedCallError()));
    LogInfo(L"Slow Process failed to (un) register within 25 seconds");
    TerminateProcess(process.Get(), 0);
    for (int i = 0; i < kTerminationWaits; ++i) {
        WaitForSingleObject(process.Get(), kTerminationWaitMs);
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeProcess(process.Get(), &exitCode);
        LogInfo(L"Waited for process to terminate");
        if (exitCode != STILL_ACTIVE) break;
    }
    return E_FAIL;
}

// A structured exception while the library loads or inside its entry point
// ends only this call: E_UNEXPECTED, the library freed, the error mode
// restored, and the setup program goes on.
HRESULT CWexKrInProcServerFile::SelfRegister(LPCWSTR pszServer, BOOL bRegister) {
    EntryPointCall call{pszServer, bRegister ? "DllRegisterServer" : "DllUnregisterServer"};
    const UINT previousMode = SetErrorMode(kQuietErrorMode);
    DWORD exceptionCode = 0;
    if (!CallContainingFaults(&LoadAndCall, &call, &exceptionCode)) {
        LogError(L"Exception 0x%08lX raised while loading %s or in its entry point %S", exceptionCode, pszServer,
                 call.entryPoint);
        call.hr = E_UNEXPECTED;
    }
    // The library's detach code may fault as well.
    if (call.module && !CallContainingFaults(&Free, call.module, &exceptionCode))
        LogError(L"Exception 0x%08lX raised while unloading %s", exceptionCode, pszServer);
    SetErrorMode(previousMode);
    return call.hr;
}
