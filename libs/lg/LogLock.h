// The lock that keeps the lines of several processes writing one log file
// apart, cheap when nobody else writes.
//
// A lock word in a small shared section named after the log file holds the
// token of the process that writes now (0: nobody). Taking a free lock is one
// interlocked exchange in memory: no system call. A process that finds it
// taken spins briefly, then sleeps on a named event that a releasing process
// sets while others wait. Every process that opens the lock draws a token of
// its own and keeps a named object "<name>.<token>" open for as long as it
// lives; a waiter that sees one token hold the lock for a while asks whether
// that object still exists, and takes over the lock of a holder that died.
// Threads of one process are kept apart by the caller.
#pragma once
#include <windows.h>

namespace orv::lg {

// The name of the lock of a log file: the same for every spelling of its path
// that differs only in letter case (ASCII).
void LockNameOfLog(LPCWSTR pszPath, WCHAR (&out)[64]);

class CrossProcessLock {
public:
    CrossProcessLock() = default;
    ~CrossProcessLock() { Close(); }
    CrossProcessLock(const CrossProcessLock&) = delete;
    CrossProcessLock& operator=(const CrossProcessLock&) = delete;

    // Opens (or creates) the lock of that name (no namespace prefix, at most
    // 64 characters). False when its shared section or events cannot be had.
    bool Open(LPCWSTR pszName);
    void Close();
    bool IsOpen() const { return m_state != nullptr; }

    // True once held; false when it could not be had within dwTimeoutMs (the
    // holder lives but does not let go).
    bool Acquire(DWORD dwTimeoutMs);
    void Release();

    // The shared state, at the start of the section.
    struct SharedState {
        volatile LONG owner;      // token of the holder; 0 when free
        volatile LONG waiters;    // processes sleeping on the wake event
        volatile LONG lastToken;  // the last token drawn
    };

private:
    bool IsAlive(LONG token) const;
    void AliveName(LONG token, WCHAR (&out)[96]) const;

    SharedState* m_state = nullptr;
    HANDLE m_section = nullptr;
    HANDLE m_wake = nullptr;   // auto-reset: set by a release while someone waits
    HANDLE m_alive = nullptr;  // exists while this process holds its token
    LONG m_token = 0;
    WCHAR m_name[72] = L"";
};

}  // namespace orv::lg
