// lg_writer <tag> <count> [start event]: writes <count> lines "<tag> line <i> payload"
// to the log, once the named start event is set (so that several writers overlap).
// lg_writer --hold <ready event>: takes the log's cross-process lock, sets the
// event and waits to be killed, holding it.
// lg_writer --count <lock> <counter section> <count> <start event>: adds 1 to
// the counter <count> times, each a read and a later write under the lock.
#include <windows.h>
#include <cwchar>
#include "LogLock.h"
#include "platform/WexLog.h"

namespace {

int HoldLock(LPCWSTR readyName) {
    WCHAR path[MAX_PATH], name[64];
    const DWORD n = GetEnvironmentVariableW(L"TQORVWEX_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 4;
    orv::lg::LockNameOfLog(path, name);
    orv::lg::CrossProcessLock lock;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName);
    if (!ready || !lock.Open(name) || !lock.Acquire(10000)) return 5;
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}

int CountUnderLock(LPCWSTR lockName, LPCWSTR sectionName, int count, LPCWSTR startName) {
    orv::lg::CrossProcessLock lock;
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, sectionName);
    HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, startName);
    auto* counter = section ? static_cast<volatile LONG*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(LONG)))
                            : nullptr;
    if (!counter || !start || !lock.Open(lockName)) return 6;
    WaitForSingleObject(start, 60000);
    for (int i = 0; i < count; ++i) {
        if (!lock.Acquire(10000)) return 7;
        const LONG value = *counter;
        Sleep(0);  // let the others run between the read and the write
        *counter = value + 1;
        lock.Release();
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"--hold") == 0) return HoldLock(argv[2]);
    if (argc == 6 && wcscmp(argv[1], L"--count") == 0) return CountUnderLock(argv[2], argv[3], _wtoi(argv[4]), argv[5]);
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
