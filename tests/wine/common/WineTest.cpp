#include "WineTest.h"

#include <shlwapi.h>
#include <atomic>
#include <cwchar>

namespace orv::test {

std::wstring Env(LPCWSTR name) {
    WCHAR buf[32768];
    DWORD n = GetEnvironmentVariableW(name, buf, 32768);
    return (n > 0 && n < 32768) ? std::wstring(buf, n) : std::wstring();
}
std::wstring BinDir() { return Env(L"ORV_BIN"); }
std::wstring FixturesDir() { return Env(L"ORV_FIXTURES"); }
std::wstring OtherFixturesDir() { return Env(L"ORV_OTHER_FIXTURES"); }

std::wstring Join(const std::wstring& dir, const std::wstring& name) {
    if (dir.empty()) return name;
    if (dir.back() == L'\\') return dir + name;
    return dir + L"\\" + name;
}

std::string Narrow(const std::wstring& s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

namespace {
std::atomic<unsigned> g_counter{0};
}

TempDir::TempDir() {
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring tag = info ? Widen(info->name()) : L"t";
    for (auto& c : tag)
        if (!iswalnum(c)) c = L'_';
    if (tag.size() > 40) tag.resize(40);
    WCHAR name[128];
    _snwprintf(name, 128, L"orvt_%lu_%u_%ls", GetCurrentProcessId(), g_counter++, tag.c_str());
    name[127] = 0;
    m_path = Join(temp, name);
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL | (attr & FILE_ATTRIBUTE_DIRECTORY));
    if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    for (const std::wstring& name : FindNames(path, L"*"))
        if (name != L"." && name != L"..") RemoveTree(Join(path, name));
    RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> FindNames(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Join(folder, pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(entry.cFileName);
    while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool FileExists(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE readPipe = nullptr, writePipe = nullptr;
    if (!CreatePipe(&readPipe, &writePipe, &sa, 0)) return result;
    SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writePipe;
    si.hStdError = writePipe;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writePipe);
    if (!ok) {
        CloseHandle(readPipe);
        return result;
    }
    // Read while waiting, so a chatty child never blocks on a full pipe.
    DWORD start = GetTickCount();
    char buf[4096];
    for (;;) {
        DWORD avail = 0;
        while (PeekNamedPipe(readPipe, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
            DWORD got = 0;
            if (!ReadFile(readPipe, buf, sizeof(buf), &got, nullptr) || got == 0) break;
            result.output.append(buf, got);
        }
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(pi.hProcess, 1);
            result.timedOut = true;
            break;
        }
    }
    DWORD got = 0;
    while (ReadFile(readPipe, buf, sizeof(buf), &got, nullptr) && got > 0) result.output.append(buf, got);
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(readPipe);
    return result;
}

std::wstring LogPath() { return Env(L"TQORVWEX_LOG"); }

std::wstring ReadLog() { return Widen(ReadBytes(LogPath())); }

LogCursor::LogCursor() : m_offset(ReadBytes(LogPath()).size()) {}

std::wstring LogCursor::Text() const {
    std::string all = ReadBytes(LogPath());
    return m_offset < all.size() ? Widen(all.substr(m_offset)) : std::wstring();
}

size_t CountOf(const std::wstring& haystack, const std::wstring& needle) {
    if (needle.empty()) return 0;
    size_t n = 0;
    for (size_t pos = haystack.find(needle); pos != std::wstring::npos; pos = haystack.find(needle, pos + needle.size()))
        ++n;
    return n;
}

std::wstring UniqueKeyPath(const std::wstring& tag) {
    WCHAR name[160];
    _snwprintf(name, 160, L"Software\\OrvTest\\%ls_%lu_%u", tag.c_str(), GetCurrentProcessId(), g_counter++);
    name[159] = 0;
    return name;
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool ReadString(HKEY root, const std::wstring& path, LPCWSTR name, std::wstring* out) {
    WCHAR buf[2048];
    DWORD type = 0, size = sizeof(buf);
    if (SHGetValueW(root, path.c_str(), name, &type, buf, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    size_t cch = size / sizeof(WCHAR);
    while (cch > 0 && buf[cch - 1] == 0) --cch;
    if (out) out->assign(buf, cch);
    return true;
}

std::wstring Line(WCHAR severity, const std::wstring& text, int level) {
    return L"TqOrvWexKr " + std::to_wstring(level) + L" " + severity + L" " + text;
}

std::wstring Win32Line(WCHAR severity, const std::wstring& text, DWORD error) {
    return Line(severity, text) + L": error " + std::to_wstring(error) + L" ";
}

::testing::AssertionResult LogHas(const std::wstring& log, const std::vector<std::wstring>& lines,
                                  const std::vector<std::wstring>& absent,
                                  const std::wstring& source, const std::wstring& target) {
    size_t from = 0;
    for (std::wstring line : lines) {
        for (const auto& [key, value] : {std::pair{L"{S}", &source}, std::pair{L"{T}", &target}})
            for (size_t at = line.find(key); at != std::wstring::npos; at = line.find(key)) line.replace(at, 3, *value);
        const size_t at = log.find(line, from);
        if (at == std::wstring::npos)
            return ::testing::AssertionFailure() << "\"" << Narrow(line) << "\" is "
                                                 << (log.find(line) == std::wstring::npos ? "missing" : "out of order")
                                                 << " in the log:\n" << Narrow(log);
        from = at + line.size();
    }
    for (const auto& text : absent)
        if (log.find(text) != std::wstring::npos)
            return ::testing::AssertionFailure() << "unexpected \"" << Narrow(text) << "\" in the log:\n" << Narrow(log);
    return ::testing::AssertionSuccess();
}

}  // namespace orv::test
