// Helpers shared by the tests that run under Wine: paths of the build, a
// private temp folder per test, child processes, the log, the registry.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orv::test {

std::wstring Env(LPCWSTR name);
// Where the product modules are (ORV_BIN), the fixtures of this build
// (ORV_FIXTURES) and of the other bitness (ORV_OTHER_FIXTURES, may be empty).
std::wstring BinDir();
std::wstring FixturesDir();
std::wstring OtherFixturesDir();
std::wstring Join(const std::wstring& dir, const std::wstring& name);
std::string Narrow(const std::wstring& s);
std::wstring Widen(const std::string& utf8);

// A fresh, unique folder under %TEMP%, removed with everything in it when the
// object goes, whatever the test did (read-only files included).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return Join(m_path, name); }

private:
    std::wstring m_path;
};

void RemoveTree(const std::wstring& path);
// The names FindFirstFileW lists for the pattern in the folder ("." and ".." where they match).
std::vector<std::wstring> FindNames(const std::wstring& folder, const std::wstring& pattern);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

struct ProcessResult {
    DWORD exitCode = 0xdeadbeef;
    bool timedOut = false;
    std::string output;  // standard output and error together
};
// Runs a command line, waiting up to timeoutMs; the output is captured.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);

// The log file every module of this test process writes (TQORVWEX_LOG, set by main).
std::wstring LogPath();
std::wstring ReadLog();
// Remembers where the log ends now; Text() is what was written since.
class LogCursor {
public:
    LogCursor();
    std::wstring Text() const;

private:
    size_t m_offset = 0;
};
size_t CountOf(const std::wstring& haystack, const std::wstring& needle);

// A kernel log line: "TqOrvWexKr <level> <severity> <text>"; a Win32 one goes on "...: error <n> ".
std::wstring Line(WCHAR severity, const std::wstring& text, int level = 2);
std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error);
// The lines appear in this order (others may come between) and the absent
// texts nowhere; "{S}" and "{T}" in the lines stand for source and target.
::testing::AssertionResult LogHas(const std::wstring& log, const std::vector<std::wstring>& lines,
                                  const std::vector<std::wstring>& absent = {}, const std::wstring& source = L"",
                                  const std::wstring& target = L"");
inline ::testing::AssertionResult Lacks(const std::wstring& log, const std::wstring& text) {
    return LogHas(log, {}, {text});
}

// A registry key path unique to this process and call, below HKCU\Software\OrvTest.
std::wstring UniqueKeyPath(const std::wstring& tag);
bool KeyExists(HKEY root, const std::wstring& path);
// The value's data as a string (REG_SZ/REG_EXPAND_SZ), or nullopt-like empty + false.
bool ReadString(HKEY root, const std::wstring& path, LPCWSTR name, std::wstring* out);

}  // namespace orv::test
