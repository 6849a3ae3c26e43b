/* GetTickCount64 for the modules of the release.

   The compiler's thread library (linked in statically) calls GetTickCount64,
   which kernel32 has only from Windows Vista on; a module importing it does
   not load on Windows XP. Each module defines its own import slot for the
   function here, so the linker takes no import of it from kernel32: the slot
   leads to a stand-in that calls kernel32's GetTickCount64 where the system
   has one, and otherwise counts milliseconds from the performance counter.

   Built as a direct part of every release module (orv_product_module in
   cmake/OrvWindows.cmake); the import test of the x86 tree checks that no
   module imports the function. */
#include <windows.h>

typedef ULONGLONG(WINAPI* TickCount64Fn)(void);

static ULONGLONG WINAPI FromPerformanceCounter(void) {
    LARGE_INTEGER frequency, counter;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&counter))
        return GetTickCount();
    const ULONGLONG f = (ULONGLONG)frequency.QuadPart, c = (ULONGLONG)counter.QuadPart;
    return c / f * 1000 + c % f * 1000 / f;
}

/* Found by the first caller. Every caller finds the same function, so a
   race only repeats the search; the pointer is written and read whole. */
static TickCount64Fn volatile g_tickCount64;

static ULONGLONG WINAPI TickCount64(void) {
    TickCount64Fn fn = g_tickCount64;
    if (!fn) {
        /* kernel32 is in every process; nothing is loaded here. */
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        FARPROC real = kernel ? GetProcAddress(kernel, "GetTickCount64") : NULL;
        fn = real ? (TickCount64Fn)(void*)real : FromPerformanceCounter;
        g_tickCount64 = fn;
    }
    return fn();
}

#ifdef _WIN64
TickCount64Fn orv_imp_GetTickCount64 __asm__("__imp_GetTickCount64") = TickCount64;
#else
TickCount64Fn orv_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0") = TickCount64;
#endif
