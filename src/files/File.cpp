// CWexKrFile's own slots, the type descriptions and the factory.
#include <new>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/FileSeams.h"
#include "platform/WexUt.h"

namespace orv::files {

FileEngineSeams& Seams() {
    static FileEngineSeams seams;
    return seams;
}

}  // namespace orv::files

CWexKrFile::CWexKrFile(LPCWSTR pszPath) {
    orv::files::LongNameOf(pszPath, m_szPath);
}

CWexKrFile::~CWexKrFile() = default;

void CWexKrFile::Destroy() { delete this; }

DWORD CWexKrFile::SetInstallMode(DWORD dwInstallMode) {
    m_dwInstallMode = dwInstallMode;
    return m_dwInstallMode;
}

DWORD CWexKrFile::GetInstallMode() { return m_dwInstallMode; }

// PreparePostRebootCopy and PreparePostRebootDelete: ProgramAndLibraryRules.cpp.

LPCWSTR CWexKrFile::GetTypeDescription() { return L"Data file"; }
LPCWSTR CWexKrRegFile::GetTypeDescription() { return L"Registry file"; }
LPCWSTR CWexKrExecutableFile::GetTypeDescription() { return L"Executable module file"; }
LPCWSTR CWexKrExeFile::GetTypeDescription() { return L"Executable file"; }
LPCWSTR CWexKrDllFile::GetTypeDescription() { return L"Dynamic link library file"; }
LPCWSTR CWexKrLocalServerFile::GetTypeDescription() { return L"Local COM server file"; }
LPCWSTR CWexKrInProcServerFile::GetTypeDescription() { return L"InProc COM server file"; }
LPCWSTR CWexKrTypeLibFile::GetTypeDescription() { return L"Type library file"; }
LPCWSTR CWexKrFontFile::GetTypeDescription() { return L"Font file"; }
LPCWSTR CWexKrTrueTypeFontFile::GetTypeDescription() { return L"True type font file"; }
LPCWSTR CWexKrRasterFontFile::GetTypeDescription() { return L"Raster font file"; }
LPCWSTR CWexKrLinkFile::GetTypeDescription() { return L"Link file"; }

namespace {

template <typename T>
CWexKrFile* Make(LPCWSTR path) {
    const orv::files::FileEngineSeams& seams = orv::files::Seams();
    if (seams.pfnObjectAllocationFails && seams.pfnObjectAllocationFails()) return nullptr;
    return new (std::nothrow) T(path);
}

}  // namespace

CWexKrFile* CWexKrFile::CreateInstance(LPCWSTR pszPath) {
    switch (CWexFile::GetType(pszPath)) {
    case WEX_KIND_PROGRAM:
        return CWexKrExeFile::HasOleSelfRegistration(pszPath) ? Make<CWexKrLocalServerFile>(pszPath)
                                                              : Make<CWexKrExeFile>(pszPath);
    case WEX_KIND_LIBRARY:
        return CWexKrDllFile::ExportsDllRegisterServer(pszPath) ? Make<CWexKrInProcServerFile>(pszPath)
                                                                : Make<CWexKrDllFile>(pszPath);
    case WEX_KIND_TYPELIB:
        return Make<CWexKrTypeLibFile>(pszPath);
    case WEX_KIND_TRUETYPE:
        return Make<CWexKrTrueTypeFontFile>(pszPath);
    case WEX_KIND_RASTERFONT:
        return Make<CWexKrRasterFontFile>(pszPath);
    case WEX_KIND_REGISTRYFILE:
        return Make<CWexKrRegFile>(pszPath);
    default:
        return Make<CWexKrFile>(pszPath);
    }
}
