// The COM server classes. Until the registration rules are written they
// install as plain versioned modules and know of no registration: a server
// is reported as not registered.
#include "files/FileModel.h"

namespace {

// GetRegisteredServerPath's answer when no registration was found.
constexpr HRESULT kNotRegistered = S_FALSE;

}  // namespace

HRESULT CWexKrCOMServerFile::RegisterOutOfProcess(LPCWSTR, BOOL) { return E_NOTIMPL; }
HRESULT CWexKrCOMServerFile::RegisterWithRegsvr32(LPCWSTR, BOOL) { return E_NOTIMPL; }
HRESULT CWexKrCOMServerFile::InstallOfflineRegistration(LPCWSTR) { return E_NOTIMPL; }
HRESULT CWexKrCOMServerFile::UnInstallOfflineRegistration(LPCWSTR) { return E_NOTIMPL; }
HRESULT CWexKrCOMServerFile::PostRebootRegister(LPCWSTR) { return E_NOTIMPL; }

HRESULT CWexKrLocalServerFile::GetRegisteredServerPath(std::wstring&) { return kNotRegistered; }
HRESULT CWexKrLocalServerFile::SelfRegister(LPCWSTR, BOOL) { return E_NOTIMPL; }

HRESULT CWexKrInProcServerFile::GetRegisteredServerPath(std::wstring&) { return kNotRegistered; }
HRESULT CWexKrInProcServerFile::SelfRegister(LPCWSTR, BOOL) { return E_NOTIMPL; }

HRESULT CWexKrTypeLibFile::GetRegisteredServerPath(std::wstring&) { return kNotRegistered; }
HRESULT CWexKrTypeLibFile::SelfRegister(LPCWSTR, BOOL) { return E_NOTIMPL; }
