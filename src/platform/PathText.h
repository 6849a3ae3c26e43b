// The text of a path as the same-file test compares it: the full path with
// forward slashes as backslashes, no trailing backslash (but for a drive's
// root), and "\\?\X:\", "\\.\X:\" and "\\?\UNC\" spelled as the plain forms
// they stand for; a folder and a name joined. Header-only; the kernel and the utility library share it.
#pragma once
#include <windows.h>

#include <cwchar>

#include "platform/TextCase.h"

namespace orv {

// False for a path that is null, empty or does not fit MAX_PATH.
inline bool FullPathText(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    if (!path || path[0] == 0 || wcsnlen(path, MAX_PATH) >= MAX_PATH) return false;
    WCHAR full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    for (WCHAR* p = full; *p; ++p)
        if (*p == L'/') *p = L'\\';
    const bool prefixed = wcsncmp(full, L"\\\\?\\", 4) == 0 || wcsncmp(full, L"\\\\.\\", 4) == 0;
    if (prefixed && full[4] != 0 && full[5] == L':' && full[6] == L'\\') {
        wcscpy(out, full + 4);
    } else if (wcsncmp(full, L"\\\\?\\", 4) == 0 && wcslen(full) >= 8 && EqualIgnoringCase(full + 4, 4, L"UNC\\", 4)) {
        out[0] = L'\\';
        wcscpy(out + 1, full + 7);  // "\\?\UNC\server" -> "\\server"
    } else {
        wcscpy(out, full);
    }
    size_t len = wcslen(out);
    const bool driveRoot = len == 3 && out[1] == L':';
    if (len > 1 && out[len - 1] == L'\\' && !driveRoot) out[--len] = 0;
    return true;
}

// folder + "\" + name (no second backslash after one the folder ends with)
// into a MAX_PATH buffer; false, with an empty buffer, when it does not fit.
inline bool JoinPath(LPCWSTR folder, LPCWSTR name, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    const size_t folderLen = wcslen(folder);
    const bool separator = folderLen > 0 && folder[folderLen - 1] != L'\\';
    if (folderLen + (separator ? 1 : 0) + wcslen(name) >= MAX_PATH) return false;
    wcscpy(out, folder);
    if (separator) wcscat(out, L"\\");
    wcscat(out, name);
    return true;
}

}  // namespace orv
