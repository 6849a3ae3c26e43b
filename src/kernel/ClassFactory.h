// The class factory of OrvInstallerKernel. One static instance; it holds no
// module lock of its own (LockServer does).
#pragma once
#include <windows.h>
#include <unknwn.h>

namespace orv {

class CWexKrClassFactory : public IClassFactory {
public:
    static CWexKrClassFactory& Instance();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;
};

}  // namespace orv
