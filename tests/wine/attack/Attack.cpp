#include "Attack.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>

#include "Machine.h"

namespace orv::test::attack {
namespace {

// The shared lists the kernel writes for others: (root, name, key).
const struct {
    HKEY root;
    const wchar_t* rootName;
    const wchar_t* path;
} kSystemKeys[] = {
    {HKEY_LOCAL_MACHINE, L"HKLM", kSharedDllsKey},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"},
    {HKEY_LOCAL_MACHINE, L"HKLM", L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_CURRENT_USER, L"HKCU", L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
};
const wchar_t* const kRenameValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
constexpr int kLinkFolders[] = {CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_STARTUP, CSIDL_STARTMENU,
                                CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS};

std::wstring Folder(int csidl) {
    WCHAR path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// The names of the key's sub-keys.
std::vector<std::wstring> Subkeys(HKEY key) {
    std::vector<std::wstring> names;
    WCHAR name[256];
    for (DWORD i = 0, cch = 256; RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, cch = 256)
        names.emplace_back(name, cch);
    return names;
}

std::string Bytes(const void* data, size_t size) { return std::string(static_cast<const char*>(data), size); }

bool MakeLink(const std::wstring& path, const std::wstring& target) {
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&link))) &&
              SUCCEEDED(link->SetPath(target.c_str())) &&
              SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
              SUCCEEDED(file->Save(path.c_str(), TRUE));
    if (file) file->Release();
    if (link) link->Release();
    return ok;
}

struct CallContext {
    std::function<HRESULT()> fn;
    HRESULT result = E_ABORT;
};

DWORD WINAPI CallThread(void* parameter) {
    auto* context = static_cast<CallContext*>(parameter);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    context->result = context->fn();
    CoUninitialize();
    return 0;
}

}  // namespace

bool Bounded(const std::function<HRESULT()>& fn, HRESULT* result) {
    auto* context = new CallContext{fn};
    HANDLE thread = CreateThread(nullptr, 0, CallThread, context, 0, nullptr);
    if (!thread) {
        delete context;
        *result = E_FAIL;
        return true;
    }
    const bool returned = WaitForSingleObject(thread, kCallLimitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    *result = returned ? context->result : E_ABORT;
    if (returned) delete context;  // else the thread still uses it
    return returned;
}

// ---------------------------------------------------------------------------

void Snapshot::AddFile(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
    std::string entry = Bytes(&data.dwFileAttributes, 4);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) entry += ReadBytes(path);
    m_entries[L"F:" + Upper(path)] = entry;
}

void Snapshot::AddTree(const std::wstring& folder) {
    AddFile(folder);
    for (const std::wstring& name : FindNames(folder, L"*"))  // none when it is a file
        if (name != L"." && name != L"..") AddTree(Join(folder, name));
}

void Snapshot::AddValue(HKEY root, const std::wstring& rootName, const std::wstring& path, const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size);
        m_entries[L"V:" + rootName + L"\\" + Upper(path) + L"|" + name] = Bytes(&type, 4) + data;
    }
    RegCloseKey(key);
}

void Snapshot::AddKey(HKEY root, const std::wstring& rootName, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    m_entries[L"K:" + rootName + L"\\" + Upper(path)] = "";
    std::vector<std::wstring> values;
    WCHAR name[16384];
    for (DWORD i = 0, cch = 16384; RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, cch = 16384)
        values.emplace_back(name, cch);
    const std::vector<std::wstring> subkeys = Subkeys(key);
    RegCloseKey(key);
    for (const std::wstring& value : values) AddValue(root, rootName, path, value);
    for (const std::wstring& subkey : subkeys) AddKey(root, rootName, path + L"\\" + subkey);
}

std::vector<std::wstring> Snapshot::Differences(const Snapshot& later) const {
    std::vector<std::wstring> out;
    for (const auto& [name, data] : m_entries) {
        auto it = later.m_entries.find(name);
        if (it == later.m_entries.end())
            out.push_back(L"-" + name);
        else if (it->second != data)
            out.push_back(L"*" + name);
    }
    for (const auto& [name, data] : later.m_entries)
        if (!m_entries.count(name)) out.push_back(L"+" + name);
    return out;
}

// ---------------------------------------------------------------------------

// Removes the entries named "orv_canary_*" and "OrvAttack_*" of the folder
// and key: what an attack run that crashed left (the runs never overlap).
void RemoveEarlierRuns(const std::wstring& folder, HKEY root) {
    for (const wchar_t* pattern : {L"orv_canary_*", L"OrvAttack_*"})
        for (const std::wstring& name : folder.empty() ? std::vector<std::wstring>() : FindNames(folder, pattern))
            RemoveTree(Join(folder, name));
    HKEY software = nullptr;
    if (!root || RegOpenKeyExW(root, L"Software", 0, KEY_ALL_ACCESS, &software) != ERROR_SUCCESS) return;
    for (const std::wstring& key : Subkeys(software))
        if (!_wcsnicmp(key.c_str(), L"orv_canary_", 11) || !_wcsnicmp(key.c_str(), L"OrvAttack_", 10))
            SHDeleteKeyW(software, key.c_str());
    RegCloseKey(software);
}

Canary::Canary(const std::wstring& sandbox) : m_sandbox(sandbox), m_tag(AttackTag()) {
    const std::wstring canary = L"orv_canary_" + std::to_wstring(GetCurrentProcessId());
    m_key = L"Software\\" + canary;
    WCHAR temp[MAX_PATH], windows[MAX_PATH], system[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetWindowsDirectoryW(windows, MAX_PATH);
    GetSystemDirectoryW(system, MAX_PATH);
    for (const std::wstring& folder : {std::wstring(temp), std::wstring(windows), std::wstring(system), std::wstring(L"C:\\")})
        RemoveEarlierRuns(folder, nullptr);
    for (int csidl : kLinkFolders) RemoveEarlierRuns(Folder(csidl), nullptr);
    RemoveEarlierRuns(L"", HKEY_CURRENT_USER);
    RemoveEarlierRuns(L"", HKEY_LOCAL_MACHINE);
    const std::wstring folder = Join(temp, canary);
    CreateDirectoryW(folder.c_str(), nullptr);
    m_files = {Join(temp, canary + L".txt"), Join(folder, L"data.txt"), Join(folder, L"readonly.txt"),
               Join(folder, L"hidden.dll"), Join(windows, canary + L".dll"), Join(system, canary + L".dll"),
               L"C:\\" + canary + L".txt", folder};
    for (size_t i = 0; i + 1 < m_files.size(); ++i)
        WriteBytes(m_files[i], "canary " + std::to_string(i) + std::string(100 + i * 37, static_cast<char>('a' + i)));
    SetFileAttributesW(m_files[2].c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(m_files[3].c_str(), FILE_ATTRIBUTE_HIDDEN);
    for (int csidl : kLinkFolders) {
        m_links.push_back(Join(Folder(csidl), canary + L".lnk"));
        MakeLink(m_links.back(), m_files[0]);
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::wstring& path = m_key;  // its sub-key "Sub" made by the last value
        const DWORD dword = 0x12345678;
        const ULONGLONG qword = 0x1122334455667788ull;
        const BYTE binary[] = {0, 1, 2, 0xFF};
        const wchar_t multi[] = L"one\0two\0";
        SHSetValueW(root, path.c_str(), nullptr, REG_SZ, L"default", 16);
        SHSetValueW(root, path.c_str(), L"sz", REG_SZ, L"C:\\Program Files\\App", 42);
        SHSetValueW(root, path.c_str(), L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\x", 30);
        SHSetValueW(root, path.c_str(), L"multi", REG_MULTI_SZ, multi, sizeof(multi));
        SHSetValueW(root, path.c_str(), L"dword", REG_DWORD, &dword, 4);
        SHSetValueW(root, path.c_str(), L"qword", REG_QWORD, &qword, 8);
        SHSetValueW(root, path.c_str(), L"binary", REG_BINARY, binary, 4);
        SHSetValueW(root, (path + L"\\Sub").c_str(), L"OrvCreateKey", REG_DWORD, &dword, 4);
    }
    const DWORD count = 3;
    SHSetValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(m_files[4]).c_str(), REG_DWORD, &count, 4);
}

Canary::~Canary() {
    for (const std::wstring& file : m_files) RemoveTree(file);
    for (const std::wstring& link : m_links) DeleteFileW(link.c_str());
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) SHDeleteKeyW(root, m_key.c_str());
    SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, Upper(m_files[4]).c_str());
    Tidy();
}

size_t Canary::Tidy() const {
    WCHAR shortPath[MAX_PATH] = L"";
    GetShortPathNameW(m_sandbox.c_str(), shortPath, MAX_PATH);
    // The folder with and without its drive (a UNC spelling has none).
    const std::wstring marks[] = {Upper(m_sandbox), Upper(m_sandbox.substr(2)), Upper(shortPath), Upper(m_tag)};
    auto mine = [&](const std::wstring& text) {
        const std::wstring upper = Upper(text);
        for (const std::wstring& mark : marks)
            if (!mark.empty() && upper.find(mark) != std::wstring::npos) return true;
        return false;
    };
    size_t tidied = 0;
    for (const auto& list : kSystemKeys) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(list.root, list.path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) continue;
        std::vector<std::wstring> names;
        WCHAR name[16384];
        BYTE data[8192];
        for (DWORD i = 0;; ++i) {
            DWORD cch = 16384, size = sizeof(data) - 2, type = 0;
            const LONG e = RegEnumValueW(key, i, name, &cch, nullptr, &type, data, &size);
            if (e == ERROR_NO_MORE_ITEMS) break;
            const bool text = e == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
            if (text) data[size] = data[size + 1] = 0;
            if (mine(std::wstring(name, cch)) || (text && mine(reinterpret_cast<const wchar_t*>(data))))
                names.emplace_back(name, cch);
        }
        for (const std::wstring& value : names) RegDeleteValueW(key, value.c_str());
        for (const std::wstring& subkey : Subkeys(key))
            if (mine(subkey)) tidied += SHDeleteKeyW(key, subkey.c_str()) == ERROR_SUCCESS;
        tidied += names.size();
        RegCloseKey(key);
    }
    // Pending renames: pairs of names, either of which may be the sandbox's.
    for (const wchar_t* list : kRenameValues) {
        size_t dropped = 0;
        ForgetPending([&](const std::wstring& from, const std::wstring& to) { return mine(from) || mine(to); }, &dropped, list);
        tidied += dropped;
    }
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        if (SHDeleteKeyW(root, (L"Software\\" + m_tag).c_str()) == ERROR_SUCCESS) ++tidied;
    for (int csidl : kLinkFolders) {
        const std::wstring folder = Folder(csidl);
        for (const std::wstring& name : FindNames(folder, m_tag + L"*")) {
            RemoveTree(Join(folder, name));
            ++tidied;
        }
    }
    return tidied;
}

Snapshot Canary::Take() const {
    Snapshot s;
    for (const std::wstring& file : m_files) s.AddTree(file);
    for (int csidl : kLinkFolders) s.AddTree(Folder(csidl));
    s.AddKey(HKEY_CURRENT_USER, L"HKCU", m_key);
    s.AddKey(HKEY_LOCAL_MACHINE, L"HKLM", m_key);
    for (const auto& list : kSystemKeys) s.AddKey(list.root, list.rootName, list.path);
    for (const wchar_t* value : kRenameValues) s.AddValue(HKEY_LOCAL_MACHINE, L"HKLM", kSessionManager, value);
    WCHAR windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    s.AddFile(Join(windows, L"wininit.ini"));
    return s;
}

// ---------------------------------------------------------------------------

Category::Category(const char* name, const std::wstring& sandbox)
    : m_name(name), m_sandbox(sandbox), m_canary(sandbox) {
    m_canary.Tidy();
    m_before = m_canary.Take();
}

void Category::Row(const std::string& label, Want want, const std::function<HRESULT()>& call) {
    if (m_stopped) return;
    // ORV_ATTACK_ONLY=<text>: only the rows whose label has it (when looking into one).
    const std::string only = Narrow(Env(L"ORV_ATTACK_ONLY"));
    if (!only.empty() && label.find(only) == std::string::npos) return;
    ++m_cases;
    if (!Env(L"ORV_ATTACK_TRACE").empty()) std::fprintf(stderr, "attack row: %s\n", label.c_str());
    HRESULT hr = E_ABORT;
    const DWORD start = GetTickCount();
    const bool returned = Bounded(call, &hr);
    const DWORD took = GetTickCount() - start;
    if (took > m_slowest) {
        m_slowest = took;
        m_slowestLabel = label;
    }
    if (!returned) {
        ++m_hangs;
        m_stopped = true;  // the kernel may still be working: nothing more is asked of it
        ADD_FAILURE() << m_name << ": '" << label << "' did not return within " << kCallLimitMs / 1000 << " s";
        return;
    }
    const bool works = SUCCEEDED(hr) && hr != S_FALSE;
    if ((want == Want::Works && !SUCCEEDED(hr)) || (want == Want::Refused && works)) {
        ++m_wrong;
        ADD_FAILURE() << m_name << ": '" << label << "' returned 0x" << std::hex << hr;
    }
}

void Category::Finish() {
    const size_t tidied = m_canary.Tidy();
    const Snapshot after = m_canary.Take();
    const std::vector<std::wstring> differences = m_before.Differences(after);
    for (const std::wstring& d : differences) ADD_FAILURE() << m_name << ": canary set changed: " << Narrow(d);
    std::printf("attack | %s | %zu | %zu hangs, %zu wrong results, canary set of %zu entries %s, %zu entries for "
                "the attack's own folder tidied; slowest call %lu ms (%s)\n",
                m_name.c_str(), m_cases, m_hangs, m_wrong, m_before.Size(),
                differences.empty() ? "byte for byte unchanged" : "CHANGED", tidied,
                static_cast<unsigned long>(m_slowest), m_slowestLabel.c_str());
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------

void AttackTest::SetUp() {
    // Relative paths land in the attack's folder.
    GetCurrentDirectoryW(MAX_PATH, m_previousFolder);
    SetCurrentDirectoryW(m_temp.Path().c_str());
    // The module stays loaded: a thread left behind by a hang may still run in it.
    LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
    ASSERT_NE(m_kernel, nullptr) << "the kernel DLL cannot be created";
}

void AttackTest::TearDown() { SetCurrentDirectoryW(m_previousFolder); }

}  // namespace orv::test::attack
