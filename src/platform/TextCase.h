// Comparing names without regard to letter case the way the file system
// does: both texts upper-cased by the invariant table, then compared unit by
// unit. Header-only; the kernel and the utility library share it.
#pragma once
#include <windows.h>

#include <cstring>

namespace orv {

inline bool EqualIgnoringCase(const WCHAR* a, size_t na, const WCHAR* b, size_t nb) {
    if (na != nb) return false;
    constexpr int kChunk = 128;
    WCHAR ua[kChunk], ub[kChunk];
    while (na > 0) {
        const int n = na < static_cast<size_t>(kChunk) ? static_cast<int>(na) : kChunk;
        if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, a, n, ua, kChunk) != n ||
            LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, b, n, ub, kChunk) != n ||
            memcmp(ua, ub, sizeof(WCHAR) * static_cast<size_t>(n)) != 0)
            return false;
        a += n;
        b += n;
        na -= static_cast<size_t>(n);
    }
    return true;
}

inline bool EqualIgnoringCase(LPCWSTR a, LPCWSTR b) { return EqualIgnoringCase(a, wcslen(a), b, wcslen(b)); }

}  // namespace orv
