// lg_writer <tag> <count> [start event]: writes <count> lines "<tag> line <i> payload"
// to the log, once the named start event is set (so that several writers overlap).
#include <windows.h>
#include <cwchar>
#include "platform/WexLog.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    int count = _wtoi(argv[2]);
    if (argc > 3) {
        HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
        if (!start) return 3;
        WaitForSingleObject(start, 60000);
        CloseHandle(start);
    }
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    for (int i = 0; i < count; ++i) {
        WexWriteLogSetEnv(GetCurrentThreadId(), argv[1], 2, L'W');
        WexWriteLogEnv(L"%s line %d payload %s", argv[1], i, L"0123456789abcdefghijklmnopqrstuvwxyz0123456789");
    }
    WexStopLog(GetCurrentThreadId());
    return 0;
}
