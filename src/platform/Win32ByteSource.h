// An open file as the portable readers' byte source. It remembers the Win32
// error of the last call that failed, so that a reader's caller can report it.
#pragma once
#include <windows.h>

#include "core/FontTables.h"

namespace orv {

class Win32ByteSource : public ByteSource {
public:
    explicit Win32ByteSource(HANDLE file) : m_file(file) {}

    bool Seek(uint64_t offset) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (at.QuadPart >= 0 && SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN)) return true;
        m_error = at.QuadPart < 0 ? ERROR_NEGATIVE_SEEK : GetLastError();
        return false;
    }

    bool Read(void* buffer, size_t size, size_t* read) override {
        *read = 0;
        DWORD n = 0;
        const DWORD want = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
        if (!ReadFile(m_file, buffer, want, &n, nullptr)) {
            m_error = GetLastError();
            return false;
        }
        *read = n;
        return true;
    }

    // 0 when every call succeeded.
    DWORD LastError() const { return m_error; }

private:
    HANDLE m_file;
    DWORD m_error = ERROR_SUCCESS;
};

}  // namespace orv
