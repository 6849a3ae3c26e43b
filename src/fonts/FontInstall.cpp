// The font rule: CWexKrFontFile::Install and CWexKrFontFile::UnInstall.
//
// An installed font of the same name is kept or replaced by version, or by
// time stamp when neither file has one. Installing means: the fonts key
// entry, the file in place, the font resource added to the running system
// and announced to every top-level window, and a load test on the desktop's
// device context. The copy goes through the file engine's staged copy, so
// an installed font is replaced only by a complete new one and never lost
// when the copy fails.
//
// A font without a name (an unreadable naming table, a raster font without
// a module description) is installed without a fonts key entry: an empty
// name would be registered as " (TrueType)" and would find any installed font.
#include <shlwapi.h>

#include <memory>
#include <string>
#include <vector>

#include "files/FileModel.h"
#include "files/FileOps.h"
#include "fonts/FontSeams.h"
#include "fonts/FontsKey.h"
#include "platform/KrLog.h"
#include "platform/WexUt.h"

using namespace orv;
using namespace orv::files;

namespace orv::fonts {

FontSeams& Seams() {
    static FontSeams seams;
    return seams;
}

}  // namespace orv::fonts

namespace {

// The fonts key value of that name as it is: type and bytes; false when there is none.
bool ReadEntry(LPCWSTR valueName, DWORD& type, std::vector<BYTE>& data) {
    DWORD size = 0;
    if (SHGetValueW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), valueName, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    return SHGetValueW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), valueName, &type, size ? data.data() : nullptr,
                       &size) == ERROR_SUCCESS;
}

// The value as ReadEntry found it, or gone when there was none.
void RestoreEntry(LPCWSTR valueName, bool existed, DWORD type, const std::vector<BYTE>& data) {
    if (existed)
        SHSetValueW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), valueName, type, data.data(), static_cast<DWORD>(data.size()));
    else
        SHDeleteValueW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), valueName);
}

constexpr HRESULT kHrFontResourceFailed = E_UNEXPECTED;  // 0x8000FFFF

struct DestroyFile {
    void operator()(CWexKrFile* file) const { file->Destroy(); }
};

void AnnounceFontChange() { PostMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0); }

void LogVersionParts(LPCWSTR format, const CWexFileVersion& v) {
    LogWarning(format, v.wVerMaj1, v.wVerMaj2, v.wVerMin1, v.wVerMin2);
}

void LogTimeStamp(LPCWSTR format, const SYSTEMTIME& st) {
    LogInfo(format, st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute, st.wSecond);
}

// The version of the installed font's file, through a file object of its own class.
CWexFileVersion InstalledVersion(LPCWSTR installed) {
    CWexFileVersion version;
    std::unique_ptr<CWexKrFile, DestroyFile> file(CWexKrFile::CreateInstance(installed));
    if (auto* executable = dynamic_cast<CWexKrExecutableFile*>(file.get())) executable->GetVersion(version);
    return version;
}

// Without versions: the target's time (long-name form) against the source's.
bool KeepByTimeStamp(LPCWSTR source, LPCWSTR target) {
    WCHAR longTarget[MAX_PATH];
    LongNameOf(target, longTarget);
    SYSTEMTIME existing{}, fresh{};
    CWexFile::GetTimeStamp(longTarget, &existing, WEX_TIME_LASTWRITE);
    CWexFile::GetTimeStamp(source, &fresh, WEX_TIME_LASTWRITE);
    LogTimeStamp(L"Time stamp of existing font is: %02d.%02d.%d %02d:%02d:%02d", existing);
    LogTimeStamp(L"Time stamp of font to be installed is: %02d.%02d.%d %02d:%02d:%02d", fresh);
    FILETIME existingTime{}, freshTime{};
    if (!SystemTimeToFileTime(&existing, &existingTime)) existingTime = FILETIME{};
    if (!SystemTimeToFileTime(&fresh, &freshTime)) freshTime = FILETIME{};
    if (CompareFileTime(&existingTime, &freshTime) < 0) {
        LogInfo(L"Time stamp of font to be installed is newer than time stamp of existing font: Installing new font");
        return false;
    }
    LogInfo(L"Time stamp of existing font is same or newer than time stamp of font to be installed: Keeping existing "
            L"font installation");
    return true;
}

// The ladder for a font of the same name installed at `installed`: true keeps it.
bool KeepInstalledFont(CWexKrFontFile& font, LPCWSTR installed, LPCWSTR target) {
    const CWexFileVersion existing = InstalledVersion(installed);
    CWexFileVersion fresh;
    font.GetVersion(fresh);
    WCHAR existingText[32], freshText[32];
    if (existing.IsValid() && fresh.IsValid()) {
        existing.GetVersionString(existingText, 32);
        fresh.GetVersionString(freshText, 32);
        if (existing >= fresh) {
            LogInfo(L"Existing font (%s) is same or newer than font to be installed(%s): Keeping existing font "
                    L"installation",
                    existingText, freshText);
            return true;
        }
        LogInfo(L"Font to be installed (%s) is newer than existing font (%s) : Installing new font", freshText,
                existingText);
        return false;
    }
    if (fresh.IsValid()) {
        LogVersionParts(L"Existing font has no version. Font to be installed has version %d.%d.%d.%d: Supposed to be "
                        L"newer: Installing new font",
                        fresh);
        return false;
    }
    if (existing.IsValid()) {
        LogVersionParts(L"Font to be installed has no version. Existing font has version %d.%d.%d.%d: Supposed to be "
                        L"newer: Keeping existing font installation",
                        existing);
        return true;
    }
    LogWarning(L"Neither existing font file nor font file to be installed has a version: Falling back to time stamp "
               L"check");
    return KeepByTimeStamp(font.GetPath(), target);
}

bool IsAllZero(const TEXTMETRICW& tm) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&tm);
    for (size_t i = 0; i < sizeof(tm); ++i)
        if (bytes[i]) return false;
    return true;
}

// The font created by its name and measured on the desktop's device context.
HRESULT LoadTest(const std::wstring& fontName, LPCWSTR target) {
    LOGFONTW logFont{};
    lstrcpynW(logFont.lfFaceName, fontName.c_str(), LF_FACESIZE);
    const HFONT font = CreateFontIndirectW(&logFont);
    if (!font) return S_OK;
    const HWND desktop = GetDesktopWindow();
    const HDC dc = desktop ? GetDC(desktop) : nullptr;
    if (dc) {
        const HGDIOBJ previous = SelectObject(dc, font);
        if (!previous || previous == HGDI_ERROR) {
            LogError(L"Font Object selection failure");
        } else {
            TEXTMETRICW metrics{};
            const auto getMetrics = fonts::Seams().pfnGetTextMetrics;
            if (!(getMetrics ? getMetrics(dc, &metrics) : GetTextMetricsW(dc, &metrics)))
                LogError(L"GetTextMetric Failure");
            const DWORD error = GetLastError();
            // The font is taken out of the device context again before it is deleted.
            SelectObject(dc, previous);
            if (IsAllZero(metrics)) {
                LogWin32(WEX_SEV_ERROR, error, L"Font could not be loaded");
                DeleteObject(font);
                ReleaseDC(desktop, dc);
                return kWexKrHrFileInUse;
            }
        }
        ReleaseDC(desktop, dc);
    }
    LogInfo(L"Font successfully installed to %s", target);
    DeleteObject(font);
    return S_OK;
}

}  // namespace

HRESULT CWexKrFontFile::Install(LPCWSTR pszTarget, DWORD dwFlags) {
    if (!PathFits(pszTarget)) return RefusePathTooLong(pszTarget);
    std::wstring fontName;
    GetFontName(fontName);  // an unreadable name is an empty one
    if (!PathFileExistsW(m_szPath)) {
        LogWin32Format(WEX_SEV_ERROR, ERROR_FILE_NOT_FOUND, L"Source file '%s' is missing. Aborting file installation",
                       m_szPath);
        return HResultFromWin32(ERROR_FILE_NOT_FOUND);
    }
    LogInfo(L"Font name: \"%s\"", fontName.c_str());

    if (dwFlags & kWexKrInstallForce) {
        LogInfo(L"Force flag is set: Skipping version or time stamp check");
    } else {
        std::wstring installed;
        if (FindInstalledFont(fontName.c_str(), installed) == S_OK) {
            LogInfo(L"Font \"%s\" is already installed as %s", fontName.c_str(), installed.c_str());
            if (KeepInstalledFont(*this, installed.c_str(), pszTarget)) return S_FALSE;
        }
    }

    // The entry's data: the bare file name in the fonts folder, else the full path.
    WCHAR folder[MAX_PATH];
    FolderOf(pszTarget, folder);
    const LPCWSTR fontsDir = CWexSystem::GetFontsDir();
    LPCWSTR data = pszTarget;
    if (IsSameFile(folder, fontsDir)) {
        data = PathFindFileNameW(pszTarget);
    } else {
        LogWarning(L"Target directory %s differs from fonts directory %s", folder, fontsDir);
    }

    const std::wstring valueName = fontName + L" (TrueType)";
    const bool registered = !fontName.empty();
    // What the entry held before, put back when the file cannot be copied at all.
    DWORD previousType = REG_NONE;
    std::vector<BYTE> previous;
    const bool hadEntry = registered && ReadEntry(valueName.c_str(), previousType, previous);
    if (!registered) {
        LogWarning(L"Font file %s carries no font name: Installing it without font registry entry", m_szPath);
    } else {
        LogInfo(L"Attempting to set font registry entry: %s", valueName.c_str());
        const DWORD cbData = static_cast<DWORD>((wcslen(data) + 1) * sizeof(WCHAR));
        const LONG error =
            SHSetValueW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), valueName.c_str(), REG_SZ, data, cbData);
        if (error != ERROR_SUCCESS) {
            const HRESULT hr = HResultFromWin32(error);
            LogWin32(WEX_SEV_ERROR, static_cast<DWORD>(hr) & 0xFFFF,
                     L"Error writing to font key. Aborting font installation");
            return hr;
        }
        LogInfo(L"Setting font registry entry succeeded");
    }

    const bool sameFile = IsSameFile(m_szPath, pszTarget);
    if (sameFile) {
        LogInfo(L"Server dependent installation: source file path equals target file path: OK");
    } else {
        LogInfo(L"Attempting to copy file %s to %s", m_szPath, pszTarget);
        const HRESULT hrFolder = PrepareTargetFolder(pszTarget);
        if (FAILED(hrFolder)) return hrFolder;
        DWORD error = CopyOnto(m_szPath, pszTarget);
        if (error == ERROR_SUCCESS) {
            ClearReadOnly(pszTarget);
            LogInfo(L"FileCopy succeeded");
        } else {
            LogWin32(WEX_SEV_ERROR, error, L"FileCopy failed");
            LogInfo(L"CopyFile Errorcode %d ", static_cast<int>(error));
            ClearReadOnlyAndSystem(pszTarget);
            // Once more; the installed font stays as it was unless the new one replaces it whole.
            error = CopyOnto(m_szPath, pszTarget);
            if (error != ERROR_SUCCESS) {
                if (IsInUseError(error)) return kWexKrHrFileInUse;  // the copy can wait for the next restart
                // Not in use (a full drive, a bad path): a copy after a restart
                // would fail alike, so the entry must not name a file that is not there.
                if (registered) RestoreEntry(valueName.c_str(), hadEntry, previousType, previous);
                LogWin32(WEX_SEV_ERROR, error, L"Font file could not be copied: font registry entry put back");
                return HResultFromWin32(static_cast<LONG>(error));
            }
            ClearReadOnly(pszTarget);
            LogInfo(L"'%s' successfully copied to '%s', finally", m_szPath, pszTarget);
            return S_OK;
        }
    }

    if (!AddFontResourceW(pszTarget)) {
        LogError(L"AddFontResource() failed. Aborting font installation");
        if (!sameFile) DeleteFileW(pszTarget);
        if (registered) SHDeleteValueW(HKEY_LOCAL_MACHINE, fonts::FontsKeyPath(), valueName.c_str());
        return kHrFontResourceFailed;
    }
    AnnounceFontChange();
    return LoadTest(fontName, pszTarget);
}

HRESULT CWexKrFontFile::UnInstall(LPCWSTR pszSource) {
    std::wstring fontName;
    GetFontName(fontName);
    LogInfo(L"Font name: \"%s\"", fontName.c_str());

    if (!RemoveFontResourceW(m_szPath)) {
        LogError(L"RemoveFontResource() failed: Aborting font uninstallation");
        return kHrFontResourceFailed;
    }
    AnnounceFontChange();

    const HRESULT hr = CWexKrFile::UnInstall(pszSource);
    if (FAILED(hr)) {
        LogError(L"CWexFile::UnInstall() failed: Aborting font uninstallation");
        return hr;
    }
    LogInfo(L"Attempting to remove font file information from registry");
    fonts::RemoveEntryOfFile(m_szPath);
    return S_OK;
}
