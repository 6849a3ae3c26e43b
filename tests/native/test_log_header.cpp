// The log line header against printf's own rendering of the same format.
#include "core/LogHeader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <string>

namespace {

std::wstring Printf(const orv::LogHeaderFields& f) {
    wchar_t buffer[256];
    swprintf(buffer, 256, L"%04u-%02u-%02u %02u:%02u:%02u.%03u %5lu/%-5lu %ls %d %lc ", f.year, f.month, f.day, f.hour,
             f.minute, f.second, f.milliseconds, f.process, f.thread, f.component ? f.component : L"", f.level,
             static_cast<wint_t>(f.severity));
    return buffer;
}

}  // namespace

TEST(LogHeader, WrittenAsPrintfWritesIt) {
    const struct {
        const char* label;
        orv::LogHeaderFields fields;
    } rows[] = {
        {"a usual line", {2026, 12, 6, 14, 53, 16, 123, 4212, 4216, L"TqOrvWexKr", 2, L'E'}},
        {"all small", {7, 1, 2, 0, 0, 0, 0, 0, 0, L"-", 0, L' '}},
        {"ids wider than their places", {2026, 1, 1, 1, 1, 1, 1, 1234567, 4294967295ul, L"Kr", 3, L'W'}},
        {"ids exactly five places", {2026, 1, 1, 1, 1, 1, 1, 12345, 54321, L"Kr", 1, L' '}},
        {"largest fields", {65535, 65535, 65535, 65535, 65535, 65535, 65535, 1, 2, L"A", INT_MAX, L'E'}},
        {"negative levels", {2026, 1, 1, 1, 1, 1, 1, 1, 2, L"A", -7, L' '}},
        {"the lowest level", {2026, 1, 1, 1, 1, 1, 1, 1, 2, L"A", INT_MIN, L' '}},
        {"a long component", {2026, 1, 1, 1, 1, 1, 1, 1, 2, L"Component0123456789ABCDEFGHIJK", 2, L' '}},
        {"no component", {2026, 1, 1, 1, 1, 1, 1, 1, 2, nullptr, 2, L' '}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        wchar_t out[128];
        const size_t n = orv::FormatLogHeader(row.fields, out, 128);
        EXPECT_EQ(std::wstring(out), Printf(row.fields));
        EXPECT_EQ(n, Printf(row.fields).size());
    }
}

TEST(LogHeader, AHeaderThatDoesNotFitIsNotWritten) {
    const orv::LogHeaderFields fields{2026, 12, 6, 14, 53, 16, 123, 4212, 4216, L"TqOrvWexKr", 2, L'E'};
    const size_t length = Printf(fields).size();
    wchar_t out[64];
    for (size_t capacity : {length, size_t{10}, size_t{1}}) {
        SCOPED_TRACE(capacity);
        wmemset(out, L'#', 64);
        EXPECT_EQ(orv::FormatLogHeader(fields, out, capacity), 0u);
        EXPECT_EQ(out[0], L'\0');
        EXPECT_EQ(out[capacity], L'#') << "written past the room given";
    }
    EXPECT_EQ(orv::FormatLogHeader(fields, out, length + 1), length);
}
