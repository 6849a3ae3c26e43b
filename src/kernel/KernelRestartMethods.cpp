// UnShareFile, PostRebootRegister, PreparePostRebootCopyFile, PreparePostRebootDeleteFile.
#include "kernel/KernelObject.h"

STDMETHODIMP COrvInstallerKernel::UnShareFile(BSTR) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::PostRebootRegister(BSTR) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::PreparePostRebootCopyFile(BSTR, BSTR, ULONG) { return E_NOTIMPL; }
STDMETHODIMP COrvInstallerKernel::PreparePostRebootDeleteFile(BSTR) { return E_NOTIMPL; }
