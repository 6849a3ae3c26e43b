// The installation kernel as the setup program drives it: only through its
// COM interface. Created by ProgID when the kernel is registered, otherwise
// through OrvWexKrCreateInstance of the TqOrvWexKr.dll beside this program,
// loaded by its full path.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "TqOrvWexKr_h.h"
#include "Win32.h"
#include "core/Manifest.h"
#include "core/SetupState.h"

namespace orvsetup {

// The kernel's own result codes.
inline constexpr HRESULT kInUse = static_cast<HRESULT>(0x800407D0);
inline constexpr HRESULT kServerNotInstalled = static_cast<HRESULT>(0x800407D1);

class Kernel {
public:
    Kernel() = default;
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // how: where the kernel came from, for the user.
    HRESULT Create(std::wstring& how);

    // File, Font, Script (source: what the kernel is handed as the source).
    HRESULT InstallFile(const ManifestItem& item, const std::wstring& source, unsigned mode, bool force,
                        std::vector<CheckPair>& check);
    HRESULT UnInstallFile(const std::wstring& source, const std::wstring& target);
    HRESULT PreparePostRebootCopyFile(const std::wstring& source, const std::wstring& target, unsigned mode);
    HRESULT PreparePostRebootDeleteFile(const std::wstring& target);
    HRESULT PostRebootRegister(const std::wstring& server);
    HRESULT InstallCheck(const std::wstring& target, const std::vector<CheckPair>& check, std::wstring& text);

    HRESULT InstallValue(const ManifestItem& item, bool overwrite);
    HRESULT UnInstallValue(const ManifestItem& item);

    HRESULT InstallLink(const ManifestItem& item);
    HRESULT UnInstallLink(const ManifestItem& item);

private:
    ComPtr<IOrvInstallerKernel> m_kernel;
    HMODULE m_module = nullptr;
};

}  // namespace orvsetup
