// The interface records are laid out for the 32-bit setup programs that fill
// them; the x86 build proves the byte offsets those programs rely on.
#include <cstddef>
#include "kernel/KernelObject.h"

#if !defined(_WIN64)
static_assert(sizeof(_ORV_FILE_INSTALL_INFO) == 32, "_ORV_FILE_INSTALL_INFO size");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, bstrSource) == 0, "bstrSource");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, bstrTarget) == 4, "bstrTarget");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, bstrAppPaths) == 8, "bstrAppPaths");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, bstrDllInstallCmd) == 12, "bstrDllInstallCmd");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, dwInstallMode) == 16, "dwInstallMode");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, dwFlags) == 20, "dwFlags");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, lpOrvCheckInfo) == 24, "lpOrvCheckInfo");
static_assert(offsetof(_ORV_FILE_INSTALL_INFO, dwVersion) == 28, "dwVersion");

static_assert(sizeof(_ORV_CHECK_INFO) == 8, "_ORV_CHECK_INFO size");
static_assert(offsetof(_ORV_CHECK_INFO, bstrKey) == 0, "bstrKey");
static_assert(offsetof(_ORV_CHECK_INFO, bstrValue) == 4, "bstrValue");

static_assert(offsetof(_ORV_FILE_INFO, bstrName) == 0, "bstrName");
static_assert(offsetof(_ORV_FILE_INFO, bstrFullPath) == 4, "bstrFullPath");
static_assert(offsetof(_ORV_FILE_INFO, ftTimeStamp) == 8, "ftTimeStamp");
static_assert(offsetof(_ORV_FILE_INFO, bstrDescription) == 16, "bstrDescription");
static_assert(offsetof(_ORV_FILE_INFO, dwSize) == 20, "dwSize");
static_assert(offsetof(_ORV_FILE_INFO, version) == 24, "version");
static_assert(offsetof(_ORV_FILE_INFO, bstrVersionString) == 32, "bstrVersionString");
static_assert(offsetof(_ORV_FILE_INFO, bstrVendor) == 36, "bstrVendor");
static_assert(offsetof(_ORV_FILE_INFO, bExecutable) == 40, "bExecutable");
static_assert(offsetof(_ORV_FILE_INFO, bCOMServer) == 42, "bCOMServer");
static_assert(offsetof(_ORV_FILE_INFO, bWindowsFileProtected) == 44, "bWindowsFileProtected");
#endif

// Both builds.
static_assert(sizeof(_ORV_FILE_VERSION) == 8, "_ORV_FILE_VERSION size");
static_assert(offsetof(_ORV_FILE_VERSION, wVerMaj1) == 0 && offsetof(_ORV_FILE_VERSION, wVerMaj2) == 2 &&
                  offsetof(_ORV_FILE_VERSION, wVerMin1) == 4 && offsetof(_ORV_FILE_VERSION, wVerMin2) == 6,
              "_ORV_FILE_VERSION parts, most significant first");
static_assert(sizeof(VARIANT_BOOL) == 2 && VARIANT_TRUE == -1, "16-bit automation boolean");
static_assert(INSTALL_MODE_PRIMARY == 1 && INSTALL_MODE_CHECK == 6 && INSTALL_FLAG_FORCE == 1, "enumerations");
