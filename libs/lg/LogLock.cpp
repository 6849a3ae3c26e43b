#include "LogLock.h"

#include <cwchar>

namespace orv::lg {
namespace {

// A holder writes one line: spinning a little catches most releases without
// a system call; after that a waiter sleeps in short slices.
constexpr int kPauses = 32;
constexpr int kYields = 8;
constexpr DWORD kSliceMs = 10;
// How long one token may hold the lock before a waiter asks whether its process lives.
constexpr DWORD kOwnerCheckMs = 30;

}  // namespace

void LockNameOfLog(LPCWSTR pszPath, WCHAR (&out)[64]) {
    // FNV-1a of the upper-cased path.
    DWORD hash = 2166136261u;
    for (const WCHAR* p = pszPath ? pszPath : L""; *p; ++p) {
        const WCHAR c = (*p >= L'a' && *p <= L'z') ? WCHAR(*p - 32) : *p;
        hash = (hash ^ c) * 16777619u;
    }
    _snwprintf(out, 64, L"TqOrvWexLg.%08lX", static_cast<unsigned long>(hash));
    out[63] = 0;
}

bool CrossProcessLock::Open(LPCWSTR pszName) {
    Close();
    if (!pszName || wcslen(pszName) > 64) return false;
    wcscpy(m_name, pszName);
    WCHAR name[96];
    _snwprintf(name, 96, L"%ls.lock", m_name);
    name[95] = 0;
    // A section of the paging file starts zeroed: a free lock, no token drawn yet.
    m_section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedState), name);
    if (m_section) {
        m_state = static_cast<SharedState*>(
            MapViewOfFile(m_section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(SharedState)));
    }
    _snwprintf(name, 96, L"%ls.wake", m_name);
    name[95] = 0;
    if (m_state) m_wake = CreateEventW(nullptr, FALSE, FALSE, name);
    // A token whose object still exists belongs to a live process (the count
    // went round): draw another.
    for (int attempt = 0; m_wake && attempt < 16 && !m_alive; ++attempt) {
        const LONG token = InterlockedIncrement(&m_state->lastToken);
        if (token == 0) continue;
        WCHAR alive[96];
        AliveName(token, alive);
        HANDLE object = CreateEventW(nullptr, TRUE, FALSE, alive);
        if (!object) break;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(object);
            continue;
        }
        m_alive = object;
        m_token = token;
    }
    if (!m_alive) {
        Close();
        return false;
    }
    return true;
}

void CrossProcessLock::Close() {
    if (m_state) UnmapViewOfFile(m_state);
    if (m_section) CloseHandle(m_section);
    if (m_wake) CloseHandle(m_wake);
    if (m_alive) CloseHandle(m_alive);
    m_state = nullptr;
    m_section = m_wake = m_alive = nullptr;
    m_token = 0;
}

void CrossProcessLock::AliveName(LONG token, WCHAR (&out)[96]) const {
    _snwprintf(out, 96, L"%ls.%08lX", m_name, static_cast<unsigned long>(token));
    out[95] = 0;
}

bool CrossProcessLock::IsAlive(LONG token) const {
    WCHAR alive[96];
    AliveName(token, alive);
    HANDLE object = OpenEventW(SYNCHRONIZE, FALSE, alive);
    if (object) {
        CloseHandle(object);
        return true;
    }
    // Only a name that is gone proves the holder gone; anything else (access denied) counts as alive.
    return GetLastError() != ERROR_FILE_NOT_FOUND;
}

bool CrossProcessLock::Acquire(DWORD dwTimeoutMs) {
    if (!m_state) return false;
    volatile LONG* owner = &m_state->owner;
    if (InterlockedCompareExchange(owner, m_token, 0) == 0) return true;
    for (int spin = 0; spin < kPauses + kYields; ++spin) {
        if (spin < kPauses) YieldProcessor();
        else Sleep(0);
        if (*owner == 0 && InterlockedCompareExchange(owner, m_token, 0) == 0) return true;
    }

    // Counted as a waiter before the next attempt: a holder that lets go
    // after that attempt sees the count and sets the event.
    InterlockedIncrement(&m_state->waiters);
    const DWORD start = GetTickCount();
    LONG seen = *owner;
    DWORD seenSince = start;
    bool held = false;
    for (;;) {
        const LONG current = InterlockedCompareExchange(owner, m_token, 0);
        if (current == 0) {
            held = true;
            break;
        }
        const DWORD now = GetTickCount();
        if (current != seen) {
            seen = current;
            seenSince = now;
        } else if (now - seenSince >= kOwnerCheckMs) {
            // Held by one token for a while: take over the lock of a process that died holding it.
            if (!IsAlive(current) && InterlockedCompareExchange(owner, m_token, current) == current) {
                held = true;
                break;
            }
            seenSince = now;
        }
        const DWORD waited = now - start;
        if (waited >= dwTimeoutMs) break;
        const DWORD left = dwTimeoutMs - waited;
        WaitForSingleObject(m_wake, left < kSliceMs ? left : kSliceMs);
    }
    InterlockedDecrement(&m_state->waiters);
    return held;
}

void CrossProcessLock::Release() {
    if (!m_state) return;
    if (InterlockedCompareExchange(&m_state->owner, 0, m_token) != m_token) return;
    if (m_state->waiters > 0) SetEvent(m_wake);
}

}  // namespace orv::lg
