#include "files/ModuleImage.h"

#include <cstdint>
#include <string>

namespace {

// Single-byte text of an image: the thread's ANSI code page, as the loader
// would read the names. Every ANSI code page maps the bytes below 0x80 to the
// same characters as ASCII, so names made of those alone (nearly all) are
// widened without asking the system.
std::wstring ToWide(std::string_view text) {
    if (text.empty() || text.size() > INT32_MAX) return std::wstring();
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::wstring(text.begin(), text.end());
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, &wide[0], needed);
    return wide;
}

void ToLower(std::wstring& text) {
    if (!text.empty() && text.size() <= UINT32_MAX) CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
}

const orv::PeTextConverter kSystemText{&ToWide, &ToLower};

// Releases what MapImage obtained when it goes out of scope.
class MappedImage {
public:
    explicit MappedImage(LPCWSTR path) { m_ok = MapImage(path, &m_image); }
    ~MappedImage() { UnmapImage(&m_image); }
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;
    bool Ok() const { return m_ok; }
    const WexKrModuleImage& Image() const { return m_image; }

private:
    WexKrModuleImage m_image;
    bool m_ok = false;
};

}  // namespace

bool MapImage(LPCWSTR pszPath, WexKrModuleImage* pImage) {
    if (!pImage) return false;
    *pImage = WexKrModuleImage();
    if (!pszPath) return false;
    pImage->hFile = CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (pImage->hFile == INVALID_HANDLE_VALUE || GetFileType(pImage->hFile) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER size;
    // An empty file cannot be mapped; one larger than the address space cannot be viewed.
    if (!GetFileSizeEx(pImage->hFile, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
        return false;
    pImage->hMapping = CreateFileMappingW(pImage->hFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!pImage->hMapping) return false;
    pImage->pView = MapViewOfFile(pImage->hMapping, FILE_MAP_READ, 0, 0, 0);
    if (!pImage->pView) return false;
    pImage->cbView = static_cast<size_t>(size.QuadPart);
    // Every header field is read through bounds checks against the view.
    return orv::ReadImageHeaders(pImage->pView, pImage->cbView, kWexKrOwnPeMagic, &pImage->headers);
}

void UnmapImage(WexKrModuleImage* pImage) {
    if (!pImage) return;
    if (pImage->pView) UnmapViewOfFile(pImage->pView);
    if (pImage->hMapping) CloseHandle(pImage->hMapping);
    if (pImage->hFile != INVALID_HANDLE_VALUE) CloseHandle(pImage->hFile);
    *pImage = WexKrModuleImage();
}

size_t ReadExportTable(LPCWSTR pszPath, orv::ExportSet& exports) {
    MappedImage image(pszPath);
    if (!image.Ok()) return 0;
    return orv::ReadExportTable(image.Image().pView, image.Image().cbView, kWexKrOwnPeMagic, exports, kSystemText);
}

size_t ReadImportTable(LPCWSTR pszPath, std::vector<orv::ImportedModule>& modules) {
    MappedImage image(pszPath);
    if (!image.Ok()) return 0;
    return orv::ReadImportTable(image.Image().pView, image.Image().cbView, kWexKrOwnPeMagic, modules, kSystemText);
}

void ReadImportAndExportTables(LPCWSTR pszPath, std::vector<orv::ImportedModule>& modules, orv::ExportSet& exports) {
    MappedImage image(pszPath);
    if (!image.Ok()) return;
    orv::ReadImportTable(image.Image().pView, image.Image().cbView, kWexKrOwnPeMagic, modules, kSystemText);
    orv::ReadExportTable(image.Image().pView, image.Image().cbView, kWexKrOwnPeMagic, exports, kSystemText);
}
