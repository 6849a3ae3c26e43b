// GetFileInfo, FreeFileInfo, InstallCheck.
#include "kernel/KernelObject.h"

STDMETHODIMP COrvInstallerKernel::GetFileInfo(BSTR, _ORV_FILE_INFO*) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::FreeFileInfo(_ORV_FILE_INFO*) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::InstallCheck(BSTR, _ORV_CHECK_INFO*, BSTR*) { return E_NOTIMPL; }
