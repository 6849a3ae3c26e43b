#include "core/VersionText.h"

namespace orv {

bool ParseVersionText(const wchar_t* text, uint16_t parts[4]) {
    if (!text) return false;
    uint16_t out[4] = {0, 0, 0, 0};
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    int count = 0;
    for (;;) {
        if (count == 4) return false;
        if (*p < L'0' || *p > L'9') return false;
        uint32_t value = 0;
        while (*p >= L'0' && *p <= L'9') {
            value = value * 10 + static_cast<uint32_t>(*p - L'0');
            if (value > 0xFFFF) return false;
            ++p;
        }
        out[count++] = static_cast<uint16_t>(value);
        if (*p != L'.') break;
        ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    if (*p != 0) return false;
    for (int i = 0; i < 4; ++i) parts[i] = out[i];
    return true;
}

size_t FormatVersionText(const uint16_t parts[4], wchar_t* out, size_t cch) {
    if (!out || cch == 0) return 0;
    size_t n = 0;
    for (int i = 0; i < 4; ++i) {
        wchar_t digits[6];
        int d = 0;
        unsigned v = parts[i];
        do { digits[d++] = static_cast<wchar_t>(L'0' + v % 10); v /= 10; } while (v);
        if (i > 0) { if (n + 1 >= cch) break; out[n++] = L'.'; }
        while (d > 0) { if (n + 1 >= cch) { d = 0; break; } out[n++] = digits[--d]; }
    }
    out[n] = 0;
    return n;
}

}  // namespace orv
