#include "files/DirectoryMarkers.h"

#include <shlwapi.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "files/FileModel.h"
#include "platform/KrLog.h"
#include "platform/PathText.h"
#include "platform/Raii.h"
#include "platform/TextCase.h"

namespace {

// Creating (or re-creating) the marker is best effort: a folder without it
// is simply never removed.
void PutMarker(LPCWSTR folder) {
    WCHAR marker[MAX_PATH];
    if (!orv::JoinPath(folder, kWexKrFolderMarker, marker)) return;
    orv::UniqueFile file(
        CreateFileW(marker, 0, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
}

enum class Contents { kUnreadable, kMarkerOnly, kEmpty, kForeign };

// Foreign entries seen by the last listing of a folder, by folder. A listing
// reads every entry of the folder (under Wine, also a look for a name that is
// not there): uninstalling the files of a large folder one by one would read
// it whole each time. Bounded; every use holds the lock.
class SeenEntries {
public:
    SeenEntries() { InitializeCriticalSection(&m_lock); }
    ~SeenEntries() { DeleteCriticalSection(&m_lock); }
    SeenEntries(const SeenEntries&) = delete;
    SeenEntries& operator=(const SeenEntries&) = delete;

    // True when a remembered entry of the folder is still there. Entries
    // found gone are dropped.
    bool AnyStillThere(LPCWSTR folder) {
        std::vector<std::wstring> names;
        Take(folder, names);
        bool found = false;
        for (size_t i = 0; i < names.size() && !found; ++i) {
            WCHAR path[MAX_PATH];
            if (!orv::JoinPath(folder, names[i].c_str(), path) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
                names.erase(names.begin() + static_cast<std::ptrdiff_t>(i--));
                continue;
            }
            found = true;
        }
        if (!names.empty()) Remember(folder, std::move(names));
        return found;
    }
    void Remember(LPCWSTR folder, std::vector<std::wstring> names) {
        try {
            Lock lock(m_lock);
            if (m_byFolder.size() >= kMaxFolders) m_byFolder.clear();
            m_byFolder[folder] = std::move(names);
        } catch (...) {
            // Nothing remembered: the next look lists the folder.
        }
    }
    void Forget(LPCWSTR folder, LPCWSTR name) {
        Lock lock(m_lock);
        auto it = m_byFolder.find(folder);
        if (it == m_byFolder.end()) return;
        std::vector<std::wstring>& names = it->second;
        for (size_t i = 0; i < names.size(); ++i) {
            if (orv::EqualIgnoringCase(names[i].c_str(), name)) names.erase(names.begin() + static_cast<std::ptrdiff_t>(i--));
        }
        if (names.empty()) m_byFolder.erase(it);
    }

    static constexpr size_t kNamesPerFolder = 16;

private:
    static constexpr size_t kMaxFolders = 64;
    class Lock {
    public:
        explicit Lock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
        ~Lock() { LeaveCriticalSection(&m_cs); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
    private:
        CRITICAL_SECTION& m_cs;
    };
    void Take(LPCWSTR folder, std::vector<std::wstring>& names) {
        Lock lock(m_lock);
        auto it = m_byFolder.find(folder);
        if (it == m_byFolder.end()) return;
        names.swap(it->second);
        m_byFolder.erase(it);
    }

    CRITICAL_SECTION m_lock;
    std::map<std::wstring, std::vector<std::wstring>> m_byFolder;
} g_seen;

// What a folder holds, names beginning with '.' ("." and ".." among them) left aside.
Contents Examine(LPCWSTR folder) {
    if (g_seen.AnyStillThere(folder)) return Contents::kForeign;
    WCHAR pattern[MAX_PATH];
    if (!orv::JoinPath(folder, L"*.*", pattern)) return Contents::kUnreadable;
    WIN32_FIND_DATAW entry;
    orv::UniqueFind find(FindFirstFileW(pattern, &entry));
    if (!find) return Contents::kUnreadable;
    bool marker = false;
    std::vector<std::wstring> foreign;
    try {
        do {
            if (entry.cFileName[0] == L'.') continue;
            if (orv::EqualIgnoringCase(entry.cFileName, kWexKrFolderMarker)) {
                marker = true;
                continue;
            }
            foreign.push_back(entry.cFileName);
            // A few more of the entries the listing has read anyway.
        } while (foreign.size() < SeenEntries::kNamesPerFolder && FindNextFileW(find.Get(), &entry));
    } catch (...) {
        // Out of memory: what was seen still decides.
    }
    if (!foreign.empty()) {
        g_seen.Remember(folder, std::move(foreign));
        return Contents::kForeign;
    }
    return marker ? Contents::kMarkerOnly : Contents::kEmpty;
}

}  // namespace

HRESULT CreateDirectoryTree(LPCWSTR pszFolder) {
    if (!pszFolder || !*pszFolder) return S_OK;
    WCHAR path[MAX_PATH];
    const size_t len = wcsnlen(pszFolder, MAX_PATH);
    // Room for the trailing backslash and the terminator.
    if (len + 2 > MAX_PATH) return kWexKrHrPathTooLong;
    wcscpy(path, pszFolder);
    PathAddBackslashW(path);

    for (WCHAR* cut = path; *cut; ++cut) {
        if (*cut != L'\\') continue;
        *cut = 0;
        // Roots ("C:", "\\server\share") are never created.
        if (PathSkipRootW(path)) {
            DWORD error = ERROR_SUCCESS;
            if (CreateDirectoryW(path, nullptr)) {
                PutMarker(path);
            } else {
                error = GetLastError();
                // Some existing folders answer "access denied" rather than "exists".
                if (error == ERROR_ACCESS_DENIED && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
                    error = ERROR_ALREADY_EXISTS;
            }
            if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS)
                return orv::HResultFromWin32(static_cast<LONG>(error));
        }
        *cut = L'\\';
    }
    return S_OK;
}

HRESULT RemoveCreatedDirectories(LPCWSTR pszFolder) {
    if (!pszFolder || !*pszFolder) return S_OK;
    WCHAR path[MAX_PATH];
    const size_t len = wcsnlen(pszFolder, MAX_PATH);
    if (len + 2 > MAX_PATH) return kWexKrHrPathTooLong;
    wcscpy(path, pszFolder);
    PathAddBackslashW(path);

    for (size_t i = wcslen(path); i-- > 0;) {
        if (path[i] != L'\\') continue;
        path[i] = 0;
        if (!PathSkipRootW(path)) return S_OK;
        if (Examine(path) != Contents::kMarkerOnly) return S_OK;

        WCHAR marker[MAX_PATH];
        if (!orv::JoinPath(path, kWexKrFolderMarker, marker)) return S_OK;
        SetFileAttributesW(marker, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(marker);
        if (!RemoveDirectoryW(path)) {
            // The removal's own error is the result: the marker's re-creation
            // must not turn it into a success.
            const DWORD error = GetLastError();
            PutMarker(path);
            return error ? orv::HResultFromWin32(static_cast<LONG>(error)) : E_FAIL;
        }
        orv::LogInfo(L"Remove Directory '%s'", path);
    }
    return S_OK;
}

BOOL IsMarkerOnlyDirectory(LPCWSTR pszFolder) {
    if (!pszFolder || !PathIsDirectoryW(pszFolder)) return FALSE;
    const Contents contents = Examine(pszFolder);
    return contents == Contents::kMarkerOnly || contents == Contents::kEmpty;
}

void ForgetFolderEntry(LPCWSTR pszPath) {
    WCHAR folder[MAX_PATH];
    if (!pszPath || wcsnlen(pszPath, MAX_PATH) >= MAX_PATH) return;
    wcscpy(folder, pszPath);
    PathRemoveFileSpecW(folder);
    g_seen.Forget(folder, PathFindFileNameW(pszPath));
}
