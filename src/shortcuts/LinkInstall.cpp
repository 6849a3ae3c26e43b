// CWexKrLinkFile::InstallLink: a shortcut written through the shell link
// object into a link folder below a shell folder, under a name that no other
// writer can take at the same moment.
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

// The error line of a failed call, with the low 16 bits of its result; the result goes back.
HRESULT Abort(HRESULT hr, LPCWSTR text) {
    LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(hr) & 0xFFFF, text);
    return hr;
}

// The target as it goes into the shortcut: the written one when it exists,
// else a relative one found on the search path. 0 or the error (logged).
DWORD ResolveTarget(const std::wstring& written, WCHAR (&target)[MAX_PATH]) {
    wcscpy(target, written.c_str());
    if (PathFileExistsW(target)) return ERROR_SUCCESS;
    DWORD error = GetLastError();
    if (PathIsRelativeW(target)) {
        WCHAR found[MAX_PATH];
        error = SearchTarget(target, found);
        if (error != ERROR_SUCCESS) {
            LogWin32Format(WEX_SEV_ERROR, error, L"Link target %s not found in SearchPath: Aborting link file installation",
                           target);
            return error;
        }
        wcscpy(target, found);
        return ERROR_SUCCESS;
    }
    // A missing file is never reported as success, whatever the last error says.
    if (error == ERROR_SUCCESS) error = ERROR_FILE_NOT_FOUND;
    LogWin32Format(WEX_SEV_ERROR, error, L"Link target %s does not exist: Aborting link file installation", target);
    return error;
}

// True when a shortcut of the folder (in the order the shell lists its items)
// has the target and the arguments. Whatever cannot be prepared or read is
// passed over: the test then finds nothing.
bool HasEqualLink(LPCWSTR folder, LPCWSTR target, LPCWSTR arguments) {
    WCHAR path[MAX_PATH];
    wcscpy(path, folder);  // ParseDisplayName takes a writable string
    ComPtr<IShellFolder> desktop, linkFolder;
    ComPtr<IEnumIDList> items;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    UniqueIdList folderList;
    ULONG eaten = 0;
    if (FAILED(SHGetDesktopFolder(desktop.Put())) ||
        FAILED(desktop->ParseDisplayName(nullptr, nullptr, path, &eaten, PutIdList(folderList), nullptr)) ||
        FAILED(desktop->BindToObject(IdList(folderList), nullptr, IID_IShellFolder, linkFolder.PutVoid())) ||
        linkFolder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, items.Put()) != S_OK || !items ||
        FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, kLinkClassContext, IID_IShellLinkW, link.PutVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())))
        return false;

    for (;;) {
        UniqueIdList item;
        ULONG fetched = 0;
        if (items->Next(1, PutIdList(item), &fetched) != S_OK || fetched != 1) return false;
        STRRET name;
        UniqueCoTaskMem parsing;
        if (FAILED(linkFolder->GetDisplayNameOf(IdList(item), SHGDN_FORPARSING, &name)) ||
            FAILED(StrRetToStrW(&name, IdList(item), reinterpret_cast<LPWSTR*>(parsing.Put()))))
            continue;
        const auto itemPath = static_cast<LPCWSTR>(parsing.Get());
        // A failed load leaves the previous item's data in the object: never read it then.
        if (!files::PathFits(itemPath) || FAILED(file->Load(itemPath, STGM_READ))) continue;
        WCHAR linkTarget[MAX_PATH] = L"";
        WCHAR linkArguments[kArgumentsBuffer] = L"";
        if (FAILED(link->GetPath(linkTarget, MAX_PATH, nullptr, SLGP_RAWPATH)) ||
            FAILED(link->GetArguments(linkArguments, kArgumentsBuffer)))
            continue;
        if (CWexPath::PathIsEqual(linkTarget, target) && CWexPath::ArgumentsEqual(linkArguments, arguments)) {
            LogInfo(L"Link file %ls with same command line already exists: OK", itemPath);
            return true;
        }
    }
}

// Takes the first free name of "name.lnk", "base[1].lnk", "base[2].lnk", ...
// (base: name cut at its first '[') by creating it as a new, empty file: a
// name somebody else holds, even one created a moment ago, is never reused.
HRESULT ReserveLinkName(LPCWSTR folder, const std::wstring& name, WCHAR (&path)[MAX_PATH]) {
    const std::wstring base = name.substr(0, name.find(L'['));
    for (unsigned long counter = 0;; ++counter) {
        const std::wstring file =
            (counter == 0 ? name : base + L"[" + std::to_wstring(counter) + L"]") + L".lnk";
        if (!JoinPath(folder, file.c_str(), path)) {
            const std::wstring joined = std::wstring(folder) + L"\\" + file;
            return files::RefusePathTooLong(joined.c_str());
        }
        UniqueFile reserved(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (reserved) return S_OK;
        const DWORD error = GetLastError();
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                           GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
        if (!taken) {
            path[0] = 0;
            return Abort(HResultFromWin32(static_cast<LONG>(error ? error : ERROR_GEN_FAILURE)),
                         L"Failed to save link file: Aborting link file installation");
        }
        LogWarning(L"Link file \"%s\" already exists: Generating new name", path);
    }
}

}  // namespace

HRESULT CWexKrLinkFile::InstallLink(LPCWSTR pszCmdLine, LPCWSTR pszShellFolder, LPCWSTR pszDescription,
                                    BOOL bAllUsers) {
    LinkCommandLine command;
    LinkLocation location;
    HRESULT hr = SplitLinkCall(pszCmdLine, pszShellFolder, command, location);
    if (FAILED(hr)) return hr;
    if (location.name.empty()) {
        LogError(L"No link file name in shell folder \"%s\": Aborting link file installation", pszShellFolder);
        return E_INVALIDARG;
    }

    ComPtr<IShellLinkW> link;
    hr = CoCreateInstance(CLSID_ShellLink, nullptr, kLinkClassContext, IID_IShellLinkW, link.PutVoid());
    if (FAILED(hr)) return Abort(hr, L"Unable to obtain IShellLink interface: Aborting link file installation");
    ComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, file.PutVoid());
    if (FAILED(hr)) return Abort(hr, L"Unable to obtain IPersistFile interface: Aborting link file installation");

    WCHAR target[MAX_PATH];
    const DWORD targetError = ResolveTarget(command.target, target);
    if (targetError != ERROR_SUCCESS) return HResultFromWin32(static_cast<LONG>(targetError));
    hr = link->SetPath(target);
    if (FAILED(hr)) return Abort(hr, L"Unable to set target path: Aborting link file installation");
    hr = link->SetArguments(command.arguments.c_str());
    if (FAILED(hr)) return Abort(hr, L"Unable to set arguments: Aborting link file installation");
    // The folder of the target as written: one found on the search path gets none.
    WCHAR workingDirectory[MAX_PATH];
    wcscpy(workingDirectory, command.target.c_str());
    PathRemoveFileSpecW(workingDirectory);
    hr = link->SetWorkingDirectory(workingDirectory);
    if (FAILED(hr)) return Abort(hr, L"Unable to set working directory: Aborting link file installation");
    if (pszDescription && *pszDescription) {
        hr = link->SetDescription(pszDescription);
        if (FAILED(hr))
            LogWin32(WEX_SEV_WARNING, static_cast<DWORD>(hr) & 0xFFFF, L"Unable to set tool tip for the link file installation");
    }
    UnquoteIconPath(command.iconFile);
    hr = link->SetIconLocation(command.iconFile.c_str(), command.iconIndex);
    if (FAILED(hr)) {
        LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(hr) & 0xFFFF, L"Unable to set Icon file and index");
    } else {
        LogInfo(L"Iconfile: %s; %d", command.iconFile.c_str(), command.iconIndex);
    }

    const int folderId = GetShellFolderId(location.keyword.c_str(), bAllUsers != FALSE, IsWindowsNT());
    WCHAR shellFolder[MAX_PATH];
    hr = GetShellFolderPath(folderId, shellFolder);
    if (FAILED(hr)) return Abort(hr, L"Unable to obtain target shell folder: Aborting link file installation");
    WCHAR linkFolder[MAX_PATH];
    if (!JoinLinkFolder(shellFolder, location.subFolders, linkFolder)) {
        const std::wstring joined = std::wstring(shellFolder) + L"\\" + location.subFolders;
        return files::RefusePathTooLong(joined.c_str());
    }
    hr = CreateDirectoryTree(linkFolder);
    if (FAILED(hr)) return Abort(hr, L"Unable create link folder: Aborting link file installation");

    if (HasEqualLink(linkFolder, target, command.arguments.c_str())) return S_FALSE;

    WCHAR linkPath[MAX_PATH];
    hr = ReserveLinkName(linkFolder, location.name, linkPath);
    if (FAILED(hr)) return hr;
    hr = file->Save(linkPath, FALSE);
    if (FAILED(hr)) {
        DeleteFileW(linkPath);  // the reserved name is ours
        return Abort(hr, L"Failed to save link file: Aborting link file installation");
    }
    LogInfo(L"Link file %s has been installed successfully", linkPath);
    return hr;
}
