// CWexKrLinkFile::UnInstallLink: every shortcut of the link folder that
// points to the command line's target with its arguments is removed, whatever
// its name; then the folders the installs created and left empty, up to but
// never including the shell folder.
#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"
#include "files/FileOps.h"
#include "kernel/Module.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/WexUt.h"
#include "shortcuts/ShellFolders.h"

using namespace orv;
using namespace orv::shortcuts;

namespace {

// Removes the link folder and its parents for as long as they hold nothing
// but the marker, stopping at the shell folder.
void RemoveEmptiedFolders(LPCWSTR linkFolder, int folderId) {
    WCHAR folder[MAX_PATH];
    wcscpy(folder, linkFolder);
    while (IsMarkerOnlyDirectory(folder) && !IsSpecialFolder(folder, folderId)) {
        // A folder without the marker stays where it is: it is not ours.
        if (FAILED(RemoveCreatedDirectories(folder)) || PathIsDirectoryW(folder)) return;
        LogInfo(L"Empty shell folder %s has been removed successfully", folder);
        WCHAR* parent = wcsrchr(folder, L'\\');
        if (!parent) return;
        *parent = 0;
    }
}

// A shell folder is never removed, not even one that an earlier install
// created (and marked): without its marker, the removal of emptied folders
// that follows each deleted shortcut stops below it.
void KeepShellFolder(LPCWSTR shellFolder) {
    WCHAR marker[MAX_PATH];
    if (!JoinPath(shellFolder, kWexKrFolderMarker, marker) || GetFileAttributesW(marker) == INVALID_FILE_ATTRIBUTES) return;
    LogInfo(L"Folder marker removed from shell folder %s: shell folders are never removed", shellFolder);
    SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(marker);
}

}  // namespace

HRESULT CWexKrLinkFile::UnInstallLink(LPCWSTR pszCmdLine, LPCWSTR pszShellFolder, BOOL bAllUsers) {
    LinkCommandLine command;
    LinkLocation location;
    HRESULT hr = SplitLinkCall(pszCmdLine, pszShellFolder, command, location);
    if (FAILED(hr)) return hr;

    // A relative target is matched by where the search finds it, else as written.
    WCHAR target[MAX_PATH];
    wcscpy(target, command.target.c_str());
    if (PathIsRelativeW(target)) {
        WCHAR found[MAX_PATH];
        if (SearchTarget(target, found) == ERROR_SUCCESS) wcscpy(target, found);
    }

    const int folderId = GetShellFolderId(location.keyword.c_str(), bAllUsers != FALSE, IsWindowsNT());
    WCHAR shellFolder[MAX_PATH];
    if (FAILED(GetShellFolderPath(folderId, shellFolder))) {
        LogError(L"Unable to open target shell folder %s: Aborting link file uninstallation", shellFolder);
        return E_FAIL;
    }
    ComPtr<IPersistFile> file;
    hr = CoCreateInstance(CLSID_ShellLink, nullptr, kLinkClassContext, IID_IPersistFile, file.PutVoid());
    if (FAILED(hr)) {
        LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(hr) & 0xFFFF,
                 L"Unable to obtain IPersistFile interface: Aborting link file uninstallation");
        return hr;
    }

    WCHAR linkFolder[MAX_PATH], listed[MAX_PATH], pattern[MAX_PATH];
    if (!JoinLinkFolder(shellFolder, location.subFolders, linkFolder) || !JoinPath(linkFolder, L"", listed) ||
        !JoinPath(linkFolder, L"*.*", pattern)) {
        const std::wstring joined = std::wstring(shellFolder) + L"\\" + location.subFolders + L"\\*.*";
        return files::RefusePathTooLong(joined.c_str());
    }
    KeepShellFolder(shellFolder);
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(pattern, &entry));
    if (!find) {
        const DWORD error = GetLastError();
        LogWarning(L"No files or sub folders found in shell folder %s", listed);
        return HResultFromWin32(static_cast<LONG>(error ? error : ERROR_PATH_NOT_FOUND));
    }
    bool matched = false;
    do {
        if (entry.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY) continue;
        WCHAR path[MAX_PATH];
        if (!JoinPath(linkFolder, entry.cFileName, path) || FAILED(file->Load(path, STGM_READ))) continue;
        ComPtr<IShellLinkW> link;
        if (FAILED(file->QueryInterface(IID_IShellLinkW, link.PutVoid()))) continue;
        WCHAR linkTarget[MAX_PATH] = L"";
        WCHAR linkArguments[kArgumentsBuffer] = L"";
        link->GetPath(linkTarget, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetArguments(linkArguments, kArgumentsBuffer);
        link.Reset();
        if (!CWexPath::PathIsEqual(linkTarget, target) ||
            !CWexPath::ArgumentsEqual(command.arguments.c_str(), linkArguments))
            continue;
        matched = true;
        LogInfo(L"Found matching link file %s with command line %s", linkTarget, linkArguments);
        // The data-file removal: read-only cleared, the file deleted, emptied marker folders removed.
        CWexKrFile shortcut(path);
        shortcut.UnInstall(nullptr);
    } while (FindNextFileW(find.Get(), &entry));
    find.Reset();
    if (!matched) LogWarning(L"No matching link file has been found");

    RemoveEmptiedFolders(linkFolder, folderId);
    return S_OK;
}
