// Standard output of a child program that writes UTF-16LE text, collected
// piece by piece for one log line. Portable (no <windows.h>).
//
// Every character that is not printable, and every '%', becomes '#', so that
// the text stays on one line and carries no format directives. At most
// `capacity` characters are kept; the rest is counted and dropped. A piece
// may end in the middle of a character (a pipe hands out bytes): the odd
// byte is kept for the next piece, so the text never slips by one byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

class ToolOutput {
public:
    using Classifier = bool (*)(char16_t);

    // Printable without any locale data: blank, ASCII letters, digits and
    // punctuation, and every character above U+00A0 that is not a surrogate
    // or a non-character (U+FFFE, U+FFFF). C0 and C1 controls and DEL are not.
    static bool IsPrintableByDefault(char16_t c);

    // May throw std::bad_alloc (the kept text is reserved here).
    explicit ToolOutput(size_t capacity, Classifier isPrintable = &IsPrintableByDefault);

    void Append(const void* bytes, size_t size);

    const std::u16string& Text() const { return m_text; }
    // Characters seen, kept or not (a trailing odd byte is not a character).
    uint64_t TotalChars() const { return m_total; }
    bool Truncated() const { return m_total > m_text.size(); }

private:
    void Put(char16_t c);

    std::u16string m_text;
    size_t m_capacity;
    Classifier m_isPrintable;
    uint64_t m_total = 0;
    bool m_bHaveOddByte = false;
    uint8_t m_oddByte = 0;
};

}  // namespace orv
