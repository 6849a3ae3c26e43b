#include "Setup.h"

#include <optional>

#include "ManifestFile.h"
#include "Win32.h"

namespace orvsetup {
namespace {

std::wstring StateDir(const std::wstring& installDir) { return installDir + L"\\" + kStateFolder; }

bool HasCheckKey(const std::vector<CheckPair>& check, const wchar_t* key) {
    for (const CheckPair& pair : check)
        if (pair.key == key) return true;
    return false;
}

// Makes the missing folders of dir, outermost first; they are listed in created.
bool MakeFolders(const std::wstring& dir, std::vector<std::wstring>& created, std::wstring& message) {
    std::vector<std::wstring> missing;
    std::wstring p = dir;
    while (!p.empty() && !IsDirectory(p)) {
        missing.push_back(p);
        p = ParentOf(p);
    }
    if (p.empty()) {
        message = L"no existing drive or share holds " + dir;
        return false;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            message = L"cannot create the folder " + *it + L": " + SystemText(GetLastError());
            for (auto made = created.rbegin(); made != created.rend(); ++made) RemoveDirectoryW(made->c_str());
            created.clear();
            return false;
        }
        created.push_back(*it);
    }
    return true;
}

// The name the kernel gives the copy that replaces target at the restart.
std::wstring RestartCopyOf(const std::wstring& target) {
    const std::wstring dir = ParentOf(target);
    std::wstring name(LastElementOf(target));
    const size_t dot = name.rfind(L'.');
    const std::wstring base = dot == std::wstring::npos ? name : name.substr(0, dot);
    const std::wstring ext = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
    return (dir.back() == L'\\' ? dir : dir + L"\\") + base + L"_orvtmp" + ext;
}

bool SameContent(const std::wstring& a, const std::wstring& b) {
    std::string x, y;
    DWORD error = 0;
    return ReadWholeFile(a, x, error) && ReadWholeFile(b, y, error) && x == y;
}

// Puts a file back as it was: the backup's content over the target.
bool RestoreBackup(const std::wstring& backup, const std::wstring& target) {
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return CopyFileW(backup.c_str(), target.c_str(), FALSE) != 0;
}

// A fresh name in folder for a copy of file: "<n>_<name>".
std::wstring FreshCopyName(const std::wstring& folder, const std::wstring& file) {
    for (unsigned n = 1;; ++n) {
        const std::wstring path = folder + L"\\" + std::to_wstring(n) + L"_" + std::wstring(LastElementOf(file));
        if (!PathExists(path)) return path;
    }
}

}  // namespace

const wchar_t* ExitCodeText(int code) {
    switch (code) {
    case kExitSuccess: return L"success";
    case kExitCancelled: return L"cancelled, nothing changed";
    case kExitFailed: return L"failed";
    case kExitUnknownProduct: return L"the product is not installed";
    case kExitAlreadyRunning: return L"another setup of this product is running";
    case kExitCannotOpen: return L"the manifest cannot be opened";
    case kExitInvalidManifest: return L"the manifest is invalid, nothing changed";
    case kExitBadCommandLine: return L"invalid command line";
    case kExitRestartRequired: return L"restart required";
    }
    return L"?";
}

std::wstring Setup::Name(const ManifestItem& item) const {
    switch (item.kind) {
    case ItemKind::File:
    case ItemKind::Font:
        if (!m_installDir.empty() && IsWithin(item.target, m_installDir) && item.target.size() > m_installDir.size())
            return item.target.substr(m_installDir.size() + 1);
        return item.target;
    case ItemKind::Script: return std::wstring(LastElementOf(item.source));
    case ItemKind::Value: return item.keyPath + L"\\" + (item.valueName.empty() ? L"@" : item.valueName);
    case ItemKind::Shortcut: return item.folder;
    }
    return item.label;
}

bool Setup::Save(const SetupState& state, const std::wstring& statePath) {
    std::wstring message;
    if (SaveState(statePath, state, message)) return true;
    m_console.Error(message);
    return false;
}

void Setup::RemoveSetupFolders(const SetupState& state) {
    RemoveTree(StateDir(state.installDir));
    for (auto it = state.createdFolders.rbegin(); it != state.createdFolders.rend(); ++it) RemoveDirectoryW(it->c_str());
}

HRESULT Setup::InstallOne(StateItem& st, const StateItem* prev, unsigned mode, size_t number, Outcome& outcome,
                          std::wstring& detail, bool& reversedPrevious) {
    const ManifestItem& item = st.item;
    reversedPrevious = false;
    HRESULT hr = S_OK;
    switch (item.kind) {
    case ItemKind::File:
    case ItemKind::Font: {
        if (PathExists(item.target)) {
            const std::wstring backupDir = StateDir(m_installDir) + L"\\backup";
            CreateDirectoryW(backupDir.c_str(), nullptr);
            const std::wstring backup = backupDir + L"\\" + std::to_wstring(number);
            if (CopyFileW(item.target.c_str(), backup.c_str(), FALSE)) {
                st.backup = backup;
            } else if (!IsInUse(item.target)) {
                detail = L"cannot keep a copy of the existing file: " + SystemText(GetLastError());
                return HRESULT_FROM_WIN32(GetLastError());
            }
        }
        hr = m_kernel->InstallFile(item, item.source, mode, item.force, st.check);
        st.counted = mode == kModePrimary || (prev && prev->counted);
        if (hr == kInUse || (hr == kServerNotInstalled && IsInUse(item.target))) {
            st.done = st.deferred = true;
            st.registerAfterRestart = HasCheckKey(st.check, L"comserverregpath");
            outcome = Outcome::Restart;
            detail = L"in use, replaced at the next restart";
            return S_OK;
        }
        if (FAILED(hr)) return hr;
        st.done = true;
        outcome = hr == S_FALSE ? Outcome::Kept : Outcome::Installed;
        if (hr == S_FALSE) detail = L"the existing file is as new or newer";
        return hr;
    }
    case ItemKind::Script: {
        if (prev && prev->done && !prev->keptScript.empty() && !SameContent(prev->keptScript, item.source)) {
            // Another script: what the old one wrote goes first.
            hr = m_kernel->UnInstallFile(prev->item.target, prev->keptScript);
            if (FAILED(hr)) return hr;
            reversedPrevious = true;
        }
        const std::wstring scripts = StateDir(m_installDir) + L"\\scripts";
        CreateDirectoryW(scripts.c_str(), nullptr);
        st.keptScript = FreshCopyName(scripts, item.source);
        if (!CopyFileW(item.source.c_str(), st.keptScript.c_str(), TRUE)) {
            hr = HRESULT_FROM_WIN32(GetLastError());
            st.keptScript.clear();
            detail = L"cannot keep a copy of the script";
            return hr;
        }
        hr = m_kernel->InstallFile(item, st.keptScript, mode, item.force, st.check);
        if (FAILED(hr)) {
            DeleteFileW(st.keptScript.c_str());
            st.keptScript.clear();
            return hr;
        }
        st.done = true;
        outcome = Outcome::Installed;
        return hr;
    }
    case ItemKind::Value:
        hr = m_kernel->InstallValue(item, prev && prev->owned);
        if (FAILED(hr)) return hr;
        st.done = true;
        st.owned = hr == S_OK || (prev && prev->owned);
        outcome = hr == S_OK ? Outcome::Installed : Outcome::Kept;
        if (hr != S_OK) detail = L"a value of that name is there already";
        return hr;
    case ItemKind::Shortcut:
        hr = m_kernel->InstallLink(item);
        if (FAILED(hr)) return hr;
        st.done = true;
        st.owned = hr == S_OK || (prev && prev->owned);
        outcome = hr == S_OK ? Outcome::Installed : Outcome::Kept;
        if (hr != S_OK) detail = L"an equal shortcut is there already";
        return hr;
    }
    return E_UNEXPECTED;
}

void Setup::ReapplyScript(const StateItem& previous) {
    std::vector<CheckPair> ignored;
    m_kernel->InstallFile(previous.item, previous.keptScript, kModeRepair, previous.item.force, ignored);
}

void Setup::UndoInstall(const StateItem& st, const StateItem* prev, bool reversedPrevious) {
    const ManifestItem& item = st.item;
    switch (item.kind) {
    case ItemKind::File:
    case ItemKind::Font:
        if (st.deferred) return;  // nothing changed yet: the copy was never scheduled
        if (!st.backup.empty()) {
            // The kernel takes back what it counted for this run; the old file comes back.
            if (st.counted && !(prev && prev->counted)) m_kernel->UnInstallFile(item.source, item.target);
            if (!RestoreBackup(st.backup, item.target))
                m_console.Error(L"cannot put back " + item.target + L" from " + st.backup + L": " +
                                SystemText(GetLastError()));
        } else {
            m_kernel->UnInstallFile(item.source, item.target);
        }
        return;
    case ItemKind::Script:
        if (!st.keptScript.empty()) {
            m_kernel->UnInstallFile(item.target, st.keptScript);
            DeleteFileW(st.keptScript.c_str());
        }
        if (reversedPrevious && prev) ReapplyScript(*prev);
        return;
    case ItemKind::Value:
        if (prev && prev->owned) m_kernel->InstallValue(prev->item, true);
        else if (st.owned) m_kernel->UnInstallValue(item);
        return;
    case ItemKind::Shortcut:
        if (st.owned && !(prev && prev->owned)) m_kernel->UnInstallLink(item);
        return;
    }
}

struct Setup::RunStep {
    std::optional<StateItem> previous;
    unsigned mode = kModePrimary;  // the install mode the kernel was given
    bool reversedPrevious = false;
};

int Setup::Install(const Manifest& manifest, const std::wstring& manifestPath) {
    m_installDir = manifest.installDir;
    const std::wstring statePath = StatePathFor(manifest.installDir);
    std::wstring message;
    SetupState old;
    const bool update = PathExists(statePath);
    if (update) {
        if (LoadState(statePath, old, message) != FileStatus::Ok) {
            m_console.Error(message);
            return kExitFailed;
        }
        if (!IniNamesEqual(old.product, manifest.name)) {
            m_console.Error(manifest.installDir + L" holds the product " + old.product +
                            L": uninstall it first or choose another InstallDir");
            return kExitFailed;
        }
    }
    // A medium without all its files is found before anything changes.
    for (const ManifestItem& item : manifest.items) {
        if (item.kind != ItemKind::File && item.kind != ItemKind::Font && item.kind != ItemKind::Script) continue;
        if (!PathExists(item.source) || IsDirectory(item.source)) {
            m_console.Error(manifestPath + L"(" + std::to_wstring(item.line) + L"): the source " + item.source +
                            L" is missing; nothing was changed");
            return kExitFailed;
        }
    }
    std::vector<std::wstring> created;
    if (!MakeFolders(manifest.installDir, created, message)) {
        m_console.Error(message);
        return kExitFailed;
    }
    const std::wstring stateDir = StateDir(manifest.installDir);
    if (!IsDirectory(stateDir)) {
        if (!CreateDirectoryW(stateDir.c_str(), nullptr)) {
            m_console.Error(L"cannot create the folder " + stateDir + L": " + SystemText(GetLastError()));
            for (auto it = created.rbegin(); it != created.rend(); ++it) RemoveDirectoryW(it->c_str());
            return kExitFailed;
        }
        SetFileAttributesW(stateDir.c_str(), FILE_ATTRIBUTE_HIDDEN);
    }

    SetupState state;
    state.product = manifest.name;
    state.version = manifest.version;
    state.installDir = manifest.installDir;
    state.manifest = manifestPath;
    state.mode = manifest.mode;
    state.phase = Phase::Installing;
    state.createdFolders = update ? old.createdFolders : created;
    if (update) {
        for (const std::wstring& folder : created) {
            bool known = false;
            for (const std::wstring& earlier : state.createdFolders) known = known || IniNamesEqual(earlier, folder);
            if (!known) state.createdFolders.insert(state.createdFolders.begin(), folder);  // outermost first
        }
    }
    std::vector<StateItem> remaining = update ? old.items : std::vector<StateItem>();

    m_console.Line((update ? L"Updating " + old.product + L" " + old.version + L" to " : L"Installing ") + manifest.name +
                   L" " + manifest.version + L" in " + manifest.installDir);
    std::vector<StateItem> done;
    std::vector<RunStep> steps;
    const size_t count = manifest.items.size();
    int result = kExitSuccess;
    const auto saveProgress = [&] {
        SetupState snapshot = state;
        snapshot.items = done;
        snapshot.items.insert(snapshot.items.end(), remaining.begin(), remaining.end());
        return Save(snapshot, statePath);
    };
    if (!saveProgress()) result = kExitFailed;
    for (size_t i = 0; i < count && result == kExitSuccess; ++i) {
        if (m_cancel) {
            result = kExitCancelled;
            break;
        }
        RunStep step;
        for (auto it = remaining.begin(); it != remaining.end(); ++it) {
            if (SameThing(it->item, manifest.items[i])) {
                step.previous = *it;
                remaining.erase(it);
                break;
            }
        }
        StateItem st;
        st.item = manifest.items[i];
        step.mode = step.previous && step.previous->done ? kModeUpdate : manifest.mode;
        Outcome outcome = Outcome::Installed;
        std::wstring detail;
        const HRESULT hr = InstallOne(st, step.previous ? &*step.previous : nullptr, step.mode, i + 1, outcome,
                                      detail, step.reversedPrevious);
        if (FAILED(hr)) {
            if (!st.backup.empty()) DeleteFileW(st.backup.c_str());
            if (step.reversedPrevious) ReapplyScript(*step.previous);
            m_console.Progress(i + 1, count, st.item.kind, Name(st.item), Outcome::Failed,
                               HrText(hr) + (detail.empty() ? L"" : L", " + detail));
            if (step.previous) remaining.insert(remaining.begin(), *step.previous);
            result = kExitFailed;
            break;
        }
        m_console.Progress(i + 1, count, st.item.kind, Name(st.item), outcome, detail);
        done.push_back(st);
        steps.push_back(step);
        if (!saveProgress()) result = kExitFailed;
    }

    if (result != kExitSuccess) {
        m_console.Line(L"Undoing what this run installed:");
        for (size_t j = done.size(); j-- > 0;) {
            UndoInstall(done[j], steps[j].previous ? &*steps[j].previous : nullptr, steps[j].reversedPrevious);
            if (steps[j].previous) remaining.insert(remaining.begin(), *steps[j].previous);
            m_console.Progress(j + 1, count, done[j].item.kind, Name(done[j].item), Outcome::Undone);
            done.pop_back();
            saveProgress();
        }
        if (update) {
            Save(old, statePath);  // every item is as that state says again
            RemoveTree(stateDir + L"\\backup");
        } else {
            SetupState none = state;
            none.createdFolders = created;
            RemoveSetupFolders(none);
        }
        m_console.Summary();
        return result;
    }

    // What the earlier version had and this one has not goes now.
    for (size_t j = remaining.size(); j-- > 0;) {
        Outcome outcome = Outcome::Removed;
        std::wstring detail;
        bool restart = false;
        const HRESULT hr = UninstallOne(remaining[j], outcome, detail, restart);
        m_console.Progress(j + 1, remaining.size(), remaining[j].item.kind, Name(remaining[j].item),
                           FAILED(hr) ? Outcome::Failed : outcome, FAILED(hr) ? HrText(hr) : detail);
        if (FAILED(hr)) {
            result = kExitFailed;
            continue;
        }
        state.restartPending = state.restartPending || restart;
        remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(j));
        saveProgress();
    }

    // Targets in use are copied at the next restart.
    for (size_t k = 0; k < done.size(); ++k) {
        StateItem& st = done[k];
        if (!st.deferred || st.scheduled) continue;
        const HRESULT hr = m_kernel->PreparePostRebootCopyFile(st.item.source, st.item.target, steps[k].mode);
        if (FAILED(hr)) {
            m_console.Error(L"cannot schedule the copy of " + st.item.target + L" for the restart: " + HrText(hr));
            result = kExitFailed;
            continue;
        }
        st.scheduled = true;
    }
    for (StateItem& st : done) {
        state.restartPending = state.restartPending || st.deferred;
        if (!st.backup.empty()) DeleteFileW(st.backup.c_str());
        st.backup.clear();
    }
    RemoveTree(stateDir + L"\\backup");  // also what an earlier, interrupted run left there
    state.items = done;
    state.items.insert(state.items.end(), remaining.begin(), remaining.end());
    state.phase = Phase::Installed;
    if (!Save(state, statePath)) result = kExitFailed;
    // Copies of scripts that no item refers to any more.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((stateDir + L"\\scripts\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring path = stateDir + L"\\scripts\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            bool used = false;
            for (const StateItem& st : state.items) used = used || IniNamesEqual(st.keptScript, path);
            if (!used) DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    m_console.Summary();
    if (result == kExitSuccess && state.restartPending) {
        m_console.Line(L"Restart the computer, then run: orvsetup finish");
        return kExitRestartRequired;
    }
    return result;
}

HRESULT Setup::UninstallOne(StateItem& st, Outcome& outcome, std::wstring& detail, bool& restart) {
    const ManifestItem& item = st.item;
    outcome = Outcome::Removed;
    HRESULT hr = S_OK;
    switch (item.kind) {
    case ItemKind::File:
    case ItemKind::Font:
        if (!st.done || (st.deferred && !st.scheduled)) {
            detail = L"was not installed";
            return S_OK;
        }
        if (st.deferred && st.scheduled) {
            // The copy waiting for the restart must not bring the file back.
            const std::wstring waiting = RestartCopyOf(item.target);
            if (PathExists(waiting) && !DeleteFileW(waiting.c_str())) {
                hr = m_kernel->PreparePostRebootDeleteFile(waiting);
                if (FAILED(hr)) return hr;
                restart = true;
            }
        }
        hr = m_kernel->UnInstallFile(item.source, item.target);
        if (hr == kInUse) {
            hr = m_kernel->PreparePostRebootDeleteFile(item.target);
            if (FAILED(hr)) return hr;
            restart = true;
            outcome = Outcome::Restart;
            detail = L"in use, deleted at the next restart";
            return S_OK;
        }
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE && PathExists(item.target)) {
            outcome = Outcome::Kept;
            detail = L"still used by other products";
        }
        if (!st.backup.empty() && PathExists(st.backup)) {
            // A run that never ended had replaced this file: the earlier one comes back.
            if (RestoreBackup(st.backup, item.target)) detail = L"the earlier file is back";
            DeleteFileW(st.backup.c_str());
        }
        return S_OK;
    case ItemKind::Script:
        if (!st.done || st.keptScript.empty()) {
            detail = L"was not installed";
            return S_OK;
        }
        hr = m_kernel->UnInstallFile(item.target, st.keptScript);
        if (FAILED(hr)) return hr;
        DeleteFileW(st.keptScript.c_str());
        return S_OK;
    case ItemKind::Value:
        if (!st.owned) {
            outcome = Outcome::Kept;
            detail = L"was there before";
            return S_OK;
        }
        hr = m_kernel->UnInstallValue(item);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE) detail = L"already gone";
        return S_OK;
    case ItemKind::Shortcut:
        if (!st.owned) {
            outcome = Outcome::Kept;
            detail = L"was there before";
            return S_OK;
        }
        hr = m_kernel->UnInstallLink(item);
        return FAILED(hr) ? hr : S_OK;
    }
    return E_UNEXPECTED;
}

int Setup::Uninstall(SetupState& state, const std::wstring& statePath) {
    m_installDir = state.installDir;
    m_console.Line(L"Removing " + state.product + L" " + state.version + L" from " + state.installDir);
    state.phase = Phase::Uninstalling;
    if (!Save(state, statePath)) return kExitFailed;
    const size_t count = state.items.size();
    bool restart = false, failed = false, cancelled = false;
    for (size_t j = count; j-- > 0;) {
        if (m_cancel) {
            cancelled = true;
            break;
        }
        Outcome outcome = Outcome::Removed;
        std::wstring detail;
        const HRESULT hr = UninstallOne(state.items[j], outcome, detail, restart);
        m_console.Progress(count - j, count, state.items[j].item.kind, Name(state.items[j].item),
                           FAILED(hr) ? Outcome::Failed : outcome, FAILED(hr) ? HrText(hr) : detail);
        if (FAILED(hr)) {
            failed = true;
            continue;
        }
        state.items.erase(state.items.begin() + static_cast<std::ptrdiff_t>(j));
        if (!Save(state, statePath)) return kExitFailed;
    }
    m_console.Summary();
    if (cancelled) return kExitCancelled;
    if (failed) {
        m_console.Error(L"some items could not be removed; they stay recorded in " + statePath);
        return kExitFailed;
    }
    RemoveSetupFolders(state);
    return restart ? kExitRestartRequired : kExitSuccess;
}

int Setup::Check(SetupState& state, const std::wstring&) {
    m_installDir = state.installDir;
    m_console.Line(L"Checking " + state.product + L" " + state.version + L" in " + state.installDir);
    size_t files = 0, index = 0;
    for (const StateItem& st : state.items) files += st.item.kind == ItemKind::File || st.item.kind == ItemKind::Font;
    bool failed = false;
    for (const StateItem& st : state.items) {
        if (st.item.kind != ItemKind::File && st.item.kind != ItemKind::Font) continue;
        ++index;
        if (st.deferred) {
            m_console.Progress(index, files, st.item.kind, Name(st.item), Outcome::Restart, L"waits for the restart");
            continue;
        }
        std::wstring text;
        const HRESULT hr = m_kernel->InstallCheck(st.item.target, st.check, text);
        if (FAILED(hr)) failed = true;
        const Outcome outcome = FAILED(hr) ? Outcome::Failed : (hr == S_OK && text.empty()) ? Outcome::Ok : Outcome::Warning;
        m_console.Progress(index, files, st.item.kind, Name(st.item), outcome,
                           FAILED(hr) ? HrText(hr) + (text.empty() ? L"" : L" " + text) : text);
    }
    m_console.Summary();
    return failed ? kExitFailed : kExitSuccess;
}

int Setup::Repair(SetupState& state, const std::wstring& statePath) {
    m_installDir = state.installDir;
    m_console.Line(L"Repairing " + state.product + L" " + state.version + L" in " + state.installDir);
    size_t files = 0, index = 0;
    for (const StateItem& st : state.items) files += st.item.kind == ItemKind::File || st.item.kind == ItemKind::Font;
    bool failed = false, restart = false;
    for (StateItem& st : state.items) {
        if (st.item.kind != ItemKind::File && st.item.kind != ItemKind::Font) continue;
        ++index;
        if (m_cancel) return kExitCancelled;
        if (st.deferred) continue;
        std::wstring text;
        const HRESULT checked = m_kernel->InstallCheck(st.item.target, st.check, text);
        if (SUCCEEDED(checked)) {
            m_console.Progress(index, files, st.item.kind, Name(st.item), Outcome::Ok, text);
            continue;
        }
        const std::wstring was = L"was " + HrText(checked) + (text.empty() ? L"" : L" " + text);
        if (!PathExists(st.item.source)) {
            m_console.Progress(index, files, st.item.kind, Name(st.item), Outcome::Failed,
                               L"the source " + st.item.source + L" is gone");
            failed = true;
            continue;
        }
        std::vector<CheckPair> check;
        HRESULT hr = m_kernel->InstallFile(st.item, st.item.source, kModeRepair, true, check);
        if (hr == kInUse || (hr == kServerNotInstalled && IsInUse(st.item.target))) {
            hr = m_kernel->PreparePostRebootCopyFile(st.item.source, st.item.target, kModeRepair);
            if (SUCCEEDED(hr)) {
                st.deferred = st.scheduled = true;
                st.registerAfterRestart = HasCheckKey(check, L"comserverregpath");
                st.check = check;
                state.restartPending = restart = true;
                m_console.Progress(index, files, st.item.kind, Name(st.item), Outcome::Restart,
                                   L"in use, replaced at the next restart");
                Save(state, statePath);
                continue;
            }
        }
        if (FAILED(hr)) {
            m_console.Progress(index, files, st.item.kind, Name(st.item), Outcome::Failed, HrText(hr));
            failed = true;
            continue;
        }
        st.check = check;
        m_console.Progress(index, files, st.item.kind, Name(st.item), Outcome::Repaired, was);
        if (!Save(state, statePath)) return kExitFailed;
    }
    m_console.Summary();
    if (failed) return kExitFailed;
    return restart ? kExitRestartRequired : kExitSuccess;
}

int Setup::Finish(SetupState& state, const std::wstring& statePath) {
    m_installDir = state.installDir;
    if (!state.restartPending) {
        m_console.Line(L"Nothing of " + state.product + L" waits for a restart.");
        return kExitSuccess;
    }
    for (const StateItem& st : state.items) {
        if (st.deferred && st.scheduled && PathExists(RestartCopyOf(st.item.target))) {
            m_console.Error(L"the restart has not happened yet: " + st.item.target + L" still waits for its copy");
            return kExitRestartRequired;
        }
    }
    m_console.Line(L"Finishing " + state.product + L" " + state.version + L" after the restart");
    size_t deferred = 0, index = 0;
    for (const StateItem& st : state.items) deferred += st.deferred;
    bool failed = false;
    for (StateItem& st : state.items) {
        if (!st.deferred) continue;
        ++index;
        const bool server = st.registerAfterRestart;
        if (server) {
            const HRESULT hr = m_kernel->PostRebootRegister(st.item.target);
            if (FAILED(hr)) {
                m_console.Progress(index, deferred, st.item.kind, Name(st.item), Outcome::Failed, HrText(hr));
                failed = true;
                continue;
            }
        }
        st.deferred = st.scheduled = st.registerAfterRestart = false;
        m_console.Progress(index, deferred, st.item.kind, Name(st.item), Outcome::Installed,
                           server ? L"registered" : L"");
    }
    state.restartPending = failed;
    if (!Save(state, statePath)) return kExitFailed;
    m_console.Summary();
    return failed ? kExitFailed : kExitSuccess;
}

int Setup::Status(const SetupState& state) {
    m_installDir = state.installDir;
    m_console.Line(state.product + L" " + state.version);
    m_console.Line(L"  install folder  " + state.installDir);
    if (!state.manifest.empty()) m_console.Line(L"  installed from  " + state.manifest);
    m_console.Line(std::wstring(L"  state           ") +
                   (state.phase == Phase::Installed      ? L"installed"
                    : state.phase == Phase::Installing ? L"an install did not end: run uninstall or install again"
                                                       : L"an uninstall did not end: run uninstall again") +
                   (state.restartPending ? L", waits for a restart (then run finish)" : L""));
    const size_t count = state.items.size();
    for (size_t i = 0; i < count; ++i) {
        const StateItem& st = state.items[i];
        Outcome outcome = Outcome::Installed;
        std::wstring detail;
        if (!st.done) {
            outcome = Outcome::Failed;
            detail = L"not installed";
        } else if (st.deferred) {
            outcome = Outcome::Restart;
        } else if ((st.item.kind == ItemKind::Value || st.item.kind == ItemKind::Shortcut) && !st.owned) {
            outcome = Outcome::Kept;
            detail = L"was there before";
        }
        for (const CheckPair& pair : st.check)
            if (pair.key == L"version" && pair.hasValue) detail = L"version " + pair.value;
        m_console.Progress(i + 1, count, st.item.kind, Name(st.item), outcome, detail);
    }
    return kExitSuccess;
}

}  // namespace orvsetup
