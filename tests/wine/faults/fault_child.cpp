// One install through the built kernel, for the random-kill campaign:
//   fault_child install <source> <target>   InstallFile, primary mode, not forced
//   fault_child link <command line> <shell folder>   InstallLink
// Exit code 0 when the call succeeded; the result is printed.
#include <objbase.h>

#include <cstdio>
#include <string>

#include "KernelRecords.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = E_FAIL;
    {
        orv::test::LoadedKernel kernel;
        if (!kernel.Get()) return 3;
        const std::wstring mode = argv[1];
        if (mode == L"install") {
            orv::test::InstallRecord record(argv[2], argv[3], 1, 0);
            hr = kernel->InstallFile(record.Get());
        } else if (mode == L"link") {
            BSTR command = SysAllocString(argv[2]), folder = SysAllocString(argv[3]);
            hr = kernel->InstallLink(command, folder, nullptr, VARIANT_FALSE);
            SysFreeString(command);
            SysFreeString(folder);
        }
    }
    std::printf("0x%08lX\n", static_cast<unsigned long>(hr));
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
