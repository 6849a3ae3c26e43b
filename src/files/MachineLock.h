// A lock held across the processes of one machine (a named mutex), for
// read-modify-write work on state that every installer process shares: the
// SharedDLLs counts and the [rename] section of wininit.ini.
#pragma once
#include <windows.h>

#include "kernel/Module.h"
#include "platform/Raii.h"

namespace orv::files {

class MachineLock {
public:
    // pszName without a namespace prefix; on the NT family the lock lives in
    // the global namespace, so installers of all sessions share it.
    explicit MachineLock(LPCWSTR pszName, DWORD dwTimeoutMs = 30000) {
        WCHAR name[128] = L"Global\\";
        if (!orv::IsWindowsNT()) name[0] = 0;
        if (wcslen(name) + wcslen(pszName) >= ARRAYSIZE(name)) {
            m_dwError = ERROR_INVALID_NAME;
            return;
        }
        wcscat(name, pszName);
        m_mutex.Reset(CreateMutexW(nullptr, FALSE, name));
        if (!m_mutex) {
            m_dwError = GetLastError();
            return;
        }
        switch (WaitForSingleObject(m_mutex.Get(), dwTimeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // its last owner ended without releasing it: held now
            m_bHeld = true;
            break;
        case WAIT_TIMEOUT: m_dwError = WAIT_TIMEOUT; break;
        default: m_dwError = GetLastError(); break;
        }
    }
    ~MachineLock() {
        if (m_bHeld) ReleaseMutex(m_mutex.Get());
    }
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

    // 0 when the lock is held, else the Win32 error that kept it away.
    DWORD Error() const { return m_bHeld ? 0 : (m_dwError ? m_dwError : ERROR_GEN_FAILURE); }

private:
    UniqueHandle m_mutex;
    bool m_bHeld = false;
    DWORD m_dwError = 0;
};

}  // namespace orv::files
