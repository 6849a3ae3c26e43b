// The attack harness: the kernel from the built DLL, calls bounded in time,
// the canary set (files, registry keys and values in HKCU and HKLM, shortcuts,
// SharedDLLs counts, the restart lists) compared byte for byte, and the one
// summary line per category that scripts/reliability collects.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KernelRecords.h"

namespace orv::test::attack {

// A call that has not returned after this long is a hang.
constexpr DWORD kCallLimitMs = 10000;

// Outcome classes of a row: the call must succeed, must not (a failure or
// S_FALSE), or may do either as long as it returns and harms nothing.
enum class Want { Works, Refused, Any };

// "OrvAttack_<process>": what the rows name their keys, shortcuts and files.
inline std::wstring AttackTag() { return L"OrvAttack_" + std::to_wstring(GetCurrentProcessId()); }

// Runs fn on a thread of its own (multithreaded apartment) and waits up to
// kCallLimitMs. False when it did not return in time; the thread is then
// left behind and the result is E_ABORT.
bool Bounded(const std::function<HRESULT()>& fn, HRESULT* result);

// Every file below the roots (path -> attributes, size and content), every
// key and value below the registry roots (path -> type and data).
class Snapshot {
public:
    void AddFile(const std::wstring& path);
    void AddTree(const std::wstring& folder);
    void AddKey(HKEY root, const std::wstring& rootName, const std::wstring& path);
    void AddValue(HKEY root, const std::wstring& rootName, const std::wstring& path, const std::wstring& name);
    // The entries that differ: "+name" added, "-name" gone, "*name" changed.
    std::vector<std::wstring> Differences(const Snapshot& later) const;
    size_t Size() const { return m_entries.size(); }

private:
    std::map<std::wstring, std::string> m_entries;
};

// The canary set: files beside the attack's folder, in the Windows folder and
// at the drive's root; keys with values of every type in HKCU and HKLM; a
// SharedDLLs count; shortcuts in the shell folders. Taken with the shared
// system lists (SharedDLLs, App Paths, fonts, RunOnce, pending renames,
// wininit.ini) before and after a category; entries that the attack left
// for its own folder are tidied away first (and counted).
class Canary {
public:
    explicit Canary(const std::wstring& sandbox);
    ~Canary();
    // Removes what the rows left in the system lists for the sandbox (values
    // naming it) and returns how many there were.
    size_t Tidy() const;
    Snapshot Take() const;

private:
    std::wstring m_sandbox, m_tag, m_key;  // m_key: the canary keys' path below HKCU and HKLM
    std::vector<std::wstring> m_files, m_links;
};

// One category: rows run bounded, results kept for the summary.
class Category {
public:
    Category(const char* name, const std::wstring& sandbox);
    // Runs one row; a hang or a wrong class of result is a failure of the row.
    void Row(const std::string& label, Want want, const std::function<HRESULT()>& call);
    // Checks the canary set and prints "attack | <name> | <cases> | <outcome>".
    void Finish();

private:
    std::string m_name;
    std::wstring m_sandbox;
    Canary m_canary;
    Snapshot m_before;
    size_t m_cases = 0, m_hangs = 0, m_wrong = 0;
    DWORD m_slowest = 0;
    std::string m_slowestLabel;
    bool m_stopped = false;
};

// The kernel from bin\TqOrvWexKr.dll through its class factory.
class AttackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }
    TempDir m_temp;
    const std::wstring m_tag = AttackTag();
    LoadedKernel m_loaded;
    IOrvInstallerKernel* const m_kernel = m_loaded.Get();
    WCHAR m_previousFolder[MAX_PATH] = L"";
};

// BSTR owner.
struct BstrFree {
    void operator()(BSTR s) const { SysFreeString(s); }
};
using Bstr = std::unique_ptr<OLECHAR, BstrFree>;
inline Bstr B(const std::wstring& s) { return Bstr(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))); }

}  // namespace orv::test::attack
