// Held while the kernel loads, reads and releases a type library.
//
// The system keeps one loaded copy of each library file and hands it to
// every later load of that file. Wine's cache can give that copy to one
// thread while another thread drops the last reference and frees it; the
// first then calls into freed memory (seen with threads installing the same
// COM server at once). Within the kernel a load never overlaps a release:
// declare the lock before the library's pointer, so that the pointer is
// released first. Recursive within a thread; header-only.
#pragma once
#include <windows.h>

namespace orv {

class TypeLibraryLock {
public:
    TypeLibraryLock() { EnterCriticalSection(Section()); }
    ~TypeLibraryLock() { LeaveCriticalSection(Section()); }
    TypeLibraryLock(const TypeLibraryLock&) = delete;
    TypeLibraryLock& operator=(const TypeLibraryLock&) = delete;

private:
    static CRITICAL_SECTION* Section() {
        static struct Shared {
            CRITICAL_SECTION section;
            Shared() { InitializeCriticalSection(&section); }
            ~Shared() { DeleteCriticalSection(&section); }
        } shared;
        return &shared.section;
    }
};

}  // namespace orv
