// The kernel's current registry key: the handle IOrvRegKey's value methods act
// on, with the root and subkey path it was opened from and the 64-bit flag
// that adds KEY_WOW64_64KEY to the access masks used while it is set.
#pragma once
#include <windows.h>
#include <string>

class CWexKrRegistryKey {
public:
    CWexKrRegistryKey() = default;
    ~CWexKrRegistryKey() { Close(); }
    CWexKrRegistryKey(const CWexKrRegistryKey&) = delete;
    CWexKrRegistryKey& operator=(const CWexKrRegistryKey&) = delete;

    void Close() {
        if (m_hKey) RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }

    HKEY m_hKey = nullptr;
    HKEY m_hRoot = nullptr;
    std::wstring m_strPath;
    BYTE m_b64Bit = 0;  // set: KEY_WOW64_64KEY is added when opening or creating keys
};
