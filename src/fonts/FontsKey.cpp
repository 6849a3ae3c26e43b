// The fonts key: where an installed font is found, and the entry an
// uninstall removes.
#include "fonts/FontsKey.h"

#include <shlwapi.h>

#include <cwchar>

#include "files/FileOps.h"
#include "kernel/Module.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/WexUt.h"

namespace orv::fonts {

namespace {

// visit(valueName, data) for the string values of an open key, from index 0,
// until it returns true. Values whose name or data does not fit MAX_PATH are
// passed over. The enumeration's error, or ERROR_SUCCESS at the end.
template <typename Visit>
LONG ForEachEntry(HKEY key, Visit visit) {
    for (DWORD index = 0;; ++index) {
        WCHAR name[MAX_PATH];
        WCHAR data[MAX_PATH + 1];
        DWORD cchName = MAX_PATH, type = 0, cbData = MAX_PATH * sizeof(WCHAR);
        const LONG error =
            RegEnumValueW(key, index, name, &cchName, nullptr, &type, reinterpret_cast<BYTE*>(data), &cbData);
        if (error == ERROR_MORE_DATA) continue;
        if (error != ERROR_SUCCESS) return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        data[cbData / sizeof(WCHAR)] = 0;  // stored data need not be terminated
        if (visit(static_cast<LPCWSTR>(name), static_cast<LPCWSTR>(data))) return ERROR_SUCCESS;
    }
}

}  // namespace

LPCWSTR FontsKeyPath() {
    return IsWindowsNT() ? L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                         : L"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
}

bool EntryFilePath(LPCWSTR data, WCHAR (&path)[MAX_PATH]) {
    path[0] = 0;
    if (!data || !*data || !files::PathFits(data)) return false;
    if (!PathIsFileSpecW(data)) {
        wcscpy(path, data);
        return true;
    }
    const LPCWSTR fontsDir = CWexSystem::GetFontsDir();
    if (!files::PathFits(fontsDir)) return false;
    wcscpy(path, fontsDir);
    if (!PathAppendW(path, data)) {
        path[0] = 0;
        return false;
    }
    return true;
}

void RemoveEntryOfFile(LPCWSTR pszPath) {
    UniqueHKey key;
    const LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, FontsKeyPath(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Put());
    if (error != ERROR_SUCCESS) {
        LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(error), L"Unable to open font key");
        return;
    }
    bool found = false;
    ForEachEntry(key.Get(), [&](LPCWSTR name, LPCWSTR data) {
        WCHAR file[MAX_PATH];
        if (!EntryFilePath(data, file) || !files::IsSameFile(file, pszPath)) return false;
        found = true;
        const LONG deleted = RegDeleteValueW(key.Get(), name);
        if (deleted == ERROR_SUCCESS)
            LogInfo(L"Font file information has been successfully removed from registry");
        else
            LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(deleted),
                     L"Unable to remove font file information from registry");
        return true;
    });
    if (!found) LogWarning(L"Font file information not found in registry");
}

}  // namespace orv::fonts

HRESULT FindInstalledFont(LPCWSTR pszFontName, std::wstring& strPath) {
    using namespace orv;
    strPath.clear();
    if (!pszFontName || !*pszFontName) return S_FALSE;
    UniqueHKey key;
    const LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), 0, KEY_QUERY_VALUE, key.Put());
    if (error != ERROR_SUCCESS) return HResultFromWin32(error);
    bool found = false;
    fonts::ForEachEntry(key.Get(), [&](LPCWSTR name, LPCWSTR data) {
        if (!StrStrW(name, pszFontName)) return false;
        // The first candidate decides.
        WCHAR file[MAX_PATH];
        if (fonts::EntryFilePath(data, file) && PathFileExistsW(file)) {
            strPath = file;
            found = true;
        }
        return true;
    });
    return found ? S_OK : S_FALSE;
}
