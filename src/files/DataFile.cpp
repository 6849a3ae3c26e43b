// The data-file rule: CWexKrFile::Install and CWexKrFile::UnInstall.
//
// An existing target is kept when it is as new as the source, by time stamp.
// It is replaced only by a complete copy: the source is copied in full beside
// the target under a temporary name and then renamed onto it, so a copy that
// fails (disk full, unreadable source) leaves the previous file as it was.
// A target in use gets the ladder: attributes off, a second attempt, and a
// third in which, once the new copy waits beside it, the target is renamed
// aside, the copy takes its name and only then is the previous file deleted
// (a rename works on a file others hold open with delete sharing, where a
// delete would only mark it and leave the name taken).
#include <shlwapi.h>

#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/FolderIndex.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

using namespace orv;
using namespace orv::files;

namespace {

void LogTimeStamp(LPCWSTR format, const FILETIME& time) {
    SYSTEMTIME st{};
    FileTimeToSystemTime(&time, &st);
    LogInfo(format, st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute, st.wSecond);
}

// The last write times of source and target (a time that cannot be read is 0).
bool TargetIsAsNew(const CWexKrFile& source, const FileFacts& target) {
    FILETIME sourceTime{};
    if (FAILED(source.GetLastWriteTime(&sourceTime))) sourceTime = FILETIME{};
    const FILETIME targetTime = target.written;
    LogTimeStamp(L"Time stamp of source file is: %02d.%02d.%d %02d:%02d:%02d", sourceTime);
    LogTimeStamp(L"Time stamp of target file: %02d.%02d.%d %02d:%02d:%02d", targetTime);
    return CompareFileTime(&targetTime, &sourceTime) >= 0;
}

}  // namespace

HRESULT CWexKrFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    if (!PathFits(pszTarget)) return RefusePathTooLong(pszTarget);
    return InstallDataFile(pszTarget, dwFlags, TargetLikelyNew(pszTarget));
}

// likelyNew: the folder's index does not know the target, which is then not
// looked for (a search through the whole folder on some systems) and is
// installed by a rename that never replaces; should a file have the name
// after all, the rule starts again and looks.
HRESULT CWexKrFile::InstallDataFile(LPCWSTR pszTarget, DWORD dwFlags, bool likelyNew) {
    FileFacts target;
    if (!likelyNew) {
        const HRESULT hrTarget = LookAtTarget(pszTarget, &target);
        if (FAILED(hrTarget)) return hrTarget;
    }
    if (IsSameFile(m_szPath, GetFacts(), pszTarget, target)) {
        LogInfo(L"Server dependent installation: source file path equals target file path: OK");
        return S_OK;
    }

    const bool targetExists = target.Known();
    if (targetExists) {
        LogInfo(L"Target file %s already exists", pszTarget);
        if (!(dwFlags & kWexKrInstallForce)) {
            if (TargetIsAsNew(*this, target)) {
                LogInfo(L"Target file time stamp is same or newer than source file time stamp: Keeping existing file");
                return S_FALSE;
            }
            LogInfo(L"Source file time stamp is newer than target file time stamp: Overwriting existing file");
        } else {
            LogInfo(L"Force flag is set: Skipping time stamp check");
        }
        RemoveReadOnlyBeforeOverwrite(pszTarget);
    }

    const HRESULT hrFolder = PrepareTargetFolder(pszTarget);
    if (FAILED(hrFolder)) return hrFolder;

    DWORD error = CopyOnto(m_szPath, pszTarget, /*replace*/ !likelyNew, m_hOpen);
    if (error == ERROR_SUCCESS) {
        ClearReadOnly(pszTarget);
        LogInfo(L"'%s' successfully copied to '%s'", m_szPath, pszTarget);
        return S_OK;
    }
    if (likelyNew && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
        ForgetFolderIndex(pszTarget);
        return InstallDataFile(pszTarget, dwFlags, false);
    }
    if (!IsInUseError(error)) {
        LogWin32(WEX_SEV_ERROR, error, L"Error installing file");
        return HResultFromWin32(static_cast<LONG>(error));
    }

    // The target is in use.
    LogWarning(L"Target file seems to be in use: cannot overwrite");
    LogInfo(L"CopyFile Errorcode %d ", static_cast<int>(error));
    ClearReadOnlyAndSystem(pszTarget);

    error = CopyOnto(m_szPath, pszTarget);
    if (error == ERROR_SUCCESS) {
        ClearReadOnly(pszTarget);
        LogInfo(L"'%s' successfully copied to '%s' on 2nd try", m_szPath, pszTarget);
        return S_OK;
    }

    // Last attempt: with the complete new copy beside it, the target leaves
    // its name and the copy takes it; the previous file goes only then.
    TemporaryCopy copy;
    if (copy.Create(m_szPath, pszTarget) != ERROR_SUCCESS) {
        // Nothing was deleted: the previous file stays.
        LogError(L"File could not be replaced");
        return kWexKrHrFileInUse;
    }
    switch (copy.SwapInto(pszTarget)) {
    case TemporaryCopy::Swap::kReplaced:
        LogInfo(L"DeleteFile succeeded");
        ClearReadOnly(pszTarget);
        LogInfo(L"'%s' successfully copied to '%s', after deleting destination file", m_szPath, pszTarget);
        return S_OK;
    case TemporaryCopy::Swap::kTargetAside:
        LogError(L"A file was deleted but was not replaced, because the file could not be copied. This might lead to "
                 L"inconsistent installation status! Fix the access problem and reinstall before you use the "
                 L"application!");
        LogError(L"Previous file kept as '%s'", copy.AsidePath());
        break;
    case TemporaryCopy::Swap::kTargetStays:
    case TemporaryCopy::Swap::kTargetRestored:
        break;
    }
    LogError(L"File could not be replaced");
    return kWexKrHrFileInUse;
}

HRESULT CWexKrFile::UnInstall(LPCWSTR pszSource) {
    FileFacts source;
    FileFactsOfPath(pszSource, &source);
    if (IsSameFile(m_szPath, GetFacts(), pszSource, source)) {
        LogInfo(L"Server dependent installation: File will not be deleted");
        return S_OK;
    }

    const DWORD attributes = GetFileAttributesW(m_szPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        LogWarning(L"Target file has read only attribute: Attempting to remove attribute for deletion");
        if (SetFileAttributesW(m_szPath, AttributesWithout(attributes, FILE_ATTRIBUTE_READONLY))) {
            LogInfo(L"Readonly attribute removed successfully");
        } else {
            LogWin32(WEX_SEV_WARNING, GetLastError(), L"Readonly attribute could not be removed");
        }
    }

    if (DeleteFileW(m_szPath)) {
        NoteNameRemoved(m_szPath);
        LogInfo(L"File %s has been uninstalled successfully", m_szPath);
        ForgetFolderEntry(m_szPath);
        WCHAR folder[MAX_PATH];
        if (FolderOf(m_szPath, folder)) RemoveCreatedDirectories(folder);
        return S_OK;
    }
    const DWORD error = GetLastError();
    if (IsInUseError(error)) {
        LogWarning(L"Target File seems to be in use: cannot delete");
        return kWexKrHrFileInUse;
    }
    LogWin32(WEX_SEV_ERROR, error, L"Error uninstalling file");
    return HResultFromWin32(static_cast<LONG>(error));
}
