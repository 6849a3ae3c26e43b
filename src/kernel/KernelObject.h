// COrvInstallerKernel: the kernel object behind IOrvInstallerKernel and IOrvRegKey.
#pragma once
#include <windows.h>
#include "kernel/TqOrvWexKr_h.h"
#include "registry/RegistryKey.h"

typedef BOOL(WINAPI* PFN_SfcIsFileProtected)(HANDLE, LPCWSTR);

class COrvInstallerKernel : public IOrvInstallerKernel, public IOrvRegKey {
public:
    COrvInstallerKernel();
    virtual ~COrvInstallerKernel();

    // Creation steps run by the class factory after construction: the file
    // protection probe and the aggregated free-threaded marshaler.
    HRESULT FinalConstruct();
    HRESULT InitCriticalSection();
    // Reference count changes that never destroy: for the creation steps.
    ULONG InternalAddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    ULONG InternalRelease() { return static_cast<ULONG>(InterlockedDecrement(&m_cRef)); }

    // True when the system file protection guards pszPath. No probe: false.
    bool IsWindowsFileProtected(LPCWSTR pszPath) const;

    // IUnknown (shared by both interfaces: one object, one count)
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOrvInstallerKernel
    STDMETHODIMP InstallFile(_ORV_FILE_INSTALL_INFO* lpInstallInfo) override;
    STDMETHODIMP InstallLink(BSTR bstrCmdLine, BSTR bstrTargetShellFolder, BSTR bstrDescription,
                             VARIANT_BOOL bAllUsers) override;
    STDMETHODIMP InstallRegKey(BSTR bstrFullKeyPath, IOrvRegKey** lplpIRegKey) override;
    STDMETHODIMP UnInstallFile(_ORV_FILE_INSTALL_INFO* lpUnInstallInfo) override;
    STDMETHODIMP UnShareFile(BSTR bstrTargetFile) override;
    STDMETHODIMP UnInstallLink(BSTR bstrCmdLine, BSTR bstrTargetShellFolder, LONG bAllUsers) override;
    STDMETHODIMP UnInstallRegKey(BSTR bstrFullKeyPath, IOrvRegKey** lplpIRegKey, VARIANT_BOOL bForce) override;
    STDMETHODIMP PostRebootRegister(BSTR bstrCOMServer) override;
    STDMETHODIMP PreparePostRebootCopyFile(BSTR bstrSourceFile, BSTR bstrTargetFile, ULONG dwInstallMode) override;
    STDMETHODIMP PreparePostRebootDeleteFile(BSTR bstrTargetFile) override;
    STDMETHODIMP CopyFile(BSTR bstrSourceFile, BSTR bstrTargetFile, VARIANT_BOOL bForce) override;
    STDMETHODIMP DeleteFile(BSTR bstrSourceFile, BSTR bstrTargetFile) override;
    STDMETHODIMP GetFileInfo(BSTR bstrFile, _ORV_FILE_INFO* lpFileInfo) override;
    STDMETHODIMP FreeFileInfo(_ORV_FILE_INFO* lpFileInfo) override;
    STDMETHODIMP InstallCheck(BSTR bstrTargetFile, _ORV_CHECK_INFO* lpCheckInfo, BSTR* lpbstrResult) override;
    STDMETHODIMP DummySetInstallMode(INSTALLMODES enumMode, FORCEFLAG enumFF) override;
    STDMETHODIMP get_Use64BitHive(VARIANT_BOOL* pVal) override;
    STDMETHODIMP put_Use64BitHive(VARIANT_BOOL value) override;

    // IOrvRegKey
    STDMETHODIMP InstallStringValue(BSTR bstrValueName, BSTR bstrData, VARIANT_BOOL bOverrideExistingData,
                                    VARIANT_BOOL bRegExpand) override;
    STDMETHODIMP InstallMultiStringValue(BSTR bstrValueName, BSTR* lpbstrData, LONG lCount,
                                         VARIANT_BOOL bOverrideExistingData) override;
    STDMETHODIMP InstallIntegerValue(BSTR bstrValueName, LONG lData, VARIANT_BOOL bOverrideExistingData) override;
    STDMETHODIMP InstallBinaryValue(BSTR bstrValueName, BYTE* lpData, ULONG dwSize,
                                    VARIANT_BOOL bOverrideExistingData) override;
    STDMETHODIMP UnInstallValue(BSTR bstrValueName) override;

private:
    LONG m_cRef = 0;
    IUnknown* m_pUnkMarshaler = nullptr;
    CRITICAL_SECTION m_cs;
    bool m_bCsInitialized = false;
    CWexKrRegistryKey m_regKey;  // its m_b64Bit is the Use64BitHive flag
    HMODULE m_hSfc = nullptr;
    PFN_SfcIsFileProtected m_pfnSfcIsFileProtected = nullptr;
};
