// Shortcut texts: the command line "target[ arguments][;icon[;index]]", the
// icon index, the icon path's quotes and the shell folder argument
// "keyword[\sub-folder...]\name". The input is UTF-16 text; each reader's
// parts must give back the text they came from (a broken promise aborts).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "core/LinkCommandLine.h"
#include "core/LinkLocation.h"

#include "FuzzText.h"

namespace {


void FuzzCommandLine(const std::wstring& text) {
    const orv::LinkCommandLine split = orv::SplitCommandLine(text.c_str());
    const size_t first = text.find(L';');
    const std::wstring proper = text.substr(0, first);
    Check(split.target.find(L';') == std::wstring::npos && split.arguments.find(L';') == std::wstring::npos);
    Check(split.iconFile.find(L';') == std::wstring::npos);

    // The command line proper is the target, as written, and the arguments.
    std::wstring written = split.target;
    if (proper.size() >= written.size() + 2 && proper[0] == L'"' && proper[written.size() + 1] == L'"' &&
        proper.compare(1, written.size(), written) == 0)
        written = L"\"" + written + L"\"";
    else if (proper == L"\"" && written.empty())
        written = L"\"";
    Check(proper.compare(0, written.size(), written) == 0);
    if (proper.size() > written.size()) {
        Check(proper[written.size()] == L' ');
        Check(proper.substr(written.size() + 1) == split.arguments);
    } else {
        Check(split.arguments.empty());
    }

    // Icon file and index as written after the first and second ';'.
    if (first == std::wstring::npos) {
        Check(split.iconFile.empty() && split.iconIndex == 0);
        return;
    }
    const size_t second = text.find(L';', first + 1);
    Check(split.iconFile == text.substr(first + 1, second == std::wstring::npos ? second : second - first - 1));
    Check(split.iconIndex == (second == std::wstring::npos ? 0 : orv::ReadIconIndex(text.c_str() + second + 1)));

    std::wstring icon = split.iconFile;
    orv::UnquoteIconPath(icon);
    Check(icon.size() + 2 >= split.iconFile.size() && split.iconFile.find(icon) <= 1);
}

// _wtoi as the C library reads it, clamped to int.
void FuzzIconIndex(const std::wstring& text) {
    const int index = orv::ReadIconIndex(text.c_str());
    for (wchar_t c : text)
        if (c >= 0x80) return;  // the library's notion of blanks is ASCII only here
    errno = 0;
    const long long value = std::wcstoll(text.c_str(), nullptr, 10);
    const int expected = errno == ERANGE ? (value < 0 ? INT_MIN : INT_MAX)
                         : value > INT_MAX ? INT_MAX
                         : value < INT_MIN ? INT_MIN
                                           : static_cast<int>(value);
    Check(index == expected);
}

void FuzzShellFolder(const std::wstring& text, bool allUsers, bool nt) {
    const orv::LinkLocation location = orv::SplitShellFolder(text.c_str());
    Check(location.keyword.find(L'\\') == std::wstring::npos && location.name.find(L'\\') == std::wstring::npos);
    std::wstring all = text;
    if (!all.empty() && all.back() == L'\\') all.pop_back();
    const size_t separators = std::count(all.begin(), all.end(), L'\\');
    if (separators == 0)
        Check(location.keyword == all && location.subFolders.empty() && location.name.empty());
    else if (separators == 1)
        Check(location.keyword + L"\\" + location.name == all && location.subFolders.empty());
    else
        Check(location.keyword + L"\\" + location.subFolders + L"\\" + location.name == all);

    // What is let through cannot climb out of the shell folder, whatever the
    // path functions do with dots, blanks, drives, streams and separators.
    if (orv::StaysBelowShellFolder(location)) {
        const std::wstring below = location.subFolders + L"\\" + location.name;
        size_t start = 0;
        for (size_t end = 0; end <= below.size(); ++end) {
            if (end < below.size() && below[end] != L'\\') continue;
            std::wstring component = below.substr(start, end - start);
            while (!component.empty() && (component.back() == L'.' || component.back() == L' ')) component.pop_back();
            Check(component.find_first_of(L":/") == std::wstring::npos);
            Check(!component.empty() || (end == location.subFolders.size() && location.subFolders.empty()) ||
                  (start == below.size() && location.name.empty()));
            start = end + 1;
        }
    }

    const int id = orv::GetShellFolderId(location.keyword.c_str(), allUsers, nt);
    const bool common = id == orv::kFolderCommonStartMenu || id == orv::kFolderCommonPrograms ||
                        id == orv::kFolderCommonStartup || id == orv::kFolderCommonDesktopDirectory;
    const bool own = id == orv::kFolderStartMenu || id == orv::kFolderPrograms || id == orv::kFolderStartup ||
                     id == orv::kFolderDesktopDirectory || id == orv::kFolderDesktop;
    Check(common ? allUsers && nt : own);
    Check((id == orv::kFolderDesktop) == (orv::GetShellFolderId(location.keyword.c_str(), true, true) == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::wstring text = Text(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: FuzzCommandLine(text); break;
    case 1: FuzzIconIndex(text); break;
    default: FuzzShellFolder(text, data[0] & 4, data[0] & 8); break;
    }
    return 0;
}
