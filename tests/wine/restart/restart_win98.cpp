// Run by the restart tests as Windows 98 (Wine's AppDefaults for this
// program's name). Does one thing with the statically linked kernel and
// exits with its HRESULT; logs into the test's log file.
//   restart_win98 check                 0 when the kernel sees Windows 9x
//   restart_win98 copy <source> <target>
//   restart_win98 delete <path>
#include <windows.h>

#include <cwchar>

#include "files/PostReboot.h"
#include "kernel/Module.h"
#include "platform/WexLog.h"

int wmain(int argc, wchar_t** argv) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    HRESULT hr = E_INVALIDARG;
    if (argc == 2 && wcscmp(argv[1], L"check") == 0) {
        hr = (!orv::IsWindowsNT() && (GetVersion() & 0x80000000u) != 0) ? S_OK : S_FALSE;
    } else if (argc == 4 && wcscmp(argv[1], L"copy") == 0) {
        hr = orv::files::SchedulePostRebootCopy(argv[2], argv[3]);
    } else if (argc == 3 && wcscmp(argv[1], L"delete") == 0) {
        hr = orv::files::SchedulePostRebootDelete(argv[2]);
    }
    WexStopLog(GetCurrentThreadId());
    return static_cast<int>(hr);
}
