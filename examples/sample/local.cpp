// OrvSampleLocal.exe: the sample's local COM server. "/RegServer" and
// "/UnregServer" write and remove its class under HKEY_CLASSES_ROOT and its
// type library (whose interface the system's type-library marshaler then
// carries between the processes); started by COM ("-Embedding") it serves
// one client and ends when its object is released.
#include <windows.h>
#include <shlwapi.h>

#include <new>
#include <string>

#include "sample_local_h.h"

namespace {

HANDLE g_done = nullptr;

class Clock : public IOrvSampleClock {
public:
    virtual ~Clock() = default;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IOrvSampleClock) return E_NOINTERFACE;
        *out = static_cast<IOrvSampleClock*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            delete this;
            SetEvent(g_done);
        }
        return refs;
    }
    STDMETHODIMP Now(BSTR* text) override {
        if (!text) return E_POINTER;
        SYSTEMTIME t;
        GetLocalTime(&t);
        wchar_t buffer[64];
        wsprintfW(buffer, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
        *text = SysAllocString(buffer);
        return *text ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP ServerProcess(long* processId) override {
        if (!processId) return E_POINTER;
        *processId = static_cast<long>(GetCurrentProcessId());
        return S_OK;
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
        Clock* clock = new (std::nothrow) Clock;
        if (!clock) return E_OUTOFMEMORY;
        const HRESULT hr = clock->QueryInterface(iid, out);
        clock->Release();  // a failed query ends the server as a released object would
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

std::wstring ClassKey() {
    wchar_t guid[40];
    StringFromGUID2(CLSID_OrvSampleClock, guid, 40);
    return std::wstring(L"CLSID\\") + guid;
}

bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

int Register(bool install) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    ITypeLib* library = nullptr;
    if (install) {
        // The path as it is, unquoted: the kernel compares the file name it ends in.
        if (!SetString(ClassKey(), nullptr, L"Orv Sample clock") ||
            !SetString(ClassKey() + L"\\LocalServer32", nullptr, path))
            return 2;
        if (FAILED(LoadTypeLibEx(path, REGKIND_REGISTER, &library))) return 3;
        library->Release();
        return 0;
    }
    SHDeleteKeyW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    if (SUCCEEDED(LoadTypeLibEx(path, REGKIND_NONE, &library))) {
        TLIBATTR* attr = nullptr;
        if (SUCCEEDED(library->GetLibAttr(&attr))) {
            UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
            library->ReleaseTLibAttr(attr);
        }
        library->Release();
    }
    return 0;
}

int Serve() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 4;
    g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static Factory factory;
    DWORD cookie = 0;
    int rc = 0;
    if (SUCCEEDED(CoRegisterClassObject(CLSID_OrvSampleClock, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie))) {
        // Served (or nobody came within a minute).
        WaitForSingleObject(g_done, 60000);
        CoRevokeClassObject(cookie);
    } else {
        rc = 5;
    }
    CoUninitialize();
    return rc;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    const std::wstring line = commandLine ? commandLine : L"";
    const auto has = [&](const wchar_t* word) { return StrStrIW(line.c_str(), word) != nullptr; };
    if (has(L"UnregServer")) return Register(false);
    if (has(L"RegServer")) return Register(true);
    if (has(L"Embedding")) return Serve();
    return 0;
}
