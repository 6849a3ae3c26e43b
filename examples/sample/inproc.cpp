// OrvSampleInproc.dll: the sample's in-process COM server. Registers itself
// (DllRegisterServer) under HKEY_CLASSES_ROOT\CLSID with its full path; the
// setup program's kernel may instead apply OrvSampleInproc.cor.
#include <windows.h>
#include <olectl.h>
#include <shlwapi.h>

#include <new>
#include <string>

#include "sample_inproc_h.h"

namespace {

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

class Greeter : public IOrvSampleGreeter {
public:
    Greeter() { InterlockedIncrement(&g_objects); }
    virtual ~Greeter() { InterlockedDecrement(&g_objects); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IOrvSampleGreeter) return E_NOINTERFACE;
        *out = static_cast<IOrvSampleGreeter*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return refs;
    }
    STDMETHODIMP Greet(BSTR* text) override {
        if (!text) return E_POINTER;
        *text = SysAllocString(L"Hello from the Orv Sample in-process server");
        return *text ? S_OK : E_OUTOFMEMORY;
    }

private:
    LONG m_refs = 1;
};

class Factory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Greeter* greeter = new (std::nothrow) Greeter;
        if (!greeter) return E_OUTOFMEMORY;
        const HRESULT hr = greeter->QueryInterface(iid, out);
        greeter->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

Factory g_factory;

std::wstring ClassKey() {
    wchar_t guid[40];
    StringFromGUID2(CLSID_OrvSampleGreeter, guid, 40);
    return std::wstring(L"CLSID\\") + guid;
}

LONG SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_OrvSampleGreeter) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
    const std::wstring key = ClassKey();
    if (SetString(HKEY_CLASSES_ROOT, key, nullptr, L"Orv Sample greeter") != ERROR_SUCCESS ||
        SetString(HKEY_CLASSES_ROOT, key + L"\\InProcServer32", nullptr, path) != ERROR_SUCCESS ||
        SetString(HKEY_CLASSES_ROOT, key + L"\\InProcServer32", L"ThreadingModel", L"Apartment") != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllUnregisterServer() {
    const LONG rc = SHDeleteKeyW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
