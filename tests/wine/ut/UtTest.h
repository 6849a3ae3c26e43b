// Helpers of the utility library tests.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

#include "WineTest.h"

namespace orv::test::ut {

// A fixture of this build's tree (ORV_FIXTURES\ut\name).
inline std::wstring Fixture(const std::wstring& name) { return Join(Join(FixturesDir(), L"ut"), name); }
// The same fixture of the other bitness's tree; empty when that tree's
// fixtures were not built (rows that need them are skipped).
inline std::wstring OtherFixture(const std::wstring& name) {
    const std::wstring dir = OtherFixturesDir();
    if (dir.empty()) return std::wstring();
    const std::wstring utDir = Join(dir, L"ut");
    const DWORD attributes = GetFileAttributesW(utDir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    return Join(utDir, name);
}

// A path of exactly length characters (at least 4) on drive C: that names nothing.
inline std::wstring LongPath(size_t length) {
    std::wstring path = L"C:\\";
    while (path.size() < length) path += (path.size() % 50 == 49) ? L'\\' : L'x';
    path.resize(length);
    if (path.back() == L'\\') path.back() = L'y';
    return path;
}

inline std::wstring ShortPathOf(const std::wstring& path) {
    WCHAR buf[MAX_PATH];
    const DWORD n = GetShortPathNameW(path.c_str(), buf, MAX_PATH);
    return (n > 0 && n < MAX_PATH) ? std::wstring(buf, n) : std::wstring();
}

inline bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

inline std::string Hex(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

// Makes the process's current directory dir while it lives.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& dir) {
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        m_ok = SetCurrentDirectoryW(dir.c_str()) != FALSE;
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(m_previous); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    bool Ok() const { return m_ok; }

private:
    WCHAR m_previous[MAX_PATH] = {};
    bool m_ok = false;
};

}  // namespace orv::test::ut
