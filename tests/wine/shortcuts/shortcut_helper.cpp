// Run by the shortcut tests; exits with the kernel's result.
//   shortcut_helper install|uninstall <command line> <shell folder> <all users: 0|1>
//   shortcut_helper race <event> <command line> <shell folder> <count>
//     waits for the named event, then installs <count> shortcuts of one name
//     whose arguments name this process and the attempt.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "kernel/KernelObject.h"
#include "kernel/Module.h"

int wmain(int argc, wchar_t** argv) {
    printf("GetVersion=%08lX\n", static_cast<unsigned long>(GetVersion()));
    fflush(stdout);
    IOrvInstallerKernel* kernel = nullptr;
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (argc != (verb == L"race" ? 6 : 5) || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ||
        FAILED(OrvWexKrCreateInstance(&kernel)))
        return E_INVALIDARG;
    // The process ends right after: its strings are not freed.
    HRESULT hr = E_INVALIDARG;
    if (verb == L"install") {
        hr = kernel->InstallLink(SysAllocString(argv[2]), SysAllocString(argv[3]), nullptr,
                                 _wtoi(argv[4]) ? VARIANT_TRUE : VARIANT_FALSE);
    } else if (verb == L"uninstall") {
        hr = kernel->UnInstallLink(SysAllocString(argv[2]), SysAllocString(argv[3]), _wtoi(argv[4]));
    } else if (verb == L"race") {
        // No log: its lock would space the writers out.
        SetEnvironmentVariableW(L"TQORVWEX_LOG", L"?:\\no log");
        HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
        if (!start || WaitForSingleObject(start, 30000) != WAIT_OBJECT_0) return E_UNEXPECTED;
        hr = S_OK;
        for (int i = 0; i < _wtoi(argv[5]) && hr == S_OK; ++i) {
            const std::wstring cmd = std::wstring(argv[3]) + L" -p" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                     std::to_wstring(i);
            hr = kernel->InstallLink(SysAllocString(cmd.c_str()), SysAllocString(argv[4]), nullptr, VARIANT_FALSE);
        }
    }
    kernel->Release();
    CoUninitialize();
    return hr;
}
