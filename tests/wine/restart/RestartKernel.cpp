#include "RestartKernel.h"

#include "WineTest.h"

namespace orv::test::restart {

InstallRecord::InstallRecord(const std::wstring& source, const std::wstring& target, ULONG mode, ULONG flags,
                             const wchar_t* appPaths)
    : m_source(source), m_target(target), m_appPaths(appPaths ? appPaths : L"") {
    m_info.bstrSource = m_source.Get();
    m_info.bstrTarget = m_target.Get();
    m_info.bstrAppPaths = appPaths ? m_appPaths.Get() : nullptr;
    m_info.dwInstallMode = mode;
    m_info.dwFlags = flags;
}

InstallRecord::~InstallRecord() {
    if (_ORV_CHECK_INFO* records = m_info.lpOrvCheckInfo) {
        for (int i = 0; i < 3; ++i) {
            SysFreeString(records[i].bstrKey);
            SysFreeString(records[i].bstrValue);
        }
        CoTaskMemFree(records);
    }
}

LoadedKernel::LoadedKernel() {
    m_module = LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
    if (!m_module) return;
    typedef HRESULT(STDAPICALLTYPE * GetClassObject)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(GetProcAddress(m_module, "DllGetClassObject"));
    IClassFactory* factory = nullptr;
    if (!getClassObject ||
        FAILED(getClassObject(CLSID_OrvInstallerKernel, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return;
    factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, reinterpret_cast<void**>(&m_kernel));
    factory->Release();
}

LoadedKernel::~LoadedKernel() {
    if (m_kernel) m_kernel->Release();
    if (m_module) FreeLibrary(m_module);
}

}  // namespace orv::test::restart
