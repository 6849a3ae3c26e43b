// Run by registry_win9x_tests: prints GetVersion, sets a default and a named REG_EXPAND_SZ
// value in the key argv[1], applies the script argv[2]; exits with the first failure.
#include <windows.h>
#include <cstdio>
#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "registry/RegFile.h"

int wmain(int argc, wchar_t** argv) {
    printf("GetVersion=%08lX\n", static_cast<unsigned long>(GetVersion()));
    fflush(stdout);
    IOrvInstallerKernel* kernel = nullptr;
    IOrvRegKey* values = nullptr;
    if (argc != 3 || FAILED(OrvWexKrCreateInstance(&kernel))) return E_INVALIDARG;
    // The process ends right after: its strings are not freed.
    HRESULT hr = kernel->InstallRegKey(SysAllocString(argv[1]), &values);
    BSTR data = SysAllocString(L"%SystemRoot%\\x");
    if (SUCCEEDED(hr)) hr = values->InstallStringValue(SysAllocString(L""), data, VARIANT_TRUE, VARIANT_TRUE);
    if (SUCCEEDED(hr)) hr = values->InstallStringValue(SysAllocString(L"named"), data, VARIANT_TRUE, VARIANT_TRUE);
    return SUCCEEDED(hr) ? orv::InstallRegistrationFile(argv[2], L"C:\\App") : hr;
}
