// CWexKrLocalServerFile's install and uninstall rule: the program rule
// (version rule, App Paths), then the registration decided by
// com/ServerInstallRule.h. There is no use count: a local server not
// registered elsewhere is unregistered at every uninstallation, and
// regsvr32.exe is only tried for unregistering.
#include "com/ServerInstallRule.h"
#include "files/FileModel.h"
#include "platform/KrLog.h"

using namespace orv;

namespace {

const com::ServerRuleTexts kTexts = {
    L"Force flag is set: Registering EXE server without version or time stamp check",
    L"EXE server '%s' is already registered properly. Registering same version.",
    L"Reregistering newer version of EXE server '%s'",
    L"EXE server is already registered as '%s'",
    L"EXE server is not registered with absolute path: Trying to locate file with SearchPath",
    L"Neither registered EXE server nor EXE server to be installed has a file version: Falling back to time stamp "
    L"check",
    false,
    L"Time stamp of registered EXE Server is: %02d.%02d.%d %02d:%02d:%02d",
    L"Time stamp of EXE Server to be installed is: %02d.%02d.%d %02d:%02d:%02d",
    L"Time stamp of registered EXE Server is same or newer than Time stamp of EXE Server to be installed: Keeping "
    L"existing registration",
    L"Time stamp of EXE server to be installed is newer than time stamp of registered EXE Server: Performing new "
    L"registration in %s",
    L"Registered EXE server has no file version. EXE server to be installed has file version %d.%d.%d.%d: Supposed "
    L"to be newer, performing new registration in %s",
    L"EXE server to be installed has no file version. Registered EXE server has file version %d.%d.%d.%d: Supposed "
    L"to be newer, keeping existing registration",
    L"File version of registered EXE server is: %s",
    L"File version of EXE server to be installed is: %s",
    L"Registered EXE server has higher version: Keeping existing registration",
    L"EXE server versions are same but files differ in size: Performing new registration in %s",
    L"EXE server versions are same: Performing new registration",
    L"EXE Server to be installed has is newer version: Performing new registration in %s",
    L"Attempting to register EXE server from reg file",
    L"EXE server offline registration succeeded",
    L"EXE server out of process self registration succeeded",
    L"EXE server out of process self registration failed",
    false,
    nullptr,
    nullptr,
    L"EXE server is registered at different path %s: Keeping existing registration",
    L"Attempting to unregister EXE server from reg file",
    L"EXE server offline unregistration succeeded",
    L"EXE server offline unregistration cannot proceed",
    L"EXE server unregistration with 'orvregsv.exe' succeeded",
    L"EXE server unregistration with 'orvregsv.exe' failed",
    L"EXE server unregistration with 'regsvr32.exe' succeeded",
    L"EXE server unregistration failed even with 'regsvr32.exe'!",
};

}  // namespace

HRESULT CWexKrLocalServerFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    const HRESULT fileResult = CWexKrExeFile::Install(pszTarget, dwFlags);
    if (FAILED(fileResult)) return kWexKrHrServerNotInstalled;
    if (!com::DecideRegistration(*this, pszTarget, dwFlags, fileResult, kTexts)) return fileResult;
    return com::RegisterServer(*this, *this, pszTarget, fileResult, kTexts);
}

HRESULT CWexKrLocalServerFile::UnInstall(LPCWSTR pszSource) {
    if (com::RegisteredHereOrNowhere(*this, m_szPath, kTexts)) com::UnregisterServer(*this, *this, m_szPath, kTexts);
    return CWexKrExeFile::UnInstall(pszSource);
}
