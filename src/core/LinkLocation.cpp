#include "core/LinkLocation.h"

#include <cwchar>

namespace orv {

namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// True when text contains the (lower-case ASCII) word, letter case ignored.
bool Contains(const wchar_t* text, const wchar_t* word) {
    const size_t textLen = wcslen(text), wordLen = wcslen(word);
    for (size_t start = 0; start + wordLen <= textLen; ++start) {
        size_t i = 0;
        while (i < wordLen && FoldAscii(text[start + i]) == word[i]) ++i;
        if (i == wordLen) return true;
    }
    return false;
}

}  // namespace

LinkLocation SplitShellFolder(const wchar_t* text) {
    LinkLocation result;
    std::wstring all = text ? text : L"";
    if (!all.empty() && all.back() == L'\\') all.pop_back();
    const size_t first = all.find(L'\\');
    result.keyword = all.substr(0, first);
    if (first == std::wstring::npos) return result;
    const size_t last = all.rfind(L'\\');
    result.name = all.substr(last + 1);
    if (last > first) result.subFolders = all.substr(first + 1, last - first - 1);
    return result;
}

bool IsDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = FoldAscii(c);
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (const wchar_t* device : kDevices)
        if (base == device) return true;
    return base.size() == 4 && (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

bool StaysBelowShellFolder(const LinkLocation& location) {
    auto plain = [](const std::wstring& component) {
        if (component.find_first_of(L":/") != std::wstring::npos || IsDeviceName(component)) return false;
        return component.find_first_not_of(L". ") != std::wstring::npos;
    };
    if (!location.name.empty() && !plain(location.name)) return false;
    if (location.subFolders.empty()) return true;
    for (size_t start = 0;;) {
        const size_t end = location.subFolders.find(L'\\', start);
        if (!plain(location.subFolders.substr(start, end - start))) return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

int GetShellFolderId(const wchar_t* keyword, bool allUsers, bool windowsNT) {
    static const struct {
        const wchar_t* word;
        int common;
        int own;
    } kKeywords[] = {
        {L"startmenu", kFolderCommonStartMenu, kFolderStartMenu},
        {L"desktop", kFolderCommonDesktopDirectory, kFolderDesktopDirectory},
        {L"programfiles", kFolderCommonPrograms, kFolderPrograms},
        {L"startup", kFolderCommonStartup, kFolderStartup},
    };
    if (!keyword) return kFolderDesktop;
    for (const auto& entry : kKeywords) {
        if (Contains(keyword, entry.word)) return allUsers && windowsNT ? entry.common : entry.own;
    }
    return kFolderDesktop;
}

}  // namespace orv
