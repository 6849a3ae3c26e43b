// GetFileInfo and FreeFileInfo: the facts of one file (names, time, size,
// kind, version, vendor and flags) in a record whose strings the caller frees.
#include <shlwapi.h>

#include <new>

#include "files/FileModel.h"
#include "kernel/KernelObject.h"
#include "kernel/MethodSupport.h"
#include "platform/Raii.h"
#include "platform/WexUt.h"

using namespace orv;
using namespace orv::kernel;

namespace {

// Characters of the buffer the vendor ("CompanyName") is read into.
constexpr DWORD kVendorChars = 128;
// The version words of a file that has no version of its kind.
constexpr WORD kNoVersion = 0xFFFF;

VARIANT_BOOL Flag(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// The record is written only once every string of it could be made: a file
// object or a string that cannot be made leaves it as the caller passed it.
HRESULT DoGetFileInfo(const COrvInstallerKernel& kernel, BSTR bstrFile, _ORV_FILE_INFO* lpFileInfo) {
    HRESULT hr = S_OK;
    if (RefusePath(bstrFile, &hr)) return hr;
    FileObject file(Text(bstrFile));
    if (!file) return E_OUTOFMEMORY;
    const LPCWSTR path = file->GetPath();

    _ORV_FILE_INFO info{};
    UniqueBstr name(SysAllocString(PathFindFileNameW(path))), fullPath(SysAllocString(path)),
        description(SysAllocString(file->GetTypeDescription())), versionString, vendor;
    bool complete = name && fullPath && description;
    CWexFile::GetTimeStamp(path, &info.ftTimeStamp, WEX_TIME_LASTWRITE);
    CWexFile::GetSize(path, &info.dwSize);
    // The caller's own path: the protection list names files as the system writes them.
    info.bWindowsFileProtected = Flag(kernel.IsWindowsFileProtected(Text(bstrFile)));
    info.version = _ORV_FILE_VERSION{kNoVersion, kNoVersion, kNoVersion, kNoVersion};
    info.bExecutable = info.bCOMServer = VARIANT_FALSE;

    if (auto* executable = dynamic_cast<CWexKrExecutableFile*>(file.Get())) {
        info.bExecutable = VARIANT_TRUE;
        CWexFileVersion version;
        executable->GetVersion(version);  // none: 0.0.0.0
        info.version = _ORV_FILE_VERSION{version.wVerMaj1, version.wVerMaj2, version.wVerMin1, version.wVerMin2};
        WCHAR text[32];
        versionString.Reset(SysAllocString(version.GetVersionString(text, 32)));
        WCHAR company[kVendorChars] = {};
        const bool hasCompany = SUCCEEDED(executable->GetVersionInfo(L"CompanyName", company, kVendorChars));
        company[kVendorChars - 1] = 0;
        vendor.Reset(SysAllocString(hasCompany ? company : L"N/A"));
        complete = complete && versionString && vendor;
        info.bCOMServer = Flag(executable->IsCOMServer());
    }
    if (!complete) return E_OUTOFMEMORY;

    info.bstrName = name.Detach();
    info.bstrFullPath = fullPath.Detach();
    info.bstrDescription = description.Detach();
    info.bstrVersionString = versionString.Detach();
    info.bstrVendor = vendor.Detach();
    *lpFileInfo = info;
    return S_OK;
}

}  // namespace

// Its only log lines are those of a refused path and of a file object that
// cannot be made.
STDMETHODIMP COrvInstallerKernel::GetFileInfo(BSTR bstrFile, _ORV_FILE_INFO* lpFileInfo) {
    if (!lpFileInfo) return E_POINTER;
    try {
        return DoGetFileInfo(*this, bstrFile, lpFileInfo);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// The strings are set to null once freed: a second call, or a call after a
// GetFileInfo that failed, frees nothing twice.
STDMETHODIMP COrvInstallerKernel::FreeFileInfo(_ORV_FILE_INFO* lpFileInfo) {
    if (!lpFileInfo) return NullArgument(L"FreeFileInfo(): Invalid parameter ( NULL pointer )");
    for (BSTR* text : {&lpFileInfo->bstrName, &lpFileInfo->bstrFullPath, &lpFileInfo->bstrDescription,
                       &lpFileInfo->bstrVersionString, &lpFileInfo->bstrVendor}) {
        SysFreeString(*text);
        *text = nullptr;
    }
    return S_OK;
}
