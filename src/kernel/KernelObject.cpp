#include "kernel/KernelObject.h"

#include <cwchar>
#include "kernel/Module.h"

COrvInstallerKernel::COrvInstallerKernel() { orv::ModuleLock(); }

COrvInstallerKernel::~COrvInstallerKernel() {
    if (m_hSfc) FreeLibrary(m_hSfc);
    m_hSfc = nullptr;
    m_pfnSfcIsFileProtected = nullptr;
    if (m_pUnkMarshaler) m_pUnkMarshaler->Release();
    m_pUnkMarshaler = nullptr;
    m_regKey.Close();
    m_regKey.m_strPath.clear();
    if (m_bCsInitialized) DeleteCriticalSection(&m_cs);
    orv::ModuleUnlock();
}

HRESULT COrvInstallerKernel::InitCriticalSection() {
    if (m_bCsInitialized) return S_OK;
    if (!InitializeCriticalSectionAndSpinCount(&m_cs, 0)) {
        DWORD e = GetLastError();
        return e ? HRESULT_FROM_WIN32(e) : E_OUTOFMEMORY;
    }
    m_bCsInitialized = true;
    return S_OK;
}

HRESULT COrvInstallerKernel::FinalConstruct() {
    // The probe comes from the system directory by full path: a "sfc.dll"
    // beside the setup program must never be loaded into the installer.
    WCHAR path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n > 0 && n + 9 < MAX_PATH) {
        wcscat(path, L"\\sfc.dll");
        m_hSfc = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (m_hSfc) {
            m_pfnSfcIsFileProtected =
                reinterpret_cast<PFN_SfcIsFileProtected>(GetProcAddress(m_hSfc, "SfcIsFileProtected"));
        }
    }
    return CoCreateFreeThreadedMarshaler(static_cast<IOrvInstallerKernel*>(this), &m_pUnkMarshaler);
}

bool COrvInstallerKernel::IsWindowsFileProtected(LPCWSTR pszPath) const {
    if (!m_pfnSfcIsFileProtected) return false;
    return m_pfnSfcIsFileProtected(nullptr, pszPath) != FALSE;
}

STDMETHODIMP COrvInstallerKernel::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOrvInstallerKernel)) {
        *ppv = static_cast<IOrvInstallerKernel*>(this);
    } else if (IsEqualIID(riid, IID_IOrvRegKey)) {
        *ppv = static_cast<IOrvRegKey*>(this);
    } else if (IsEqualIID(riid, IID_IMarshal)) {
        if (!m_pUnkMarshaler) return E_NOINTERFACE;
        return m_pUnkMarshaler->QueryInterface(riid, ppv);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COrvInstallerKernel::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) COrvInstallerKernel::Release() {
    LONG c = InterlockedDecrement(&m_cRef);
    if (c == 0) delete this;
    return static_cast<ULONG>(c);
}

STDMETHODIMP COrvInstallerKernel::DummySetInstallMode(INSTALLMODES, FORCEFLAG) { return E_NOTIMPL; }

STDMETHODIMP COrvInstallerKernel::get_Use64BitHive(VARIANT_BOOL* pVal) {
    // No null check in the interface's contract; a null pointer is refused
    // rather than written through.
    if (!pVal) return E_POINTER;
    *pVal = m_regKey.m_b64Bit ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP COrvInstallerKernel::put_Use64BitHive(VARIANT_BOOL value) {
    m_regKey.m_b64Bit = (value == VARIANT_TRUE) ? 1 : 0;
    return S_OK;
}
