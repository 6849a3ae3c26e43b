#include "kernel/Module.h"

#include <new>
#include "kernel/ClassFactory.h"
#include "kernel/KernelObject.h"
#include "kernel/Registrar.h"

namespace orv {
namespace {

LONG g_cLocks = 0;
HINSTANCE g_hInstance = nullptr;
const bool g_bWindowsNT = (GetVersion() & 0x80000000u) == 0;

}  // namespace

void ModuleLock() { InterlockedIncrement(&g_cLocks); }
void ModuleUnlock() { InterlockedDecrement(&g_cLocks); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_cLocks, 0, 0); }
HINSTANCE ModuleInstance() { return g_hInstance ? g_hInstance : GetModuleHandleW(nullptr); }
void SetModuleInstance(HINSTANCE hInstance) { g_hInstance = hInstance; }
bool IsWindowsNT() { return g_bWindowsNT; }

}  // namespace orv

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_OrvInstallerKernel)) return CLASS_E_CLASSNOTAVAILABLE;
    return orv::CWexKrClassFactory::Instance().QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() { return orv::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return orv::RegisterServer(); }

STDAPI DllUnregisterServer() { return orv::UnregisterServer(); }

// Creates a kernel object without the class factory's final construction:
// such an object has no file protection probe and no free-threaded marshaler.
extern "C" HRESULT STDAPICALLTYPE OrvWexKrCreateInstance(IOrvInstallerKernel** ppKernel) {
    if (!ppKernel) return E_POINTER;
    *ppKernel = nullptr;
    COrvInstallerKernel* p = new (std::nothrow) COrvInstallerKernel();
    if (!p) return E_OUTOFMEMORY;
    HRESULT hr = p->InitCriticalSection();
    if (FAILED(hr)) {
        delete p;
        return hr;
    }
    p->AddRef();
    *ppKernel = p;
    return S_OK;
}
