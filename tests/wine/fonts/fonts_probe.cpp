// Run by the font tests in a process of its own; built twice, as fonts_probe.exe
// and as fonts_win98.exe, which Wine is told to run as Windows 98.
//   face <name>                creates the font by its face name and measures it on the
//                              desktop's device context; prints "face=<face> height=<n>"
//   install <source> <target>  InstallFile through the kernel; exits with its result
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "platform/WexLog.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"face") == 0) {
        LOGFONTW logFont{};
        lstrcpynW(logFont.lfFaceName, argv[2], LF_FACESIZE);
        const HDC dc = GetDC(GetDesktopWindow());
        SelectObject(dc, CreateFontIndirectW(&logFont));
        TEXTMETRICW metrics{};
        WCHAR face[LF_FACESIZE] = L"";
        const BOOL measured = GetTextMetricsW(dc, &metrics) && GetTextFaceW(dc, LF_FACESIZE, face);
        printf("face=%ls height=%ld\n", face, static_cast<long>(metrics.tmHeight));
        return measured ? 0 : 1;  // the process ends: the system frees the font and the device context
    }
    if (argc != 4 || wcscmp(argv[1], L"install") != 0) return static_cast<int>(E_INVALIDARG);
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    IOrvInstallerKernel* kernel = nullptr;
    HRESULT hr = OrvWexKrCreateInstance(&kernel);
    if (SUCCEEDED(hr)) {
        _ORV_FILE_INSTALL_INFO info{};
        info.bstrSource = SysAllocString(argv[2]);  // the process ends right after: not freed
        info.bstrTarget = SysAllocString(argv[3]);
        hr = kernel->InstallFile(&info);
        kernel->Release();
    }
    WexStopLog(GetCurrentThreadId());
    return static_cast<int>(hr);
}
