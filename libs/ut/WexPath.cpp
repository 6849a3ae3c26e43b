// CWexPath: comparison and canonical forms of paths and argument strings.
#include "platform/WexUt.h"

#include <cstring>
#include <string>
#include <vector>

#include "UtCommon.h"
#include "core/CommandLine.h"
#include "platform/FileFacts.h"
#include "platform/PathText.h"
#include "platform/Raii.h"
#include "platform/TextCase.h"

using orv::ut::PathFits;

namespace {

bool IsSeparator(WCHAR c) { return c == L'\\' || c == L'/'; }

enum class LongForm { kDone, kNothingExists, kOverflow };

// Long form of the longest leading part of path that exists, followed by the
// rest of path unchanged. path fits MAX_PATH.
LongForm LongFormOfExistingPart(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    const size_t len = wcslen(path);
    WCHAR part[MAX_PATH];
    memcpy(part, path, (len + 1) * sizeof(WCHAR));
    size_t cut = len;
    for (;;) {
        if (cut > 0) {
            part[cut] = 0;
            WCHAR longer[MAX_PATH];
            const DWORD n = GetLongPathNameW(part, longer, MAX_PATH);
            if (n >= MAX_PATH) return LongForm::kOverflow;
            if (n > 0) {
                const size_t tail = len - cut;
                if (n + tail >= MAX_PATH) return LongForm::kOverflow;
                memcpy(out, longer, n * sizeof(WCHAR));
                memcpy(out + n, path + cut, (tail + 1) * sizeof(WCHAR));
                return LongForm::kDone;
            }
        }
        // Back to the separator before the last component tried.
        size_t start = cut;
        while (start > 0 && !IsSeparator(path[start - 1])) --start;
        if (start == 0) return LongForm::kNothingExists;
        cut = start - 1;
        while (cut > 0 && IsSeparator(path[cut - 1])) --cut;
    }
}

// Full path, long names where they exist, no trailing backslash (but for a
// drive's root), upper case. False for a path that is empty, too long or
// whose canonical form does not fit.
bool Canonical(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    if (!PathFits(path) || path[0] == 0) return false;
    WCHAR full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    WCHAR longer[MAX_PATH];
    switch (LongFormOfExistingPart(full, longer)) {
    case LongForm::kOverflow:
        return false;
    case LongForm::kNothingExists:
        memcpy(longer, full, (n + 1) * sizeof(WCHAR));
        break;
    case LongForm::kDone:
        break;
    }
    size_t len = wcslen(longer);
    const bool driveRoot = len == 3 && longer[1] == L':';
    if (len > 1 && longer[len - 1] == L'\\' && !driveRoot) longer[--len] = 0;
    const int mapped = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, longer, static_cast<int>(len + 1), out, MAX_PATH);
    if (mapped <= 0 || mapped > MAX_PATH) {
        out[0] = 0;
        return false;
    }
    out[MAX_PATH - 1] = 0;
    return true;
}

// The text PathIsEqual compares first (platform/PathText.h).
bool FullForm(LPCWSTR path, WCHAR (&out)[MAX_PATH]) { return orv::FullPathText(path, out); }

// ntdll's NtQueryInformationFile: a file's index without the volume query of
// GetFileInformationByHandle, which costs several times the open under Wine.
// Null where there is none (Windows 9x).
using QueryInformationFileFn = LONG(WINAPI*)(HANDLE, void* ioStatus, void* info, ULONG length, int infoClass);
QueryInformationFileFn QueryInformationFile() {
    static const QueryInformationFileFn fn = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");  // in every NT process: nothing is loaded
        return ntdll ? reinterpret_cast<QueryInformationFileFn>(
                           reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")))
                     : nullptr;
    }();
    return fn;
}

// The file index of an open file (0: none known).
ULONGLONG IndexOf(HANDLE file) {
    if (const QueryInformationFileFn query = QueryInformationFile()) {
        struct { ULONG_PTR status, information; } io = {0, 0};  // IO_STATUS_BLOCK
        LARGE_INTEGER index;
        index.QuadPart = 0;
        constexpr int kFileInternalInformation = 6;
        if (query(file, &io, &index, sizeof(index), kFileInternalInformation) >= 0)
            return static_cast<ULONGLONG>(index.QuadPart);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return 0;
    return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

enum class Identity { kSame, kDifferent, kUnknown };

// Whether two existing files or folders are one, by the file system: one
// file reads the same through every name, and two names of one file give
// the same volume serial number and file index. Each is opened for its
// attributes only and with every sharing mode, so no holder keeps it from
// being asked. kUnknown when either is missing or cannot be asked, or when
// the file system gives no index (some network file systems give 0). Before
// that, what the attributes say: sizes, last write times or change times
// that differ are two files (a copy keeps the size and the write time, but
// its record changed when it was made).
Identity IdentityOf(LPCWSTR a, LPCWSTR b) {
    orv::FileFacts fa, fb;
    // b first: in an install it is the target, the one more often missing.
    if (!orv::FileFactsOfPath(b, &fb) || !orv::FileFactsOfPath(a, &fa)) return Identity::kUnknown;
    if (orv::FactsTellApart(fa, fb)) return Identity::kDifferent;
    const auto open = [](LPCWSTR path) {
        return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    orv::UniqueFile ha(open(a)), hb(open(b));
    if (!ha || !hb) return Identity::kUnknown;
    const ULONGLONG indexA = IndexOf(ha.Get()), indexB = IndexOf(hb.Get());
    if (indexA == 0 || indexB == 0) return Identity::kUnknown;
    if (indexA != indexB) return Identity::kDifferent;
    // One index on two volumes would be two files.
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!GetFileInformationByHandle(ha.Get(), &ia) || !GetFileInformationByHandle(hb.Get(), &ib))
        return Identity::kUnknown;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber ? Identity::kSame : Identity::kDifferent;
}

// Copies text (shorter than cch) into out.
void CopyInto(LPWSTR out, LPCWSTR text, size_t len) { memcpy(out, text, (len + 1) * sizeof(WCHAR)); }

}  // namespace

BOOL CWexPath::PathIsEqual(LPCWSTR pszPath1, LPCWSTR pszPath2) {
    WCHAR a[MAX_PATH], b[MAX_PATH];
    if (!FullForm(pszPath1, a) || !FullForm(pszPath2, b)) return FALSE;
    if (orv::EqualIgnoringCase(a, b)) return TRUE;
    // Other texts may still name one file: another drive letter onto the same
    // folder, a share of a local folder, a hard link. When both exist, the
    // file system says.
    switch (IdentityOf(a, b)) {
    case Identity::kSame: return TRUE;
    case Identity::kDifferent: return FALSE;
    case Identity::kUnknown: break;
    }
    // Otherwise the texts decide, with long names where a short one may hide.
    if (!wcschr(a, L'~') && !wcschr(b, L'~')) return FALSE;
    WCHAR longA[MAX_PATH], longB[MAX_PATH];
    if (!Canonical(a, longA) || !Canonical(b, longB)) return FALSE;
    return wcscmp(longA, longB) == 0;
}

BOOL CWexPath::ArgumentsEqual(LPCWSTR pszArgs1, LPCWSTR pszArgs2) {
    try {
        const std::vector<std::wstring> a = orv::SplitArguments(pszArgs1);
        const std::vector<std::wstring> b = orv::SplitArguments(pszArgs2);
        if (a.size() != b.size()) return FALSE;
        for (size_t i = 0; i < a.size(); ++i) {
            if (!orv::EqualIgnoringCase(a[i].c_str(), a[i].size(), b[i].c_str(), b[i].size())) return FALSE;
        }
        return TRUE;
    } catch (...) {
        return FALSE;  // out of memory: nothing can be said to match
    }
}

LPWSTR CWexPath::PathMakeUnique(LPCWSTR pszPath, LPWSTR pszOut, DWORD cchOut) {
    if (!pszOut || cchOut == 0) return pszOut;
    WCHAR canonical[MAX_PATH];
    const bool ok = Canonical(pszPath, canonical);  // before pszOut is written: they may be one buffer
    pszOut[0] = 0;
    if (!ok) return pszOut;
    const size_t len = wcslen(canonical);
    if (len < cchOut) CopyInto(pszOut, canonical, len);
    return pszOut;
}

LPWSTR CWexPath::PathMakeLongName(LPCWSTR pszPath, LPWSTR pszOut, DWORD cchOut) {
    if (!pszOut || cchOut == 0) return pszOut;
    if (!PathFits(pszPath)) {
        pszOut[0] = 0;
        return pszOut;
    }
    WCHAR input[MAX_PATH];
    const size_t inputLen = wcslen(pszPath);
    CopyInto(input, pszPath, inputLen);  // pszOut may be pszPath
    pszOut[0] = 0;
    if (inputLen >= cchOut) return pszOut;
    WCHAR longer[MAX_PATH];
    if (inputLen > 0 && LongFormOfExistingPart(input, longer) == LongForm::kDone) {
        const size_t len = wcslen(longer);
        if (len < cchOut) {
            CopyInto(pszOut, longer, len);
            return pszOut;
        }
    }
    CopyInto(pszOut, input, inputLen);
    return pszOut;
}
