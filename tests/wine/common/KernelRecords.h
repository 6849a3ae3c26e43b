// The built kernel DLL as a setup program uses it: the object made through
// the class factory, and install records. Header-only; for test targets that
// see the kernel's generated interface header.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "WineTest.h"
#include "kernel/TqOrvWexKr_h.h"

namespace orv::test {

// An install record owning its strings; lpOrvCheckInfo starts as a sentinel
// and an array handed back is freed as a caller frees it.
class InstallRecord {
public:
    InstallRecord(const std::wstring& source, const std::wstring& target, ULONG mode = 1, ULONG flags = 0,
                  const wchar_t* appPaths = nullptr) {
        m_info = {Alloc(source), Alloc(target), appPaths ? SysAllocString(appPaths) : nullptr, nullptr, mode, flags,
                  Sentinel(), 0xdeadbeef};
    }
    ~InstallRecord() {
        for (BSTR s : {m_info.bstrSource, m_info.bstrTarget, m_info.bstrAppPaths}) SysFreeString(s);
        if (Untouched() || !m_info.lpOrvCheckInfo) return;
        for (int i = 0; i < 3; ++i) {
            SysFreeString(m_info.lpOrvCheckInfo[i].bstrKey);
            SysFreeString(m_info.lpOrvCheckInfo[i].bstrValue);
        }
        CoTaskMemFree(m_info.lpOrvCheckInfo);
    }
    InstallRecord(const InstallRecord&) = delete;
    InstallRecord& operator=(const InstallRecord&) = delete;
    _ORV_FILE_INSTALL_INFO* Get() { return &m_info; }
    bool Untouched() const { return m_info.lpOrvCheckInfo == Sentinel(); }
    // "key=value;" for the three records ("null" for null strings), or "none".
    std::string CheckInfo() const {
        if (Untouched() || !m_info.lpOrvCheckInfo) return "none";
        auto show = [](BSTR s) { return s ? Narrow(std::wstring(s, SysStringLen(s))) : std::string("null"); };
        std::string text;
        for (int i = 0; i < 3; ++i)
            text += show(m_info.lpOrvCheckInfo[i].bstrKey) + "=" + show(m_info.lpOrvCheckInfo[i].bstrValue) + ";";
        return text;
    }
    static _ORV_CHECK_INFO* Sentinel() { return reinterpret_cast<_ORV_CHECK_INFO*>(uintptr_t{0xdeadbeef}); }

private:
    static BSTR Alloc(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }
    _ORV_FILE_INSTALL_INFO m_info{};
};

// The built kernel DLL, created through its class factory; null on failure.
class LoadedKernel {
public:
    LoadedKernel() : m_module(LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str())) {
        typedef HRESULT(STDAPICALLTYPE * GetClassObject)(REFCLSID, REFIID, void**);
        auto get = m_module ? reinterpret_cast<GetClassObject>(GetProcAddress(m_module, "DllGetClassObject")) : nullptr;
        IClassFactory* factory = nullptr;
        if (!get || FAILED(get(CLSID_OrvInstallerKernel, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return;
        factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, reinterpret_cast<void**>(&m_kernel));
        factory->Release();
    }
    ~LoadedKernel() {
        if (m_kernel) m_kernel->Release();
        if (m_module) FreeLibrary(m_module);
    }
    LoadedKernel(const LoadedKernel&) = delete;
    LoadedKernel& operator=(const LoadedKernel&) = delete;
    IOrvInstallerKernel* operator->() const { return m_kernel; }
    IOrvInstallerKernel* Get() const { return m_kernel; }

private:
    HMODULE m_module;
    IOrvInstallerKernel* m_kernel = nullptr;
};

}  // namespace orv::test
