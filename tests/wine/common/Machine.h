// What the tests read and set on the machine outside their own folders:
// registry values as stored, SharedDLLs counts, pending renames, the system
// and program folders, helpers run as another Windows version. Header-only.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "WineTest.h"

namespace orv::test {

inline const wchar_t kSharedDllsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline const wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
inline const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

inline std::string Hex(HRESULT hr) {
    char buf[16];
    return std::string(buf, snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr)));
}
inline std::wstring Upper(std::wstring text) {
    CharUpperBuffW(text.data(), DWORD(text.size()));
    return text;
}
inline std::wstring ShortPath(const std::wstring& path) {
    WCHAR buf[MAX_PATH];
    const DWORD n = GetShortPathNameW(path.c_str(), buf, MAX_PATH);
    return n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}
// What the kernel names a new SharedDLLs value: full, long, upper case.
inline std::wstring Canonical(const std::wstring& path) {
    WCHAR full[MAX_PATH], longer[MAX_PATH];
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return Upper(GetLongPathNameW(full, longer, MAX_PATH) ? longer : full);
}
inline std::wstring UniqueName(const std::wstring& stem, const std::wstring& extension) {
    static std::atomic<unsigned> unique{0};
    return stem + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(unique++) + extension;
}
// The folder of this program, where the helper programs are built.
inline std::wstring SelfDir() {
    WCHAR self[MAX_PATH];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\'));
}
inline std::wstring SystemDir() {
    WCHAR dir[MAX_PATH];
    return std::wstring(dir, GetSystemDirectoryW(dir, MAX_PATH));
}
// Runs a program as the Windows version Wine is told for its file name
// ("win98"; null: Wine's default), the setting removed afterwards.
inline ProcessResult RunAs(const wchar_t* version, const std::wstring& program, const std::wstring& arguments = L"") {
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + std::wstring(PathFindFileNameW(program.c_str()));
    SHDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    if (version) SHSetValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, version, DWORD(wcslen(version) + 1) * 2);
    const ProcessResult run = RunProcess(L"\"" + program + L"\" " + arguments);
    SHDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    return run;
}

// Runs the command lines at once; their results in the same order.
inline std::vector<ProcessResult> RunTogether(const std::vector<std::wstring>& commandLines, DWORD timeoutMs = 60000) {
    std::vector<ProcessResult> results(commandLines.size());
    std::vector<std::thread> runs;
    for (size_t i = 0; i < commandLines.size(); ++i)
        runs.emplace_back([&, i] { results[i] = RunProcess(commandLines[i], timeoutMs); });
    for (std::thread& run : runs) run.join();
    return results;
}

// Held open, read/write and shared with nobody, until the object goes.
class HeldOpen {
public:
    explicit HeldOpen(const std::wstring& path)
        : m_handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~HeldOpen() { if (Holding()) CloseHandle(m_handle); }
    HeldOpen(const HeldOpen&) = delete;
    bool Holding() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : m_value(SysAllocStringLen(text.data(), UINT(text.size()))) {}
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr&) = delete;
    BSTR Get() const { return m_value; }
    operator BSTR() const { return m_value; }

private:
    BSTR m_value;
};

// Registry data as bytes in a string.
inline std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }
inline std::string Utf16(const std::wstring& text, bool terminated = true) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + (terminated ? 1 : 0)) * 2);
}
struct RegValue {
    bool exists = false;
    DWORD type = 0;
    std::string data;
};
// As stored (SHGetValue would expand REG_EXPAND_SZ); nothing when missing.
inline RegValue ReadValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    RegValue value;
    HKEY handle = nullptr;
    DWORD size = 0;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return value;
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.assign(size, '\0');
        value.exists = RegQueryValueExW(handle, name.c_str(), nullptr, &value.type,
                                        reinterpret_cast<BYTE*>(value.data.data()), &size) == ERROR_SUCCESS;
        value.data.resize(size);
    }
    RegCloseKey(handle);
    return value.exists ? value : RegValue();
}
inline bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data) {
    return SHSetValueW(root, key.c_str(), name.c_str(), type, data.data(), DWORD(data.size())) == ERROR_SUCCESS;
}

inline bool SetCount(const std::wstring& name, DWORD type, const std::string& data) {
    return SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, type, data);
}
// A REG_DWORD SharedDLLs count, or -1 when missing or of another type.
inline long long DwordCount(const std::wstring& name) {
    const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
    if (value.type != REG_DWORD || value.data.size() != 4) return -1;
    return *reinterpret_cast<const DWORD*>(value.data.data());
}
// SharedDLLs values whose names contain text (any letter case).
inline std::vector<std::wstring> SharedDllValuesContaining(const std::wstring& text) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return names;
    WCHAR name[1024];
    for (DWORD i = 0, cch = 1024; RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == 0;
         ++i, cch = 1024)
        if (Upper(std::wstring(name, cch)).find(Upper(text)) != std::wstring::npos) names.emplace_back(name, cch);
    RegCloseKey(key);
    return names;
}
inline void DeleteSharedDllValuesContaining(const std::wstring& text) {
    for (const std::wstring& name : SharedDllValuesContaining(text))
        SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
}

// MoveFileEx's pending list (or the one named) as "from -> to" pairs ("\??\"
// and "!" removed, "to" empty for a deletion), in order; keep(from, to): which
// pairs to list, and to add to raw as they are stored.
template <typename Keep>
std::vector<std::wstring> PendingPairs(Keep keep, std::wstring* raw = nullptr,
                                       const wchar_t* list = L"PendingFileRenameOperations") {
    const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, list);
    const std::wstring all(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / 2);
    auto strip = [](std::wstring path) {
        if (!path.empty() && path[0] == L'!') path.erase(0, 1);
        return path.compare(0, 4, L"\\??\\") == 0 ? path.substr(4) : path;
    };
    std::vector<std::wstring> pairs;
    for (size_t at = 0; at < all.size() && all[at];) {
        const std::wstring from = all.c_str() + at, to = all.c_str() + at + from.size() + 1;
        at += from.size() + to.size() + 2;
        if (keep(strip(from), strip(to))) {
            pairs.push_back(strip(from) + L" -> " + strip(to));
            if (raw) *raw += from + L'\0' + to + L'\0';
        }
    }
    return pairs;
}
inline std::vector<std::wstring> PendingStartingWith(const std::wstring& prefix) {
    return PendingPairs([&](const std::wstring& from, const std::wstring&) { return Upper(from).rfind(Upper(prefix), 0) == 0; });
}
// Takes the pairs drop(from, to) names out of the list; false if it could not be written back.
template <typename Drop>
bool ForgetPending(Drop drop, size_t* dropped = nullptr, const wchar_t* list = L"PendingFileRenameOperations") {
    std::wstring kept;
    const size_t all = PendingPairs([](const std::wstring&, const std::wstring&) { return true; }, nullptr, list).size();
    const auto keep = [&](const std::wstring& from, const std::wstring& to) { return !drop(from, to); };
    const size_t gone = all - PendingPairs(keep, &kept, list).size();
    if (dropped) *dropped = gone;
    if (gone == 0) return true;
    if (!kept.empty()) return SetValue(HKEY_LOCAL_MACHINE, kSessionManager, list, REG_MULTI_SZ, Utf16(kept));
    return SHDeleteValueW(HKEY_LOCAL_MACHINE, kSessionManager, list) == ERROR_SUCCESS;
}
inline bool ForgetPendingStartingWith(const std::wstring& prefix) {
    return ForgetPending([&](const std::wstring& from, const std::wstring&) { return Upper(from).rfind(Upper(prefix), 0) == 0; });
}

}  // namespace orv::test
