// InstallLink, UnInstallLink: argument checks and the call's line; the work
// is CWexKrLinkFile's (src/shortcuts/).
#include "files/FileModel.h"
#include "kernel/KernelObject.h"
#include "kernel/MethodSupport.h"
#include "platform/KrLog.h"

using namespace orv;
using namespace orv::kernel;

// No C++ exception leaves a method: running out of memory while the
// arguments are split ends the call with E_OUTOFMEMORY.

STDMETHODIMP COrvInstallerKernel::InstallLink(BSTR bstrCmdLine, BSTR bstrTargetShellFolder, BSTR bstrDescription,
                                              VARIANT_BOOL bAllUsers) {
    if (!bstrCmdLine || !bstrTargetShellFolder) return NullArgument(L"InstallLink(): Invalid parameter ( NULL pointer )");
    LogInfo(L"Attempting to install link file with command line %s to shell folder \"%s\"", bstrCmdLine,
            bstrTargetShellFolder);
    try {
        CWexKrLinkFile link;
        return link.InstallLink(bstrCmdLine, bstrTargetShellFolder, bstrDescription, bAllUsers != 0);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COrvInstallerKernel::UnInstallLink(BSTR bstrCmdLine, BSTR bstrTargetShellFolder, LONG bAllUsers) {
    if (!bstrCmdLine || !bstrTargetShellFolder)
        return NullArgument(L"UnInstallLink(): Invalid parameter ( NULL pointer )");
    LogInfo(L"Attempting to uninstall link file with command line %s to shell folder \"%s\"", bstrCmdLine,
            bstrTargetShellFolder);
    try {
        CWexKrLinkFile link;
        return link.UnInstallLink(bstrCmdLine, bstrTargetShellFolder, bAllUsers != 0);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
