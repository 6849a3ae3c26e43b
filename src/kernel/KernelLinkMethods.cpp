// InstallLink, UnInstallLink.
#include "kernel/KernelObject.h"

STDMETHODIMP COrvInstallerKernel::InstallLink(BSTR, BSTR, BSTR, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::UnInstallLink(BSTR, BSTR, LONG) { return E_NOTIMPL; }
