// CWexKrFile's own slots, the type descriptions and the factory.
#include <new>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "files/FileSeams.h"
#include "platform/FileKindReader.h"
#include "platform/Raii.h"
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

CWexKrFile::~CWexKrFile() {
    if (m_hOpen != INVALID_HANDLE_VALUE) CloseHandle(m_hOpen);
}

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

// The kind code of CWexFile::GetType, read the same way; the handle also
// gives what the rules, the same-file test and the check info ask of the file.
int KindOf(LPCWSTR path, orv::FileFacts* facts, orv::UniqueFile* file) {
    *facts = orv::FileFacts();
    if (!orv::files::PathFits(path)) return WEX_KIND_DATA;
    file->Reset(orv::OpenToReadKind(path));
    // A device (a serial port, a console) is never read: a read could wait for ever.
    if (!*file || GetFileType(file->Get()) != FILE_TYPE_DISK) {
        file->Reset();
        return WEX_KIND_DATA;
    }
    orv::FileFactsOfHandle(file->Get(), facts);
    return orv::FileKindOfOpenFile(file->Get(), path);
}

CWexKrFile* MakeOfKind(int kind, LPCWSTR path) {
    switch (kind) {
    case WEX_KIND_PROGRAM:
        return CWexKrExeFile::HasOleSelfRegistration(path) ? Make<CWexKrLocalServerFile>(path)
                                                           : Make<CWexKrExeFile>(path);
    case WEX_KIND_LIBRARY:
        return CWexKrDllFile::ExportsDllRegisterServer(path) ? Make<CWexKrInProcServerFile>(path)
                                                             : Make<CWexKrDllFile>(path);
    case WEX_KIND_TYPELIB:
        return Make<CWexKrTypeLibFile>(path);
    case WEX_KIND_TRUETYPE:
        return Make<CWexKrTrueTypeFontFile>(path);
    case WEX_KIND_RASTERFONT:
        return Make<CWexKrRasterFontFile>(path);
    case WEX_KIND_REGISTRYFILE:
        return Make<CWexKrRegFile>(path);
    default:
        return Make<CWexKrFile>(path);
    }
}

}  // namespace

CWexKrFile* CWexKrFile::CreateInstance(LPCWSTR pszPath, bool keepOpen) {
    orv::FileFacts facts;
    orv::UniqueFile open;
    const int kind = KindOf(pszPath, &facts, &open);
    CWexKrFile* file = MakeOfKind(kind, pszPath);
    if (file) {
        file->m_facts = facts;
        if (keepOpen && kind == WEX_KIND_DATA) file->m_hOpen = open.Detach();
    }
    return file;
}

HRESULT CWexKrFile::GetLastWriteTime(FILETIME* pft) const {
    if (m_facts.Known()) {
        *pft = m_facts.written;
        return S_OK;
    }
    return CWexFile::GetTimeStamp(m_szPath, pft, WEX_TIME_LASTWRITE);
}
