// UnShareFile, PostRebootRegister, PreparePostRebootCopyFile,
// PreparePostRebootDeleteFile: releasing a shared library's use, and the
// work left for the next restart when a file is in use.
#include <shlwapi.h>

#include "files/FileModel.h"
#include "files/SharedDllCounter.h"
#include "kernel/KernelObject.h"
#include "kernel/MethodSupport.h"
#include "platform/KrLog.h"

using namespace orv;
using namespace orv::kernel;

namespace {

constexpr int kDetailLevel = 3;

HRESULT DoUnShareFile(const COrvInstallerKernel& kernel, BSTR bstrTargetFile) {
    const LPCWSTR target = bstrTargetFile ? bstrTargetFile : L"";
    HRESULT hr = S_OK;
    if (RefusePath(target, &hr)) return hr;
    if (!bstrTargetFile || !PathFileExistsW(target)) {
        LogWin32Format(WEX_SEV_WARNING, ERROR_FILE_NOT_FOUND, L"Missing file to be un-shared: '%s'", target);
        return S_FALSE;
    }
    if (kernel.IsWindowsFileProtected(target)) {
        LogWin32(WEX_SEV_ERROR, ERROR_ACCESS_DENIED,
                 L"Target file is under Windows file protection. Aborting file uninstallation");
        return HResultFromWin32(ERROR_ACCESS_DENIED);
    }
    FileObject file(target);
    if (!file) return E_OUTOFMEMORY;
    hr = S_FALSE;
    auto* library = dynamic_cast<CWexKrDllFile*>(file.Get());
    if (!library || !library->IsSharedFile()) return hr;

    LogAt(kDetailLevel, WEX_SEV_INFO, L"SharedDllCounter for '%s' will be decremented", target);
    DWORD count = 0;
    hr = files::GetSharedDllCounter(target, &count);
    if (FAILED(hr) || count == 0) {
        LogWarning(L"Failed to retrieve SharedDllCounter for '%s'", target);
    } else if (count == 1) {
        // The last use is released by uninstalling the library, never here.
        LogWarning(L"SharedDllCounter for '%s' is already at 1 and will not be decremented", target);
    } else {
        DWORD newCount = 0;
        hr = files::AddToSharedDllCounter(target, -1, &newCount);
        if (SUCCEEDED(hr))
            LogInfo(L"SharedDllCounter for '%s' has been decremented from %i to %i", target, count, newCount);
        else
            LogWarning(L"Failed to decrement SharedDllCounter for '%s'", target);
    }
    return hr;
}

HRESULT DoPostRebootRegister(BSTR bstrCOMServer) {
    if (!bstrCOMServer) return NullArgument(L"PostRebootRegister(): Invalid parameter ( NULL pointer )");
    HRESULT hr = S_OK;
    if (RefusePath(bstrCOMServer, &hr)) return hr;
    LogInfo(L"Post Reboot Step: Attempting registration of %s", bstrCOMServer);
    FileObject file(bstrCOMServer);
    if (!file) return E_OUTOFMEMORY;
    LogInfo(L"File type: %s", file->GetTypeDescription());
    if (auto* server = dynamic_cast<CWexKrCOMServerFile*>(file.Get())) return server->PostRebootRegister(bstrCOMServer);
    LogWin32Format(WEX_SEV_ERROR, ERROR_INVALID_MODULETYPE, L"Invalid module tpye: %s", file->GetTypeDescription());
    return HResultFromWin32(ERROR_INVALID_MODULETYPE);
}

HRESULT DoPreparePostRebootCopyFile(BSTR bstrSourceFile, BSTR bstrTargetFile, ULONG dwInstallMode) {
    if (!bstrSourceFile || !bstrTargetFile)
        return NullArgument(L"PreparePostRebootCopyFile(): Invalid parameter ( NULL pointer )");
    HRESULT hr = S_OK;
    if (RefusePath(bstrSourceFile, &hr) || RefusePath(bstrTargetFile, &hr)) return hr;
    LogInfo(L"Attempting to prepare post reboot file installation: %s --> %s", bstrSourceFile, bstrTargetFile);
    FileObject source(bstrSourceFile);
    if (!source) return E_OUTOFMEMORY;
    LogInfo(L"File type: %s", source->GetTypeDescription());
    hr = source->PreparePostRebootCopy(bstrTargetFile);

    // The library now in place decides whether the copy counts in SharedDLLs.
    // Whatever happens to the count, the result is the scheduling's.
    FileObject target(bstrTargetFile);
    if (!target || FAILED(hr) || dwInstallMode != kWexKrInstallModePrimary) return hr;
    LogAt(kDetailLevel, WEX_SEV_INFO, L"Install Mode is primary -> Check if shared Dll Counter is necessarry");
    auto* library = dynamic_cast<CWexKrDllFile*>(target.Get());
    if (!library) return hr;
    library->m_bSharedDllCounter = TRUE;
    if (!library->IsSharedFile()) return hr;
    DWORD newCount = 0;
    if (SUCCEEDED(files::AddToSharedDllCounter(bstrTargetFile, 1, &newCount)))
        LogInfo(L"SharedDllCounter for PostrebootInstallation of  %s has been set to %d", bstrTargetFile, newCount);
    else
        LogWarning(L"SharedDllCounter for PostrebootInstallation of %s could not be incremented", bstrTargetFile);
    return hr;
}

HRESULT DoPreparePostRebootDeleteFile(BSTR bstrTargetFile) {
    if (!bstrTargetFile) return NullArgument(L"PreparePostRebootDeleteFile(): Invalid parameter ( NULL pointer )");
    HRESULT hr = S_OK;
    if (RefusePath(bstrTargetFile, &hr)) return hr;
    LogInfo(L"Attempting to prepare post reboot file uninstallation: %s", bstrTargetFile);
    FileObject file(bstrTargetFile);
    if (!file) return E_OUTOFMEMORY;
    LogInfo(L"File type: %s", file->GetTypeDescription());
    return file->PreparePostRebootDelete();
}

}  // namespace

// No C++ exception leaves a COM method: memory that runs out is E_OUTOFMEMORY.
STDMETHODIMP COrvInstallerKernel::UnShareFile(BSTR bstrTargetFile) {
    try {
        return DoUnShareFile(*this, bstrTargetFile);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::PostRebootRegister(BSTR bstrCOMServer) {
    try {
        return DoPostRebootRegister(bstrCOMServer);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::PreparePostRebootCopyFile(BSTR bstrSourceFile, BSTR bstrTargetFile,
                                                            ULONG dwInstallMode) {
    try {
        return DoPreparePostRebootCopyFile(bstrSourceFile, bstrTargetFile, dwInstallMode);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::PreparePostRebootDeleteFile(BSTR bstrTargetFile) {
    try {
        return DoPreparePostRebootDeleteFile(bstrTargetFile);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
