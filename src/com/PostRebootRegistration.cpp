// PostRebootRegister: after a restart, the server registered by the
// registration program, else by itself; neither the offline file nor
// regsvr32.exe takes part.
#include "com/ComSupport.h"
#include "files/FileModel.h"
#include "platform/KrLog.h"

using namespace orv;

HRESULT CWexKrCOMServerFile::PostRebootRegister(LPCWSTR pszServer) {
    HRESULT hr = RegisterOutOfProcess(pszServer, TRUE);
    if (SUCCEEDED(hr)) {
        LogInfo(L"Post reboot registration succeeded");
        return hr;
    }
    LogWin32(WEX_SEV_ERROR, com::ErrorOf(hr), L"Out of process registration failed.");
    LogInfo(L"Falling back to in process self registration");
    hr = SelfRegister(pszServer, TRUE);
    if (SUCCEEDED(hr)) {
        LogInfo(L"Post reboot registration succeeded");
        return hr;
    }
    LogWin32(WEX_SEV_ERROR, com::ErrorOf(hr), L"In process registration failed");
    if (auto* module = dynamic_cast<CWexKrExecutableFile*>(this)) com::ReportMissingDependencies(*module, pszServer);
    return hr;
}
