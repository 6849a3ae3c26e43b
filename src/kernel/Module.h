// Module-wide state of the kernel DLL.
#pragma once
#include <windows.h>

namespace orv {

// Live objects and server locks; DllCanUnloadNow answers S_OK only at 0.
void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();

// The module's instance handle (the DLL's, or the test program's when the
// kernel is linked statically into a test).
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE hInstance);

// True on the Windows NT family (bit 31 of GetVersion clear); computed once at load.
bool IsWindowsNT();

}  // namespace orv

// Exports (undecorated in both builds through the module definition).
extern "C" {
HRESULT STDAPICALLTYPE OrvWexKrCreateInstance(struct IOrvInstallerKernel** ppKernel);
}
