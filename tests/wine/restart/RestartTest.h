// Helpers of the restart and shared-library tests: log lines, the registry
// state these operations share with the system (pending renames, wininit.ini,
// RunOnce, SharedDLLs, App Paths), keys made unwritable for a while, and the
// helper programs beside the test.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WineTest.h"

namespace orv::test::restart {

// BSTR owner.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text) : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_value; }

private:
    BSTR m_value = nullptr;
};

// Log lines as the log library writes them: "TqOrvWexKr <level> <severity> <text>".
std::wstring Line(WCHAR severity, const std::wstring& text, int level = 2);
// A Win32 error line: the text followed by the error number.
std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error);
// The lines appear in log, in this order (others may come between).
::testing::AssertionResult HasLinesInOrder(const std::wstring& log, const std::vector<std::wstring>& lines);
::testing::AssertionResult Lacks(const std::wstring& log, const std::wstring& text);
std::string Hex(HRESULT hr);

bool Write(const std::wstring& path, const std::string& bytes);
std::string Content(const std::wstring& path);
std::wstring ShortPath(const std::wstring& path);
// A file name unique to this process and call, with the given stem and extension.
std::wstring UniqueName(const std::wstring& stem, const std::wstring& extension);
// The folder of this test program (where its helper programs are).
std::wstring SelfDir();

// A file held open until the object goes: for reading and writing, shared
// with nobody; or, with a share mode, for reading only (as a loaded module is).
class HeldOpen {
public:
    explicit HeldOpen(const std::wstring& path, DWORD share = 0);
    ~HeldOpen();
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool Holding() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// ---- pending renames (NT family): MoveFileEx's list, "\??\" paths in pairs
struct PendingRename {
    std::wstring from;  // without "\??\"
    std::wstring to;    // without "\??\" and "!"; empty: delete
};
std::vector<PendingRename> PendingRenames();
// Removes every pair whose source lies below folder; the system's own stay.
bool ForgetPendingRenamesBelow(const std::wstring& folder);
// Removes every pair whose source begins with prefix (a file and its
// "_orvtmp" copy: the path without its extension).
bool ForgetPendingRenamesStartingWith(const std::wstring& prefix);
// The pairs whose source lies below folder, in list order.
std::vector<PendingRename> PendingRenamesBelow(const std::wstring& folder);
std::vector<PendingRename> PendingRenamesStartingWith(const std::wstring& prefix);
// The system folder (no trailing backslash).
std::wstring SystemDir();

// ---- Windows 9x: wininit.ini and RunOnce
std::wstring WininitPath();
// Lines of the [rename] section as they are in the file.
std::vector<std::wstring> RenameLines();
// Keeps wininit.ini as it was (or absent) whatever the test does to it.
class WininitGuard {
public:
    WininitGuard();
    ~WininitGuard();
    WininitGuard(const WininitGuard&) = delete;
    WininitGuard& operator=(const WininitGuard&) = delete;

private:
    bool m_existed = false;
    std::string m_content;
};
extern const wchar_t kRunOnceKey[];

// ---- SharedDLLs and App Paths
extern const wchar_t kSharedDllsKey[];
extern const wchar_t kAppPathsKey[];
struct RegValue {
    bool exists = false;
    DWORD type = 0;
    std::string data;
};
RegValue ReadValue(HKEY root, const std::wstring& key, const std::wstring& name);
bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data);
std::string Dword(DWORD value);
// UTF-16LE bytes of text, with its terminator when terminated is true.
std::string Utf16(const std::wstring& text, bool terminated = true);
// The count value of the SharedDLLs key; a REG_DWORD count, or -1 when the
// value is missing or not a REG_DWORD.
long long DwordCount(const std::wstring& name);
// Values of the SharedDLLs key whose name contains text (any letter case).
std::vector<std::wstring> SharedDllValuesContaining(const std::wstring& text);

// A key whose access list grants only `allowed` (nothing by default) until
// the object goes; then its own list is back. Wine enforces key access
// lists, so the refused calls really fail.
class DeniedKey {
public:
    DeniedKey(HKEY root, const std::wstring& path, REGSAM allowed = 0);
    ~DeniedKey();
    DeniedKey(const DeniedKey&) = delete;
    DeniedKey& operator=(const DeniedKey&) = delete;
    bool Denied() const { return m_denied; }

private:
    HKEY m_root;
    std::wstring m_path;
    std::vector<BYTE> m_saved;
    bool m_denied = false;
};

// Runs restart_win98.exe as Windows 98 (Wine's AppDefaults); the exit code
// is its HRESULT. Set up once per test program by Win98Environment.
HRESULT RunWin98(const std::wstring& args);
bool PrepareWin98();

}  // namespace orv::test::restart
