// Four-part file version value. Header-only: it is embedded by value in the
// kernel's objects and crosses the utility library's boundary as a C++ object.
#pragma once
#include <windows.h>
#include "core/VersionText.h"

class CWexFileVersion {
public:
    // Most significant first, as in a VS_FIXEDFILEINFO's MS/LS words.
    WORD wVerMaj1 = 0;
    WORD wVerMaj2 = 0;
    WORD wVerMin1 = 0;
    WORD wVerMin2 = 0;

    CWexFileVersion() = default;
    CWexFileVersion(WORD a, WORD b, WORD c, WORD d) : wVerMaj1(a), wVerMaj2(b), wVerMin1(c), wVerMin2(d) {}
    // From the text form ("1.2.3.4"); text that is not a version leaves the value not valid.
    explicit CWexFileVersion(LPCWSTR text) { Init(text); }

    // Not valid: all four parts 0. A version resource that says 0.0.0.0 carries no version.
    void Init() { wVerMaj1 = wVerMaj2 = wVerMin1 = wVerMin2 = 0; }
    void Init(DWORD ms, DWORD ls) {
        wVerMaj1 = HIWORD(ms); wVerMaj2 = LOWORD(ms); wVerMin1 = HIWORD(ls); wVerMin2 = LOWORD(ls);
    }
    bool Init(LPCWSTR text) {
        uint16_t p[4];
        if (!orv::ParseVersionText(text, p)) { Init(); return false; }
        wVerMaj1 = p[0]; wVerMaj2 = p[1]; wVerMin1 = p[2]; wVerMin2 = p[3];
        return true;
    }
    bool IsValid() const { return (wVerMaj1 | wVerMaj2 | wVerMin1 | wVerMin2) != 0; }

    // "a.b.c.d"; construction from this text gives an equal value.
    LPCWSTR GetVersionString(LPWSTR buffer, size_t cch) const {
        const uint16_t p[4] = {wVerMaj1, wVerMaj2, wVerMin1, wVerMin2};
        orv::FormatVersionText(p, buffer, cch);
        return buffer;
    }

    ULONGLONG Packed() const {
        return (ULONGLONG(wVerMaj1) << 48) | (ULONGLONG(wVerMaj2) << 32) | (ULONGLONG(wVerMin1) << 16) | wVerMin2;
    }
    bool operator==(const CWexFileVersion& o) const { return Packed() == o.Packed(); }
    bool operator!=(const CWexFileVersion& o) const { return Packed() != o.Packed(); }
    bool operator<(const CWexFileVersion& o) const { return Packed() < o.Packed(); }
    bool operator>(const CWexFileVersion& o) const { return Packed() > o.Packed(); }
    bool operator<=(const CWexFileVersion& o) const { return Packed() <= o.Packed(); }
    bool operator>=(const CWexFileVersion& o) const { return Packed() >= o.Packed(); }
};
