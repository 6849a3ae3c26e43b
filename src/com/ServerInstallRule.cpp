#include "com/ServerInstallRule.h"

#include <shlwapi.h>

#include <string>

#include "com/ComSupport.h"
#include "files/FileOps.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

namespace orv::com {
namespace {

constexpr HRESULT kHrNoFile = static_cast<HRESULT>(0x80070002L);

// A registration recorded as a bare file name, resolved by the search path.
// False when the search finds nothing.
bool Locate(std::wstring& registered, LPCWSTR notAbsolute) {
    LogWarning(notAbsolute);
    WCHAR found[MAX_PATH];
    const DWORD n = SearchPathW(nullptr, registered.c_str(), nullptr, MAX_PATH, found, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    registered = found;
    return true;
}

bool VersionOf(LPCWSTR path, CWexFileVersion& version) {
    WCHAR longPath[MAX_PATH];
    files::LongNameOf(path, longPath);
    return SUCCEEDED(CWexFile::GetVersion(longPath, version)) && version.IsValid();
}

// Day, month, year, hour, minute, second; a time that cannot be read stays zero.
FILETIME LogTime(LPCWSTR format, LPCWSTR path) {
    SYSTEMTIME time = {};
    if (FAILED(CWexFile::GetTimeStamp(path, &time, WEX_TIME_LASTWRITE))) time = SYSTEMTIME{};
    LogInfo(format, time.wDay, time.wMonth, time.wYear, time.wHour, time.wMinute, time.wSecond);
    FILETIME fileTime = {};
    SystemTimeToFileTime(&time, &fileTime);
    return fileTime;
}

bool CompareVersions(const std::wstring& registered, LPCWSTR target, const ServerRuleTexts& t) {
    CWexFileVersion registeredVersion, newVersion;
    const bool registeredHas = VersionOf(registered.c_str(), registeredVersion);
    const bool newHas = VersionOf(target, newVersion);
    if (!registeredHas && !newHas) {
        if (t.noVersionsNamesFiles)
            LogWarning(t.noVersions, registered.c_str(), target);
        else
            LogWarning(t.noVersions);
        const FILETIME registeredTime = LogTime(t.registeredTime, registered.c_str());
        const FILETIME newTime = LogTime(t.newTime, target);
        if (CompareFileTime(&registeredTime, &newTime) >= 0) {
            LogInfo(t.timeKeep);
            return false;
        }
        LogInfo(t.timeRegister, target);
        return true;
    }
    if (!registeredHas) {
        LogWarning(t.onlyNewVersion, newVersion.wVerMaj1, newVersion.wVerMaj2, newVersion.wVerMin1,
                   newVersion.wVerMin2, target);
        return true;
    }
    if (!newHas) {
        LogWarning(t.onlyRegisteredVersion, registeredVersion.wVerMaj1, registeredVersion.wVerMaj2,
                   registeredVersion.wVerMin1, registeredVersion.wVerMin2);
        return false;
    }
    WCHAR text[32];
    LogInfo(t.registeredVersion, registeredVersion.GetVersionString(text, 32));
    LogInfo(t.newVersion, newVersion.GetVersionString(text, 32));
    if (registeredVersion > newVersion) {
        LogInfo(t.registeredGreater);
        return false;
    }
    if (registeredVersion == newVersion) {
        // The registered file against the one being registered, as the warning says.
        DWORD registeredSize = 0, targetSize = 0;
        if (SUCCEEDED(CWexFile::GetSize(registered.c_str(), &registeredSize)) &&
            SUCCEEDED(CWexFile::GetSize(target, &targetSize)) && registeredSize != targetSize)
            LogWarning(t.sizesDiffer, target);
        else
            LogInfo(t.sameVersions);
        return true;
    }
    LogInfo(t.newGreater, target);
    return true;
}

}  // namespace

bool DecideRegistration(CWexKrCOMServerFile& server, LPCWSTR target, DWORD flags,
                        HRESULT fileResult, const ServerRuleTexts& t) {
    if (flags & kWexKrInstallForce) {
        LogInfo(t.force);
        return true;
    }
    std::wstring registered;
    if (server.GetRegisteredServerPath(registered) != S_OK) return true;
    if (CWexPath::PathIsEqual(registered.c_str(), target)) {
        LogInfo(fileResult == S_FALSE ? t.sameVersion : t.reregistering, target);
        return true;
    }
    LogInfo(t.foundElsewhere, registered.c_str());
    if (PathIsFileSpecW(registered.c_str())) {
        if (!Locate(registered, t.notAbsolute)) {
            LogWarning(L"Registered file cannot be found in search path: Performing new registration in %s", target);
            return true;
        }
        WCHAR folder[MAX_PATH];
        files::FolderOf(registered.c_str(), folder);
        LogInfo(L"Found registered file in %s", folder);
    } else if (!PathFileExistsW(registered.c_str())) {
        LogWarning(L"Registered file does not exist: Performing new registration in %s", target);
        return true;
    }
    return CompareVersions(registered, target, t);
}

HRESULT RegisterServer(CWexKrCOMServerFile& server, CWexKrExecutableFile& module, LPCWSTR target,
                       HRESULT fileResult, const ServerRuleTexts& t) {
    LogInfo(t.fromRegFile);
    HRESULT hr = server.InstallOfflineRegistration(target);
    if (SUCCEEDED(hr)) {
        LogInfo(t.offlineSucceeded);
        return fileResult;
    }
    if (hr == kHrNoFile)
        LogInfo(L"Offline registration impossible: COR- file not found");
    else
        LogWin32(WEX_SEV_WARNING, ErrorOf(hr), L"Offline registration failed");
    LogInfo(L"Falling back to out of process self registration ( orvregsv.exe )");
    hr = server.RegisterOutOfProcess(target, TRUE);
    if (SUCCEEDED(hr)) {
        LogInfo(t.programSucceeded);
        return fileResult;
    }
    if (t.regsvr32AtInstall) {
        LogWin32(WEX_SEV_WARNING, ErrorOf(hr), t.programFailed);
        LogInfo(L"Falling back to registration with 'regsvr32.exe'");
        hr = server.RegisterWithRegsvr32(target, TRUE);
        if (SUCCEEDED(hr)) {
            LogInfo(t.regsvr32Succeeded);
            return fileResult;
        }
        LogWin32(WEX_SEV_ERROR, ErrorOf(hr), t.allFailed);
    } else {
        LogWin32(WEX_SEV_ERROR, ErrorOf(hr), t.programFailed);
    }
    ReportMissingDependencies(module, target);
    return hr;
}

bool RegisteredHereOrNowhere(CWexKrCOMServerFile& server, LPCWSTR ownPath, const ServerRuleTexts& t) {
    std::wstring registered;
    if (server.GetRegisteredServerPath(registered) != S_OK) return true;
    if (PathIsFileSpecW(registered.c_str()) && !Locate(registered, t.notAbsolute)) {
        LogWarning(L"Registered file cannot be found in search path: Performing unregistration in %s", ownPath);
        return true;
    }
    if (CWexPath::PathIsEqual(registered.c_str(), ownPath)) return true;
    LogInfo(t.differentPath, registered.c_str());
    return false;
}

void UnregisterServer(CWexKrCOMServerFile& server, CWexKrExecutableFile& module, LPCWSTR ownPath,
                      const ServerRuleTexts& t) {
    LogInfo(t.unFromRegFile);
    HRESULT hr = server.UnInstallOfflineRegistration(ownPath);
    if (SUCCEEDED(hr)) {
        LogInfo(t.unOfflineSucceeded);
        return;
    }
    LogWin32(WEX_SEV_WARNING, ErrorOf(hr), t.unOfflineFailed);
    LogInfo(L"Falling back to out of process self unregistration");
    hr = server.RegisterOutOfProcess(ownPath, FALSE);
    if (SUCCEEDED(hr)) {
        LogInfo(t.unProgramSucceeded);
        return;
    }
    LogWin32(WEX_SEV_WARNING, ErrorOf(hr), t.unProgramFailed);
    LogInfo(L"Falling back to unregistration with 'regsvr32.exe'");
    hr = server.RegisterWithRegsvr32(ownPath, FALSE);
    if (SUCCEEDED(hr)) {
        LogInfo(t.unRegsvr32Succeeded);
        return;
    }
    LogError(t.unAllFailed);
    ReportMissingDependencies(module, ownPath);
}

}  // namespace orv::com
