// Shared by the registry tests: a private key per test, exact reads of
// values, markers and the kernel's log lines.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "WineTest.h"

namespace orv::test {

using Bytes = std::vector<BYTE>;

// UTF-16LE bytes of the text followed by `terminators` null characters.
Bytes Utf16(const std::wstring& text, int terminators = 1);
Bytes Dword(DWORD value);

// A unique key below HKCU\Software\OrvTest, created without a marker (so
// every walk stops there) and removed with everything in it afterwards.
class TestKey {
public:
    explicit TestKey(const std::wstring& tag);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    // Path below HKCU ("Software\OrvTest\tag_..."), optionally with a sub path.
    std::wstring Path(const std::wstring& sub = L"") const;
    // "HKEY_CURRENT_USER\<Path(sub)>"
    std::wstring Full(const std::wstring& sub = L"") const { return L"HKEY_CURRENT_USER\\" + Path(sub); }

private:
    std::wstring m_path;
};

// Creates HKCU\path without a marker (a key "that existed before"); options
// as RegCreateKeyExW takes them.
bool CreatePlainKey(const std::wstring& path, DWORD options = REG_OPTION_NON_VOLATILE);
bool SetValue(const std::wstring& path, LPCWSTR name, DWORD type, const Bytes& data);

// The value under HKCU\path has exactly this type and these bytes.
::testing::AssertionResult ValueIs(const std::wstring& path, LPCWSTR name, DWORD type, const Bytes& data);
::testing::AssertionResult ValueMissing(const std::wstring& path, LPCWSTR name);
// HKCU\path exists and carries (or does not carry) "OrvCreateKey" = REG_DWORD 0.
::testing::AssertionResult IsMarked(const std::wstring& path);
::testing::AssertionResult IsUnmarked(const std::wstring& path);
::testing::AssertionResult KeyGone(const std::wstring& path);
// Numbers of subkeys and values of HKCU\path.
::testing::AssertionResult KeyHolds(const std::wstring& path, DWORD subKeys, DWORD values);

// A log line of the kernel: "TqOrvWexKr 2 <severity> <text>" (text is a prefix
// of the rest of the line).
::testing::AssertionResult HasLogLine(const std::wstring& log, WCHAR severity, const std::wstring& text);

}  // namespace orv::test
