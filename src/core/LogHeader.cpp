#include "core/LogHeader.h"

namespace orv {
namespace {

// Appends characters while there is room for them and the terminator.
class Writer {
public:
    Writer(wchar_t* out, size_t capacity) : m_out(out), m_capacity(capacity) {}
    void Put(wchar_t c) {
        if (m_length + 1 < m_capacity) m_out[m_length] = c;
        ++m_length;
    }
    void Text(const wchar_t* text) {
        for (; text && *text; ++text) Put(*text);
    }
    // Decimal digits of value in a field of width places: filled in front
    // with fill, or with blanks behind when leftAlign.
    void Number(unsigned long value, int width, wchar_t fill, bool leftAlign = false) {
        wchar_t digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0);
        int pad = width > n ? width - n : 0;
        if (!leftAlign)
            while (pad-- > 0) Put(fill);
        while (n > 0) Put(digits[--n]);
        if (leftAlign)
            while (pad-- > 0) Put(L' ');
    }
    size_t Finish() {
        if (m_capacity == 0) return 0;
        if (m_length + 1 > m_capacity) {
            m_out[0] = 0;
            return 0;
        }
        m_out[m_length] = 0;
        return m_length;
    }

private:
    wchar_t* m_out;
    size_t m_capacity;
    size_t m_length = 0;
};

}  // namespace

size_t FormatLogHeader(const LogHeaderFields& f, wchar_t* out, size_t capacity) {
    Writer w(out, capacity);
    w.Number(f.year, 4, L'0');
    w.Put(L'-');
    w.Number(f.month, 2, L'0');
    w.Put(L'-');
    w.Number(f.day, 2, L'0');
    w.Put(L' ');
    w.Number(f.hour, 2, L'0');
    w.Put(L':');
    w.Number(f.minute, 2, L'0');
    w.Put(L':');
    w.Number(f.second, 2, L'0');
    w.Put(L'.');
    w.Number(f.milliseconds, 3, L'0');
    w.Put(L' ');
    w.Number(f.process, 5, L' ');
    w.Put(L'/');
    w.Number(f.thread, 5, L' ', true);
    w.Put(L' ');
    w.Text(f.component);
    w.Put(L' ');
    if (f.level < 0) w.Put(L'-');
    w.Number(f.level < 0 ? 0ul - static_cast<unsigned long>(f.level) : static_cast<unsigned long>(f.level), 0, L' ');
    w.Put(L' ');
    w.Put(f.severity);
    w.Put(L' ');
    return w.Finish();
}

}  // namespace orv
