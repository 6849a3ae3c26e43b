// CWexKrTypeLibFile: a stand-alone type library file. Its version is the
// library's own (major.minor); an existing target is replaced only by a
// higher library version; a registration of the very same library (GUID,
// version, locale) is left as it is, wherever it points.
//
// Libraries are only read here (REGKIND_NONE, LoadTypeLibrary): registering is always an
// explicit RegisterTypeLib, and unregistering names the build's own SYSKIND,
// so a 64-bit kernel removes what it registers under "win64".
#include <shlwapi.h>

#include "com/ComSupport.h"
#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/ModuleImage.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/TypeLibraryLock.h"
#include "platform/WexUt.h"

using namespace orv;

namespace {

constexpr SYSKIND kOwnSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

// The library's attributes: S_OK, or the failure of the load or the read.
HRESULT LibraryAttributes(LPCWSTR path, ComPtr<ITypeLib>& library, TLIBATTR& attributes) {
    HRESULT hr = LoadTypeLibrary(path, library.Put());
    if (FAILED(hr)) return hr;
    TLIBATTR* read = nullptr;
    hr = library->GetLibAttr(&read);
    if (FAILED(hr)) return hr;
    attributes = *read;
    library->ReleaseTLibAttr(read);
    return S_OK;
}

}  // namespace

HRESULT CWexKrTypeLibFile::GetVersion(CWexFileVersion& version) {
    TypeLibraryLock lock;
    ComPtr<ITypeLib> library;
    TLIBATTR attributes;
    const HRESULT hr = LibraryAttributes(m_szPath, library, attributes);
    if (FAILED(hr)) return hr;
    version = CWexFileVersion(attributes.wMajorVerNum, attributes.wMinorVerNum, 0, 0);
    return S_OK;
}

HRESULT CWexKrTypeLibFile::GetRegisteredServerPath(std::wstring& strPath) {
    TypeLibraryLock lock;
    ComPtr<ITypeLib> library;
    TLIBATTR a;
    if (FAILED(LibraryAttributes(m_szPath, library, a))) return S_FALSE;
    UniqueBstr path;
    if (FAILED(QueryPathOfRegTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, path.Put())) || !path) return S_FALSE;
    strPath = path.Get();
    return S_OK;
}

HRESULT CWexKrTypeLibFile::SelfRegister(LPCWSTR pszServer, BOOL bRegister) {
    TypeLibraryLock lock;
    ComPtr<ITypeLib> library;
    if (!bRegister) {
        TLIBATTR a;
        const HRESULT hr = LibraryAttributes(pszServer, library, a);
        return FAILED(hr) ? hr : UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, kOwnSysKind);
    }
    const HRESULT hr = LoadTypeLibrary(pszServer, library.Put());
    if (FAILED(hr)) return hr;
    // The help file of member 0 of the second type description is the help folder; its absence is no failure.
    ComPtr<ITypeInfo> info;
    UniqueBstr helpFile;
    if (SUCCEEDED(library->GetTypeInfo(1, info.Put())) && info)
        info->GetDocumentation(0, nullptr, nullptr, nullptr, helpFile.Put());
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(pszServer), helpFile.Get());
}

HRESULT CWexKrTypeLibFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    if (!files::PathFits(pszTarget)) return files::RefusePathTooLong(pszTarget);
    if (CWexPath::PathIsEqual(m_szPath, pszTarget)) {
        LogInfo(L"Server dependent installation: source file path equals target file path: OK");
    } else {
        CWexFileVersion source;
        HRESULT hr = GetVersion(source);
        if (FAILED(hr)) {
            LogError(L"TypeLib has no valid version: Skipping installation");
            return hr;
        }
        if (dwFlags & kWexKrInstallForce) {
            hr = CWexKrExecutableFile::Install(pszTarget, kWexKrInstallForce);
            return FAILED(hr) ? hr : SelfRegister(pszTarget, TRUE);
        }
        if (!PathFileExistsW(pszTarget)) {
            hr = CWexKrExecutableFile::Install(pszTarget, dwFlags);
        } else {
            CWexKrTypeLibFile existing(pszTarget);
            CWexFileVersion target;
            if (FAILED(existing.GetVersion(target))) {
                LogWarning(L"Target typelib already exists but has no valid version: Overwriting target file");
                hr = CWexKrFile::Install(pszTarget, kWexKrInstallForce);
            } else if (source > target) {
                LogInfo(L"Source typelib version is higher than target typelib version: Overwriting existing typelib");
                hr = CWexKrFile::Install(pszTarget, kWexKrInstallForce);
            } else {
                LogInfo(L"Target typelib version is same or higher than source typelib version: Keeping existing file");
            }
        }
        if (FAILED(hr)) return hr;
    }

    std::wstring registered;
    if (GetRegisteredServerPath(registered) == S_OK) {
        LogInfo(L"TypeLib with same version already registered as %s: Keeping existing registration", registered.c_str());
        LogInfo(L"Typelib installation succeeded");
        return S_OK;
    }
    const HRESULT hr = SelfRegister(pszTarget, TRUE);
    if (FAILED(hr)) {
        LogWin32(WEX_SEV_ERROR, com::ErrorOf(hr), L"Typelib registration failed");
        LogError(L"Typelib installation failed");
    } else {
        LogInfo(L"Typelib registration succeeded");
        LogInfo(L"Typelib installation succeeded");
    }
    return hr;
}

HRESULT CWexKrTypeLibFile::UnInstall(LPCWSTR pszSource) {
    const HRESULT hr = SelfRegister(m_szPath, FALSE);
    if (SUCCEEDED(hr)) {
        LogInfo(L"Typelib has been unregistered successfully");
        return CWexKrFile::UnInstall(pszSource);
    }
    LogError(L"Unable to unregister typelib");
    CWexKrFile::UnInstall(pszSource);  // the file goes all the same; the result is the unregistration's
    return hr;
}
