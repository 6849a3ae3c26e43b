// The helper program the tests run in processes of their own, built under the
// names they give it (restart_win98.exe, fonts_probe.exe, ...) so that Wine can
// run each as another Windows version. It prints "GetVersion=<hex>" first;
// its exit code is the kernel's result unless said otherwise.
//   check                          S_OK when running as Windows 9x
//   checkos                        exit code CWexSystem::CheckOS(100)
//   copy <source> <target>         schedules the copy at the next restart
//   delete <path>                  schedules the deletion at the next restart
//   count <library> <threads> <rounds> <+1|-1>
//                                  from several threads, InstallFile of the library onto itself in
//                                  primary mode (+1) or UnShareFile (-1); exit code: the failed calls
//   hold <file>                    holds the file open, shared with nobody, until ended; "<file>.held" says so
//   regkey <key> <script>          InstallRegKey, a default and a named REG_EXPAND_SZ value, the script applied
//   face <name>                    measures the font of that face name; prints "face=<face> height=<n>"
//   install <source> <target>      InstallFile
//   link|unlink <command line> <shell folder> <all users: 0|1>
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "KernelRecords.h"
#include "Machine.h"
#include "files/PostReboot.h"
#include "kernel/Module.h"
#include "platform/WexLog.h"
#include "platform/WexUt.h"
#include "registry/RegFile.h"

using namespace orv::test;

namespace {

// From several threads: InstallFile of the library onto itself or UnShareFile; the number of failed calls.
int Count(IOrvInstallerKernel* kernel, const std::wstring& path, int threads, int rounds, LONG delta) {
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < rounds; ++i) {
                InstallRecord record(path, path, 1);
                if (FAILED(delta > 0 ? kernel->InstallFile(record.Get()) : kernel->UnShareFile(Bstr(path)))) ++failures;
            }
            CoUninitialize();
        });
    }
    for (std::thread& worker : workers) worker.join();
    return failures;
}

int Face(const wchar_t* name) {
    LOGFONTW logFont{};
    lstrcpynW(logFont.lfFaceName, name, LF_FACESIZE);
    const HDC dc = GetDC(GetDesktopWindow());
    SelectObject(dc, CreateFontIndirectW(&logFont));
    TEXTMETRICW metrics{};
    WCHAR face[LF_FACESIZE] = L"";
    const BOOL measured = GetTextMetricsW(dc, &metrics) && GetTextFaceW(dc, LF_FACESIZE, face);
    printf("face=%ls height=%ld\n", face, static_cast<long>(metrics.tmHeight));
    return measured ? 0 : 1;  // the process ends: the system frees the font and the device context
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    printf("GetVersion=%08lX\n", static_cast<unsigned long>(GetVersion()));
    fflush(stdout);
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"checkos") return CWexSystem::CheckOS(100);
    if (verb == L"face" && argc == 3) return Face(argv[2]);
    if (verb == L"hold" && argc == 3) {
        HeldOpen held(argv[2]);
        if (!held.Holding() || !WriteBytes(std::wstring(argv[2]) + L".held", "")) return 1;
        Sleep(INFINITE);
    }
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    IOrvInstallerKernel* kernel = nullptr;
    IOrvRegKey* values = nullptr;
    HRESULT hr = E_INVALIDARG;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || FAILED(OrvWexKrCreateInstance(&kernel))) return E_UNEXPECTED;
    if (verb == L"check") {
        hr = (!orv::IsWindowsNT() && (GetVersion() & 0x80000000u)) ? S_OK : S_FALSE;
    } else if (verb == L"copy" && argc == 4) {
        hr = orv::files::SchedulePostRebootCopy(argv[2], argv[3]);
    } else if (verb == L"delete" && argc == 3) {
        hr = orv::files::SchedulePostRebootDelete(argv[2]);
    } else if (verb == L"count" && argc == 6) {
        hr = Count(kernel, argv[2], _wtoi(argv[3]), _wtoi(argv[4]), _wtol(argv[5]));
    } else if (verb == L"regkey" && argc == 4) {
        const Bstr data(L"%SystemRoot%\\x");
        hr = kernel->InstallRegKey(Bstr(argv[2]), &values);
        if (SUCCEEDED(hr)) hr = values->InstallStringValue(Bstr(L""), data, VARIANT_TRUE, VARIANT_TRUE);
        if (SUCCEEDED(hr)) hr = values->InstallStringValue(Bstr(L"named"), data, VARIANT_TRUE, VARIANT_TRUE);
        if (SUCCEEDED(hr)) hr = orv::InstallRegistrationFile(argv[3], L"C:\\App");
        if (values) values->Release();
    } else if (verb == L"install" && argc == 4) {
        InstallRecord record(argv[2], argv[3], 0);
        hr = kernel->InstallFile(record.Get());
    } else if ((verb == L"link" || verb == L"unlink") && argc == 5) {
        hr = verb == L"link" ? kernel->InstallLink(Bstr(argv[2]), Bstr(argv[3]), nullptr, _wtoi(argv[4]) ? VARIANT_TRUE : VARIANT_FALSE)
                             : kernel->UnInstallLink(Bstr(argv[2]), Bstr(argv[3]), _wtoi(argv[4]));
    }
    kernel->Release();
    CoUninitialize();
    WexStopLog(GetCurrentThreadId());
    return static_cast<int>(hr);
}
