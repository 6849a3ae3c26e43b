// orvdemo: creates the installation kernel the way a setup program does, by
// ProgID and by class identifier through COM, calls it and prints each result.
// Exit code 0 when every result is the expected one.
#include <windows.h>
#include <objbase.h>
#include <cstdio>
#include "kernel/TqOrvWexKr_h.h"

namespace {

int g_failures = 0;

void Report(const wchar_t* what, HRESULT hr, HRESULT expected) {
    wprintf(L"%-58ls 0x%08lX%ls\n", what, static_cast<unsigned long>(hr), hr == expected ? L"" : L"  <- unexpected");
    if (hr != expected) ++g_failures;
}

void Exercise(IOrvInstallerKernel* kernel) {
    IOrvRegKey* regKey = nullptr;
    Report(L"  QueryInterface(IOrvRegKey)", kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&regKey)),
           S_OK);
    if (regKey) regKey->Release();

    VARIANT_BOOL value = 0x1234;
    Report(L"  get_Use64BitHive", kernel->get_Use64BitHive(&value), S_OK);
    wprintf(L"    Use64BitHive = %d\n", value);
    Report(L"  put_Use64BitHive(VARIANT_TRUE)", kernel->put_Use64BitHive(VARIANT_TRUE), S_OK);
    Report(L"  get_Use64BitHive", kernel->get_Use64BitHive(&value), S_OK);
    wprintf(L"    Use64BitHive = %d\n", value);
    if (value != VARIANT_TRUE) ++g_failures;
    Report(L"  DummySetInstallMode(INSTALL_MODE_PRIMARY, INSTALL_FLAG_FORCE)",
           kernel->DummySetInstallMode(INSTALL_MODE_PRIMARY, INSTALL_FLAG_FORCE), E_NOTIMPL);
}

}  // namespace

int wmain() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Report(L"CoInitializeEx", hr, S_OK);

    CLSID clsid{};
    Report(L"CLSIDFromProgID(\"TqOrvwexkr.OrvInstallerKernel.1\")",
           CLSIDFromProgID(L"TqOrvwexkr.OrvInstallerKernel.1", &clsid), S_OK);
    if (!IsEqualCLSID(clsid, CLSID_OrvInstallerKernel)) {
        wprintf(L"  ProgID names another class\n");
        ++g_failures;
    }

    IOrvInstallerKernel* kernel = nullptr;
    Report(L"CoCreateInstance(by ProgID)",
           CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvInstallerKernel,
                            reinterpret_cast<void**>(&kernel)),
           S_OK);
    if (kernel) {
        Exercise(kernel);
        kernel->Release();
        kernel = nullptr;
    }

    Report(L"CoCreateInstance(CLSID_OrvInstallerKernel)",
           CoCreateInstance(CLSID_OrvInstallerKernel, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvInstallerKernel,
                            reinterpret_cast<void**>(&kernel)),
           S_OK);
    if (kernel) {
        Exercise(kernel);
        kernel->Release();
    }

    CoUninitialize();
    wprintf(L"%ls\n", g_failures ? L"orvdemo: some results were unexpected" : L"orvdemo: all results as expected");
    return g_failures ? 1 : 0;
}
