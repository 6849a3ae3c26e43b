#include "core/ToolOutput.h"

namespace orv {

bool ToolOutput::IsPrintableByDefault(char16_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    return c != 0xFFFE && c != 0xFFFF;
}

ToolOutput::ToolOutput(size_t capacity, Classifier isPrintable)
    : m_capacity(capacity), m_isPrintable(isPrintable ? isPrintable : &IsPrintableByDefault) {
    m_text.reserve(capacity);
}

void ToolOutput::Put(char16_t c) {
    ++m_total;
    if (m_text.size() >= m_capacity) return;
    if (c == u'%' || !m_isPrintable(c)) c = u'#';
    m_text.push_back(c);  // within the reserved capacity: never allocates
}

void ToolOutput::Append(const void* bytes, size_t size) {
    if (!bytes || size == 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    const uint8_t* end = p + size;
    if (m_bHaveOddByte) {
        Put(static_cast<char16_t>(m_oddByte | (*p << 8)));
        m_bHaveOddByte = false;
        ++p;
    }
    while (end - p >= 2) {
        Put(static_cast<char16_t>(p[0] | (p[1] << 8)));
        p += 2;
    }
    if (p < end) {
        m_oddByte = *p;
        m_bHaveOddByte = true;
    }
}

}  // namespace orv
