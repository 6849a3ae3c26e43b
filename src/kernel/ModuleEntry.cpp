// Entry point of TqOrvWexKr.dll: starts and stops the log around the module's life.
#include <windows.h>
#include "kernel/Module.h"
#include "platform/KrLog.h"

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        orv::SetModuleInstance(hInstance);
        DisableThreadLibraryCalls(hInstance);
        WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
        orv::LogInfo(L"ORV Frontend Installation Kernel initialized\n(%s %s build)", L"Unicode", L"Release");
    } else if (reason == DLL_PROCESS_DETACH) {
        orv::LogInfo(L"ORV Frontend Installation Kernel shutdown");
        WexStopLog(GetCurrentThreadId());
    }
    return TRUE;
}
