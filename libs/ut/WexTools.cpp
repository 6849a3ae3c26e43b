// CWexTools: byte blocks as text and back.
#include "platform/WexUt.h"

namespace {

int HexValue(WCHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

// Two characters per byte must fit a BSTR's length.
constexpr DWORD kMaxBlobBytes = 0x3FFFFFFF;

}  // namespace

BSTR CWexTools::BlobToString(const BYTE* pBytes, DWORD cBytes) {
    if ((!pBytes && cBytes) || cBytes > kMaxBlobBytes) return nullptr;
    BSTR text = SysAllocStringLen(nullptr, cBytes * 2);  // terminated by SysAllocStringLen
    if (!text) return nullptr;
    static const WCHAR kDigits[] = L"0123456789ABCDEF";
    for (DWORD i = 0; i < cBytes; ++i) {
        text[2 * i] = kDigits[pBytes[i] >> 4];
        text[2 * i + 1] = kDigits[pBytes[i] & 0xF];
    }
    return text;
}

DWORD CWexTools::StringToBlob(BYTE* pBytes, DWORD cBytes, LPCWSTR pszText) {
    if (!pBytes || !pszText) return 0;
    DWORD written = 0;
    const WCHAR* p = pszText;
    while (written < cBytes) {
        const int high = HexValue(p[0]);
        if (high < 0) break;
        const int low = HexValue(p[1]);  // p[1] exists: p[0] was not the terminator
        if (low < 0) break;
        pBytes[written++] = static_cast<BYTE>((high << 4) | low);
        p += 2;
    }
    return written;
}
