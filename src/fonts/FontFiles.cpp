// The font classes' readers: the TrueType name and version with their
// caches, and the raster font's module description. The table walking is
// core/FontTables; this side opens the file (others may only read it while
// it is read), converts single-byte text with the thread's ANSI code page
// and turns the file's last error into the result.
#include <string>

#include "core/FontTables.h"
#include "files/FileModel.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/Win32ByteSource.h"

using namespace orv;

namespace {

UniqueFile OpenForReading(LPCWSTR path) {
    return UniqueFile(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (cch <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], cch);
    return wide;
}

// No name found: the last error of the read as the result (S_OK when none).
HRESULT NothingFound(DWORD error) { return HResultFromWin32(static_cast<LONG>(error)); }

}  // namespace

HRESULT CWexKrTrueTypeFontFile::ReadNameTable(std::wstring& strName, CWexFileVersion& version) {
    version.Init();
    UniqueFile file = OpenForReading(m_szPath);
    if (!file) return NothingFound(GetLastError());
    Win32ByteSource source(file.Get());
    SfntNames names;
    ReadSfntNames(source, &names);
    if (names.versionFound) {
        version.wVerMaj1 = names.version[0];
        version.wVerMaj2 = names.version[1];
        version.wVerMin1 = names.version[2];
        version.wVerMin2 = names.version[3];
    }
    std::wstring name = FromAnsi(names.fullName);
    // Without a Macintosh full name the font is known by its Windows one.
    if (name.empty() && !names.windowsFullName.empty())
        name.assign(names.windowsFullName.begin(), names.windowsFullName.end());
    if (!names.nameFound && name.empty()) return NothingFound(source.LastError());
    strName = name;
    return S_OK;
}

HRESULT CWexKrTrueTypeFontFile::GetFontName(std::wstring& strName) {
    if (m_strFontName.empty()) {
        const HRESULT hr = ReadNameTable(m_strFontName, m_fontVersion);
        if (FAILED(hr)) return hr;
    }
    strName = m_strFontName;
    return S_OK;
}

HRESULT CWexKrTrueTypeFontFile::GetVersion(CWexFileVersion& version) {
    if (!m_fontVersion.IsValid()) {
        const HRESULT hr = ReadNameTable(m_strFontName, m_fontVersion);
        if (FAILED(hr)) return hr;
    }
    version = m_fontVersion;
    return S_OK;
}

HRESULT CWexKrRasterFontFile::GetFontName(std::wstring& strName) {
    UniqueFile file = OpenForReading(m_szPath);
    if (!file) return NothingFound(GetLastError());
    Win32ByteSource source(file.Get());
    std::string name;
    if (!ReadRasterFontName(source, &name)) return NothingFound(source.LastError());
    strName = FromAnsi(name);
    return S_OK;
}
