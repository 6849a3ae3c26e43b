// Programs and libraries beyond the version rule: the App Paths entry of a
// program, the SharedDLLs count of a library, a library's install command;
// and the restart work that every file object schedules the same way.
#include "files/AppPaths.h"
#include "files/DllInstallCommand.h"
#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/PostReboot.h"
#include "files/SharedDllCounter.h"
#include "platform/KrLog.h"

using namespace orv;

namespace {

constexpr DWORD kModeRepair = 2;
constexpr DWORD kModeUpdate = 4;

// The Win32 part of a result, for the error lines that carry one.
DWORD ErrorOf(HRESULT hr) { return static_cast<DWORD>(hr) & 0xFFFF; }

// True while a file cannot be read: another installer is putting its copy
// under that name (the name is briefly gone, or held for the rename).
bool BeingReplaced(LPCWSTR path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || files::IsInUseError(error);
}

// Whether the library at the target is shared. Its answer is only taken when
// the same file stood there, readable, all the while it was asked: a read
// that met another installer's rename would say "not shared" and lose this
// install's use count.
bool TargetIsShared(LPCWSTR target) {
    for (int attempt = 0;; ++attempt) {
        FileFacts before, after;
        const bool known = FileFactsOfPath(target, &before);
        CWexKrDllFile installed(target);
        if (installed.IsSharedFile()) return true;
        const bool steady = known && FileFactsOfPath(target, &after) && !FactsTellApart(before, after);
        if (attempt == 20 || (steady && !BeingReplaced(target))) return false;
        Sleep(10);
    }
}

}  // namespace

HRESULT CWexKrFile::PreparePostRebootCopy(LPCWSTR pszTarget) {
    return files::SchedulePostRebootCopy(m_szPath, pszTarget);
}

HRESULT CWexKrFile::PreparePostRebootDelete() { return files::SchedulePostRebootDelete(m_szPath); }

HRESULT CWexKrExeFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    const HRESULT hr = CWexKrExecutableFile::Install(pszTarget, dwFlags & kWexKrInstallForce);
    if (FAILED(hr)) return hr;
    const DWORD mode = GetInstallMode();
    if (mode != kWexKrInstallModePrimary && mode != kModeRepair && mode != kModeUpdate) {
        LogInfo(L"No App Paths registration necessary");
        return hr;
    }
    // Also when the version rule kept a newer program: S_FALSE still tells the caller so.
    const HRESULT registered = files::RegisterAppPath(pszTarget, m_strAppPaths.c_str());
    if (FAILED(registered)) {
        LogWin32(WEX_SEV_ERROR, ErrorOf(registered), L"AppPath registration failed");
        return registered;
    }
    LogInfo(L"AppPath registration succeeded");
    return hr;
}

HRESULT CWexKrExeFile::UnInstall(LPCWSTR pszSource) {
    const HRESULT hr = CWexKrFile::UnInstall(pszSource);
    if (FAILED(hr)) return hr;
    LogInfo(L"Performing AppPath unregistration");
    const HRESULT removed = files::UnregisterAppPath(m_szPath);
    if (FAILED(removed)) {
        LogWin32(WEX_SEV_ERROR, ErrorOf(removed), L"AppPath unregistration failed");
        return removed;
    }
    LogInfo(L"AppPath unregistration succeeded");
    return S_OK;
}

HRESULT CWexKrDllFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    const HRESULT hr = CWexKrExecutableFile::Install(pszTarget, dwFlags & kWexKrInstallForce);
    if (FAILED(hr) || !m_bSharedDllCounter) return hr;
    // The library as it is at the target now decides whether it is shared.
    if (!TargetIsShared(pszTarget)) return hr;
    if (dwFlags & kWexKrInstallForce) {
        LogInfo(L"Force flag is set: Skipping SharedDllCounter");
        return hr;
    }
    DWORD count = 0;
    if (FAILED(files::AddToSharedDllCounter(pszTarget, 1, &count)))
        LogWarning(L"SharedDllCounter for '%s' could not be incremented", pszTarget);
    else
        LogInfo(L"SharedDllCounter for '%s' has been set to %d", pszTarget, count);
    return hr;  // the count never changes the install's result
}

HRESULT CWexKrDllFile::UnInstall(LPCWSTR pszSource) {
    DWORD count = 0;
    const HRESULT found = files::GetSharedDllCounter(m_szPath, &count);
    if (found == HResultFromWin32(ERROR_FILE_NOT_FOUND)) return CWexKrFile::UnInstall(pszSource);
    HRESULT hr = found;
    DWORD newCount = 0;
    if (SUCCEEDED(hr)) hr = files::AddToSharedDllCounter(m_szPath, -1, &newCount);
    if (FAILED(hr)) {
        LogWin32(WEX_SEV_WARNING, ErrorOf(hr), L"Unable to decrement SharedDllCounter. Continueing uninstall");
    } else if (newCount != 0) {
        LogInfo(
            L"SharedDllCounter for %s has been set to %d. File is still being used by other applications and "
            L"will not be uninstalled",
            m_szPath, newCount);
        return S_FALSE;
    } else {
        LogInfo(L"Dll %s is no longer used by any other application: SharedDllCounter has been removed", m_szPath);
    }
    return CWexKrFile::UnInstall(pszSource);
}

HRESULT CWexKrDllFile::RunDllInstallCommand(LPCWSTR pszPath, BOOL bInstall) {
    return files::RunDllInstallCommand(pszPath, bInstall, m_lpDllInstallCmd);
}
