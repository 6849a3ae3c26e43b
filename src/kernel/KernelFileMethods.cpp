// InstallFile, UnInstallFile, CopyFile, DeleteFile: argument checks, the file
// protection probe, a file object for the path whose nature matters, and the
// check-info array of InstallFile.
#include <shlwapi.h>

#include <new>
#include <string>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/FileSeams.h"
#include "kernel/KernelObject.h"
#include "kernel/MethodSupport.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

using namespace orv;
using namespace orv::kernel;

namespace {

constexpr size_t kCheckInfoRecords = 3;

// Record 0: the source's version when it is a versioned module that has one,
// else its last write time. Record 1: where a COM server is registered.
// Strings that cannot be made stay null; the array itself always ends in a
// null record.
void FillCheckInfo(CWexKrFile* file, _ORV_CHECK_INFO* records) {
    CWexFileVersion version;
    auto* executable = dynamic_cast<CWexKrExecutableFile*>(file);
    if (executable && SUCCEEDED(executable->GetVersion(version))) {
        WCHAR text[32];
        records[0].bstrKey = SysAllocString(L"version");
        records[0].bstrValue = SysAllocString(version.GetVersionString(text, 32));
    } else {
        FILETIME time{};
        if (FAILED(file->GetLastWriteTime(&time))) time = FILETIME{};
        records[0].bstrKey = SysAllocString(L"timestamp");
        records[0].bstrValue = CWexTools::BlobToString(reinterpret_cast<const BYTE*>(&time), sizeof(time));
    }
    if (auto* server = dynamic_cast<CWexKrCOMServerFile*>(file)) {
        records[1].bstrKey = SysAllocString(L"comserverregpath");
        std::wstring path;
        if (server->GetRegisteredServerPath(path) == S_OK) records[1].bstrValue = SysAllocString(path.c_str());
    }
}

void RecordCheckInfo(CWexKrFile* file, _ORV_FILE_INSTALL_INFO* info) {
    const files::FileEngineSeams& seams = files::Seams();
    const SIZE_T size = kCheckInfoRecords * sizeof(_ORV_CHECK_INFO);
    void* block = seams.pfnAllocateCheckInfo ? seams.pfnAllocateCheckInfo(size) : CoTaskMemAlloc(size);
    if (!block) {
        LogWin32(WEX_SEV_ERROR, ERROR_OUTOFMEMORY, L"Unable to save OrvCheck Info");
        return;
    }
    auto* records = static_cast<_ORV_CHECK_INFO*>(block);
    for (size_t i = 0; i < kCheckInfoRecords; ++i) records[i] = _ORV_CHECK_INFO{nullptr, nullptr};
    try {
        FillCheckInfo(file, records);
    } catch (...) {
        // Out of memory half-way: what was recorded stays, the rest is null.
    }
    info->lpOrvCheckInfo = records;
}

HRESULT DoInstallFile(COrvInstallerKernel& kernel, _ORV_FILE_INSTALL_INFO* info) {
    HRESULT hr = S_OK;
    DWORD sourceAttributes = INVALID_FILE_ATTRIBUTES;
    if (RefusePath(info->bstrSource, &hr, false, &sourceAttributes) ||
        RefusePath(info->bstrTarget, &hr, /*folderAllowed*/ true))
        return hr;
    const LPCWSTR source = Text(info->bstrSource);
    const LPCWSTR target = Text(info->bstrTarget);
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES) {
        LogWin32Format(WEX_SEV_ERROR, ERROR_FILE_NOT_FOUND, L"Missing file '%s'", source);
        return HResultFromWin32(ERROR_FILE_NOT_FOUND);
    }
    if (kernel.IsWindowsFileProtected(target)) {
        LogWarning(L"Target file '%s' is guarded by Windows File Protection, keeping existing version", target);
        return S_FALSE;
    }
    FileObject file(source, /*keepOpen*/ true);
    if (!file) return E_OUTOFMEMORY;
    LogInfo(L"Attempting <%s> installation: %s --> %s", file->GetTypeDescription(), source, target);

    if (auto* exe = dynamic_cast<CWexKrExeFile*>(file.Get())) {
        exe->SetInstallMode(info->dwInstallMode);
        exe->SetAppPaths(info->bstrAppPaths);
    } else if (info->dwInstallMode == kWexKrInstallModePrimary) {
        if (auto* dll = dynamic_cast<CWexKrDllFile*>(file.Get())) {
            dll->m_bSharedDllCounter = TRUE;
            dll->m_lpDllInstallCmd = info->bstrDllInstallCmd;
        }
    }

    hr = file->Install(target, info->dwFlags);
    info->lpOrvCheckInfo = nullptr;
    // Recording never changes the result.
    if (SUCCEEDED(hr) || hr == kWexKrHrFileInUse || hr == kWexKrHrServerNotInstalled) RecordCheckInfo(file.Get(), info);
    return hr;
}

HRESULT DoUnInstallFile(COrvInstallerKernel& kernel, _ORV_FILE_INSTALL_INFO* info) {
    HRESULT hr = S_OK;
    DWORD targetAttributes = INVALID_FILE_ATTRIBUTES;
    if (RefusePath(info->bstrTarget, &hr, false, &targetAttributes)) return hr;
    const LPCWSTR target = Text(info->bstrTarget);
    LogInfo(L"Attempting file uninstallation: %s", target);
    if (targetAttributes == INVALID_FILE_ATTRIBUTES) {
        LogWin32Format(WEX_SEV_WARNING, ERROR_FILE_NOT_FOUND, L"Missing file to be un-installed: '%s'", target);
        return S_FALSE;
    }
    if (kernel.IsWindowsFileProtected(target)) {
        LogWarning(L"Target file is guarded by Windows File Protection, keeping existing version");
        return S_FALSE;
    }
    FileObject file(target);
    if (!file) return E_OUTOFMEMORY;
    LogInfo(L"File type: %s", file->GetTypeDescription());
    return file->UnInstall(info->bstrSource);
}

HRESULT DoCopyFile(COrvInstallerKernel& kernel, BSTR bstrSource, BSTR bstrTarget, VARIANT_BOOL bForce) {
    HRESULT hr = S_OK;
    DWORD sourceAttributes = INVALID_FILE_ATTRIBUTES;
    if (RefusePath(bstrSource, &hr, false, &sourceAttributes) || RefusePath(bstrTarget, &hr)) return hr;
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES) {
        LogAt(1, WEX_SEV_ERROR, L"'%s' missing from the source", Text(bstrSource));
        return HResultFromWin32(ERROR_FILE_NOT_FOUND);
    }
    if (kernel.IsWindowsFileProtected(bstrTarget)) {
        LogWarning(L"Target file is guarded by Windows File Protection, keeping existing version");
        return S_FALSE;
    }
    FileObject file(bstrSource);
    if (!file) return E_OUTOFMEMORY;
    LogInfo(L"File type: %s", file->GetTypeDescription());
    const DWORD flags = bForce ? kWexKrInstallForce : 0;
    // The version rule or the data-file rule only: no registration, App
    // Paths, SharedDLLs, font or offline registration work.
    if (auto* executable = dynamic_cast<CWexKrExecutableFile*>(file.Get()))
        return executable->CWexKrExecutableFile::Install(bstrTarget, flags);
    return file->CWexKrFile::Install(bstrTarget, flags);
}

HRESULT DoDeleteFile(COrvInstallerKernel& kernel, BSTR bstrSource, BSTR bstrTarget) {
    HRESULT hr = S_OK;
    DWORD targetAttributes = INVALID_FILE_ATTRIBUTES;
    if (RefusePath(bstrTarget, &hr, false, &targetAttributes)) return hr;
    LogInfo(L"Attempting file deletion: %s", bstrTarget);
    if (targetAttributes == INVALID_FILE_ATTRIBUTES) {
        LogWin32Format(WEX_SEV_WARNING, ERROR_FILE_NOT_FOUND, L"Missing file to be deleted: '%s'", bstrTarget);
        return S_FALSE;
    }
    if (kernel.IsWindowsFileProtected(bstrTarget)) {
        LogWarning(L"Target file is guarded by Windows File Protection, keeping existing version");
        return S_FALSE;
    }
    FileObject file(bstrTarget);
    if (!file) return E_OUTOFMEMORY;
    // The data-file removal whatever the class: no SharedDLLs, unregistration or font step.
    return file->CWexKrFile::UnInstall(bstrSource);
}

}  // namespace

// No C++ exception leaves a method: running out of memory inside the file
// model's strings and sets ends the call with E_OUTOFMEMORY.

STDMETHODIMP COrvInstallerKernel::InstallFile(_ORV_FILE_INSTALL_INFO* lpInstallInfo) {
    if (!lpInstallInfo) return NullArgument(L"InstallFile(): Invalid parameter ( NULL pointer )");
    try {
        return DoInstallFile(*this, lpInstallInfo);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::UnInstallFile(_ORV_FILE_INSTALL_INFO* lpUnInstallInfo) {
    if (!lpUnInstallInfo) return NullArgument(L"UnInstallFile(): Invalid parameter ( NULL pointer )");
    try {
        return DoUnInstallFile(*this, lpUnInstallInfo);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::CopyFile(BSTR bstrSourceFile, BSTR bstrTargetFile, VARIANT_BOOL bForce) {
    if (!bstrSourceFile || !bstrTargetFile) return NullArgument(L"CopyFile(): Invalid parameter ( NULL pointer )");
    try {
        return DoCopyFile(*this, bstrSourceFile, bstrTargetFile, bForce);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::DeleteFile(BSTR bstrSourceFile, BSTR bstrTargetFile) {
    if (!bstrTargetFile) return NullArgument(L"DeleteFile(): Invalid parameter ( NULL pointer )");
    try {
        return DoDeleteFile(*this, bstrSourceFile, bstrTargetFile);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
