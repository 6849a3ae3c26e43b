// Run by registry_win9x_tests under the Windows version Wine pretends for it.
// Prints GetVersion, then does one thing with the statically linked kernel
// and exits with its HRESULT:
//   registry_win9x_probe expand <full key path>   the string value rules
//   registry_win9x_probe script <file>            InstallRegistrationFile
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "registry/RegFile.h"

namespace {

HRESULT ExpandStrings(LPCWSTR fullKeyPath) {
    IOrvInstallerKernel* kernel = nullptr;
    HRESULT hr = OrvWexKrCreateInstance(&kernel);
    if (FAILED(hr)) return hr;
    BSTR path = SysAllocString(fullKeyPath), empty = SysAllocString(L""), named = SysAllocString(L"named"),
         data = SysAllocString(L"%SystemRoot%\\x");
    IOrvRegKey* values = nullptr;
    hr = kernel->InstallRegKey(path, &values);
    if (SUCCEEDED(hr)) hr = values->InstallStringValue(empty, data, VARIANT_TRUE, VARIANT_TRUE);
    if (SUCCEEDED(hr)) hr = values->InstallStringValue(named, data, VARIANT_TRUE, VARIANT_TRUE);
    if (values) values->Release();
    kernel->Release();
    SysFreeString(path);
    SysFreeString(empty);
    SysFreeString(named);
    SysFreeString(data);
    return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    printf("GetVersion=%08lX\n", static_cast<unsigned long>(GetVersion()));
    fflush(stdout);
    if (argc == 3 && wcscmp(argv[1], L"expand") == 0) return ExpandStrings(argv[2]);
    if (argc == 3 && wcscmp(argv[1], L"script") == 0) return orv::InstallRegistrationFile(argv[2], L"C:\\App");
    return E_INVALIDARG;
}
