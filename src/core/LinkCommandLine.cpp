#include "core/LinkCommandLine.h"

#include <climits>

namespace orv {

namespace {

bool IsCrtSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

LinkCommandLine SplitCommandLine(const wchar_t* text) {
    LinkCommandLine result;
    const std::wstring all = text ? text : L"";
    const size_t firstSemicolon = all.find(L';');
    const std::wstring proper = all.substr(0, firstSemicolon);
    if (firstSemicolon != std::wstring::npos) {
        const size_t iconStart = firstSemicolon + 1;
        const size_t secondSemicolon = all.find(L';', iconStart);
        result.iconFile = all.substr(iconStart, secondSemicolon == std::wstring::npos ? std::wstring::npos
                                                                                      : secondSemicolon - iconStart);
        if (secondSemicolon != std::wstring::npos) result.iconIndex = ReadIconIndex(all.c_str() + secondSemicolon + 1);
    }

    // The arguments begin after the first blank outside quotes; the blank
    // itself belongs to neither part.
    bool quoted = false;
    size_t blank = std::wstring::npos;
    for (size_t i = 0; i < proper.size(); ++i) {
        if (proper[i] == L' ' && !quoted) {
            blank = i;
            break;
        }
        if (proper[i] == L'"') quoted = !quoted;
    }
    if (blank == std::wstring::npos) {
        result.target = proper;
    } else {
        result.target = proper.substr(0, blank);
        result.arguments = proper.substr(blank + 1);
    }
    // Enclosing quotes go only as a pair.
    std::wstring& target = result.target;
    if (!target.empty() && target.front() == L'"' && target.back() == L'"') {
        target.pop_back();
        if (!target.empty()) target.erase(0, 1);
    }
    return result;
}

int ReadIconIndex(const wchar_t* text) {
    if (!text) return 0;
    const wchar_t* p = text;
    while (IsCrtSpace(*p)) ++p;
    bool negative = false;
    if (*p == L'-' || *p == L'+') negative = *p++ == L'-';
    long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*p - L'0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void UnquoteIconPath(std::wstring& path) {
    if (!path.empty() && path.front() == L'"') path.erase(0, 1);
    if (!path.empty() && path.back() == L'"') path.pop_back();
}

}  // namespace orv
