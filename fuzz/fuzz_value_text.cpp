// Numbers and names written as text: four-part versions ("1.2.3.4"), dword
// and hex data of registration files, and the top key at the start of a full
// key path. The first byte picks the reader, the rest is UTF-16 text. Each
// reader is compared with the C library where it promises the library's
// reading, and what it writes reads back the same (a broken promise aborts).
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "core/RegRoot.h"
#include "core/RegScript.h"
#include "core/VersionText.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Ascii(const std::wstring& text) {
    for (wchar_t c : text)
        if (c >= 0x80) return false;
    return true;
}

void FuzzVersion(const std::wstring& text, const uint8_t* raw, size_t size) {
    uint16_t parts[4] = {1, 2, 3, 4};
    if (!orv::ParseVersionText(text.c_str(), parts)) {
        Check(parts[0] == 1 && parts[1] == 2 && parts[2] == 3 && parts[3] == 4);
    } else {
        wchar_t out[24];
        const size_t n = orv::FormatVersionText(parts, out, 24);
        uint16_t again[4];
        Check(n < 24 && out[n] == 0 && orv::ParseVersionText(out, again));
        for (int i = 0; i < 4; ++i) Check(again[i] == parts[i]);
    }
    // Any four words, written into a buffer of any size: a terminated prefix
    // of the whole text, which reads back as the words.
    if (size < 9) return;
    uint16_t words[4];
    for (int i = 0; i < 4; ++i) words[i] = static_cast<uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    wchar_t whole[24];
    const size_t full = orv::FormatVersionText(words, whole, 24);
    uint16_t back[4];
    Check(orv::ParseVersionText(whole, back));
    for (int i = 0; i < 4; ++i) Check(back[i] == words[i]);
    const size_t cch = raw[8] % 25;
    wchar_t cut[25];
    for (wchar_t& c : cut) c = L'#';
    const size_t n = orv::FormatVersionText(words, cut, cch);
    if (cch == 0) {
        Check(n == 0 && cut[0] == L'#');
    } else {
        Check(n == std::min(full, cch - 1) && cut[n] == 0 && std::wstring(cut, n) == std::wstring(whole, n));
        for (size_t i = cch; i < 25; ++i) Check(cut[i] == L'#');  // nothing past the buffer
    }
}

// wcstoul in base 10 as a 32-bit unsigned long reads it.
void FuzzDword(const std::wstring& text) {
    const uint32_t value = orv::ParseRegDword(text);
    if (!Ascii(text)) return;
    errno = 0;
    const unsigned long long read = std::wcstoull(text.c_str(), nullptr, 10);
    const size_t sign = text.find_first_not_of(L" \t\n\v\f\r");
    const bool negative = sign != std::wstring::npos && text[sign] == L'-';
    const unsigned long long magnitude = negative ? 0ull - read : read;
    uint32_t expected;
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull)
        expected = 0xFFFFFFFFu;
    else
        expected = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(magnitude))
                            : static_cast<uint32_t>(magnitude);
    Check(value == expected);
}

// Hex data: one byte per token between "," and "."; a token's byte is its
// last two hexadecimal digits, negated with a leading "-".
void FuzzHex(const std::wstring& text) {
    const std::vector<uint8_t> bytes = orv::ParseRegHexBytes(text);
    std::vector<uint8_t> expected;
    size_t start = 0;
    for (size_t end = 0; end <= text.size(); ++end) {
        if (end < text.size() && text[end] != L',' && text[end] != L'.') continue;
        if (end > start) {
            std::wstring token = text.substr(start, end - start);
            size_t at = token.find_first_not_of(L" \t\n\v\f\r");
            if (at == std::wstring::npos) at = token.size();
            bool negative = false;
            if (at < token.size() && (token[at] == L'-' || token[at] == L'+')) negative = token[at++] == L'-';
            if (token.compare(at, 2, L"0x") == 0 || token.compare(at, 2, L"0X") == 0) at += 2;
            const size_t digits = std::min(token.size(), token.find_first_not_of(L"0123456789abcdefABCDEF", at)) - at;
            const unsigned long low =
                digits == 0 ? 0 : std::wcstoul(token.substr(at + digits - std::min<size_t>(digits, 2), 2).c_str(), nullptr, 16);
            expected.push_back(static_cast<uint8_t>(negative ? 0u - low : low));
        }
        start = end + 1;
    }
    Check(bytes == expected);
}

void FuzzRoot(const std::wstring& text) {
    size_t rest = 12345;
    const orv::RegRoot root = orv::SplitRegRoot(text.c_str(), &rest);
    const size_t component = std::min(text.size(), text.find(L'\\'));
    if (root == orv::RegRoot::kNone) {
        Check(rest == 0);
        return;
    }
    Check(component <= 21 && rest >= component && rest <= text.size());
    for (size_t i = component; i < rest; ++i) Check(text[i] == L'\\');
    Check(rest == text.size() || text[rest] != L'\\');
    std::wstring name = text.substr(0, component);
    for (wchar_t& c : name)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    // Full names are those of the registration files' headers too.
    orv::RegTopKey top;
    if (name.size() > 4) Check(orv::LookupRegTopKey(name, top));
    Check(orv::SplitRegRoot(name.c_str(), nullptr) == root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::wstring text;
    for (size_t i = 1; i + 1 < size; i += 2) {
        const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
    switch (data[0] % 4) {
    case 0: FuzzVersion(text, data + 1, size - 1); break;
    case 1: FuzzDword(text); break;
    case 2: FuzzHex(text); break;
    default: FuzzRoot(text); break;
    }
    return 0;
}
