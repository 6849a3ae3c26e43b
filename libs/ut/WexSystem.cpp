// CWexSystem: the folders of the system and the platform family.
#include "platform/WexUt.h"

#include <cstring>

#include "UtCommon.h"
#include "platform/Raii.h"

namespace {

struct SystemDirs {
    WCHAR system[MAX_PATH];
    WCHAR fonts[MAX_PATH];
    WCHAR commonFiles[MAX_PATH];
};

SystemDirs g_dirs;

// A folder's text as the library hands it out: no trailing backslash, but for a drive's root.
void TrimTrailingBackslash(WCHAR* dir) {
    size_t len = wcslen(dir);
    while (len > 0 && dir[len - 1] == L'\\' && !(len == 3 && dir[1] == L':')) dir[--len] = 0;
}

// Result of a Get*DirectoryW call: the text when it fit, otherwise "".
void KeepIfFits(WCHAR* dir, UINT n) {
    if (n == 0 || n >= MAX_PATH) dir[0] = 0;
    dir[MAX_PATH - 1] = 0;
    TrimTrailingBackslash(dir);
}

void Append(WCHAR* dir, LPCWSTR tail) {
    const size_t len = wcslen(dir), tailLen = wcslen(tail);
    if (len == 0 || len + tailLen >= MAX_PATH) {
        dir[0] = 0;
        return;
    }
    memcpy(dir + len, tail, (tailLen + 1) * sizeof(WCHAR));
}

// The value as a path: expanded when it is REG_EXPAND_SZ. False when absent or too long.
bool ReadPathValue(HKEY root, LPCWSTR subKey, LPCWSTR name, WCHAR* out) {
    out[0] = 0;
    orv::UniqueHKey key;
    if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
    WCHAR data[MAX_PATH + 1];
    DWORD type = 0, size = sizeof(data) - sizeof(WCHAR);
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    data[size / sizeof(WCHAR)] = 0;  // the stored text need not be terminated
    if (type == REG_EXPAND_SZ) {
        const DWORD n = ExpandEnvironmentStringsW(data, out, MAX_PATH);
        if (n == 0 || n > MAX_PATH) {
            out[0] = 0;
            return false;
        }
    } else {
        const size_t len = wcslen(data);
        if (len >= MAX_PATH) return false;
        memcpy(out, data, sizeof(WCHAR) * (len + 1));
    }
    TrimTrailingBackslash(out);
    return out[0] != 0;
}

bool ComputeDirs() {
    KeepIfFits(g_dirs.system, GetSystemDirectoryW(g_dirs.system, MAX_PATH));

    // The shared Windows folder, also on a terminal server where GetWindowsDirectory is per user.
    KeepIfFits(g_dirs.fonts, GetSystemWindowsDirectoryW(g_dirs.fonts, MAX_PATH));
    Append(g_dirs.fonts, g_dirs.fonts[0] && g_dirs.fonts[wcslen(g_dirs.fonts) - 1] == L'\\' ? L"Fonts" : L"\\Fonts");

    // As the system records it for programs of this process's bitness.
    if (!ReadPathValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir",
                       g_dirs.commonFiles)) {
        const DWORD n = GetEnvironmentVariableW(L"CommonProgramFiles", g_dirs.commonFiles, MAX_PATH);
        KeepIfFits(g_dirs.commonFiles, n);
    }
    return true;
}

const SystemDirs& Dirs() {
    // Computed by the first caller; callers on other threads wait for it.
    static const bool computed = ComputeDirs();
    (void)computed;
    return g_dirs;
}

constexpr int kOsClassNtFamily = 100;

}  // namespace

LPCWSTR CWexSystem::GetSysDir() { return Dirs().system; }
LPCWSTR CWexSystem::GetFontsDir() { return Dirs().fonts; }
LPCWSTR CWexSystem::GetCommonFilesDir() { return Dirs().commonFiles; }

int CWexSystem::CheckOS(int osClass) {
    if (osClass != kOsClassNtFamily) return -1;
    // Windows 9x sets bit 31 of the version word.
    return (GetVersion() & 0x80000000u) ? 0 : 1;
}
