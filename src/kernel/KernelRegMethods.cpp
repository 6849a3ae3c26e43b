// InstallRegKey, UnInstallRegKey and the IOrvRegKey value methods.
#include "kernel/KernelObject.h"

STDMETHODIMP COrvInstallerKernel::InstallRegKey(BSTR, IOrvRegKey** lplpIRegKey) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::UnInstallRegKey(BSTR, IOrvRegKey**, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::InstallStringValue(BSTR, BSTR, VARIANT_BOOL, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::InstallMultiStringValue(BSTR, BSTR*, LONG, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::InstallIntegerValue(BSTR, LONG, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::InstallBinaryValue(BSTR, BYTE*, ULONG, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::UnInstallValue(BSTR) { return E_NOTIMPL; }
