// Run as Windows 98 by the restart tests; exits with the kernel's HRESULT.
//   restart_win98 check | copy <source> <target> | delete <path>
#include <windows.h>

#include <cwchar>

#include "files/PostReboot.h"
#include "kernel/Module.h"
#include "platform/WexLog.h"

int wmain(int argc, wchar_t** argv) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    HRESULT hr = E_INVALIDARG;
    if (argc == 2 && wcscmp(argv[1], L"check") == 0)
        hr = (!orv::IsWindowsNT() && (GetVersion() & 0x80000000u)) ? S_OK : S_FALSE;
    else if (argc == 4 && wcscmp(argv[1], L"copy") == 0)
        hr = orv::files::SchedulePostRebootCopy(argv[2], argv[3]);
    else if (argc == 3 && wcscmp(argv[1], L"delete") == 0)
        hr = orv::files::SchedulePostRebootDelete(argv[2]);
    WexStopLog(GetCurrentThreadId());
    return static_cast<int>(hr);
}
