// The install and uninstall rule that in-process and local servers share:
// after the file step, compare the server being installed with the one
// registered now and either keep that registration or register anew
// (offline file, orvregsv.exe, for in-process servers regsvr32.exe, then the
// dependency report); at uninstallation unregister in the same order unless
// the server is registered at another path. The two kinds differ in their
// texts and in whether regsvr32.exe is tried at installation.
#pragma once
#include <windows.h>

#include "files/FileModel.h"

namespace orv::com {

struct ServerRuleTexts {
    // The decision ladder.
    LPCWSTR force, sameVersion, reregistering, foundElsewhere, notAbsolute;
    LPCWSTR noVersions;  // with (registered path, target) when noVersionsNamesFiles
    bool noVersionsNamesFiles;
    LPCWSTR registeredTime, newTime, timeKeep, timeRegister, onlyNewVersion, onlyRegisteredVersion;
    LPCWSTR registeredVersion, newVersion, registeredGreater, sizesDiffer, sameVersions, newGreater;
    // The registration sequence.
    LPCWSTR fromRegFile, offlineSucceeded, programSucceeded;
    LPCWSTR programFailed;  // error and the end when regsvr32.exe is not tried, else a warning
    bool regsvr32AtInstall;
    LPCWSTR regsvr32Succeeded, allFailed;
    // Uninstallation.
    LPCWSTR differentPath, unFromRegFile, unOfflineSucceeded, unOfflineFailed, unProgramSucceeded, unProgramFailed;
    LPCWSTR unRegsvr32Succeeded, unAllFailed;
};

// The decision after the file step: true to register at target, false to
// keep the registration there is.
bool DecideRegistration(CWexKrCOMServerFile& server, LPCWSTR target, DWORD flags,
                        HRESULT fileResult, const ServerRuleTexts& texts);

// Offline file, orvregsv.exe, (regsvr32.exe,) dependency report. fileResult
// when one way succeeded, else the failure of the last way tried.
HRESULT RegisterServer(CWexKrCOMServerFile& server, CWexKrExecutableFile& module, LPCWSTR target,
                       HRESULT fileResult, const ServerRuleTexts& texts);

// False when the server is registered at a path other than ownPath (which
// is then kept); true when it is registered there, or nowhere that can be
// found.
bool RegisteredHereOrNowhere(CWexKrCOMServerFile& server, LPCWSTR ownPath, const ServerRuleTexts& texts);

// Offline file, orvregsv.exe, regsvr32.exe, dependency report; each only
// when the one before failed. Never fails the caller.
void UnregisterServer(CWexKrCOMServerFile& server, CWexKrExecutableFile& module, LPCWSTR ownPath,
                      const ServerRuleTexts& texts);

}  // namespace orv::com
