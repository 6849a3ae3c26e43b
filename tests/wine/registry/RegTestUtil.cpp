#include "RegTestUtil.h"

#include <shlwapi.h>

namespace orv::test {

Bytes Utf16(const std::wstring& text, int terminators) {
    Bytes out;
    for (wchar_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    out.insert(out.end(), static_cast<size_t>(terminators) * 2, 0);
    return out;
}

Bytes Dword(DWORD value) {
    return {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

TestKey::TestKey(const std::wstring& tag) : m_path(UniqueKeyPath(tag)) {
    SHDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str());
    CreatePlainKey(m_path);
}
TestKey::~TestKey() { SHDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str()); }
std::wstring TestKey::Path(const std::wstring& sub) const { return sub.empty() ? m_path : m_path + L"\\" + sub; }

bool CreatePlainKey(const std::wstring& path, DWORD options) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool SetValue(const std::wstring& path, LPCWSTR name, DWORD type, const Bytes& data) {
    return SHSetValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data.data(), static_cast<DWORD>(data.size())) ==
           ERROR_SUCCESS;
}

namespace {

std::string Hex(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (BYTE b : bytes) {
        snprintf(buf, sizeof(buf), "%02X ", b);
        s += buf;
    }
    return s.empty() ? "(none)" : s;
}

// Type and bytes of a value; false when it (or its key) is missing.
bool ReadValue(const std::wstring& path, LPCWSTR name, DWORD& type, Bytes& data) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD cb = 0;
    LONG e = RegQueryValueExW(key, name, nullptr, &type, nullptr, &cb);
    if (e == ERROR_SUCCESS) {
        data.assign(cb, 0);
        e = RegQueryValueExW(key, name, nullptr, &type, data.empty() ? nullptr : data.data(), &cb);
        data.resize(cb);
    }
    RegCloseKey(key);
    return e == ERROR_SUCCESS;
}

}  // namespace

::testing::AssertionResult ValueIs(const std::wstring& path, LPCWSTR name, DWORD type, const Bytes& data) {
    DWORD gotType = 0;
    Bytes got;
    if (!ReadValue(path, name, gotType, got))
        return ::testing::AssertionFailure() << "no value '" << Narrow(name) << "' in " << Narrow(path);
    if (gotType != type || got != data)
        return ::testing::AssertionFailure() << "value '" << Narrow(name) << "': type " << gotType << " bytes "
                                             << Hex(got) << ", expected type " << type << " bytes " << Hex(data);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ValueMissing(const std::wstring& path, LPCWSTR name) {
    DWORD type = 0;
    Bytes got;
    if (ReadValue(path, name, type, got))
        return ::testing::AssertionFailure() << "value '" << Narrow(name) << "' exists: type " << type << " bytes "
                                             << Hex(got);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsMarked(const std::wstring& path) {
    if (!KeyExists(HKEY_CURRENT_USER, path)) return ::testing::AssertionFailure() << Narrow(path) << " does not exist";
    return ValueIs(path, L"OrvCreateKey", REG_DWORD, Dword(0));
}

::testing::AssertionResult IsUnmarked(const std::wstring& path) {
    if (!KeyExists(HKEY_CURRENT_USER, path)) return ::testing::AssertionFailure() << Narrow(path) << " does not exist";
    return ValueMissing(path, L"OrvCreateKey");
}

::testing::AssertionResult KeyGone(const std::wstring& path) {
    if (KeyExists(HKEY_CURRENT_USER, path)) return ::testing::AssertionFailure() << Narrow(path) << " still exists";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult KeyHolds(const std::wstring& path, DWORD subKeys, DWORD values) {
    DWORD gotSub = 0, gotValues = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << Narrow(path) << " does not exist";
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &gotSub, nullptr, nullptr, &gotValues, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    if (gotSub != subKeys || gotValues != values)
        return ::testing::AssertionFailure() << Narrow(path) << " holds " << gotSub << " subkeys and " << gotValues
                                             << " values, expected " << subKeys << " and " << values;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult HasLogLine(const std::wstring& log, WCHAR severity, const std::wstring& text) {
    const std::wstring needle = std::wstring(L"TqOrvWexKr 2 ") + severity + L" " + text;
    if (log.find(needle) == std::wstring::npos)
        return ::testing::AssertionFailure() << "no log line \"" << Narrow(needle) << "\" in:\n" << Narrow(log);
    return ::testing::AssertionSuccess();
}

}  // namespace orv::test
