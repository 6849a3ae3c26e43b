// CWexKrRegistryKey: open, create with markers, the removal walk, close.
#include "registry/RegistryKey.h"

#include <shlwapi.h>
#include <algorithm>
#include <new>
#include "registry/RegistryApi.h"

namespace orv {

std::wstring NormalizeKeyPath(LPCWSTR pszPath) {
    std::wstring out;
    if (!pszPath) return out;
    for (const WCHAR* p = pszPath; *p;) {
        if (*p == L'\\') {
            ++p;
            continue;
        }
        const WCHAR* end = p;
        while (*end && *end != L'\\') ++end;
        if (!out.empty()) out.push_back(L'\\');
        out.append(p, static_cast<size_t>(end - p));
        p = end;
    }
    return out;
}

bool HasKeyComponent(LPCWSTR pszPath) {
    if (!pszPath) return false;
    for (const WCHAR* p = pszPath; *p; ++p)
        if (*p != L'\\') return true;
    return false;
}

}  // namespace orv

void CWexKrRegistryKey::Close() {
    if (m_hKey) RegCloseKey(m_hKey);
    m_hKey = nullptr;
}

bool CWexKrRegistryKey::HasMarker(HKEY hKey) {
    if (!hKey) return false;
    DWORD type = REG_NONE;
    DWORD cb = 0;
    LONG e = RegQueryValueExW(hKey, kOrvCreateKeyMarker, nullptr, &type, nullptr, &cb);
    return (e == ERROR_SUCCESS || e == ERROR_MORE_DATA) && type == REG_DWORD;
}

LONG CWexKrRegistryKey::OpenKey(HKEY hRoot, LPCWSTR pszPath, REGSAM samDesired) {
    try {
        m_hRoot = hRoot;
        m_strPath = pszPath ? pszPath : L"";
        const std::wstring path = orv::NormalizeKeyPath(pszPath);
        if (path.empty()) return ERROR_BADKEY;
        HKEY hKey = nullptr;
        LONG e = orv::RegistryCalls().pfnOpenKeyEx(hRoot, path.c_str(), 0, Access(samDesired), &hKey);
        if (e != ERROR_SUCCESS) return e;
        Close();
        m_hKey = hKey;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG CWexKrRegistryKey::CreateMarkedKey(HKEY hRoot, LPCWSTR pszPath, DWORD dwOptions, REGSAM samDesired,
                                        DWORD* pdwDisposition) {
    try {
        m_hRoot = hRoot;
        m_strPath = pszPath ? pszPath : L"";
        const std::wstring path = orv::NormalizeKeyPath(pszPath);
        if (path.empty() || static_cast<size_t>(std::count(path.begin(), path.end(), L'\\')) >= orv::kMaxKeyDepth) {
            Close();
            return ERROR_BADKEY;
        }
        // Each level from the root with its whole partial path, so that every
        // level the kernel creates is seen (and marked) as created.
        size_t end = 0;
        for (;;) {
            end = path.find(L'\\', end);
            const std::wstring partial = path.substr(0, end);
            HKEY hKey = nullptr;
            DWORD disposition = 0;
            LONG e = orv::RegistryCalls().pfnCreateKeyEx(hRoot, partial.c_str(), 0, nullptr, dwOptions,
                                                         Access(samDesired), nullptr, &hKey, &disposition);
            if (pdwDisposition) *pdwDisposition = disposition;
            if (e != ERROR_SUCCESS) {
                Close();
                return e;
            }
            Close();
            m_hKey = hKey;
            if (disposition == REG_CREATED_NEW_KEY) {
                const DWORD zero = 0;
                RegSetValueExW(m_hKey, kOrvCreateKeyMarker, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                               sizeof(zero));
            }
            if (end == std::wstring::npos) return ERROR_SUCCESS;
            ++end;
        }
    } catch (const std::bad_alloc&) {
        Close();
        return ERROR_OUTOFMEMORY;
    }
}

LONG CWexKrRegistryKey::RemoveMarkedKeys(HKEY hRoot, LPCWSTR pszPath) {
    try {
        // The path may be the holder's own text, which OpenKey overwrites: copy first.
        const std::wstring startPath = pszPath ? pszPath : L"";
        std::wstring path = orv::NormalizeKeyPath(startPath.c_str());
        if (path.empty()) return ERROR_BADKEY;

        bool bStartDeleted = false;
        LONG result = ERROR_SUCCESS;
        for (;;) {
            Close();
            result = OpenKey(hRoot, path.c_str(), KEY_READ | KEY_WRITE);
            if (result != ERROR_SUCCESS) break;
            if (!HasMarker(m_hKey)) break;  // not the kernel's
            DWORD subKeys = 0, maxSubKeyLen = 0, values = 0, maxValueNameLen = 0;
            result = SHQueryInfoKeyW(m_hKey, &subKeys, &maxSubKeyLen, &values, &maxValueNameLen);
            if (result != ERROR_SUCCESS) break;
            if (subKeys > 0 || values > 1) break;  // content besides the marker
            result = orv::RegistryCalls().pfnDeleteKey(m_hKey, L"");
            if (result != ERROR_SUCCESS) break;
            bStartDeleted = true;
            const size_t cut = path.rfind(L'\\');
            if (cut == std::wstring::npos) break;
            path.resize(cut);
        }
        // Open on the starting key if it survived, closed if it went.
        if (bStartDeleted) Close();
        m_hRoot = hRoot;
        m_strPath = startPath;
        return result;
    } catch (const std::bad_alloc&) {
        Close();
        return ERROR_OUTOFMEMORY;
    }
}
