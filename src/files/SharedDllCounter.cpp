#include "files/SharedDllCounter.h"

#include <shlwapi.h>

#include <map>
#include <set>
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

struct CounterEntry {
    std::wstring valueName;  // exactly as in the registry
    DWORD count = 0;         // as last read or written
};

// The cache and the names already looked at (upper case), behind one lock,
// made when the module loads, before any caller can come in.
class CacheLock {
public:
    CacheLock() { InitializeCriticalSection(&m_section); }
    ~CacheLock() { DeleteCriticalSection(&m_section); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
    CRITICAL_SECTION m_section;
} g_lock;
std::map<std::wstring, CounterEntry>& Cache() {
    static std::map<std::wstring, CounterEntry> cache;
    return cache;
}
std::set<std::wstring>& KnownNames() {
    static std::set<std::wstring> names;
    return names;
}

class ExclusiveLock {
public:
    ExclusiveLock() { EnterCriticalSection(&g_lock.m_section); }
    ~ExclusiveLock() { LeaveCriticalSection(&g_lock.m_section); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
};

std::wstring UpperName(LPCWSTR name) {
    std::wstring upper(name);
    if (!upper.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name, static_cast<int>(upper.size()), upper.data(),
                     static_cast<int>(upper.size()));
    return upper;
}

// The canonical text of a path, or the failure to make it.
HRESULT CanonicalOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    out[0] = 0;
    if (!path) return E_POINTER;
    if (wcslen(path) >= MAX_PATH) return HResultFromWin32(ERROR_FILENAME_EXCED_RANGE);
    CWexPath::PathMakeUnique(path, out, MAX_PATH);
    out[MAX_PATH - 1] = 0;
    if (out[0] == 0) return HResultFromWin32(path[0] ? ERROR_FILENAME_EXCED_RANGE : ERROR_BAD_PATHNAME);
    return S_OK;
}

enum class ValueState { kMissing, kCount, kUnreadable, kError };
struct ValueRead {
    ValueState state = ValueState::kMissing;
    DWORD type = REG_DWORD;
    DWORD count = 0;
    LONG error = 0;
};

// Reads one count as it is in the registry now.
ValueRead ReadCount(LPCWSTR valueName) {
    ValueRead read;
    UniqueHKey key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) return read;
    if (status != ERROR_SUCCESS) {
        read.state = ValueState::kError;
        read.error = status;
        return read;
    }
    BYTE data[64];
    DWORD type = 0, size = sizeof(data);
    status = RegQueryValueExW(key.Get(), valueName, nullptr, &type, data, &size);
    if (status == ERROR_FILE_NOT_FOUND) return read;
    if (status == ERROR_MORE_DATA) {
        read.state = ValueState::kUnreadable;  // no count is that long
        return read;
    }
    if (status != ERROR_SUCCESS) {
        read.state = ValueState::kError;
        read.error = status;
        return read;
    }
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

// Adds the values of the key that were not looked at yet. Lock held.
void RefreshLocked() {
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return;
    std::map<std::wstring, CounterEntry>& cache = Cache();
    std::set<std::wstring>& known = KnownNames();
    for (DWORD index = 0;; ++index) {
        WCHAR name[MAX_PATH];
        DWORD cchName = MAX_PATH, type = 0;
        BYTE data[64];
        DWORD size = sizeof(data);
        LONG status = RegEnumValueW(key.Get(), index, name, &cchName, nullptr, &type, data, &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_MORE_DATA) {
            // The name is too long for a path, or the data too long for a count.
            cchName = MAX_PATH;
            size = 0;
            status = RegEnumValueW(key.Get(), index, name, &cchName, nullptr, &type, nullptr, &size);
            size = 0;
        }
        if (status != ERROR_SUCCESS) continue;
        name[MAX_PATH - 1] = 0;
        std::wstring upper = UpperName(name);
        if (known.count(upper)) continue;
        known.insert(std::move(upper));
        WCHAR canonical[MAX_PATH];
        if (FAILED(CanonicalOf(name, canonical))) continue;
        uint32_t count = 0;
        if (!DecodeSharedDllCount(type, data, size, count)) count = 0;
        cache.emplace(canonical, CounterEntry{name, count});  // the first one enumerated wins
    }
}

// The entry for a canonical path: looked up, and on a miss looked for again
// among the values added since the cache was filled. Lock held.
CounterEntry* FindLocked(const std::wstring& canonical) {
    std::map<std::wstring, CounterEntry>& cache = Cache();
    if (cache.empty()) RefreshLocked();
    auto it = cache.find(canonical);
    if (it == cache.end()) {
        RefreshLocked();
        it = cache.find(canonical);
    }
    return it == cache.end() ? nullptr : &it->second;
}

// Drops an entry whose value is gone; a value of that name made later is
// found again by the next refresh. Lock held.
void ForgetLocked(const std::wstring& canonical) {
    std::map<std::wstring, CounterEntry>& cache = Cache();
    auto it = cache.find(canonical);
    if (it == cache.end()) return;
    KnownNames().erase(UpperName(it->second.valueName.c_str()));
    cache.erase(it);
}

}  // namespace

size_t LoadSharedDllCounters() {
    try {
        ExclusiveLock lock;
        RefreshLocked();
        return Cache().size();
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
        CounterEntry* entry = FindLocked(canonical);
        if (!entry) return HResultFromWin32(ERROR_FILE_NOT_FOUND);
        const ValueRead read = ReadCount(entry->valueName.c_str());
        switch (read.state) {
        case ValueState::kMissing:  // removed by another installer since
            ForgetLocked(canonical);
            return HResultFromWin32(ERROR_FILE_NOT_FOUND);
        case ValueState::kUnreadable: return HResultFromWin32(ERROR_INVALID_DATA);
        case ValueState::kError: return HResultFromWin32(read.error);
        case ValueState::kCount: break;
        }
        entry->count = read.count;
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
        CounterEntry* entry = FindLocked(canonical);
        MachineLock machineLock(kSharedDllsLock);
        if (machineLock.Error()) return HResultFromWin32(static_cast<LONG>(machineLock.Error()));

        if (!entry) {
            if (lDelta <= 0) return S_FALSE;
            // A value of this very name may have come since (another
            // installer, between the refresh and the lock); build on it.
            const ValueRead read = ReadCount(canonical);
            if (read.state == ValueState::kUnreadable) return HResultFromWin32(ERROR_INVALID_DATA);
            if (read.state == ValueState::kError) return HResultFromWin32(read.error);
            const DWORD newCount = ApplyCountDelta(read.state == ValueState::kCount ? read.count : 0, lDelta);
            *pdwNewCount = newCount;
            const LONG status = WriteCount(canonical, read.type, newCount);
            if (status != ERROR_SUCCESS) return HResultFromWin32(status);
            Cache()[canonical] = CounterEntry{canonical, newCount};
            KnownNames().insert(UpperName(canonical));
            return S_OK;
        }

        const ValueRead read = ReadCount(entry->valueName.c_str());
        if (read.state == ValueState::kUnreadable) return HResultFromWin32(ERROR_INVALID_DATA);
        if (read.state == ValueState::kError) return HResultFromWin32(read.error);
        const DWORD current = read.state == ValueState::kCount ? read.count : 0;
        const DWORD newCount = ApplyCountDelta(current, lDelta);
        *pdwNewCount = newCount;
        if (newCount != 0) {
            const LONG status = WriteCount(entry->valueName.c_str(), read.type, newCount);
            if (status != ERROR_SUCCESS) return HResultFromWin32(status);
            entry->count = newCount;
            return S_OK;
        }
        if (read.state == ValueState::kCount) {
            const LONG status = SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, entry->valueName.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HResultFromWin32(status);
        }
        ForgetLocked(canonical);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace orv::files
