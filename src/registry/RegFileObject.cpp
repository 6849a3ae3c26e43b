// CWexKrRegFile: a "Registry file" is applied, not copied.
#include "files/FileModel.h"
#include "registry/RegFile.h"

// The flags have no effect: every value of the file is written.
HRESULT CWexKrRegFile::Install(LPCWSTR pszTarget, DWORD) {
    return orv::InstallRegistrationFile(m_szPath, pszTarget);
}

HRESULT CWexKrRegFile::UnInstall(LPCWSTR pszDirectory) {
    return orv::UnInstallRegistrationFile(m_szPath, pszDirectory);
}
