// The version rule of versioned modules: CWexKrExecutableFile::Install, and
// the version, company and sharing questions every executable class answers.
//
// Copies go through the same complete-copy-then-rename step as the data-file
// rule. The in-use sequence is this rule's own: attributes off, then, with the
// new copy waiting beside the target, the swap of the two names.
#include <shlwapi.h>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

using namespace orv;
using namespace orv::files;

CWexKrExecutableFile::~CWexKrExecutableFile() = default;

HRESULT CWexKrExecutableFile::GetVersionInfo(LPCWSTR pszName, LPWSTR pszBuffer, DWORD cchBuffer) {
    return CWexFile::GetVersionInfo(m_szPath, pszName, pszBuffer, cchBuffer);
}

HRESULT CWexKrExecutableFile::GetVersion(CWexFileVersion& version) { return CWexFile::GetVersion(m_szPath, version); }

BOOL CWexKrExecutableFile::IsSharedFile() {
    WCHAR folder[MAX_PATH];
    if (FolderOf(m_szPath, folder)) {
        if (IsSameFile(folder, CWexSystem::GetCommonFilesDir())) return TRUE;
        if (IsSameFile(folder, CWexSystem::GetSysDir())) return TRUE;
    }
    return IsCOMServer();
}

BOOL CWexKrExecutableFile::IsCOMServer() { return FALSE; }

namespace {

void LogVersion(LPCWSTR format, const CWexFileVersion& version) {
    WCHAR text[32];
    LogInfo(format, version.GetVersionString(text, 32));
}

// Equal versions: a size difference is worth a warning, never a replacement.
void WarnOnSizeDifference(LPCWSTR source, LPCWSTR target) {
    WCHAR longTarget[MAX_PATH];
    LongNameOf(target, longTarget);
    DWORD sourceSize = 0, targetSize = 0;
    if (SUCCEEDED(CWexFile::GetSize(source, &sourceSize)) && SUCCEEDED(CWexFile::GetSize(longTarget, &targetSize)) &&
        sourceSize != targetSize)
        LogWarning(L"File versions are same but files differ in size");
}

}  // namespace

HRESULT CWexKrExecutableFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    if (!PathFits(pszTarget)) return RefusePathTooLong(pszTarget);
    FileFacts target;
    const HRESULT hrTarget = LookAtTarget(pszTarget, &target);
    if (FAILED(hrTarget)) return hrTarget;
    if (IsSameFile(m_szPath, GetFacts(), pszTarget, target)) {
        LogInfo(L"Server dependent installation: source file path equals target file path: OK");
        return S_OK;
    }

    const bool targetExists = target.Known();
    if (targetExists) {
        LogInfo(L"Target file %s already exists", pszTarget);
        WCHAR company[MAX_PATH];
        company[0] = 0;
        if (FAILED(GetVersionInfo(L"CompanyName", company, MAX_PATH))) company[0] = 0;
        company[MAX_PATH - 1] = 0;
        // Microsoft's own system files are always decided by version.
        const bool microsoftFile = StrStrW(company, L"Microsoft") != nullptr;
        const bool force = (dwFlags & kWexKrInstallForce) != 0;

        if (force && microsoftFile) LogInfo(L"/FORCE ignored for microsoft system files");
        if (force && !microsoftFile) {
            LogInfo(L"Force flag is set: Skipping version check");
        } else {
            CWexFileVersion sourceVersion, targetVersion;
            if (FAILED(GetVersion(sourceVersion))) {
                LogWarning(L"Source file %s has no file version: falling back to time stamp check", m_szPath);
                CWexKrFile dataFile(m_szPath);
                return dataFile.Install(pszTarget, 0);
            }
            if (FAILED(CWexFile::GetVersion(pszTarget, targetVersion))) {
                LogWarning(L"Target file %s has no file version: falling back to time stamp check", pszTarget);
                CWexKrFile dataFile(m_szPath);
                return dataFile.Install(pszTarget, 0);
            }
            LogVersion(L"File version of source file is: %s", sourceVersion);
            LogVersion(L"File version of target file is: %s", targetVersion);
            if (targetVersion > sourceVersion) {
                LogInfo(L"Target file version is higher than source file version: Keeping existing file");
                return S_FALSE;
            }
            if (targetVersion == sourceVersion) {
                WarnOnSizeDifference(m_szPath, pszTarget);
                LogInfo(L"Target file version is same as source file version: Keeping existing file");
                return S_FALSE;
            }
            LogInfo(L"Source file version is higher than target file version: Overwriting existing file");
        }
        RemoveReadOnlyBeforeOverwrite(pszTarget);
    }

    const HRESULT hrFolder = PrepareTargetFolder(pszTarget);
    if (FAILED(hrFolder)) return hrFolder;

    const DWORD error = CopyOnto(m_szPath, pszTarget);
    if (error == ERROR_SUCCESS) {
        ClearReadOnly(pszTarget);
        LogInfo(L"'%s' successfully copied to '%s'", m_szPath, pszTarget);
        return S_OK;
    }
    if (!IsInUseError(error)) {
        LogWin32(WEX_SEV_ERROR, error, L"Error installing file");
        return HResultFromWin32(static_cast<LONG>(error));
    }

    // The target is in use.
    LogInfo(L"Copy File Errorcode %d ", static_cast<int>(error));
    const DWORD attributes = GetFileAttributesW(pszTarget);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_READONLY) LogInfo(L"Target file is read only");
        if (attributes & FILE_ATTRIBUTE_SYSTEM) LogInfo(L"Target file is system file");
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM))
            SetFileAttributesW(pszTarget,
                               AttributesWithout(attributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    }
    // The previous file leaves its name only once the complete new copy waits
    // beside it, and is deleted only once the copy has taken the name.
    TemporaryCopy copy;
    if (copy.Create(m_szPath, pszTarget) == ERROR_SUCCESS) {
        const TemporaryCopy::Swap swap = copy.SwapInto(pszTarget);
        if (swap == TemporaryCopy::Swap::kReplaced) {
            LogInfo(L"DeleteFile succeeded");
            ClearReadOnly(pszTarget);
            LogInfo(L"'%s' successfully copied to '%s', finally", m_szPath, pszTarget);
            return S_OK;
        }
        if (swap == TemporaryCopy::Swap::kTargetAside) LogError(L"Previous file kept as '%s'", copy.AsidePath());
    }
    LogWarning(L"Target file seems to be in use: cannot overwrite");
    return kWexKrHrFileInUse;
}
