// InstallRegKey, UnInstallRegKey and the IOrvRegKey value methods. All of them
// act on the object's one current key (m_regKey); the key methods hand out the
// object's own IOrvRegKey.
#include "kernel/KernelObject.h"

#include <cwchar>
#include <new>
#include <string>
#include "platform/KrLog.h"
#include "platform/WexUt.h"
#include "registry/RegistryApi.h"

namespace {

constexpr REGSAM kInstallKeyAccess = KEY_READ | KEY_WRITE;  // 0x2001F
constexpr REGSAM kUnInstallKeyAccess = KEY_ALL_ACCESS;      // 0xF003F

// A Win32 code as this interface's result: 183 (the value was kept) is
// S_FALSE, everything else HRESULT_FROM_WIN32.
HRESULT MapResult(LONG e) { return e == ERROR_ALREADY_EXISTS ? S_FALSE : orv::HResultFromWin32(e); }

// The root and subkey of a full key path. False when the path has no known
// top key or names no key below it: creating, opening or force-deleting such
// a path would work on a predefined root itself (SHDeleteKeyW on
// "HKEY_CURRENT_USER" would empty the whole hive).
bool SplitKeyPath(LPCWSTR pszFullKeyPath, HKEY& hRoot, LPCWSTR& pszSubKey) {
    pszSubKey = nullptr;
    hRoot = CWexRegKey::splitKeyString(pszFullKeyPath, &pszSubKey);
    return hRoot && pszSubKey && orv::HasKeyComponent(pszSubKey);
}

void LogInvalidKeyPath(WCHAR severity, LPCWSTR pszFullKeyPath) {
    orv::LogWin32Format(severity, ERROR_BADKEY,
                        L"Invalid registry key path %s: a known top key and a key below it are required",
                        pszFullKeyPath);
}

}  // namespace

// ---------------------------------------------------------------------------
// Keys

STDMETHODIMP COrvInstallerKernel::InstallRegKey(BSTR bstrFullKeyPath, IOrvRegKey** lplpIRegKey) {
    if (!bstrFullKeyPath || !lplpIRegKey) return E_POINTER;
    *lplpIRegKey = nullptr;
    orv::LogInfo(L"Attempting to create registry key %s", bstrFullKeyPath);

    HKEY hRoot = nullptr;
    LPCWSTR pszSubKey = nullptr;
    const bool bValid = SplitKeyPath(bstrFullKeyPath, hRoot, pszSubKey);
    m_regKey.Close();
    if (!bValid) {
        LogInvalidKeyPath(WEX_SEV_ERROR, bstrFullKeyPath);
        return orv::HResultFromWin32(ERROR_BADKEY);
    }
    DWORD dwDisposition = 0;
    LONG e = m_regKey.CreateMarkedKey(hRoot, pszSubKey, REG_OPTION_NON_VOLATILE, kInstallKeyAccess, &dwDisposition);
    if (e != ERROR_SUCCESS) {
        orv::LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(e), L"Error creating key");
        return orv::HResultFromWin32(e);
    }
    AddRef();
    *lplpIRegKey = static_cast<IOrvRegKey*>(this);
    if (dwDisposition == REG_OPENED_EXISTING_KEY) {
        orv::LogInfo(L"Key already existed: OK");
        return S_FALSE;
    }
    return S_OK;
}

STDMETHODIMP COrvInstallerKernel::UnInstallRegKey(BSTR bstrFullKeyPath, IOrvRegKey** lplpIRegKey,
                                                  VARIANT_BOOL bForce) {
    if (!bstrFullKeyPath || !lplpIRegKey) return E_POINTER;
    *lplpIRegKey = nullptr;
    orv::LogInfo(L"Attempting to uninstall registry key %s", bstrFullKeyPath);

    HKEY hRoot = nullptr;
    LPCWSTR pszSubKey = nullptr;
    const bool bValid = SplitKeyPath(bstrFullKeyPath, hRoot, pszSubKey);
    LONG e = ERROR_SUCCESS;
    if (bForce) {
        // Forced: the whole tree at once. The current key is left as it is.
        orv::LogInfo(L"Force flag is set");
        if (!bValid) {
            LogInvalidKeyPath(WEX_SEV_ERROR, bstrFullKeyPath);
            return orv::HResultFromWin32(ERROR_BADKEY);
        }
        try {
            e = static_cast<LONG>(
                orv::RegistryCalls().pfnSHDeleteKey(hRoot, orv::NormalizeKeyPath(pszSubKey).c_str()));
        } catch (const std::bad_alloc&) {
            e = ERROR_OUTOFMEMORY;
        }
        if (e == ERROR_SUCCESS)
            orv::LogInfo(L"Key has been uninstalled successfully");
        else
            orv::LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(e), L"Error uninstalling key");
    } else {
        // Not forced: the key becomes the current key; its values go one by
        // one, and with the last one the key if the kernel created it.
        m_regKey.Close();
        if (!bValid) {
            LogInvalidKeyPath(WEX_SEV_WARNING, bstrFullKeyPath);
            return orv::HResultFromWin32(ERROR_BADKEY);
        }
        e = m_regKey.OpenKey(hRoot, pszSubKey, kUnInstallKeyAccess);
        if (e == ERROR_SUCCESS)
            orv::LogInfo(L"Key has been opened successfully for uninstallation");
        else
            orv::LogWin32(WEX_SEV_WARNING, static_cast<DWORD>(e),
                          L"Cannot open key for uninstallation (key might be uninstalled already)");
    }
    if (e != ERROR_SUCCESS) return orv::HResultFromWin32(e);
    AddRef();
    *lplpIRegKey = static_cast<IOrvRegKey*>(this);
    return S_OK;
}

// ---------------------------------------------------------------------------
// Values

namespace {

// The probe of the string, multi-string and binary methods: does a value of
// that name exist, of whatever type?
bool ValueExists(HKEY hKey, LPCWSTR pszName) {
    if (!hKey) return false;
    DWORD cb = 0;
    LONG e = RegQueryValueExW(hKey, pszName, nullptr, nullptr, nullptr, &cb);
    return e == ERROR_SUCCESS || e == ERROR_MORE_DATA;
}

// The integer method's probe: a value of that name of type REG_DWORD.
bool DwordValueExists(HKEY hKey, LPCWSTR pszName) {
    if (!hKey) return false;
    DWORD type = REG_NONE;
    DWORD cb = 0;
    LONG e = RegQueryValueExW(hKey, pszName, nullptr, &type, nullptr, &cb);
    return (e == ERROR_SUCCESS || e == ERROR_MORE_DATA) && type == REG_DWORD;
}

// Shared ending of the four install methods. A write with no current key
// open fails as the registry fails a write to an invalid handle.
LONG WriteValue(HKEY hKey, LPCWSTR pszName, DWORD type, const BYTE* pData, DWORD cbData) {
    LONG e = hKey ? RegSetValueExW(hKey, pszName, 0, type, pData, cbData) : ERROR_INVALID_HANDLE;
    if (e == ERROR_SUCCESS)
        orv::LogInfo(L"Value has been installed successfully");
    else
        orv::LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(e), L"Error installing value");
    return e;
}

// The keep decision of the install methods, with its log line.
LONG KeepExisting() {
    orv::LogInfo(L"Value already exists: Keeping existing value");
    return ERROR_ALREADY_EXISTS;
}

}  // namespace

STDMETHODIMP COrvInstallerKernel::InstallStringValue(BSTR bstrValueName, BSTR bstrData,
                                                     VARIANT_BOOL bOverrideExistingData, VARIANT_BOOL bRegExpand) {
    if (!bstrValueName || !bstrData) return E_POINTER;
    orv::LogInfo(L"Attempting to install registry string value '%s' with data '%s'", bstrValueName, bstrData);
    if (bOverrideExistingData) {
        orv::LogInfo(L"Registry action runs in overwrite-mode per default");
    } else if (ValueExists(m_regKey.m_hKey, bstrValueName)) {
        return MapResult(KeepExisting());
    }
    bool bExpand = bRegExpand != VARIANT_FALSE;
    if (bExpand && bstrValueName[0] == L'\0' && CWexSystem::CheckOS(100) == 0) {
        orv::LogWarning(
            L"Running on Win95 with type REG_EXPAND_SZ specified for default value: not supported on this platform. "
            L"Setting type to REG_SZ");
        bExpand = false;
    }
    const size_t cch = wcslen(bstrData) + 1;
    return MapResult(WriteValue(m_regKey.m_hKey, bstrValueName, bExpand ? REG_EXPAND_SZ : REG_SZ,
                                reinterpret_cast<const BYTE*>(bstrData), static_cast<DWORD>(cch * sizeof(WCHAR))));
}

STDMETHODIMP COrvInstallerKernel::InstallMultiStringValue(BSTR bstrValueName, BSTR* lpbstrData, LONG lCount,
                                                          VARIANT_BOOL bOverrideExistingData) {
    if (!bstrValueName || !lpbstrData) return E_POINTER;
    orv::LogInfo(L"Attempting to install registry MultiString value %s", bstrValueName);
    if (bOverrideExistingData) {
        orv::LogInfo(L"Force flag is set");
    } else if (ValueExists(m_regKey.m_hKey, bstrValueName)) {
        return MapResult(KeepExisting());
    }
    // Each string up to its first null, then a null; one more null at the
    // end. A null BSTR in the array is the empty string, as COM defines it.
    std::wstring data;
    try {
        for (LONG i = 0; i < lCount; ++i) {
            if (lpbstrData[i]) data.append(lpbstrData[i], wcslen(lpbstrData[i]));
            data.push_back(L'\0');
        }
        data.push_back(L'\0');
    } catch (const std::bad_alloc&) {
        orv::LogWin32(WEX_SEV_ERROR, ERROR_OUTOFMEMORY, L"Error installing value");
        return E_OUTOFMEMORY;
    }
    if (data.size() > MAXDWORD / sizeof(WCHAR)) {
        orv::LogWin32(WEX_SEV_ERROR, ERROR_INVALID_DATA, L"Error installing value");
        return orv::HResultFromWin32(ERROR_INVALID_DATA);
    }
    return MapResult(WriteValue(m_regKey.m_hKey, bstrValueName, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size() * sizeof(WCHAR))));
}

STDMETHODIMP COrvInstallerKernel::InstallIntegerValue(BSTR bstrValueName, LONG lData,
                                                      VARIANT_BOOL bOverrideExistingData) {
    if (!bstrValueName) return E_POINTER;
    orv::LogInfo(L"Attempting to install registry integer value %s with data %d", bstrValueName,
                 static_cast<int>(lData));
    if (bOverrideExistingData) {
        orv::LogInfo(L"Force flag is set");
    } else if (DwordValueExists(m_regKey.m_hKey, bstrValueName)) {
        return MapResult(KeepExisting());
    }
    return MapResult(
        WriteValue(m_regKey.m_hKey, bstrValueName, REG_DWORD, reinterpret_cast<const BYTE*>(&lData), sizeof(lData)));
}

STDMETHODIMP COrvInstallerKernel::InstallBinaryValue(BSTR bstrValueName, BYTE* lpData, ULONG dwSize,
                                                     VARIANT_BOOL bOverrideExistingData) {
    if (!bstrValueName || !lpData) return E_POINTER;
    orv::LogInfo(L"Attempting to install registry binary value %s", bstrValueName);
    if (bOverrideExistingData) {
        orv::LogInfo(L"Force flag is set");
    } else if (m_regKey.m_hKey &&
               RegQueryValueExW(m_regKey.m_hKey, bstrValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        return MapResult(KeepExisting());
    }
    return MapResult(WriteValue(m_regKey.m_hKey, bstrValueName, REG_BINARY, lpData, dwSize));
}

STDMETHODIMP COrvInstallerKernel::UnInstallValue(BSTR bstrValueName) {
    if (!bstrValueName) return E_POINTER;
    orv::LogInfo(L"Attempting to uninstall registry value '%s'", bstrValueName);
    if (!m_regKey.IsOpen()) {
        orv::LogInfo(L"Parent key does no longer exist: OK");
        return S_OK;
    }
    LONG e = RegDeleteValueW(m_regKey.m_hKey, bstrValueName);
    if (e != ERROR_SUCCESS) {
        orv::LogWin32(WEX_SEV_WARNING, static_cast<DWORD>(e),
                      L"Cannot uninstall registry value (maybe it is already gone!)");
        return orv::HResultFromWin32(e);
    }
    orv::LogInfo(L"Registry value uninstallation succeeded");
    // With its last value the key goes, and so do the kernel-created parents
    // left empty; what the walk finds does not change this result.
    m_regKey.RemoveMarkedKeys(m_regKey.m_hRoot, m_regKey.m_strPath.c_str());
    return S_OK;
}
