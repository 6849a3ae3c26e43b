// CWexKrTypeLibFile: a stand-alone type library file. Until its own rule is
// written it installs as a plain versioned file and knows of no registration.
#include "files/FileModel.h"

HRESULT CWexKrTypeLibFile::GetRegisteredServerPath(std::wstring&) { return S_FALSE; }
HRESULT CWexKrTypeLibFile::SelfRegister(LPCWSTR, BOOL) { return E_NOTIMPL; }
