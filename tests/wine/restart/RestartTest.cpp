#include "RestartTest.h"

#include <shlwapi.h>

#include <atomic>
#include <cstdio>

namespace orv::test::restart {

const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kSharedDllsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kWin98Defaults[] = L"Software\\Wine\\AppDefaults\\restart_win98.exe";
std::atomic<unsigned> g_unique{0};

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

std::wstring StripNtPrefix(std::wstring path) {
    if (!path.empty() && path[0] == L'!') path.erase(0, 1);
    if (path.compare(0, 4, L"\\??\\") == 0) path.erase(0, 4);
    return path;
}

std::vector<std::wstring> PendingList() {
    std::vector<std::wstring> entries;
    DWORD type = 0, size = 0;
    if (SHGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return entries;
    std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 2, 0);
    if (SHGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", &type, buffer.data(), &size) !=
        ERROR_SUCCESS)
        return entries;
    // Pairs of strings; the second of a pair may be empty, so count by position.
    const size_t chars = size / sizeof(WCHAR);
    size_t at = 0;
    while (at < chars) {
        std::wstring item(buffer.data() + at);
        at += item.size() + 1;
        if (item.empty() && entries.size() % 2 == 0) break;  // the list's end
        entries.push_back(item);
    }
    return entries;
}

}  // namespace

std::wstring Line(WCHAR severity, const std::wstring& text, int level) {
    return L"TqOrvWexKr " + std::to_wstring(level) + L" " + std::wstring(1, severity) + L" " + text;
}

std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error) {
    return Line(severity, text) + L": error " + std::to_wstring(error) + L" ";
}

::testing::AssertionResult HasLinesInOrder(const std::wstring& log, const std::vector<std::wstring>& lines) {
    size_t from = 0;
    for (const auto& line : lines) {
        const size_t at = log.find(line, from);
        if (at == std::wstring::npos) {
            const bool elsewhere = log.find(line) != std::wstring::npos;
            return ::testing::AssertionFailure() << "line \"" << Narrow(line) << "\" "
                                                 << (elsewhere ? "is out of order" : "is missing") << " in the log:\n"
                                                 << Narrow(log);
        }
        from = at + line.size();
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Lacks(const std::wstring& log, const std::wstring& text) {
    if (log.find(text) == std::wstring::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << Narrow(text) << "\" is in the log:\n" << Narrow(log);
}

std::string Hex(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

bool Write(const std::wstring& path, const std::string& bytes) { return WriteBytes(path, bytes); }
std::string Content(const std::wstring& path) { return ReadBytes(path); }

std::wstring ShortPath(const std::wstring& path) {
    WCHAR buf[MAX_PATH];
    const DWORD n = GetShortPathNameW(path.c_str(), buf, MAX_PATH);
    return (n > 0 && n < MAX_PATH) ? std::wstring(buf, n) : std::wstring();
}

std::wstring UniqueName(const std::wstring& stem, const std::wstring& extension) {
    return stem + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(g_unique++) + extension;
}

std::wstring SelfDir() {
    WCHAR self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\'));
}

HeldOpen::HeldOpen(const std::wstring& path, DWORD share)
    : m_handle(CreateFileW(path.c_str(), share ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, share, nullptr,
                           OPEN_EXISTING, 0, nullptr)) {}
HeldOpen::~HeldOpen() {
    if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
}

std::vector<PendingRename> PendingRenames() {
    const std::vector<std::wstring> list = PendingList();
    std::vector<PendingRename> pairs;
    for (size_t i = 0; i + 1 < list.size(); i += 2)
        pairs.push_back({StripNtPrefix(list[i]), StripNtPrefix(list[i + 1])});
    return pairs;
}

std::vector<PendingRename> PendingRenamesStartingWith(const std::wstring& prefix) {
    std::vector<PendingRename> below;
    for (const PendingRename& pair : PendingRenames())
        if (StartsWithNoCase(pair.from, prefix)) below.push_back(pair);
    return below;
}

std::vector<PendingRename> PendingRenamesBelow(const std::wstring& folder) {
    return PendingRenamesStartingWith(folder + L"\\");
}

bool ForgetPendingRenamesBelow(const std::wstring& folder) { return ForgetPendingRenamesStartingWith(folder + L"\\"); }

std::wstring SystemDir() {
    WCHAR dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir, n);
}

bool ForgetPendingRenamesStartingWith(const std::wstring& prefix) {
    const std::vector<std::wstring> list = PendingList();
    std::wstring kept;
    bool removed = false;
    for (size_t i = 0; i + 1 < list.size(); i += 2) {
        if (StartsWithNoCase(StripNtPrefix(list[i]), prefix)) {
            removed = true;
            continue;
        }
        kept.append(list[i]).push_back(L'\0');
        kept.append(list[i + 1]).push_back(L'\0');
    }
    if (!removed) return true;
    if (kept.empty())
        return SHDeleteValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations") == ERROR_SUCCESS;
    kept.push_back(L'\0');
    return SHSetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations", REG_MULTI_SZ, kept.data(),
                       static_cast<DWORD>(kept.size() * sizeof(WCHAR))) == ERROR_SUCCESS;
}

std::wstring WininitPath() {
    WCHAR dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return Join(dir, L"wininit.ini");
}

std::vector<std::wstring> RenameLines() {
    const std::string bytes = ReadBytes(WininitPath());
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    } else {
        for (char c : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    std::vector<std::wstring> lines;
    bool inRename = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(at, end - at);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        at = end + 1;
        if (!line.empty() && line[0] == L'[') {
            inRename = CompareStringOrdinal(line.c_str(), -1, L"[rename]", -1, TRUE) == CSTR_EQUAL;
            continue;
        }
        if (inRename && !line.empty()) lines.push_back(line);
    }
    return lines;
}

WininitGuard::WininitGuard() {
    m_existed = FileExists(WininitPath());
    if (m_existed) m_content = ReadBytes(WininitPath());
}

WininitGuard::~WininitGuard() {
    const std::wstring path = WininitPath();
    RemoveTree(path);  // a test may have made it a folder
    if (m_existed) WriteBytes(path, m_content);
}

RegValue ReadValue(HKEY root, const std::wstring& key, const std::wstring& name) {
    // As stored: SHGetValue would expand REG_EXPAND_SZ and call it REG_SZ.
    RegValue value;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.assign(size, '\0');
        if (RegQueryValueExW(handle, name.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()),
                             &size) == ERROR_SUCCESS) {
            value.data.resize(size);
            value.exists = true;
        }
    }
    RegCloseKey(handle);
    if (!value.exists) value = RegValue();
    return value;
}

bool SetValue(HKEY root, const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data) {
    return SHSetValueW(root, key.c_str(), name.c_str(), type, data.data(), static_cast<DWORD>(data.size())) ==
           ERROR_SUCCESS;
}

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::string Utf16(const std::wstring& text, bool terminated) {
    std::string bytes(reinterpret_cast<const char*>(text.c_str()), text.size() * sizeof(wchar_t));
    if (terminated) bytes.append(2, '\0');
    return bytes;
}

long long DwordCount(const std::wstring& name) {
    const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
    if (!value.exists || value.type != REG_DWORD || value.data.size() != 4) return -1;
    DWORD count = 0;
    memcpy(&count, value.data.data(), 4);
    return count;
}

std::vector<std::wstring> SharedDllValuesContaining(const std::wstring& text) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[1024];
        DWORD cch = 1024;
        if (RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring upperName(name, cch), upperText = text;
        CharUpperBuffW(upperName.data(), static_cast<DWORD>(upperName.size()));
        CharUpperBuffW(upperText.data(), static_cast<DWORD>(upperText.size()));
        if (upperName.find(upperText) != std::wstring::npos) names.emplace_back(name, cch);
    }
    RegCloseKey(key);
    return names;
}

DeniedKey::DeniedKey(HKEY root, const std::wstring& path, REGSAM allowed) : m_root(root), m_path(path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    m_saved.resize(size);
    if (size == 0 || RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, m_saved.data(), &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }
    SECURITY_DESCRIPTOR sd;
    alignas(8) BYTE aclBuffer[256];
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION);
    if (allowed) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(sid);
        if (!CreateWellKnownSid(WinWorldSid, nullptr, sid, &sidSize) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, allowed, sid)) {
            RegCloseKey(key);
            return;
        }
    }
    SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);  // nobody gets more than `allowed`
    m_denied = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
    RegCloseKey(key);
}

DeniedKey::~DeniedKey() {
    if (!m_denied) return;
    HKEY key = nullptr;
    // The owner may always change the list.
    if (RegOpenKeyExW(m_root, m_path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, m_saved.data());
    RegCloseKey(key);
}

bool PrepareWin98() {
    return SHSetValueW(HKEY_CURRENT_USER, kWin98Defaults, L"Version", REG_SZ, L"win98", 12) == ERROR_SUCCESS;
}

HRESULT RunWin98(const std::wstring& args) {
    const ProcessResult run = RunProcess(L"\"" + Join(SelfDir(), L"restart_win98.exe") + L"\" " + args, 60000);
    if (run.timedOut) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    return static_cast<HRESULT>(run.exitCode);
}

}  // namespace orv::test::restart
