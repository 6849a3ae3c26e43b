#include "files/AppPaths.h"

#include <shlwapi.h>

#include <string>

#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "registry/RegistryApi.h"

namespace orv::files {
namespace {

const WCHAR kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// The entry's key name, or the reason there is none.
HRESULT AppPathKeyOf(LPCWSTR path, std::wstring& key) {
    if (!path) return E_POINTER;
    if (wcslen(path) >= MAX_PATH) return HResultFromWin32(ERROR_FILENAME_EXCED_RANGE);
    LPCWSTR name = PathFindFileNameW(path);
    if (!name || !*name || wcschr(name, L'\\') || wcschr(name, L'/')) return HResultFromWin32(ERROR_INVALID_NAME);
    key.assign(kAppPathsKey).append(name);
    return S_OK;
}

LONG SetString(HKEY key, LPCWSTR name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

}  // namespace

HRESULT RegisterAppPath(LPCWSTR pszTarget, LPCWSTR pszAppPaths) {
    try {
        std::wstring keyName;
        HRESULT hr = AppPathKeyOf(pszTarget, keyName);
        if (FAILED(hr)) return hr;
        UniqueHKey key;
        LONG status = RegistryCalls().pfnCreateKeyEx(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, 0,
                                                     KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, key.Put(), nullptr);
        if (status != ERROR_SUCCESS) return HResultFromWin32(status);
        status = SetString(key.Get(), nullptr, pszTarget);
        if (status != ERROR_SUCCESS) return HResultFromWin32(status);

        WCHAR folder[MAX_PATH];
        wcscpy(folder, pszTarget);
        PathRemoveFileSpecW(folder);
        std::wstring searchPath(folder);
        if (pszAppPaths && *pszAppPaths) searchPath.append(L";").append(pszAppPaths);
        SetString(key.Get(), L"Path", searchPath);  // the search path is a help, not a must
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterAppPath(LPCWSTR pszPath) {
    try {
        std::wstring keyName;
        HRESULT hr = AppPathKeyOf(pszPath, keyName);
        if (FAILED(hr)) return hr;
        const LONG status = static_cast<LONG>(RegistryCalls().pfnSHDeleteKey(HKEY_LOCAL_MACHINE, keyName.c_str()));
        if (status == ERROR_SUCCESS) return S_OK;
        if (status == ERROR_FILE_NOT_FOUND) return S_FALSE;
        return HResultFromWin32(status);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace orv::files
