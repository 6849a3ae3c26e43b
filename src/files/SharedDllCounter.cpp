#include "files/SharedDllCounter.h"

#include <shlwapi.h>

#include <map>
#include <string>
#include <vector>

#include "core/SharedDllCount.h"
#include "files/MachineLock.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"
#include "platform/WexUt.h"

namespace orv::files {
namespace {

const WCHAR kSharedDllsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const WCHAR kSharedDllsLock[] = L"TqOrvWexKr.SharedDLLs";

// What tells whether values came or went since the key was last read: the
// number of values and the time of the last change.
struct KeyStamp {
    DWORD values = 0;
    FILETIME written{};
    bool operator==(const KeyStamp& o) const {
        return values == o.values && CompareFileTime(&written, &o.written) == 0;
    }
};

// The value names that are not the canonical text of their path (short
// names, "." and ".." elements, "/", relative paths), filed by the upper-case
// last element of their full path, where a '~' in that element files them
// under "~". A name that is its own canonical text but for letter case needs
// no entry: the registry finds it by the canonical text itself, since it
// compares value names without regard to case. An alias's canonical text is
// made (asking the file system) only when a look-up of a path with its last
// element meets it: a canonical text ends in that same element unless the
// element is a short name.
struct AliasName {
    size_t index = 0;        // the order of the key's values: the first one wins
    std::wstring name;       // exactly as in the registry
    bool made = false;       // canonical text made (empty when it cannot be)
    std::wstring canonical;
};
struct AliasCache {
    std::multimap<std::wstring, AliasName> byLastElement;
    bool read = false;  // the key's names have been read, as stamped
    KeyStamp stamp;
    size_t values = 0;  // values the last reading saw
};

// The cache behind one lock, made when the module loads, before any caller can come in.
class CacheLock {
public:
    CacheLock() { InitializeCriticalSection(&m_section); }
    ~CacheLock() { DeleteCriticalSection(&m_section); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
    CRITICAL_SECTION m_section;
} g_lock;
AliasCache& Cache() {
    static AliasCache cache;
    return cache;
}

class ExclusiveLock {
public:
    ExclusiveLock() { EnterCriticalSection(&g_lock.m_section); }
    ~ExclusiveLock() { LeaveCriticalSection(&g_lock.m_section); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
};

// The full path without a trailing backslash (a drive's root keeps it), when
// it fits and has no '~': only an element with a '~' can be a short name, so
// such a path is its own long form and nothing on disk needs to be asked.
bool FullFormWithoutShortNames(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    const DWORD n = GetFullPathNameW(path, MAX_PATH, out, nullptr);
    if (n == 0 || n >= MAX_PATH || wcschr(out, L'~')) return false;
    size_t len = n;
    const bool driveRoot = len == 3 && out[1] == L':';
    if (len > 1 && out[len - 1] == L'\\' && !driveRoot) out[--len] = 0;
    return true;
}

// The canonical text of a path (CWexPath::PathMakeUnique), or the failure to make it.
HRESULT CanonicalOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    if (!path) return E_POINTER;
    if (wcslen(path) >= MAX_PATH) return HResultFromWin32(ERROR_FILENAME_EXCED_RANGE);
    WCHAR full[MAX_PATH];
    if (path[0] && FullFormWithoutShortNames(path, full)) {
        const int len = static_cast<int>(wcslen(full));
        if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full, len + 1, out, MAX_PATH) == len + 1) return S_OK;
        out[0] = 0;
    }
    CWexPath::PathMakeUnique(path, out, MAX_PATH);
    out[MAX_PATH - 1] = 0;
    if (out[0] == 0) return HResultFromWin32(path[0] ? ERROR_FILENAME_EXCED_RANGE : ERROR_BAD_PATHNAME);
    return S_OK;
}

// A value name that is its own canonical text but for letter case.
bool IsCanonicalName(LPCWSTR name) {
    WCHAR full[MAX_PATH];
    return FullFormWithoutShortNames(name, full) && wcscmp(full, name) == 0;
}

// The key an alias or a canonical text is filed under: the upper-case last
// element of the full path, or "~" for a last element that may be a short name.
std::wstring LastElementKey(LPCWSTR path) {
    WCHAR full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return L"~";
    size_t end = n;
    while (end > 0 && full[end - 1] == L'\\') --end;
    size_t begin = end;
    while (begin > 0 && full[begin - 1] != L'\\') --begin;
    std::wstring element(full + begin, full + end);
    if (element.find(L'~') != std::wstring::npos) return L"~";
    if (!element.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, element.c_str(), static_cast<int>(element.size()), &element[0],
                     static_cast<int>(element.size()));
    return element;
}

enum class ValueState { kMissing, kCount, kUnreadable, kError };
struct ValueRead {
    ValueState state = ValueState::kMissing;
    DWORD type = REG_DWORD;
    DWORD count = 0;
    LONG error = 0;
};

ValueRead Failed(LONG error) {
    ValueRead read;
    read.state = ValueState::kError;
    read.error = error;
    return read;
}

// Reads one count as it is in the registry now.
ValueRead ReadCount(HKEY key, LPCWSTR valueName) {
    ValueRead read;
    BYTE data[64];
    DWORD type = 0, size = sizeof(data);
    const LONG status = RegQueryValueExW(key, valueName, nullptr, &type, data, &size);
    if (status == ERROR_FILE_NOT_FOUND) return read;
    if (status == ERROR_MORE_DATA) {
        read.state = ValueState::kUnreadable;  // no count is that long
        return read;
    }
    if (status != ERROR_SUCCESS) return Failed(status);
    read.type = type;
    uint32_t count = 0;
    if (!DecodeSharedDllCount(type, data, size, count)) {
        read.state = ValueState::kUnreadable;
        return read;
    }
    read.state = ValueState::kCount;
    read.count = count;
    return read;
}

LONG WriteCount(LPCWSTR valueName, DWORD type, DWORD count) {
    std::vector<uint8_t> data;
    if (!EncodeSharedDllCount(type, count, data)) {
        type = REG_DWORD;
        EncodeSharedDllCount(type, count, data);
    }
    return SHSetValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, valueName, type, data.data(),
                       static_cast<DWORD>(data.size()));
}

// The key, opened for reading once and kept while it lasts. Lock held.
class ReadKey {
public:
    ~ReadKey() { Drop(); }
    LONG Open(HKEY* key) {
        LONG status = ERROR_SUCCESS;
        if (!m_key) status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, &m_key);
        if (status != ERROR_SUCCESS) m_key = nullptr;
        *key = m_key;
        return status;
    }
    // After ERROR_KEY_DELETED: another installer removed the key (and may have made it anew).
    void Drop() {
        if (m_key) RegCloseKey(m_key);
        m_key = nullptr;
    }

private:
    HKEY m_key = nullptr;
} g_readKey;

bool StampOf(HKEY key, KeyStamp* stamp) {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &stamp->values, nullptr,
                            nullptr, nullptr, &stamp->written) == ERROR_SUCCESS;
}
bool StampNow(KeyStamp* stamp) {
    HKEY key = nullptr;
    return g_readKey.Open(&key) == ERROR_SUCCESS && StampOf(key, stamp);
}

// Reads the key's value names again when values came or went since the last
// reading (or there was none): the aliases among them are canonicalised and
// kept. Lock held.
void ReadNamesLocked(HKEY key) {
    AliasCache& cache = Cache();
    KeyStamp stamp;
    if (!StampOf(key, &stamp)) return;
    if (cache.read && stamp == cache.stamp) return;
    std::multimap<std::wstring, AliasName> aliases;
    size_t values = 0;
    for (DWORD index = 0;; ++index) {
        WCHAR name[MAX_PATH];
        DWORD cchName = MAX_PATH;
        const LONG status = RegEnumValueW(key, index, name, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;  // a name too long for a path
        if (!IsCanonicalName(name)) aliases.emplace(LastElementKey(name), AliasName{values, name});
        ++values;
    }
    // Values that came while the names were read show in a later stamp.
    cache.byLastElement = std::move(aliases);
    cache.values = values;
    cache.stamp = stamp;
    cache.read = true;
}

// The value that counts the canonical path: the value of that very name, or
// else a value whose name is another form of it. `name` gets the value's name
// and `read` what it holds now; false when there is none (or `read` says why
// the key could not be read). Lock held.
bool FindInKeyLocked(HKEY key, const WCHAR* canonical, std::wstring* name, ValueRead* read) {
    *read = ReadCount(key, canonical);
    if (read->state != ValueState::kMissing) {
        *name = canonical;
        return read->state != ValueState::kError;
    }
    ReadNamesLocked(key);
    // The first alias in the key's order whose canonical text is this one.
    AliasName* match = nullptr;
    for (const std::wstring& filed : {LastElementKey(canonical), std::wstring(L"~")}) {
        auto range = Cache().byLastElement.equal_range(filed);
        for (auto it = range.first; it != range.second; ++it) {
            AliasName& alias = it->second;
            if (match && match->index < alias.index) continue;
            if (!alias.made) {
                WCHAR made[MAX_PATH];
                if (SUCCEEDED(CanonicalOf(alias.name.c_str(), made))) alias.canonical = made;
                alias.made = true;
            }
            if (alias.canonical == canonical) match = &alias;
        }
        if (filed == L"~") break;
    }
    if (!match) return false;
    *read = ReadCount(key, match->name.c_str());
    if (read->state == ValueState::kMissing) return false;  // gone since: the next stamp drops it
    *name = match->name;
    return read->state != ValueState::kError;
}

bool FindLocked(const WCHAR* canonical, std::wstring* name, ValueRead* read) {
    for (int attempt = 0;; ++attempt) {
        HKEY key = nullptr;
        const LONG status = g_readKey.Open(&key);
        if (status == ERROR_FILE_NOT_FOUND) {
            *read = ValueRead();
            return false;
        }
        if (status != ERROR_SUCCESS) {
            *read = Failed(status);
            return false;
        }
        const bool found = FindInKeyLocked(key, canonical, name, read);
        if (attempt > 0 || read->state != ValueState::kError || read->error != ERROR_KEY_DELETED) return found;
        g_readKey.Drop();
    }
}

// After this process changed the key (`created` values more: 1, 0 or -1): a
// reading that was current before the change stays current, unless the number
// of values says that someone else changed the key at the same time. Lock held.
void NoteOwnChange(const KeyStamp& before, bool beforeRead, int created) {
    AliasCache& cache = Cache();
    KeyStamp after;
    if (!beforeRead || !cache.read || !(before == cache.stamp) || !StampNow(&after)) return;
    if (after.values != static_cast<DWORD>(static_cast<LONG>(before.values) + created)) return;
    cache.stamp = after;
    cache.values = after.values;
}

// A value of this process's own removing. Lock held.
void ForgetAliasLocked(const std::wstring& name) {
    auto& aliases = Cache().byLastElement;
    for (auto it = aliases.begin(); it != aliases.end(); ++it) {
        if (it->second.name == name) {
            aliases.erase(it);
            return;
        }
    }
}

}  // namespace

size_t LoadSharedDllCounters() {
    try {
        ExclusiveLock lock;
        HKEY key = nullptr;
        if (g_readKey.Open(&key) != ERROR_SUCCESS) return 0;
        ReadNamesLocked(key);
        return Cache().values;
    } catch (...) {
        return 0;
    }
}

HRESULT GetSharedDllCounter(LPCWSTR pszPath, DWORD* pdwCount) {
    if (pdwCount) *pdwCount = 0;
    if (!pdwCount) return E_POINTER;
    WCHAR canonical[MAX_PATH];
    HRESULT hr = CanonicalOf(pszPath, canonical);
    if (FAILED(hr)) return hr;
    try {
        ExclusiveLock lock;
        std::wstring name;
        ValueRead read;
        if (!FindLocked(canonical, &name, &read)) {
            if (read.state == ValueState::kError) return HResultFromWin32(read.error);
            return HResultFromWin32(ERROR_FILE_NOT_FOUND);
        }
        if (read.state == ValueState::kUnreadable) return HResultFromWin32(ERROR_INVALID_DATA);
        *pdwCount = read.count;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AddToSharedDllCounter(LPCWSTR pszPath, LONG lDelta, DWORD* pdwNewCount) {
    if (pdwNewCount) *pdwNewCount = 0;
    if (!pdwNewCount) return E_POINTER;
    WCHAR canonical[MAX_PATH];
    HRESULT hr = CanonicalOf(pszPath, canonical);
    if (FAILED(hr)) return hr;
    try {
        ExclusiveLock lock;
        // Under the lock that every process running this kernel shares, the
        // count is read and written back as one step.
        MachineLock machineLock(kSharedDllsLock);
        if (machineLock.Error()) return HResultFromWin32(static_cast<LONG>(machineLock.Error()));
        std::wstring name;
        ValueRead read;
        const bool found = FindLocked(canonical, &name, &read);
        if (read.state == ValueState::kError) return HResultFromWin32(read.error);
        if (read.state == ValueState::kUnreadable) return HResultFromWin32(ERROR_INVALID_DATA);
        KeyStamp before;
        const bool beforeRead = StampNow(&before);

        if (!found) {
            if (lDelta <= 0) return S_FALSE;
            const DWORD newCount = ApplyCountDelta(0, lDelta);
            *pdwNewCount = newCount;
            const LONG status = WriteCount(canonical, REG_DWORD, newCount);
            if (status != ERROR_SUCCESS) return HResultFromWin32(status);
            NoteOwnChange(before, beforeRead, 1);
            return S_OK;
        }

        const DWORD newCount = ApplyCountDelta(read.count, lDelta);
        *pdwNewCount = newCount;
        if (newCount != 0) {
            const LONG status = WriteCount(name.c_str(), read.type, newCount);
            if (status != ERROR_SUCCESS) return HResultFromWin32(status);
            NoteOwnChange(before, beforeRead, 0);
            return S_OK;
        }
        const LONG status = SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HResultFromWin32(status);
        ForgetAliasLocked(name);
        NoteOwnChange(before, beforeRead, status == ERROR_SUCCESS ? -1 : 0);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace orv::files
