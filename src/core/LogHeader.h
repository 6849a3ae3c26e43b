// The header of a log line, as printf writes
// "%04u-%02u-%02u %02u:%02u:%02u.%03u %5lu/%-5lu %s %d %c ":
// local time with milliseconds, process id (right-aligned in five places),
// thread id (left-aligned in five), component, level and severity character.
// Written digit by digit: the log writes one for every line. Portable.
#pragma once
#include <cstddef>

namespace orv {

struct LogHeaderFields {
    unsigned year, month, day, hour, minute, second, milliseconds;
    unsigned long process, thread;
    const wchar_t* component;  // null: empty
    int level;
    wchar_t severity;
};

// Writes the header and a terminator into out (capacity characters in all)
// and returns its length; 0, with out empty, when it does not fit.
size_t FormatLogHeader(const LogHeaderFields& fields, wchar_t* out, size_t capacity);

}  // namespace orv
