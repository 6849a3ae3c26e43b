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
