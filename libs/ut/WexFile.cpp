// CWexFile: kind, version resource, times, size and existence of a file.
#include "platform/WexUt.h"

#include <cstring>
#include <memory>
#include <new>

#include "UtCommon.h"
#include "core/FileKind.h"
#include "core/PeImage.h"
#include "platform/Raii.h"
#include "platform/FileKindReader.h"

using orv::ut::HrLastError;
using orv::ut::kHrPathTooLong;
using orv::ut::PathFits;

namespace {

// ---- version.dll, loaded from the system directory by full path ----

using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VersionApi {
    GetFileVersionInfoSizeWFn getSize = nullptr;
    GetFileVersionInfoWFn getInfo = nullptr;
    VerQueryValueWFn query = nullptr;
};

VersionApi g_versionApi;

template <typename Fn>
Fn ProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool LoadVersionApi() {
    WCHAR path[MAX_PATH];
    const LPCWSTR sysDir = CWexSystem::GetSysDir();
    const size_t dirLen = wcslen(sysDir);
    static const WCHAR kName[] = L"\\version.dll";
    if (dirLen == 0 || dirLen + ARRAYSIZE(kName) > MAX_PATH) return true;
    memcpy(path, sysDir, dirLen * sizeof(WCHAR));
    memcpy(path + dirLen, kName, sizeof(kName));
    // Kept for the life of the process: the library is never unloaded from DllMain.
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return true;
    VersionApi api;
    api.getSize = ProcAddress<GetFileVersionInfoSizeWFn>(module, "GetFileVersionInfoSizeW");
    api.getInfo = ProcAddress<GetFileVersionInfoWFn>(module, "GetFileVersionInfoW");
    api.query = ProcAddress<VerQueryValueWFn>(module, "VerQueryValueW");
    if (api.getSize && api.getInfo && api.query) g_versionApi = api;
    return true;
}

const VersionApi* GetVersionApi() {
    // Loaded by the first caller; callers on other threads wait for it.
    static const bool loaded = LoadVersionApi();
    (void)loaded;
    return g_versionApi.query ? &g_versionApi : nullptr;
}

HRESULT HrFromCode(DWORD e) { return HRESULT_FROM_WIN32(e); }

// Version resources are small (their length field is 16 bits); the size the
// system asks for is a few times that. Anything beyond is not believed.
constexpr DWORD kMaxVersionBlock = 1024 * 1024;

// The system's version functions map a module's whole claimed image; a
// damaged header or section table claiming gigabytes cost seconds per call
// under Wine for a file of a few kilobytes. No real module is that big, so
// the version resource of one that claims to be is not looked for.
constexpr uint64_t kMaxImageBytes = 256u << 20;
// The PE headers and a section table of 96 sections, the loader's limit.
constexpr DWORD kImageHeaderBytes = 4096;

// Whether the file is a PE module claiming more than kMaxImageBytes of memory.
bool ClaimsHugeImage(HANDLE file) {
    BYTE head[orv::kFileKindHeadBytes];
    DWORD headLen = 0;
    if (!ReadFile(file, head, sizeof(head), &headLen, nullptr)) return false;
    const uint32_t offset = orv::ModuleHeaderOffset(head, headLen);
    if (offset == 0) return false;
    BYTE header[kImageHeaderBytes];
    DWORD headerLen = 0;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !ReadFile(file, header, sizeof(header), &headerLen, nullptr))
        return false;
    return orv::ClaimedImageExtent(header, headerLen) > kMaxImageBytes;
}

// A file's version resource, as GetFileVersionInfoW copies it.
class VersionBlock {
public:
    // S_OK; HRESULT_FROM_WIN32 of the error when the file cannot be reached;
    // HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND) when it has no version resource.
    HRESULT Load(LPCWSTR path) {
        if (!PathFits(path)) return kHrPathTooLong;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return HrLastError();
        {
            // A file that cannot be opened here is left to the version functions, as before.
            orv::UniqueFile file(orv::OpenToReadKind(path));
            if (file && GetFileType(file.Get()) == FILE_TYPE_DISK && ClaimsHugeImage(file.Get()))
                return HrFromCode(ERROR_RESOURCE_TYPE_NOT_FOUND);
        }
        const VersionApi* api = GetVersionApi();
        if (!api) return HrFromCode(ERROR_MOD_NOT_FOUND);
        DWORD handle = 0;
        const DWORD size = api->getSize(path, &handle);
        if (size == 0 || size > kMaxVersionBlock) return HrFromCode(ERROR_RESOURCE_TYPE_NOT_FOUND);
        m_data.reset(new (std::nothrow) BYTE[size]);
        if (!m_data) return E_OUTOFMEMORY;
        memset(m_data.get(), 0, size);
        if (!api->getInfo(path, 0, size, m_data.get())) {
            m_data.reset();
            return HrFromCode(ERROR_RESOURCE_TYPE_NOT_FOUND);
        }
        m_size = size;
        m_api = api;
        return S_OK;
    }

    // The value at subBlock when it lies inside the block with unitSize * len bytes.
    bool Query(LPCWSTR subBlock, size_t unitSize, const void** value, UINT* len) const {
        *value = nullptr;
        *len = 0;
        if (!m_data) return false;
        void* p = nullptr;
        UINT n = 0;
        if (!m_api->query(m_data.get(), subBlock, &p, &n) || !p) return false;
        const BYTE* begin = m_data.get();
        const BYTE* at = static_cast<const BYTE*>(p);
        if (at < begin || at > begin + m_size) return false;
        const size_t room = static_cast<size_t>(begin + m_size - at);
        if (static_cast<size_t>(n) > room / unitSize) return false;
        *value = p;
        *len = n;
        return true;
    }

private:
    std::unique_ptr<BYTE[]> m_data;
    DWORD m_size = 0;
    const VersionApi* m_api = nullptr;
};

// "\StringFileInfo\LLLLCCCC\" followed by the value name.
constexpr size_t kMaxValueName = 128;

void AppendHex4(WCHAR*& out, WORD value) {
    static const WCHAR kDigits[] = L"0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4) *out++ = kDigits[(value >> shift) & 0xF];
}

void MakeStringQuery(WCHAR* out, WORD language, WORD codePage, LPCWSTR name, size_t nameLen) {
    static const WCHAR kPrefix[] = L"\\StringFileInfo\\";
    memcpy(out, kPrefix, sizeof(kPrefix) - sizeof(WCHAR));
    out += ARRAYSIZE(kPrefix) - 1;
    AppendHex4(out, language);
    AppendHex4(out, codePage);
    *out++ = L'\\';
    memcpy(out, name, nameLen * sizeof(WCHAR));
    out[nameLen] = 0;
}

HRESULT FileTimeOf(LPCWSTR path, FILETIME* ft, int selector) {
    if (!path) return E_POINTER;
    if (selector != WEX_TIME_CREATION && selector != WEX_TIME_LASTACCESS && selector != WEX_TIME_LASTWRITE)
        return E_INVALIDARG;
    if (!PathFits(path)) return kHrPathTooLong;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return HrLastError();
    *ft = selector == WEX_TIME_CREATION     ? data.ftCreationTime
          : selector == WEX_TIME_LASTACCESS ? data.ftLastAccessTime
                                            : data.ftLastWriteTime;
    return S_OK;
}

}  // namespace

int CWexFile::GetType(LPCWSTR pszPath) {
    if (!PathFits(pszPath)) return WEX_KIND_DATA;
    orv::UniqueFile file(orv::OpenToReadKind(pszPath));
    // A device (a serial port, a console) is never read: a read could wait for ever.
    if (!file || GetFileType(file.Get()) != FILE_TYPE_DISK) return WEX_KIND_DATA;
    return orv::FileKindOfOpenFile(file.Get(), pszPath);
}

HRESULT CWexFile::GetVersion(LPCWSTR pszPath, CWexFileVersion& version) {
    version.Init();
    if (!pszPath) return E_POINTER;
    VersionBlock block;
    HRESULT hr = block.Load(pszPath);
    if (FAILED(hr)) return hr;
    const void* value = nullptr;
    UINT len = 0;
    if (!block.Query(L"\\", 1, &value, &len) || len < sizeof(VS_FIXEDFILEINFO))
        return HrFromCode(ERROR_RESOURCE_TYPE_NOT_FOUND);
    VS_FIXEDFILEINFO info;
    memcpy(&info, value, sizeof(info));
    if (info.dwSignature != VS_FFI_SIGNATURE) return HrFromCode(ERROR_RESOURCE_TYPE_NOT_FOUND);
    version.Init(info.dwFileVersionMS, info.dwFileVersionLS);
    // 0.0.0.0 is no version.
    if (!version.IsValid()) return HrFromCode(ERROR_RESOURCE_DATA_NOT_FOUND);
    return S_OK;
}

HRESULT CWexFile::GetVersionInfo(LPCWSTR pszPath, LPCWSTR pszValueName, LPWSTR pszBuffer, DWORD cchBuffer) {
    if (pszBuffer && cchBuffer) pszBuffer[0] = 0;
    if (!pszPath || !pszValueName || (!pszBuffer && cchBuffer)) return E_POINTER;
    size_t nameLen = 0;
    while (nameLen <= kMaxValueName && pszValueName[nameLen]) ++nameLen;
    if (nameLen == 0 || nameLen > kMaxValueName || wcschr(pszValueName, L'\\')) return E_INVALIDARG;

    VersionBlock block;
    HRESULT hr = block.Load(pszPath);
    if (FAILED(hr)) return hr;

    // The first listed translation; without a list, U.S. English in Unicode, then in Windows Latin-1.
    WORD translations[2][2] = {{0x0409, 0x04B0}, {0x0409, 0x04E4}};
    size_t candidates = 2;
    const void* list = nullptr;
    UINT listLen = 0;
    if (block.Query(L"\\VarFileInfo\\Translation", 1, &list, &listLen) && listLen >= 2 * sizeof(WORD)) {
        memcpy(translations[0], list, 2 * sizeof(WORD));
        candidates = 1;
    }

    WCHAR query[32 + kMaxValueName];
    for (size_t i = 0; i < candidates; ++i) {
        MakeStringQuery(query, translations[i][0], translations[i][1], pszValueName, nameLen);
        const void* value = nullptr;
        UINT len = 0;
        if (!block.Query(query, sizeof(WCHAR), &value, &len)) continue;
        if (pszBuffer && cchBuffer) {
            const WCHAR* text = static_cast<const WCHAR*>(value);
            size_t n = 0;
            while (n < len && n + 1 < cchBuffer && text && text[n]) {
                pszBuffer[n] = text[n];
                ++n;
            }
            pszBuffer[n] = 0;
        }
        return S_OK;
    }
    return HrFromCode(ERROR_RESOURCE_NAME_NOT_FOUND);
}

HRESULT CWexFile::GetTimeStamp(LPCWSTR pszPath, FILETIME* pft, int selector) {
    if (!pft) return E_POINTER;
    *pft = FILETIME{};
    return FileTimeOf(pszPath, pft, selector);
}

HRESULT CWexFile::GetTimeStamp(LPCWSTR pszPath, SYSTEMTIME* pst, int selector) {
    if (!pst) return E_POINTER;
    *pst = SYSTEMTIME{};
    FILETIME utc{}, local{};
    HRESULT hr = FileTimeOf(pszPath, &utc, selector);
    if (FAILED(hr)) return hr;
    // One bias for every time (the current one), so that the order of two times is kept.
    SYSTEMTIME st{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return HrLastError();
    *pst = st;
    return S_OK;
}

HRESULT CWexFile::GetSize(LPCWSTR pszPath, DWORD* pdwSize) {
    if (!pdwSize) return E_POINTER;
    *pdwSize = 0;
    if (!pszPath) return E_POINTER;
    if (!PathFits(pszPath)) return kHrPathTooLong;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(pszPath, GetFileExInfoStandard, &data)) return HrLastError();
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return HrFromCode(ERROR_FILE_NOT_FOUND);
    if (data.nFileSizeHigh != 0) return HrFromCode(ERROR_ARITHMETIC_OVERFLOW);
    *pdwSize = data.nFileSizeLow;
    return S_OK;
}

BOOL CWexFile::DoesExist(LPCWSTR pszPath) {
    if (!PathFits(pszPath)) return FALSE;
    const DWORD attributes = GetFileAttributesW(pszPath);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
