// Registry test helpers: private keys, exact values, markers, kernel log lines.
#pragma once
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "Machine.h"

namespace orv::test {

using ::testing::AssertionFailure;
using ::testing::AssertionResult;
using ::testing::AssertionSuccess;

// HKCU\path made without a marker (a key "that existed before").
inline bool CreatePlainKey(const std::wstring& path) {
    HKEY key = nullptr;
    return !RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) &&
           !RegCloseKey(key);
}
inline bool SetValue(const std::wstring& path, LPCWSTR name, DWORD type, const std::string& data) {
    return SetValue(HKEY_CURRENT_USER, path, name, type, data);
}

// A unique unmarked key below HKCU\Software\OrvTest (walks stop there), removed afterwards.
class TestKey {
public:
    explicit TestKey(const std::wstring& tag) : m_path(UniqueKeyPath(tag)) { CreatePlainKey(m_path); }
    ~TestKey() { SHDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str()); }
    TestKey(const TestKey&) = delete;
    std::wstring Path(const std::wstring& sub = L"") const { return sub.empty() ? m_path : m_path + L"\\" + sub; }
    std::wstring Full(const std::wstring& sub = L"") const { return L"HKEY_CURRENT_USER\\" + Path(sub); }

private:
    std::wstring m_path;
};

// The value under HKCU\path has exactly this type and bytes (REG_NONE: it does not exist).
inline AssertionResult ValueIs(const std::wstring& path, LPCWSTR name, DWORD type, const std::string& data = {}) {
    const RegValue got = ReadValue(HKEY_CURRENT_USER, path, name);
    if (got.type == type && got.data == data) return AssertionSuccess();
    AssertionResult r = AssertionFailure();
    r << "value '" << Narrow(name) << "' in " << Narrow(path) << ": type " << got.type << ", bytes";
    for (char b : got.data) r << ' ' << int(BYTE(b));
    return r << "; expected type " << type;
}
inline AssertionResult Marked(const std::wstring& path, bool marked = true) {
    if (!KeyExists(HKEY_CURRENT_USER, path)) return AssertionFailure() << Narrow(path) << " does not exist";
    return ValueIs(path, L"OrvCreateKey", marked ? REG_DWORD : REG_NONE, marked ? Dword(0) : "");
}
// HKCU\path holds exactly this many subkeys and values (a missing key: ~0 each).
inline AssertionResult KeyHolds(const std::wstring& path, DWORD subKeys, DWORD values) {
    DWORD sub = ~0u, vals = ~0u;
    HKEY key = nullptr;
    if (!RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key)) {
        RegQueryInfoKeyW(key, 0, 0, 0, &sub, 0, 0, &vals, 0, 0, 0, 0);
        RegCloseKey(key);
    }
    if (sub == subKeys && vals == values) return AssertionSuccess();
    return AssertionFailure() << Narrow(path) << " holds " << int(sub) << " subkeys, " << int(vals) << " values";
}
// A kernel log line "TqOrvWexKr 2 <severity> <text...>".
inline AssertionResult HasLogLine(const std::wstring& log, WCHAR severity, const std::wstring& text) {
    return LogHas(log, {Line(severity, text)});
}

}  // namespace orv::test
