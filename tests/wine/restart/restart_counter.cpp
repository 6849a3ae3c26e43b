// Changes one SharedDLLs count through the kernel from several threads at
// once, for the load test of several processes:
//   restart_counter kernel <library> <threads> <rounds> <+1|-1>
// +1: InstallFile of the library onto itself in primary mode; -1: UnShareFile
// of it. Exit code: the number of calls that failed.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "kernel/Module.h"
#include "kernel/TqOrvWexKr_h.h"
#include "platform/WexLog.h"

namespace {

bool ThroughKernel(IOrvInstallerKernel* kernel, const std::wstring& library, LONG delta) {
    BSTR path = SysAllocString(library.c_str());
    HRESULT hr;
    if (delta > 0) {
        _ORV_FILE_INSTALL_INFO info = {};
        info.bstrSource = path;
        info.bstrTarget = path;
        info.dwInstallMode = 1;
        hr = kernel->InstallFile(&info);
        if (_ORV_CHECK_INFO* records = info.lpOrvCheckInfo) {
            for (int i = 0; i < 3; ++i) {
                SysFreeString(records[i].bstrKey);
                SysFreeString(records[i].bstrValue);
            }
            CoTaskMemFree(records);
        }
    } else {
        hr = kernel->UnShareFile(path);
    }
    SysFreeString(path);
    return SUCCEEDED(hr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6 || wcscmp(argv[1], L"kernel") != 0) return 1000;
    const std::wstring path = argv[2];
    const int threads = _wtoi(argv[3]), rounds = _wtoi(argv[4]);
    const LONG delta = _wtol(argv[5]);
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    IOrvInstallerKernel* kernel = nullptr;
    if (FAILED(OrvWexKrCreateInstance(&kernel))) return 1001;

    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < rounds; ++i) {
                if (!ThroughKernel(kernel, path, delta)) ++failures;
            }
            CoUninitialize();
        });
    }
    for (std::thread& worker : workers) worker.join();
    kernel->Release();
    WexStopLog(GetCurrentThreadId());
    return failures;
}
