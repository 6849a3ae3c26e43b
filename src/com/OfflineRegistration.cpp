// Offline registration: a server's registration written from its ".cor"
// file (a registration script) instead of running any of its code. The file
// comes from the folder "cor" beside the running program; a copy is kept
// under "%ProgramFiles%\Orv\OrvSetup\Setup\cor" for the uninstallation.
#include <shlwapi.h>

#include <string>

#include "com/ComSupport.h"
#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"
#include "files/FileOps.h"
#include "platform/KrLog.h"

using namespace orv;

namespace {

constexpr HRESULT kHrNoFile = static_cast<HRESULT>(0x80070002L);

// The server's file name with its extension replaced by ".cor" (appended
// when it has none).
std::wstring CorNameOf(LPCWSTR server) {
    std::wstring name = PathFindFileNameW(server);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name + L".cor";
}

bool KeptCopyFolder(WCHAR (&out)[MAX_PATH]) {
    WCHAR setup[MAX_PATH];
    const DWORD n = ExpandEnvironmentStringsW(L"%ProgramFiles%\\Orv\\OrvSetup\\Setup", setup, MAX_PATH);
    return n > 0 && n <= MAX_PATH && com::JoinPath(setup, L"cor", out);
}

bool IsFile(LPCWSTR path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

HRESULT CWexKrCOMServerFile::InstallOfflineRegistration(LPCWSTR pszServer) {
    if (!files::PathFits(pszServer)) return files::RefusePathTooLong(pszServer);
    const std::wstring name = CorNameOf(pszServer);
    WCHAR program[MAX_PATH], corFolder[MAX_PATH], source[MAX_PATH];
    if (!com::ProgramFolder(program) || !com::JoinPath(program, L"cor", corFolder) ||
        !com::JoinPath(corFolder, name.c_str(), source))
        return kHrNoFile;
    if (!IsFile(source)) return kHrNoFile;

    WCHAR serverFolder[MAX_PATH];
    files::FolderOf(pszServer, serverFolder);
    CWexKrRegFile corFile(source);
    const HRESULT hr = corFile.Install(serverFolder, kWexKrInstallForce);
    if (FAILED(hr)) return hr;

    // The copy for the uninstallation; failures here do not change the result.
    WCHAR keptFolder[MAX_PATH], kept[MAX_PATH];
    if (KeptCopyFolder(keptFolder) && com::JoinPath(keptFolder, name.c_str(), kept)) {
        CreateDirectoryTree(keptFolder);
        CopyFileW(source, kept, FALSE);
    }
    return hr;
}

HRESULT CWexKrCOMServerFile::UnInstallOfflineRegistration(LPCWSTR pszServer) {
    if (!files::PathFits(pszServer)) return files::RefusePathTooLong(pszServer);
    WCHAR keptFolder[MAX_PATH], kept[MAX_PATH];
    if (!KeptCopyFolder(keptFolder) || !com::JoinPath(keptFolder, CorNameOf(pszServer).c_str(), kept) ||
        !IsFile(kept))
        return kHrNoFile;

    WCHAR serverFolder[MAX_PATH];
    files::FolderOf(pszServer, serverFolder);
    CWexKrRegFile corFile(kept);
    const HRESULT hr = corFile.UnInstall(serverFolder);
    if (FAILED(hr)) return hr;  // the copy stays for another try
    // With its last copy the kept-copy folder goes too, as far as the kernel made it.
    if (DeleteFileW(kept)) RemoveCreatedDirectories(keptFolder);
    return hr;
}
