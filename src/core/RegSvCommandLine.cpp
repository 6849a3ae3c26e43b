#include "core/RegSvCommandLine.h"

namespace orv {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// A quoted run from p (at the opening mark) to the closing one, appended to
// out; p ends after the closing mark, or at the end when there is none.
void TakeQuoted(const wchar_t*& p, std::wstring& out) {
    for (++p; *p && *p != L'"'; ++p) out += *p;
    if (*p) ++p;
}

// True when p is at a blank run followed by "/".
bool AtSwitch(const wchar_t* p) {
    while (IsBlank(*p)) ++p;
    return *p == L'/';
}

bool TakeSwitch(const wchar_t*& p, RegSvArguments& a) {
    std::wstring name;
    for (++p; *p && !IsBlank(*p) && *p != L':'; ++p) name += AsciiLower(*p);
    bool hasValue = false;
    std::wstring value;
    if (*p == L':') {
        hasValue = true;
        ++p;
        while (*p && !IsBlank(*p)) {
            if (*p == L'"')
                TakeQuoted(p, value);
            else
                value += *p++;
        }
    }
    bool* flag = nullptr;
    if (name == L"u") flag = &a.unregister;
    if (name == L"s") flag = &a.silent;
    if (name == L"w") flag = &a.wait;
    if (name == L"c") flag = &a.console;
    if (name == L"n") flag = &a.skipRegistration;
    if (name == L"i") {
        a.install = true;
        a.installCommand = value;
        return true;
    }
    if (!flag || hasValue) {
        a.error = L"unknown switch /" + name + (hasValue ? L":" + value : L"");
        return false;
    }
    *flag = true;
    return true;
}

}  // namespace

const wchar_t* SkipProgramName(const wchar_t* commandLine) {
    if (!commandLine) return L"";
    const wchar_t* p = commandLine;
    while (IsBlank(*p)) ++p;
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {
        }
        if (*p) ++p;
    } else {
        while (*p && !IsBlank(*p)) ++p;
    }
    return p;
}

RegSvArguments ParseRegSvArguments(const wchar_t* arguments) {
    RegSvArguments a;
    const wchar_t* p = arguments ? arguments : L"";
    bool havePath = false;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        if (*p == L'/') {
            if (!TakeSwitch(p, a)) return a;
            continue;
        }
        if (havePath) {
            a.error = L"more than one server path";
            return a;
        }
        havePath = true;
        if (*p == L'"') {
            TakeQuoted(p, a.path);
            continue;
        }
        while (*p && !(IsBlank(*p) && AtSwitch(p))) a.path += *p++;
        while (!a.path.empty() && IsBlank(a.path.back())) a.path.pop_back();
    }
    if (a.path.empty())
        a.error = L"no server path";
    else if (a.skipRegistration && !a.install)
        a.error = L"/n is only allowed together with /i";
    return a;
}

}  // namespace orv
