// OrvSample.exe: the sample's program.
//   OrvSample.exe                 its version and the shared library's
//   OrvSample.exe --servers       creates both COM servers and calls each once
//   OrvSample.exe --run SECONDS   keeps the shared library loaded and open, as a
//                                 running program does, for SECONDS
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "sample_inproc_h.h"
#include "sample_local_h.h"

namespace {

std::wstring SharedLibrary() {
    wchar_t common[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, common))) return L"";
    return std::wstring(common) + L"\\OrvSampleShared.dll";
}

int Servers() {
    int failures = 0;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IOrvSampleGreeter* greeter = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_OrvSampleGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_IOrvSampleGreeter,
                                  reinterpret_cast<void**>(&greeter));
    BSTR text = nullptr;
    if (SUCCEEDED(hr)) hr = greeter->Greet(&text);
    wprintf(L"in-process server: 0x%08lX %ls\n", static_cast<unsigned long>(hr), text ? text : L"");
    failures += FAILED(hr);
    SysFreeString(text);
    text = nullptr;
    if (greeter) greeter->Release();

    IOrvSampleClock* clock = nullptr;
    hr = CoCreateInstance(CLSID_OrvSampleClock, nullptr, CLSCTX_LOCAL_SERVER, IID_IOrvSampleClock,
                          reinterpret_cast<void**>(&clock));
    long pid = 0;
    if (SUCCEEDED(hr)) hr = clock->Now(&text);
    if (SUCCEEDED(hr)) hr = clock->ServerProcess(&pid);
    wprintf(L"local server:      0x%08lX %ls (server process %ld, this process %lu)\n", static_cast<unsigned long>(hr),
            text ? text : L"", pid, GetCurrentProcessId());
    failures += FAILED(hr) || pid == static_cast<long>(GetCurrentProcessId());
    SysFreeString(text);
    if (clock) clock->Release();
    CoUninitialize();
    return failures;
}

int Run(int seconds) {
    const std::wstring path = SharedLibrary();
    HMODULE library = LoadLibraryW(path.c_str());
    // Windows keeps a loaded library from being replaced; the open file says so here too.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!library || file == INVALID_HANDLE_VALUE) {
        wprintf(L"cannot hold %ls\n", path.c_str());
        return 1;
    }
    wprintf(L"running, holding %ls\n", path.c_str());
    fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    CloseHandle(file);
    FreeLibrary(library);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"--servers") == 0) return Servers();
    if (argc >= 3 && wcscmp(argv[1], L"--run") == 0) return Run(_wtoi(argv[2]));
    int shared = 0;
    const std::wstring path = SharedLibrary();
    if (HMODULE library = LoadLibraryW(path.c_str())) {
        if (auto version = reinterpret_cast<int (*)()>(GetProcAddress(library, "OrvSampleSharedVersion")))
            shared = version();
        FreeLibrary(library);
    }
    wprintf(L"Orv Sample %d.0, shared library %d.0\n", ORV_MAJOR, shared);
    return 0;
}
