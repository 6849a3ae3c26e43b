// The verbs of the setup program over the kernel.
//
// install    every item of the manifest in order; the state file is rewritten
//            after each one. When an item fails, the items this run installed
//            are undone in reverse order (targets that existed come back from
//            their backups) and the machine is as before. A target in use is
//            copied at the next restart. Over an installed product of the same
//            name it updates: items the product has already get the update
//            mode, items no longer in the manifest are removed at the end.
// check      the kernel's InstallCheck of every file against what was recorded.
// repair     files whose check fails are installed again, forced.
// uninstall  every item in reverse order; at the end the state file and the
//            folders the setup program made go too.
// finish     after the restart: deferred COM servers are registered.
// status     what is installed, from the state file.
#pragma once
#include <string>

#include "Console.h"
#include "Kernel.h"
#include "core/Manifest.h"
#include "core/SetupState.h"

namespace orvsetup {

// Exit codes, after the Windows installer's.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitCancelled = 1602,
    kExitFailed = 1603,
    kExitUnknownProduct = 1605,
    kExitAlreadyRunning = 1618,
    kExitCannotOpen = 1619,
    kExitInvalidManifest = 1620,
    kExitBadCommandLine = 1639,
    kExitRestartRequired = 3010,
};

const wchar_t* ExitCodeText(int code);

class Setup {
public:
    // cancel: set (from another thread) to stop after the current item.
    Setup(Console& console, Kernel* kernel, const volatile LONG& cancel)
        : m_console(console), m_kernel(kernel), m_cancel(cancel) {}

    int Install(const Manifest& manifest, const std::wstring& manifestPath);
    int Check(SetupState& state, const std::wstring& statePath);
    int Repair(SetupState& state, const std::wstring& statePath);
    int Uninstall(SetupState& state, const std::wstring& statePath);
    int Finish(SetupState& state, const std::wstring& statePath);
    int Status(const SetupState& state);

private:
    struct RunStep;

    HRESULT InstallOne(StateItem& item, const StateItem* previous, unsigned mode, size_t number,
                       Outcome& outcome, std::wstring& detail, bool& reversedPrevious);
    HRESULT UninstallOne(StateItem& item, Outcome& outcome, std::wstring& detail, bool& restart);
    void UndoInstall(const StateItem& item, const StateItem* previous, bool reversedPrevious);
    // An earlier version's script, taken back for its successor, applied again.
    void ReapplyScript(const StateItem& previous);
    bool Save(const SetupState& state, const std::wstring& statePath);
    void RemoveSetupFolders(const SetupState& state);
    std::wstring Name(const ManifestItem& item) const;

    Console& m_console;
    Kernel* m_kernel;
    const volatile LONG& m_cancel;
    std::wstring m_installDir;
};

}  // namespace orvsetup
