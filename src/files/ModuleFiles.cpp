// Programs and libraries: the two COM server tests the factory and IsCOMServer share.
#include <windows.h>
#include <oleauto.h>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/ModuleImage.h"
#include "platform/TypeLibraryLock.h"
#include "platform/WexUt.h"

namespace {

const WCHAR kDllRegisterServer[] = L"DllRegisterServer";

// The OLE self-registration test on a path already in long-name form.
bool OleSelfRegistrationOf(LPCWSTR longPath) {
    if (CWexFile::GetVersionInfo(longPath, L"OLESelfRegister", nullptr, 0) == S_OK) return true;
    // A type library in the program also makes it a server. It is only
    // looked at: REGKIND_NONE keeps the test free of registry writes.
    orv::TypeLibraryLock lock;
    ITypeLib* typeLib = nullptr;
    if (FAILED(LoadTypeLibrary(longPath, &typeLib)) || !typeLib) return false;
    typeLib->Release();
    return true;
}

}  // namespace

bool CWexKrExeFile::HasOleSelfRegistration(LPCWSTR pszPath) {
    WCHAR longPath[MAX_PATH];
    orv::files::LongNameOf(pszPath, longPath);
    return longPath[0] != 0 && OleSelfRegistrationOf(longPath);
}

BOOL CWexKrExeFile::IsCOMServer() { return OleSelfRegistrationOf(m_szPath) ? TRUE : FALSE; }

void CWexKrExeFile::SetAppPaths(LPCWSTR pszAppPaths) {
    if (pszAppPaths) m_strAppPaths = pszAppPaths;
}

bool CWexKrDllFile::ExportsDllRegisterServer(LPCWSTR pszPath) {
    orv::ExportSet exports;
    ReadExportTable(pszPath, exports);
    return exports.count(kDllRegisterServer) != 0;
}

BOOL CWexKrDllFile::IsCOMServer() {
    if (!m_bExportListLoaded) {
        ReadExportTable(m_szPath, m_exports);
        m_bExportListLoaded = 1;
    }
    return m_exports.count(kDllRegisterServer) != 0 ? TRUE : FALSE;
}

// RunDllInstallCommand: ProgramAndLibraryRules.cpp.
