#include "files/FileOps.h"

#include <shlwapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <set>
#include <string>

#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"
#include "files/FolderIndex.h"
#include "platform/KrLog.h"
#include "platform/NtFileApi.h"
#include "platform/Raii.h"
#include "platform/PathText.h"
#include "platform/TextCase.h"
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

bool IsSameFile(LPCWSTR path1, LPCWSTR path2) {
    if (!PathFits(path1) || !PathFits(path2) || !*path1 || !*path2) return false;
    return CWexPath::PathIsEqual(path1, path2) != FALSE;
}

bool IsSameFile(LPCWSTR path1, const FileFacts& facts1, LPCWSTR path2, const FileFacts& facts2) {
    // As PathIsEqual decides: the same text first.
    WCHAR a[MAX_PATH], b[MAX_PATH];
    if (!FullPathText(path1, a) || !FullPathText(path2, b)) return false;
    if (EqualIgnoringCase(a, b)) return true;
    // A second path that names nothing: only the same long form, where a short name may hide.
    if (!facts2.Known()) return (wcschr(a, L'~') || wcschr(b, L'~')) && IsSameFile(path1, path2);
    if (FactsTellApart(facts1, facts2)) return false;
    return IsSameFile(path1, path2);
}

namespace {

HRESULT RefuseFolder(LPCWSTR path) {
    LogWin32Format(WEX_SEV_ERROR, kWexKrErrorDirectoryNotSupported, L"Not a file: '%s' is a folder or a drive root",
                   path);
    return kWexKrHrNotAFileFolder;
}

HRESULT RefuseDevice(LPCWSTR path) {
    LogWin32Format(WEX_SEV_ERROR, ERROR_INVALID_NAME, L"Not a file: '%s' is a device", path);
    return kWexKrHrNotAFileDevice;
}

bool StartsWithIgnoringCase(LPCWSTR text, LPCWSTR prefix) {
    const size_t n = wcslen(prefix);
    return wcslen(text) >= n && EqualIgnoringCase(text, n, prefix, n);
}

// The system's full form of a device name: "\\.\" and a name without a
// folder ("\\.\COM1", "\\.\nul", "\\.\C:"), or a pipe or mailslot. The
// reserved names (CON, NUL, COM1, LPT1, ... in any folder, with any
// extension) come back from GetFullPathNameW in this form.
bool IsDeviceForm(LPCWSTR full) {
    if (wcsncmp(full, L"\\\\.\\", 4) != 0) return false;
    const LPCWSTR rest = full + 4;
    return !wcschr(rest, L'\\') || StartsWithIgnoringCase(rest, L"pipe\\") ||
           StartsWithIgnoringCase(rest, L"mailslot\\");
}

}  // namespace

HRESULT RefuseIfFolder(LPCWSTR path) {
    const DWORD attributes = path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return RefuseFolder(path);
    return S_OK;
}

HRESULT LookAtTarget(LPCWSTR target, FileFacts* facts) {
    if (FileFactsOfPath(target, facts) && (facts->attributes & FILE_ATTRIBUTE_DIRECTORY)) return RefuseFolder(target);
    return S_OK;
}

HRESULT RefuseIfNotAFile(LPCWSTR path, bool folderAllowed, DWORD* attributes) {
    if (attributes) *attributes = INVALID_FILE_ATTRIBUTES;
    if (!path || !*path) return S_OK;
    WCHAR full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n > 0 && n < MAX_PATH && IsDeviceForm(full)) return RefuseDevice(path);
    if (folderAllowed && !attributes) return S_OK;
    const DWORD read = GetFileAttributesW(path);
    if (attributes) *attributes = read;
    if (!folderAllowed && read != INVALID_FILE_ATTRIBUTES && (read & FILE_ATTRIBUTE_DIRECTORY)) return RefuseFolder(path);
    return S_OK;
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

void ClearReadOnlyAndSystem(LPCWSTR target) {
    DWORD attributes = GetFileAttributesW(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        LogInfo(L"Target file is read only");
        attributes = AttributesWithout(attributes, FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(target, attributes);
    }
    if (attributes & FILE_ATTRIBUTE_SYSTEM) {
        LogInfo(L"Target file is system file");
        SetFileAttributesW(target, AttributesWithout(attributes, FILE_ATTRIBUTE_SYSTEM));
    }
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

bool ExtendedLengthPath(LPCWSTR path, WCHAR* out, size_t cchOut) {
    if (cchOut == 0) return false;
    out[0] = 0;
    WCHAR full[kTemporaryPathChars];
    const DWORD n = GetFullPathNameW(path, kTemporaryPathChars, full, nullptr);
    if (n == 0 || n >= kTemporaryPathChars) return false;
    LPCWSTR prefix = L"\\\\?\\";
    LPCWSTR rest = full;
    if (wcsncmp(full, L"\\\\?\\", 4) == 0 || wcsncmp(full, L"\\\\.\\", 4) == 0) {
        rest = full + 4;
    } else if (full[0] == L'\\' && full[1] == L'\\') {
        prefix = L"\\\\?\\UNC\\";
        rest = full + 2;
    }
    if (wcslen(prefix) + wcslen(rest) >= cchOut) return false;
    wcscpy(out, prefix);
    wcscat(out, rest);
    return true;
}

namespace {

LONG g_temporaryCounter = 0;

// The previous file a swap moves aside: "_orv" and eight hexadecimal digits
// from the process id and a counter; a name that happens to be taken is
// skipped by the caller.
void AsideName(WCHAR (&name)[24]) {
    const DWORD counter = static_cast<DWORD>(InterlockedIncrement(&g_temporaryCounter));
    const DWORD pid = GetCurrentProcessId();
    const DWORD mixed = (pid * 0x9E3779B1u) ^ (counter * 0x85EBCA6Bu) ^ (counter << 20);
    _snwprintf(name, 24, L"_orv%08lX", static_cast<unsigned long>(mixed));
    name[23] = 0;
}

// A temporary copy names its owner: "_orv", the process id and a counter,
// eight hexadecimal digits each. A copy whose owner has ended is stale.
void CopyName(WCHAR (&name)[24]) {
    const DWORD counter = static_cast<DWORD>(InterlockedIncrement(&g_temporaryCounter));
    _snwprintf(name, 24, L"_orv%08lX%08lX", static_cast<unsigned long>(GetCurrentProcessId()),
               static_cast<unsigned long>(counter));
    name[23] = 0;
}

// The owner's process id of a file named like a temporary copy; false for
// any other name (a previous file moved aside, "_orvtmp" copies, ...).
bool CopyOwner(LPCWSTR name, DWORD* pid) {
    if (_wcsnicmp(name, L"_orv", 4) != 0 || wcslen(name) != 20) return false;
    for (int i = 4; i < 20; ++i)
        if (!iswxdigit(name[i])) return false;
    WCHAR digits[9];
    wcsncpy(digits, name + 4, 8);
    digits[8] = 0;
    *pid = wcstoul(digits, nullptr, 16);
    return true;
}

// True when the owner of a copy made at `made` has ended: no process has its
// id, the process that has it started after the copy was made (the id was
// given out again), or it has exited. A process that cannot be asked is
// taken to be at work: its copy is never touched.
bool OwnerEnded(DWORD pid, const FILETIME& made) {
    if (pid == GetCurrentProcessId()) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    FILETIME created, exited, kernelTime, userTime;
    if (!ended && GetProcessTimes(process, &created, &exited, &kernelTime, &userTime))
        ended = CompareFileTime(&created, &made) > 0;
    CloseHandle(process);
    return ended;
}

bool JoinInFolder(LPCWSTR folder, LPCWSTR name, WCHAR (&out)[kTemporaryPathChars]);

// The size and time of last change of an open file.
struct FileState {
    LARGE_INTEGER size{};
    FILETIME written{};
    bool operator==(const FileState& o) const {
        return size.QuadPart == o.size.QuadPart && CompareFileTime(&written, &o.written) == 0;
    }
};

bool StateOf(HANDLE file, FileState* state) {
    return GetFileSizeEx(file, &state->size) && GetFileTime(file, nullptr, nullptr, &state->written);
}

// Folders whose stale copies this process has already removed.
class CleanedFolders {
public:
    CleanedFolders() { InitializeCriticalSection(&m_lock); }
    // True the first time a folder is named.
    bool First(LPCWSTR folder) {
        std::wstring key = folder;
        CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
        EnterCriticalSection(&m_lock);
        bool first = false;
        try {
            first = m_folders.insert(key).second;
        } catch (...) {
        }
        LeaveCriticalSection(&m_lock);
        return first;
    }

private:
    CRITICAL_SECTION m_lock;
    std::set<std::wstring> m_folders;
};

// Removes the copies that processes which ended left in the folder (killed
// before their copy took its target's name), once per folder and process.
// A copy is a duplicate of its source, so removing one never loses a file.
void RemoveStaleCopies(LPCWSTR folder) {
    static CleanedFolders* cleaned = new (std::nothrow) CleanedFolders;  // lives as long as the process
    if (!cleaned || !cleaned->First(folder)) return;
    WCHAR pattern[kTemporaryPathChars];
    if (!JoinInFolder(folder, L"_orv*", pattern)) return;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        DWORD pid = 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !CopyOwner(found.cFileName, &pid) ||
            !OwnerEnded(pid, found.ftCreationTime))
            continue;
        WCHAR path[kTemporaryPathChars];
        if (!JoinInFolder(folder, found.cFileName, path)) continue;
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path)) LogInfo(L"Temporary copy '%s' of a process that ended removed", path);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// folder + name (folder as PathRemoveFileSpecW leaves it: empty, "X:", "X:\"
// or "X:\dir"). When that does not fit MAX_PATH, the "\\?\" form of the full
// path, which the file functions take beyond MAX_PATH: Windows makes folders
// of up to 248 characters, leaving no room under MAX_PATH for a longer name
// than the one already in them.
bool JoinInFolder(LPCWSTR folder, LPCWSTR name, WCHAR (&out)[kTemporaryPathChars]) {
    const size_t folderLen = wcslen(folder);
    const size_t nameLen = wcslen(name);
    const bool separator = folderLen > 0 && folder[folderLen - 1] != L'\\' && folder[folderLen - 1] != L':';
    if (folderLen + (separator ? 1 : 0) + nameLen < MAX_PATH) {
        wcscpy(out, folder);
        if (separator) wcscat(out, L"\\");
        wcscat(out, name);
        return true;
    }
    if (!ExtendedLengthPath(folder, out, kTemporaryPathChars)) return false;
    const size_t len = wcslen(out);
    const bool slash = len > 0 && out[len - 1] != L'\\';
    if (len + (slash ? 1 : 0) + nameLen >= kTemporaryPathChars) return false;
    if (slash) wcscat(out, L"\\");
    wcscat(out, name);
    return true;
}

// A temporary name in target's folder: for a copy (naming its owner; the
// copy is created only where no file has the name) or for the previous file
// moved aside (a name nothing has now).
bool FreeTemporaryPath(LPCWSTR target, WCHAR (&out)[kTemporaryPathChars], bool copy) {
    out[0] = 0;
    WCHAR folder[MAX_PATH];
    if (!FolderOf(target, folder)) return false;
    if (copy) RemoveStaleCopies(folder);
    for (int attempt = 0; attempt < 64; ++attempt) {
        WCHAR name[24];
        if (copy)
            CopyName(name);
        else
            AsideName(name);
        if (!JoinInFolder(folder, name, out)) break;
        if (copy || GetFileAttributesW(out) == INVALID_FILE_ATTRIBUTES) return true;
    }
    out[0] = 0;
    return false;
}

// Renaming a file through a handle of it: the name it leaves needs no second
// look-up, and nobody can slip another file under that name meanwhile.
// 0, or the Win32 error MoveFileExW gives for the same rename;
// ERROR_CALL_NOT_IMPLEMENTED when the system cannot be asked this way.
DWORD RenameByHandle(HANDLE file, LPCWSTR target, bool replace) {
    struct RenameInformation {
        BOOLEAN ReplaceIfExists;
        HANDLE RootDirectory;
        ULONG FileNameLength;
        WCHAR FileName[1];
    };
    constexpr int kFileRenameInformation = 10;
    nt::NtPath name(target);
    if (!name.Ok()) return ERROR_CALL_NOT_IMPLEMENTED;
    const nt::UnicodeString& ntName = *name.Get();
    const ULONG size = static_cast<ULONG>(offsetof(RenameInformation, FileName) + ntName.Length + sizeof(WCHAR));
    auto* info = static_cast<RenameInformation*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!info) return ERROR_NOT_ENOUGH_MEMORY;
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->FileNameLength = ntName.Length;
    memcpy(info->FileName, ntName.Buffer, ntName.Length);
    nt::IoStatusBlock io{0, 0};
    const nt::Api& api = nt::Functions();
    const LONG status = api.setHandle(file, &io, info, size, kFileRenameInformation);
    HeapFree(GetProcessHeap(), 0, info);
    if (status >= 0) return ERROR_SUCCESS;
    const DWORD error = api.toWin32Error(status);
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// The attributes a copy is created with: the source's, except read-only,
// which every install clears on the new target anyway and which would keep
// the copy from being written, renamed over or deleted.
DWORD CopyAttributes(DWORD source) {
    const DWORD kept = source & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Copies the rest of from into to. 0, or the Win32 error of the read or write.
DWORD CopyContent(HANDLE from, HANDLE to, ULONGLONG* copied) {
    constexpr DWORD kChunk = 64 * 1024;
    *copied = 0;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kChunk));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from, buffer, kChunk, &read, nullptr)) {
            error = GetLastError();
            break;
        }
        if (read == 0) break;
        // A drive that fills up takes part of a write, then none of it.
        for (DWORD done = 0; done < read && error == ERROR_SUCCESS;) {
            DWORD written = 0;
            if (!WriteFile(to, buffer + done, read - done, &written, nullptr))
                error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            else if (written == 0)
                error = ERROR_DISK_FULL;
            done += written;
        }
        if (error != ERROR_SUCCESS) break;
        *copied += read;
    }
    HeapFree(GetProcessHeap(), 0, buffer);
    return error;
}

// The previous file, once the new one has its name: deleted now, or by the
// system when its last handle closes, else at the next restart.
void DeletePreviousFile(LPCWSTR aside) {
    const DWORD attributes = GetFileAttributesW(aside);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(aside, AttributesWithout(attributes, FILE_ATTRIBUTE_READONLY));
    if (DeleteFileW(aside)) return;
    const DWORD error = GetLastError();
    if (MoveFileExW(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogInfo(L"Previous file kept as '%s' until the next restart, which deletes it", aside);
        return;
    }
    LogWin32Format(WEX_SEV_WARNING, error, L"Previous file kept as '%s': it could not be deleted", aside);
}

}  // namespace

DWORD TemporaryCopy::Create(LPCWSTR source, LPCWSTR target, HANDLE open) {
    Discard();
    UniqueFile opened;
    if (open == INVALID_HANDLE_VALUE) {
        opened.Reset(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!opened) {
            const DWORD error = GetLastError();
            return error ? error : ERROR_GEN_FAILURE;
        }
        open = opened.Get();
    } else if (SetFilePointer(open, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
               GetLastError() != NO_ERROR) {
        return GetLastError();
    }
    // The source as it is now: a copy of a source that changes meanwhile (cut
    // short, rewritten) would be a part of it, or a mix.
    FileState before;
    const bool known = StateOf(open, &before);
    const DWORD sourceAttributes = GetFileAttributesW(source);
    const DWORD attributes =
        CopyAttributes(sourceAttributes != INVALID_FILE_ATTRIBUTES ? sourceAttributes : FILE_ATTRIBUTE_NORMAL);
    // A name taken by somebody else is never touched: the copy only ever
    // creates a new file, and a collision tries the next name.
    for (int attempt = 0; attempt < 64; ++attempt) {
        if (!FreeTemporaryPath(target, m_szPath, true)) return ERROR_FILENAME_EXCED_RANGE;
        HANDLE to = CreateFileW(m_szPath, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, attributes, nullptr);
        if (to == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            m_szPath[0] = 0;
            return error ? error : ERROR_GEN_FAILURE;
        }
        m_hCopy = to;
        m_bLive = true;
        ULONGLONG copied = 0;
        DWORD error = CopyContent(open, to, &copied);
        // The copy keeps the source's time of last change, as a copy by the system does.
        if (error == ERROR_SUCCESS && known && !SetFileTime(to, nullptr, nullptr, &before.written))
            error = GetLastError();
        if (error != ERROR_SUCCESS) {
            Discard();
            return error;
        }
        FileState after;
        if (known && (!StateOf(open, &after) || !(after == before) ||
                      copied != static_cast<ULONGLONG>(before.size.QuadPart))) {
            LogWin32Format(WEX_SEV_ERROR, ERROR_FILE_INVALID, L"'%s' changed while it was copied", source);
            Discard();
            return ERROR_FILE_INVALID;
        }
        return ERROR_SUCCESS;
    }
    m_szPath[0] = 0;
    return ERROR_FILE_EXISTS;
}

DWORD TemporaryCopy::RenameTo(LPCWSTR target, bool replace) {
    const DWORD error =
        m_hCopy != INVALID_HANDLE_VALUE ? RenameByHandle(m_hCopy, target, replace) : ERROR_CALL_NOT_IMPLEMENTED;
    if (error == ERROR_SUCCESS) {
        CloseCopy();
    } else if (error != ERROR_CALL_NOT_IMPLEMENTED) {
        return error;
    } else {
        CloseCopy();
        if (!MoveFileExW(m_szPath, target, replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
            const DWORD error = GetLastError();
            return error ? error : ERROR_GEN_FAILURE;
        }
    }
    m_bLive = false;
    m_szPath[0] = 0;
    NoteNameAdded(target);
    return ERROR_SUCCESS;
}

void TemporaryCopy::CloseCopy() {
    if (m_hCopy == INVALID_HANDLE_VALUE) return;
    CloseHandle(m_hCopy);
    m_hCopy = INVALID_HANDLE_VALUE;
}

DWORD TemporaryCopy::MoveOnto(LPCWSTR target, bool replace) {
    if (!m_bLive) return ERROR_FILE_NOT_FOUND;
    const DWORD error = RenameTo(target, replace);
    if (error != ERROR_SUCCESS) Discard();
    return error;
}

TemporaryCopy::Swap TemporaryCopy::SwapInto(LPCWSTR target) {
    m_szAside[0] = 0;
    if (!m_bLive) return Swap::kTargetStays;
    WCHAR aside[kTemporaryPathChars];
    // A plain rename: it never replaces, so a name taken meanwhile fails it.
    if (!FreeTemporaryPath(target, aside, false) || !MoveFileExW(target, aside, 0)) {
        Discard();
        return Swap::kTargetStays;
    }
    if (RenameTo(target, false) == ERROR_SUCCESS) {
        DeletePreviousFile(aside);
        return Swap::kReplaced;
    }
    Discard();
    if (MoveFileExW(aside, target, 0)) return Swap::kTargetRestored;
    wcscpy(m_szAside, aside);
    return Swap::kTargetAside;
}

void TemporaryCopy::Discard() {
    CloseCopy();
    if (!m_bLive) return;
    // The copy may carry the source's attributes; a read-only one would refuse deletion.
    SetFileAttributesW(m_szPath, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(m_szPath);
    m_bLive = false;
    m_szPath[0] = 0;
}

DWORD CopyOnto(LPCWSTR source, LPCWSTR target, bool replace, HANDLE open) {
    // Also where nothing is yet: a copy broken off (even with its process)
    // then leaves a temporary copy, never a part of the file under its name.
    TemporaryCopy copy;
    const DWORD error = copy.Create(source, target, open);
    if (error != ERROR_SUCCESS) return error;
    return copy.MoveOnto(target, replace);
}

}  // namespace orv::files
