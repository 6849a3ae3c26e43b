// What the setup program keeps about an installed product: every item with
// what the kernel did for it, so that check, repair, finish, status and
// uninstall need neither the manifest nor the installation medium. Kept in
// "<install folder>\_orvsetup\state.ini" (IniText.h), rewritten after every
// item. Portable.
#pragma once
#include <string>
#include <vector>

#include "core/IniText.h"
#include "core/Manifest.h"

namespace orvsetup {

inline constexpr const wchar_t* kStateFolder = L"_orvsetup";
inline constexpr const wchar_t* kStateFile = L"state.ini";

// Where a run stands. Installing: a run was in progress (it may have
// crashed); the items marked done are what it did. Installed: complete
// (restartPending tells whether work waits for a restart).
enum class Phase { Installing, Installed, Uninstalling };

struct CheckPair {
    std::wstring key;
    std::wstring value;
    bool hasValue = false;  // the kernel may record a key with no value
};

struct StateItem {
    ManifestItem item;
    bool done = false;       // installed (or kept) by a completed kernel call: undo at uninstall
    bool owned = false;      // values and shortcuts: created by this product, so removed at uninstall
    bool counted = false;    // installed in primary mode: the kernel counted a shared library
    bool deferred = false;   // the target was in use: the copy waits for the next restart
    bool scheduled = false;  // ... and the kernel has scheduled it
    bool registerAfterRestart = false;  // a deferred COM server: PostRebootRegister at finish
    std::wstring backup;      // the target as it was before this run, until the run ends
    std::wstring keptScript;  // Script: the copy uninstall applies in reverse
    std::vector<CheckPair> check;
};

struct SetupState {
    std::wstring product;
    std::wstring version;
    std::wstring installDir;
    std::wstring manifest;  // where it was installed from
    unsigned mode = kModePrimary;
    Phase phase = Phase::Installing;
    bool restartPending = false;
    // Folders the setup program made for the install folder, outermost first.
    std::vector<std::wstring> createdFolders;
    std::vector<StateItem> items;
};

void StateToIni(const SetupState& state, IniDocument& document);
// False, with the line, for a document that is no state of this program.
bool StateFromIni(const IniDocument& document, SetupState& state, IniError& error);

// Two items name the same thing on the machine (same target, same value,
// same shortcut), whatever else differs.
bool SameThing(const ManifestItem& a, const ManifestItem& b);

}  // namespace orvsetup
