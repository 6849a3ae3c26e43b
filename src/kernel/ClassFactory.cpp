#include "kernel/ClassFactory.h"

#include <new>
#include "kernel/KernelObject.h"
#include "kernel/Module.h"

namespace orv {

CWexKrClassFactory& CWexKrClassFactory::Instance() {
    static CWexKrClassFactory factory;
    return factory;
}

STDMETHODIMP CWexKrClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

// The factory is static: its count keeps the module loaded, nothing else.
STDMETHODIMP_(ULONG) CWexKrClassFactory::AddRef() {
    ModuleLock();
    return 2;
}
STDMETHODIMP_(ULONG) CWexKrClassFactory::Release() {
    ModuleUnlock();
    return 1;
}

STDMETHODIMP CWexKrClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;

    COrvInstallerKernel* p = new (std::nothrow) COrvInstallerKernel();
    if (!p) return E_OUTOFMEMORY;

    // Keep the object alive across the creation steps, which hand out and
    // release references of their own (the marshaler aggregates on it).
    p->InternalAddRef();
    HRESULT hr = p->InitCriticalSection();
    if (SUCCEEDED(hr)) {
        hr = p->FinalConstruct();
        if (SUCCEEDED(hr)) hr = S_OK;
    }
    p->InternalRelease();
    if (SUCCEEDED(hr)) hr = p->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        *ppv = nullptr;
        delete p;
    }
    return hr;
}

STDMETHODIMP CWexKrClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        ModuleLock();
    else
        ModuleUnlock();
    return S_OK;
}

}  // namespace orv
