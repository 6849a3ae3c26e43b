#include "files/FileOps.h"

#include <shlwapi.h>
#include <cwchar>

#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

namespace orv::files {

bool PathFits(LPCWSTR path) {
    if (!path) return false;
    for (size_t i = 0; i < MAX_PATH; ++i) {
        if (path[i] == 0) return true;
    }
    return false;
}

HRESULT RefusePathTooLong(LPCWSTR path) {
    LogWin32Format(WEX_SEV_ERROR, ERROR_FILENAME_EXCED_RANGE, L"Path longer than %d characters refused: '%s'",
                   MAX_PATH - 1, path ? path : L"");
    return kWexKrHrPathTooLong;
}

void LongNameOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    if (!PathFits(path)) return;
    if (wcschr(path, L'~')) {
        CWexPath::PathMakeLongName(path, out, MAX_PATH);
        out[MAX_PATH - 1] = 0;
    } else {
        wcscpy(out, path);
    }
}

namespace {

// Full path without a trailing backslash (a drive's root keeps it).
bool FullForm(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    const DWORD n = GetFullPathNameW(path, MAX_PATH, out, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    size_t len = n;
    const bool driveRoot = len == 3 && out[1] == L':';
    if (len > 1 && out[len - 1] == L'\\' && !driveRoot) out[--len] = 0;
    return true;
}

}  // namespace

bool IsSameFile(LPCWSTR path1, LPCWSTR path2) {
    if (!PathFits(path1) || !PathFits(path2) || !*path1 || !*path2) return false;
    WCHAR full1[MAX_PATH], full2[MAX_PATH];
    if (!FullForm(path1, full1) || !FullForm(path2, full2)) return false;
    // The current folder may bring a short element into a relative path.
    if (wcschr(full1, L'~') || wcschr(full2, L'~')) return CWexPath::PathIsEqual(path1, path2) != FALSE;
    return CompareStringOrdinal(full1, -1, full2, -1, TRUE) == CSTR_EQUAL;
}

bool IsInUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_USER_MAPPED_FILE || error == ERROR_ACCESS_DENIED;
}

bool FolderOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    if (!PathFits(path)) return false;
    wcscpy(out, path);
    PathRemoveFileSpecW(out);
    return true;
}

DWORD AttributesWithout(DWORD attributes, DWORD bits) {
    const DWORD rest = attributes & ~bits;
    return rest ? rest : FILE_ATTRIBUTE_NORMAL;
}

void RemoveReadOnlyBeforeOverwrite(LPCWSTR target) {
    const DWORD attributes = GetFileAttributesW(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
    LogWarning(L"Target file has read only attribute: Attempting to remove attribute for overwriting");
    if (SetFileAttributesW(target, AttributesWithout(attributes, FILE_ATTRIBUTE_READONLY))) {
        LogInfo(L"Readonly attribute removed successfully");
    } else {
        LogWin32(WEX_SEV_WARNING, GetLastError(), L"Readonly attribute could not be removed");
    }
}

void ClearReadOnly(LPCWSTR path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path, AttributesWithout(attributes, FILE_ATTRIBUTE_READONLY));
}

HRESULT PrepareTargetFolder(LPCWSTR target) {
    WCHAR folder[MAX_PATH];
    if (!FolderOf(target, folder)) return RefusePathTooLong(target);
    if (PathIsDirectoryW(folder)) return S_OK;
    LogInfo(L"Target directory does not exist: Attempting to create directory %s:", folder);
    const HRESULT hr = CreateDirectoryTree(folder);
    if (FAILED(hr)) {
        LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(hr) & 0xFFFF, L"Directory creation failed: Aborting file installation");
        return hr;
    }
    LogInfo(L"Directory creation succeeded");
    return S_OK;
}

namespace {

LONG g_temporaryCounter = 0;

// "_orv" and eight hexadecimal digits from the process id and a counter;
// a name that happens to be taken is skipped by the caller.
void TemporaryName(WCHAR (&name)[16]) {
    const DWORD counter = static_cast<DWORD>(InterlockedIncrement(&g_temporaryCounter));
    const DWORD pid = GetCurrentProcessId();
    const DWORD mixed = (pid * 0x9E3779B1u) ^ (counter * 0x85EBCA6Bu) ^ (counter << 20);
    _snwprintf(name, 16, L"_orv%08lX", static_cast<unsigned long>(mixed));
    name[15] = 0;
}

// folder + name (folder as PathRemoveFileSpecW leaves it: empty, "X:", "X:\" or "X:\dir").
bool JoinInFolder(LPCWSTR folder, LPCWSTR name, WCHAR (&out)[MAX_PATH]) {
    const size_t folderLen = wcslen(folder);
    const bool separator = folderLen > 0 && folder[folderLen - 1] != L'\\' && folder[folderLen - 1] != L':';
    const size_t total = folderLen + (separator ? 1 : 0) + wcslen(name);
    if (total >= MAX_PATH) return false;
    wcscpy(out, folder);
    if (separator) wcscat(out, L"\\");
    wcscat(out, name);
    return true;
}

}  // namespace

DWORD TemporaryCopy::Create(LPCWSTR source, LPCWSTR target) {
    Discard();
    WCHAR folder[MAX_PATH];
    if (!FolderOf(target, folder)) return ERROR_FILENAME_EXCED_RANGE;
    // A name taken by somebody else is never touched: the copy only ever
    // creates a new file, and a collision tries the next name.
    for (int attempt = 0; attempt < 64; ++attempt) {
        WCHAR name[16];
        TemporaryName(name);
        if (!JoinInFolder(folder, name, m_szPath)) {
            m_szPath[0] = 0;
            return ERROR_FILENAME_EXCED_RANGE;
        }
        if (GetFileAttributesW(m_szPath) != INVALID_FILE_ATTRIBUTES) continue;
        if (CopyFileW(source, m_szPath, TRUE)) {
            m_bLive = true;
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        // A copy that broke off may have left a part of the file: the name
        // was free before, so what is there now is ours.
        const DWORD left = GetFileAttributesW(m_szPath);
        if (left != INVALID_FILE_ATTRIBUTES && !(left & FILE_ATTRIBUTE_DIRECTORY)) {
            m_bLive = true;
            Discard();
        }
        m_szPath[0] = 0;
        return error ? error : ERROR_GEN_FAILURE;
    }
    m_szPath[0] = 0;
    return ERROR_FILE_EXISTS;
}

DWORD TemporaryCopy::MoveOnto(LPCWSTR target) {
    if (!m_bLive) return ERROR_FILE_NOT_FOUND;
    if (MoveFileExW(m_szPath, target, MOVEFILE_REPLACE_EXISTING)) {
        m_bLive = false;
        m_szPath[0] = 0;
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    Discard();
    return error ? error : ERROR_GEN_FAILURE;
}

void TemporaryCopy::Discard() {
    if (!m_bLive) return;
    // The copy carries the source's attributes; a read-only one would refuse deletion.
    SetFileAttributesW(m_szPath, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(m_szPath);
    m_bLive = false;
    m_szPath[0] = 0;
}

DWORD CopyOnto(LPCWSTR source, LPCWSTR target) {
    if (GetFileAttributesW(target) == INVALID_FILE_ATTRIBUTES) {
        if (CopyFileW(source, target, TRUE)) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            // Nothing was there: a part of the file now there is the copy's.
            const DWORD left = GetFileAttributesW(target);
            if (left != INVALID_FILE_ATTRIBUTES && !(left & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(target);
            }
            return error ? error : ERROR_GEN_FAILURE;
        }
        // It appeared meanwhile: replace it like any existing target.
    }
    TemporaryCopy copy;
    const DWORD error = copy.Create(source, target);
    if (error != ERROR_SUCCESS) return error;
    return copy.MoveOnto(target);
}

}  // namespace orv::files
