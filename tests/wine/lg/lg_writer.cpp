// lg_writer <tag> <count>: writes <count> lines "<tag> line <i> payload" to the log.
#include <windows.h>
#include <cwchar>
#include "platform/WexLog.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    int count = _wtoi(argv[2]);
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    for (int i = 0; i < count; ++i) {
        WexWriteLogSetEnv(GetCurrentThreadId(), argv[1], 2, L'W');
        WexWriteLogEnv(L"%s line %d payload %s", argv[1], i, L"0123456789abcdefghijklmnopqrstuvwxyz0123456789");
    }
    WexStopLog(GetCurrentThreadId());
    return 0;
}
