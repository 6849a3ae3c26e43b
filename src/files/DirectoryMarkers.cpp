#include "files/DirectoryMarkers.h"

#include <shlwapi.h>
#include <cwchar>

#include "files/FileModel.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/TextCase.h"

namespace {

// folder + "\" + name, when it fits.
bool Append(LPCWSTR folder, LPCWSTR name, WCHAR (&out)[MAX_PATH]) {
    const size_t folderLen = wcslen(folder);
    const bool separator = folderLen > 0 && folder[folderLen - 1] != L'\\';
    if (folderLen + (separator ? 1 : 0) + wcslen(name) >= MAX_PATH) return false;
    wcscpy(out, folder);
    if (separator) wcscat(out, L"\\");
    wcscat(out, name);
    return true;
}

// Creating (or re-creating) the marker is best effort: a folder without it
// is simply never removed.
void PutMarker(LPCWSTR folder) {
    WCHAR marker[MAX_PATH];
    if (!Append(folder, kWexKrFolderMarker, marker)) return;
    orv::UniqueFile file(
        CreateFileW(marker, 0, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
}

enum class Contents { kUnreadable, kMarkerOnly, kEmpty, kForeign };

// What a folder holds, names beginning with '.' ("." and ".." among them) left aside.
Contents Examine(LPCWSTR folder) {
    WCHAR pattern[MAX_PATH];
    if (!Append(folder, L"*.*", pattern)) return Contents::kUnreadable;
    WIN32_FIND_DATAW entry;
    orv::UniqueFind find(FindFirstFileW(pattern, &entry));
    if (!find) return Contents::kUnreadable;
    bool marker = false;
    do {
        if (entry.cFileName[0] == L'.') continue;
        if (!orv::EqualIgnoringCase(entry.cFileName, kWexKrFolderMarker))
            return Contents::kForeign;
        marker = true;
    } while (FindNextFileW(find.Get(), &entry));
    return marker ? Contents::kMarkerOnly : Contents::kEmpty;
}

}  // namespace

HRESULT CreateDirectoryTree(LPCWSTR pszFolder) {
    if (!pszFolder || !*pszFolder) return S_OK;
    WCHAR path[MAX_PATH];
    const size_t len = wcsnlen(pszFolder, MAX_PATH);
    // Room for the trailing backslash and the terminator.
    if (len + 2 > MAX_PATH) return kWexKrHrPathTooLong;
    wcscpy(path, pszFolder);
    PathAddBackslashW(path);

    for (WCHAR* cut = path; *cut; ++cut) {
        if (*cut != L'\\') continue;
        *cut = 0;
        // Roots ("C:", "\\server\share") are never created.
        if (PathSkipRootW(path)) {
            DWORD error = ERROR_SUCCESS;
            if (CreateDirectoryW(path, nullptr)) {
                PutMarker(path);
            } else {
                error = GetLastError();
                // Some existing folders answer "access denied" rather than "exists".
                if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
                    error = ERROR_ALREADY_EXISTS;
            }
            if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS)
                return orv::HResultFromWin32(static_cast<LONG>(error));
        }
        *cut = L'\\';
    }
    return S_OK;
}

HRESULT RemoveCreatedDirectories(LPCWSTR pszFolder) {
    if (!pszFolder || !*pszFolder) return S_OK;
    WCHAR path[MAX_PATH];
    const size_t len = wcsnlen(pszFolder, MAX_PATH);
    if (len + 2 > MAX_PATH) return kWexKrHrPathTooLong;
    wcscpy(path, pszFolder);
    PathAddBackslashW(path);

    for (size_t i = wcslen(path); i-- > 0;) {
        if (path[i] != L'\\') continue;
        path[i] = 0;
        if (!PathSkipRootW(path)) return S_OK;
        if (Examine(path) != Contents::kMarkerOnly) return S_OK;

        WCHAR marker[MAX_PATH];
        if (!Append(path, kWexKrFolderMarker, marker)) return S_OK;
        SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(marker);
        if (!RemoveDirectoryW(path)) {
            // The removal's own error is the result: the marker's re-creation
            // must not turn it into a success.
            const DWORD error = GetLastError();
            PutMarker(path);
            return error ? orv::HResultFromWin32(static_cast<LONG>(error)) : E_FAIL;
        }
        orv::LogInfo(L"Remove Directory '%s'", path);
    }
    return S_OK;
}

BOOL IsMarkerOnlyDirectory(LPCWSTR pszFolder) {
    if (!pszFolder || !PathIsDirectoryW(pszFolder)) return FALSE;
    const Contents contents = Examine(pszFolder);
    return contents == Contents::kMarkerOnly || contents == Contents::kEmpty;
}
