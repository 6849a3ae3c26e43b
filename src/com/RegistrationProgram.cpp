#include "com/RegistrationProgram.h"

#include <cwctype>
#include <string>
#include <vector>

#include "com/ComSupport.h"

namespace orv::com {
namespace {

bool IsFile(LPCWSTR path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "X:\..." or a UNC path; "X:dir" and "\dir" depend on a current folder or drive.
bool IsAbsolute(LPCWSTR folder) {
    if (folder[0] == L'\\' && folder[1] == L'\\') return true;
    return iswalpha(folder[0]) && folder[1] == L':' && folder[2] == L'\\';
}

bool TryFolder(LPCWSTR folder, WCHAR (&out)[MAX_PATH]) {
    if (!IsAbsolute(folder)) return false;
    return JoinPath(folder, kRegistrationProgram, out) && IsFile(out);
}

// The PATH entries, quotes around an entry removed.
std::vector<std::wstring> SearchPathEntries() {
    std::vector<std::wstring> entries;
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return entries;
    std::wstring path(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"PATH", &path[0], size);
    if (length == 0 || length >= size) return entries;
    path.resize(length);
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring entry = path.substr(start, end - start);
        if (entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"') entry = entry.substr(1, entry.size() - 2);
        if (!entry.empty()) entries.push_back(entry);
        start = end + 1;
    }
    return entries;
}

}  // namespace

bool FindRegistrationProgram(WCHAR (&out)[MAX_PATH]) {
    WCHAR folder[MAX_PATH];
    if (ProgramFolder(folder) && TryFolder(folder, out)) return true;
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH && TryFolder(folder, out)) return true;
    WCHAR windows[MAX_PATH];
    n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        if (JoinPath(windows, L"System", folder) && TryFolder(folder, out)) return true;
        if (TryFolder(windows, out)) return true;
    }
    try {
        for (const std::wstring& entry : SearchPathEntries())
            if (TryFolder(entry.c_str(), out)) return true;
    } catch (...) {
        // Out of memory: the PATH folders are not searched.
    }
    out[0] = 0;
    return false;
}

}  // namespace orv::com
