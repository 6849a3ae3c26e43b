// CWexKrInProcServerFile's install and uninstall rule: the library rule
// (version rule, SharedDLLs count), then the registration decided by
// com/ServerInstallRule.h; a server that other products still use (a
// SharedDLLs count above 1) is not unregistered.
#include "com/ServerInstallRule.h"
#include "files/FileModel.h"
#include "files/SharedDllCounter.h"
#include "platform/KrLog.h"

using namespace orv;

namespace {

const com::ServerRuleTexts kTexts = {
    L"Force flag is set: Registering COM server without version or time stamp check",
    L"COM server %s is already registered properly. Registering same version.",
    L"Reregistering newer version of COM server %s",
    L"COM server is already registered as %s",
    L"COM server is not registered with absolute path: Trying to locate file with SearchPath",
    L"Neither registered COM Server %s nor COM Server %s has a FileVersion: Falling back to Time Stamp Check",
    true,
    L"TimeStamp of registered COM server is: %02d.%02d.%d %02d:%02d:%02d",
    L"TimeStamp of COM server to be installed is: %02d.%02d.%d %02d:%02d:%02d",
    L"Time stamp of registered COM Server is same or newer than Time stamp of COM Server to be installed: Keeping "
    L"existing registration",
    L"Time stamp of COM server to be installed is newer than time stamp of registered COM Server: Performing new "
    L"registration in %s",
    L"Registered COM server has no file version. COM server to be installed has file version %d.%d.%d.%d: Supposed "
    L"to be newer, performing new registration in %s",
    L"COM server to be installed has no file version. Registered COM server has file version %d.%d.%d.%d: Supposed "
    L"to be newer, keeping existing registration",
    L"FileVersion of registered COM Server is: %s",
    L"FileVersion of COM Server to be installed is: %s",
    L"Registered COM Server has newer version: Keeping existing registration",
    L"COM server versions are same but files differ in size: Performing new registration in %s",
    L"COM server versions are same: Performing new registration",
    L"COM Server to be installed has newer version: Performing new registration in %s",
    L"Attempting to register COM server from reg file",
    L"COM server offline registration succeeded",
    L"COM server out of process self registration succeeded",
    L"Registration with 'orvregsv.exe' failed",
    true,
    L"COM server out of process self registration succeeded",
    L"COM server out of process self registration failed! Reboot required.",
    L"COM server is registered at different path %s: Keeping existing registration",
    L"Attempting to unregister COM server from reg file",
    L"COM server offline unregistration succeeded",
    L"COM server offline unregistration cannot proceed",
    L"COM server out of process self unregistration succeeded",
    L"COM server unregistration with 'orvregsv.exe' failed",
    L"COM server unregistration with 'regsvr32.exe' succeeded",
    L"COM server unregistration failed even with 'regsvr32.exe'!",
};

}  // namespace

HRESULT CWexKrInProcServerFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    const HRESULT fileResult = CWexKrDllFile::Install(pszTarget, dwFlags);
    if (FAILED(fileResult)) return kWexKrHrServerNotInstalled;  // in use included: nothing is registered
    LogInfo(L"Attempting to register COM InProcServer %s", pszTarget);
    if (!com::DecideRegistration(*this, pszTarget, dwFlags, fileResult, kTexts)) return fileResult;
    return com::RegisterServer(*this, *this, pszTarget, fileResult, kTexts);
}

HRESULT CWexKrInProcServerFile::UnInstall(LPCWSTR pszSource) {
    if (com::RegisteredHereOrNowhere(*this, m_szPath, kTexts)) {
        DWORD count = 0;
        if (FAILED(files::GetSharedDllCounter(m_szPath, &count))) count = 0;
        if (count <= 1) com::UnregisterServer(*this, *this, m_szPath, kTexts);
    }
    // The registration's outcome never changes the result.
    return CWexKrDllFile::UnInstall(pszSource);
}
