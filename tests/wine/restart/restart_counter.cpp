// Helper of the restart tests.
//   restart_counter <library> <threads> <rounds> <+1|-1>: from several threads,
//     InstallFile of the library onto itself in primary mode (+1) or UnShareFile
//     of it (-1) through the kernel; exit code: the number of failed calls.
//   restart_counter hold <file>: holds the file open, shared with nobody, until
//     ended; "<file>.held" tells that it does.
#include <objbase.h>

#include <atomic>
#include <thread>

#include "RestartTest.h"
#include "kernel/Module.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"hold") {
        HeldOpen held(argv[2]);
        if (!held.Holding() || !orv::test::WriteBytes(std::wstring(argv[2]) + L".held", "")) return 1;
        Sleep(INFINITE);
    }
    if (argc != 5) return 1000;
    const std::wstring path = argv[1];
    const LONG delta = _wtol(argv[4]);
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    IOrvInstallerKernel* kernel = nullptr;
    if (FAILED(OrvWexKrCreateInstance(&kernel))) return 1001;
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < _wtoi(argv[2]); ++t) {
        workers.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < _wtoi(argv[3]); ++i) {
                InstallRecord record(path, path, 1);
                if (FAILED(delta > 0 ? kernel->InstallFile(record.Get()) : kernel->UnShareFile(Bstr(path).Get())))
                    ++failures;
            }
            CoUninitialize();
        });
    }
    for (std::thread& worker : workers) worker.join();
    kernel->Release();
    WexStopLog(GetCurrentThreadId());
    return failures;
}
