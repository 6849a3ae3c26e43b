// InstallFile, UnInstallFile, CopyFile, DeleteFile.
#include "kernel/KernelObject.h"

STDMETHODIMP COrvInstallerKernel::InstallFile(_ORV_FILE_INSTALL_INFO*) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::UnInstallFile(_ORV_FILE_INSTALL_INFO*) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::CopyFile(BSTR, BSTR, VARIANT_BOOL) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::DeleteFile(BSTR, BSTR) { return E_NOTIMPL; }
