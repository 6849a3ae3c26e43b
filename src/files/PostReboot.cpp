#include "files/PostReboot.h"

#include <shlwapi.h>

#include <string>
#include <vector>

#include "core/RenameSection.h"
#include "files/FileOps.h"
#include "files/MachineLock.h"
#include "kernel/Module.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"

namespace orv::files {
namespace {

const WCHAR kRenameSection[] = L"rename";
const WCHAR kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const WCHAR kWininitLock[] = L"TqOrvWexKr.wininit";
// No wininit.ini is anywhere near this; a section beyond it is refused, not cut.
constexpr size_t kMaxSectionChars = size_t(1) << 20;

// The error of a call that just failed. Some report none (Wine's delayed
// MoveFileEx when the pending-rename list cannot be written): a failure must
// never turn into S_OK for want of a number.
DWORD FailedCallError() {
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

HRESULT FailWin32(DWORD error, LPCWSTR text) {
    LogWin32(WEX_SEV_ERROR, error, text);
    return HResultFromWin32(static_cast<LONG>(error));
}

HRESULT RefuseLongPath(LPCWSTR path) { return RefusePathTooLong(path); }

bool Fits(LPCWSTR path) { return PathFits(path); }

// The short (8.3) form of an existing path.
HRESULT ShortPathOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]) {
    SetLastError(0);
    const DWORD n = GetShortPathNameW(path, out, MAX_PATH);
    if (n == 0) {
        const DWORD error = FailedCallError();
        LogWin32Format(WEX_SEV_ERROR, error, L"Error getting the short path of '%s'", path);
        return HResultFromWin32(static_cast<LONG>(error));
    }
    if (n >= MAX_PATH) return RefuseLongPath(path);
    return S_OK;
}

// The [rename] section in full: the buffer grows until the whole section fits.
HRESULT ReadRenameSection(LPCWSTR wininit, std::vector<std::wstring>& lines) {
    std::vector<WCHAR> buffer;
    for (size_t size = 0x7FFF;; size *= 2) {
        if (size > kMaxSectionChars)
            return FailWin32(ERROR_MORE_DATA, L"The [rename] section of wininit.ini is too long");
        buffer.assign(size, 0);
        const DWORD n = GetPrivateProfileSectionW(kRenameSection, buffer.data(), static_cast<DWORD>(size), wininit);
        if (n + 2 < size) {  // size - 2 means cut short
            lines = SplitProfileSection(buffer.data(), n);
            return S_OK;
        }
    }
}

HRESULT WriteRenameSection(LPCWSTR wininit, const std::vector<std::wstring>& lines) {
    const std::wstring text = JoinProfileSection(lines);
    SetLastError(0);
    if (!WritePrivateProfileSectionW(kRenameSection, text.c_str(), wininit))
        return FailWin32(FailedCallError(), L"Error writing wininit.ini");
    return S_OK;
}

// "wininit.ini" in the Windows folder, made to exist and held open for
// reading and writing (others may share both) until the section is written
// back: nobody can lock the file between the read and the write, so the
// section is never read as empty and written back without its lines.
HRESULT OpenWininit(WCHAR (&path)[MAX_PATH], UniqueFile& file) {
    const UINT n = GetWindowsDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return FailWin32(n == 0 ? FailedCallError() : ERROR_FILENAME_EXCED_RANGE,
                         L"Error opening or creating wininit.ini");
    if (!PathAppendW(path, L"wininit.ini"))
        return FailWin32(ERROR_FILENAME_EXCED_RANGE, L"Error opening or creating wininit.ini");
    SetLastError(0);
    file.Reset(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return FailWin32(FailedCallError(), L"Error opening or creating wininit.ini");
    return S_OK;
}

// Adds lines to the [rename] section under the machine-wide lock.
template <typename Edit>
HRESULT EditRenameSection(Edit edit) {
    MachineLock lock(kWininitLock);
    if (lock.Error()) return FailWin32(lock.Error(), L"Error opening or creating wininit.ini");
    WCHAR wininit[MAX_PATH];
    UniqueFile held;
    HRESULT hr = OpenWininit(wininit, held);
    if (FAILED(hr)) return hr;
    std::vector<std::wstring> lines;
    hr = ReadRenameSection(wininit, lines);
    if (FAILED(hr)) return hr;
    edit(lines);
    return WriteRenameSection(wininit, lines);
}

HRESULT CopyOn9x(LPCWSTR target, LPCWSTR temporary) {
    LogInfo(L"Running on an 9X system: Use wininit.ini");
    WCHAR shortTarget[MAX_PATH], shortTemporary[MAX_PATH];
    HRESULT hr = ShortPathOf(target, shortTarget);
    if (FAILED(hr)) return hr;
    hr = ShortPathOf(temporary, shortTemporary);
    if (FAILED(hr)) return hr;
    hr =
        EditRenameSection([&](std::vector<std::wstring>& lines) { AddRenameCopy(lines, shortTarget, shortTemporary); });
    if (FAILED(hr)) return hr;
    if (ShortNameDiffers(shortTarget)) {
        // WININIT puts the file in place under its short name: rename it back.
        WCHAR longTarget[MAX_PATH];
        const DWORD n = GetLongPathNameW(target, longTarget, MAX_PATH);
        const std::wstring longName(FileNamePart(n > 0 && n < MAX_PATH ? longTarget : target));
        const std::wstring valueName = L"__ORV__" + std::wstring(FileNamePart(shortTarget));
        const std::wstring command = MakeLongNameRestoreCommand(shortTarget, longName);
        LogInfo(L"Adding RunOnce Entry: %s -- %s", valueName.c_str(), command.c_str());
        const LONG status = SHSetValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, valueName.c_str(), REG_SZ, command.c_str(),
                                        static_cast<DWORD>((command.size() + 1) * sizeof(WCHAR)));
        if (status != ERROR_SUCCESS)
            return FailWin32(static_cast<DWORD>(status), L"Post reboot installation initialization failed");
    }
    return S_OK;
}

}  // namespace

HRESULT SchedulePostRebootCopy(LPCWSTR pszSource, LPCWSTR pszTarget) {
    try {
        if (!pszSource || !pszTarget) return E_POINTER;
        if (!Fits(pszSource)) return RefuseLongPath(pszSource);
        if (!Fits(pszTarget)) return RefuseLongPath(pszTarget);
        std::wstring temporary;
        if (!MakeTemporaryCopyPath(pszTarget, temporary, kTemporaryPathChars - 8)) return RefuseLongPath(pszTarget);
        if (!Fits(temporary.c_str())) {
            // A folder of up to 248 characters leaves no room for the longer
            // name under MAX_PATH: NT takes its "\\?\" form; wininit.ini cannot.
            WCHAR extended[kTemporaryPathChars];
            if (!IsWindowsNT() || !ExtendedLengthPath(temporary.c_str(), extended, kTemporaryPathChars))
                return RefuseLongPath(pszTarget);
            temporary = extended;
        }
        SetLastError(0);
        if (!CopyFileW(pszSource, temporary.c_str(), FALSE))
            return FailWin32(FailedCallError(), L"Error creating temporary copy of source file.");

        if (IsWindowsNT()) {
            LogInfo(L"Running on an NT system: Use MoveFileEx");
            SetLastError(0);
            if (!MoveFileExW(pszTarget, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                return FailWin32(FailedCallError(), L"Error calling MoveFileEx.");
            // Without this second entry the restart would only delete the target.
            SetLastError(0);
            if (!MoveFileExW(temporary.c_str(), pszTarget, MOVEFILE_DELAY_UNTIL_REBOOT))
                return FailWin32(FailedCallError(), L"Error calling MoveFileEx.");
        } else {
            const HRESULT hr = CopyOn9x(pszTarget, temporary.c_str());
            if (FAILED(hr)) return hr;
        }
        LogInfo(L"Post reboot installation initiated successfully");
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT SchedulePostRebootDelete(LPCWSTR pszPath) {
    try {
        if (!pszPath) return E_POINTER;
        if (!Fits(pszPath)) return RefuseLongPath(pszPath);
        if (IsWindowsNT()) {
            LogInfo(L"Running on an NT system: Use MoveFileEx");
            SetLastError(0);
            if (!MoveFileExW(pszPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                return FailWin32(FailedCallError(), L"Error calling MoveFileEx.");
            LogInfo(L"Post reboot installation initiated successfully");
            return S_OK;
        }
        LogInfo(L"Running on an 9X system: Use wininit.ini");
        WCHAR shortPath[MAX_PATH];
        HRESULT hr = ShortPathOf(pszPath, shortPath);
        if (FAILED(hr)) return hr;
        std::wstring line;
        hr = EditRenameSection([&](std::vector<std::wstring>& lines) { line = AddRenameDelete(lines, shortPath); });
        if (FAILED(hr)) return hr;
        LogInfo(L"Post reboot installation initiated successfully. Inserted string: %s", line.c_str());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace orv::files
