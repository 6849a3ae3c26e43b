#include "core/RegRoot.h"

namespace orv {
namespace {

struct RootName {
    const wchar_t* name;
    RegRoot root;
};

constexpr RootName kRootNames[] = {
    {L"HKEY_CLASSES_ROOT", RegRoot::kClassesRoot},
    {L"HKEY_CURRENT_USER", RegRoot::kCurrentUser},
    {L"HKEY_LOCAL_MACHINE", RegRoot::kLocalMachine},
    {L"HKEY_USERS", RegRoot::kUsers},
    {L"HKEY_CURRENT_CONFIG", RegRoot::kCurrentConfig},
    {L"HKEY_PERFORMANCE_DATA", RegRoot::kPerformanceData},
    {L"HKEY_DYN_DATA", RegRoot::kDynData},
    {L"HKCR", RegRoot::kClassesRoot},
    {L"HKCU", RegRoot::kCurrentUser},
    {L"HKLM", RegRoot::kLocalMachine},
    {L"HKU", RegRoot::kUsers},
    {L"HKCC", RegRoot::kCurrentConfig},
};

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// True when text[0..len) equals name, ASCII letter case ignored.
bool ComponentIs(const wchar_t* text, size_t len, const wchar_t* name) {
    size_t i = 0;
    for (; i < len; ++i) {
        if (name[i] == 0 || AsciiUpper(text[i]) != name[i]) return false;
    }
    return name[i] == 0;
}

}  // namespace

RegRoot SplitRegRoot(const wchar_t* path, size_t* restOffset) {
    if (restOffset) *restOffset = 0;
    if (!path) return RegRoot::kNone;
    size_t len = 0;
    while (path[len] != 0 && path[len] != L'\\') ++len;
    for (const RootName& entry : kRootNames) {
        if (!ComponentIs(path, len, entry.name)) continue;
        size_t rest = len;
        while (path[rest] == L'\\') ++rest;
        if (restOffset) *restOffset = rest;
        return entry.root;
    }
    return RegRoot::kNone;
}

}  // namespace orv
