#include "shortcuts/ShellFolders.h"

#include <shlwapi.h>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"

namespace orv::shortcuts {

HRESULT SplitLinkCall(LPCWSTR pszCmdLine, LPCWSTR pszShellFolder, LinkCommandLine& command, LinkLocation& location) {
    command = SplitCommandLine(pszCmdLine);
    location = SplitShellFolder(pszShellFolder);
    // PathAppendW would follow "..", a drive or a UNC path out of the shell folder.
    if (!StaysBelowShellFolder(location)) {
        LogError(L"Shell folder argument \"%s\" leaves its shell folder: Aborting", pszShellFolder);
        return E_INVALIDARG;
    }
    if (command.target.size() >= MAX_PATH) return files::RefusePathTooLong(command.target.c_str());
    if (command.iconFile.size() >= MAX_PATH) return files::RefusePathTooLong(command.iconFile.c_str());
    if (command.arguments.size() >= kArgumentsBuffer) {
        LogWin32Format(WEX_SEV_ERROR, ERROR_FILENAME_EXCED_RANGE, L"Arguments longer than %d characters refused",
                       static_cast<int>(kArgumentsBuffer - 1));
        return kWexKrHrPathTooLong;
    }
    return S_OK;
}

HRESULT GetShellFolderPath(int folderId, WCHAR (&path)[MAX_PATH]) {
    path[0] = 0;
    UniqueIdList list;
    const HRESULT hr = SHGetSpecialFolderLocation(nullptr, folderId, PutIdList(list));
    if (FAILED(hr)) return hr;
    // Without a path the link folder would be taken relative to the current folder.
    if (!SHGetPathFromIDListW(IdList(list), path) || !path[0]) {
        path[0] = 0;
        return E_FAIL;
    }
    return S_OK;
}

BOOL IsSpecialFolder(LPCWSTR pszPath, int folderId) {
    WCHAR path[MAX_PATH];
    if (!files::PathFits(pszPath)) return FALSE;
    wcscpy(path, pszPath);  // ParseDisplayName takes a writable string
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.Put()))) return FALSE;
    UniqueIdList parsed, special;
    ULONG eaten = 0;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, path, &eaten, PutIdList(parsed), nullptr))) return FALSE;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, PutIdList(special)))) return FALSE;
    const HRESULT order = desktop->CompareIDs(0, IdList(parsed), IdList(special));
    return SUCCEEDED(order) && (static_cast<ULONG>(order) & 0xFFFF) == 0;
}

bool JoinLinkFolder(LPCWSTR shellFolder, const std::wstring& subFolders, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    // The joined text is at most this long; PathAppendW fails rather than overrun.
    if (!files::PathFits(shellFolder) || wcslen(shellFolder) + 1 + subFolders.size() >= MAX_PATH) return false;
    WCHAR joined[MAX_PATH];
    wcscpy(joined, shellFolder);
    if (!subFolders.empty() && !PathAppendW(joined, subFolders.c_str())) return false;
    wcscpy(out, joined);
    return true;
}

DWORD SearchTarget(LPCWSTR target, WCHAR (&found)[MAX_PATH]) {
    found[0] = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD n = SearchPathW(nullptr, target, nullptr, MAX_PATH, found, nullptr);
    if (n == 0) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_FILE_NOT_FOUND;
    }
    if (n >= MAX_PATH) {
        found[0] = 0;
        return ERROR_FILENAME_EXCED_RANGE;
    }
    return ERROR_SUCCESS;
}

}  // namespace orv::shortcuts
