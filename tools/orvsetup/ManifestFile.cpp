#include "ManifestFile.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "Win32.h"

namespace orvsetup {
namespace {

// A double-null-terminated list from a profile call that fills a buffer;
// the buffer grows until the list fits.
template <typename Call>
std::vector<std::wstring> ProfileList(Call call) {
    std::vector<wchar_t> buffer(4096);
    for (;;) {
        const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n + 2 < buffer.size()) {
            std::vector<std::wstring> list;
            for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) list.emplace_back(p);
            return list;
        }
        buffer.resize(buffer.size() * 4);
    }
}

// The manifest as the profile API reads it.
IniDocument ReadWithProfileApi(const std::wstring& path) {
    IniDocument document;
    const auto names = ProfileList([&](wchar_t* b, DWORD n) {
        return GetPrivateProfileSectionNamesW(b, n, path.c_str());
    });
    for (const std::wstring& name : names) {
        IniSection section;
        section.name = name;
        const auto keys = ProfileList([&](wchar_t* b, DWORD n) {
            return GetPrivateProfileStringW(name.c_str(), nullptr, L"", b, n, path.c_str());
        });
        for (const std::wstring& key : keys) {
            std::vector<wchar_t> value(kMaxIniLine + 2);
            GetPrivateProfileStringW(name.c_str(), key.c_str(), L"", value.data(), static_cast<DWORD>(value.size()),
                                     path.c_str());
            section.entries.push_back(IniEntry{key, value.data(), 0});
        }
        document.sections.push_back(std::move(section));
    }
    return document;
}

// The first place where the two readings differ, or 0 when they agree.
// Returns the line of the portable reading (1 at least) where they part.
unsigned FirstDifference(const IniDocument& ours, const IniDocument& api, std::wstring& what) {
    for (size_t i = 0; i < ours.sections.size() || i < api.sections.size(); ++i) {
        if (i >= ours.sections.size()) {
            what = L"the profile API reads a section [" + api.sections[i].name + L"] more";
            return ours.sections.empty() ? 1 : ours.sections.back().line;
        }
        const IniSection& a = ours.sections[i];
        if (i >= api.sections.size() || a.name != api.sections[i].name) {
            what = L"the profile API does not read the section [" + a.name + L"] here";
            return a.line;
        }
        const IniSection& b = api.sections[i];
        for (size_t j = 0; j < a.entries.size() || j < b.entries.size(); ++j) {
            if (j >= a.entries.size()) {
                what = L"the profile API reads a key '" + b.entries[j].key + L"' more in [" + a.name + L"]";
                return a.line;
            }
            if (j >= b.entries.size() || a.entries[j].key != b.entries[j].key ||
                a.entries[j].value != b.entries[j].value) {
                what = L"the profile API reads this line differently";
                return a.entries[j].line;
            }
        }
    }
    return 0;
}

std::wstring WhereText(const std::wstring& path, unsigned line) {
    return line ? path + L"(" + std::to_wstring(line) + L")" : path;
}

}  // namespace

bool SystemPaths::Folder(std::wstring_view keyword, std::wstring& path) const {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = 0;
    if (keyword == L"System") {
        n = GetSystemDirectoryW(buffer, MAX_PATH);
    } else if (keyword == L"Windows" || keyword == L"Fonts") {
        n = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    } else {
        const int csidl = keyword == L"ProgramFiles" ? CSIDL_PROGRAM_FILES
                          : keyword == L"CommonFiles" ? CSIDL_PROGRAM_FILES_COMMON
                                                      : -1;
        if (csidl < 0 || FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return false;
        n = static_cast<UINT>(wcslen(buffer));
    }
    if (n == 0 || n >= MAX_PATH) return false;
    path.assign(buffer, n);
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    if (keyword == L"Fonts") path += path.back() == L'\\' ? L"Fonts" : L"\\Fonts";
    return true;
}

bool SystemPaths::Environment(std::wstring_view name, std::wstring& value) const {
    const std::wstring n(name);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        SetLastError(0);
        const DWORD len = GetEnvironmentVariableW(n.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (len == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value.clear();
            return true;
        }
        if (len < buffer.size()) {
            value.assign(buffer.data(), len);
            return true;
        }
        buffer.resize(len + 1);
    }
}

FileStatus LoadManifest(const std::wstring& path, Manifest& manifest, std::wstring& fullPath, std::wstring& message) {
    fullPath = FullPathOf(path);
    std::string bytes;
    DWORD error = 0;
    if (!ReadWholeFile(fullPath, bytes, error)) {
        message = fullPath + L": cannot be read: " + SystemText(error);
        return FileStatus::CannotOpen;
    }
    IniDocument ours;
    IniError iniError;
    if (!ReadIni(bytes, ours, iniError)) {
        message = WhereText(fullPath, iniError.line) + L": " + iniError.message;
        return FileStatus::Invalid;
    }
    std::wstring what;
    if (const unsigned line = FirstDifference(ours, ReadWithProfileApi(fullPath), what)) {
        message = WhereText(fullPath, line) + L": " + what;
        return FileStatus::Invalid;
    }
    const std::wstring sourceDir = fullPath.substr(0, fullPath.rfind(L'\\'));
    if (!ReadManifest(ours, sourceDir, SystemPaths(), manifest, iniError)) {
        message = WhereText(fullPath, iniError.line) + L": " + iniError.message;
        return FileStatus::Invalid;
    }
    return FileStatus::Ok;
}

bool LooksLikeStateFile(const std::wstring& path) {
    std::string bytes;
    DWORD error = 0;
    IniDocument document;
    IniError iniError;
    return ReadWholeFile(FullPathOf(path), bytes, error) && ReadIni(bytes, document, iniError) &&
           !document.sections.empty() && IniNamesEqual(document.sections[0].name, L"State");
}

std::wstring StatePathFor(const std::wstring& installDir) {
    return installDir + L"\\" + kStateFolder + L"\\" + kStateFile;
}

FileStatus LoadState(const std::wstring& path, SetupState& state, std::wstring& message) {
    std::string bytes;
    DWORD error = 0;
    if (!ReadWholeFile(path, bytes, error)) {
        message = path + L": cannot be read: " + SystemText(error);
        return FileStatus::CannotOpen;
    }
    IniDocument document;
    IniError iniError;
    if (!ReadIni(bytes, document, iniError) || !StateFromIni(document, state, iniError)) {
        message = WhereText(path, iniError.line) + L": " + iniError.message;
        return FileStatus::Invalid;
    }
    return FileStatus::Ok;
}

bool SaveState(const std::wstring& path, const SetupState& state, std::wstring& message) {
    IniDocument document;
    StateToIni(state, document);
    std::string bytes;
    if (!WriteIni(document, bytes)) {
        message = path + L": the state holds text that cannot be written";
        return false;
    }
    DWORD error = 0;
    if (!WriteFileAtomically(path, bytes, error)) {
        message = path + L": cannot be written: " + SystemText(error);
        return false;
    }
    return true;
}

}  // namespace orvsetup
