// SharedDLLs counts read by their registry type and written back in it.
// Round trips and steps of one are checked by the fuzz target.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/SharedDllCount.h"

using namespace orv;

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes Utf16(const char16_t (&text)[N]) {  // keeps embedded NULs, drops the literal's own
    Bytes bytes;
    for (size_t i = 0; i + 1 < N; ++i) bytes.insert(bytes.end(), {uint8_t(text[i] & 0xFF), uint8_t(text[i] >> 8)});
    return bytes;
}

TEST(SharedDllCount, ReadsByType) {
    const struct { const char* label; uint32_t type; Bytes data; bool ok; uint32_t count; } rows[] = {
        {"dword", kCountTypeDword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
        {"dword too short", kCountTypeDword, {3, 0}, false, 0},
        {"dword too long", kCountTypeDword, {3, 0, 0, 0, 0}, false, 0},
        {"binary of four bytes", kCountTypeBinary, {2, 0, 0, 0}, true, 2},
        {"binary of one byte", kCountTypeBinary, {2}, false, 0},
        {"string \"2\" is 2, not 50", kCountTypeString, Utf16(u"2\0"), true, 2},
        {"string without its NUL", kCountTypeString, Utf16(u"17"), true, 17},
        {"expandable string", kCountTypeExpandString, Utf16(u"5\0"), true, 5},
        {"blanks around the digits", kCountTypeString, Utf16(u" \t12 \0"), true, 12},
        {"largest count", kCountTypeString, Utf16(u"4294967295"), true, 4294967295u},
        {"too large", kCountTypeString, Utf16(u"4294967296"), false, 0},
        {"text after the NUL is not read", kCountTypeString, Utf16(u"4\0x"), true, 4},
        {"blanks only", kCountTypeString, Utf16(u"  \0"), false, 0},
        {"no data", kCountTypeString, {}, false, 0},
        {"sign", kCountTypeString, Utf16(u"-1"), false, 0},
        {"blank inside", kCountTypeString, Utf16(u"1 2"), false, 0},
        {"fullwidth digit", kCountTypeString, Utf16(u"\uFF11"), false, 0},
        {"half a character, no end", kCountTypeString, {'3', 0, '4'}, false, 0},
        {"half a character after the end", kCountTypeString, {'3', 0, 0, 0, 'x'}, true, 3},
        {"multi-string", 7, Utf16(u"1\0\0"), false, 0},
        {"qword", 11, {1, 0, 0, 0, 0, 0, 0, 0}, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        uint32_t count = 0xdeadbeef;
        EXPECT_EQ(DecodeSharedDllCount(row.type, row.data.data(), row.data.size(), count), row.ok);
        EXPECT_EQ(count, row.ok ? row.count : 0xdeadbeef);
    }
}

TEST(SharedDllCount, WritesInTheTypeItWasFoundIn) {
    const struct { uint32_t type, count; Bytes expected; } rows[] = {
        {kCountTypeBinary, 0x01020304, {4, 3, 2, 1}},
        {kCountTypeString, 0, Utf16(u"0\0")},
        {kCountTypeExpandString, 4294967295u, Utf16(u"4294967295\0")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.count);
        Bytes data = {0xEE};
        ASSERT_TRUE(EncodeSharedDllCount(row.type, row.count, data));
        EXPECT_EQ(data, row.expected);
    }
    Bytes data = {0xEE};
    EXPECT_FALSE(EncodeSharedDllCount(7, 1, data));
    EXPECT_EQ(data, Bytes{0xEE});
}

TEST(SharedDllCount, DeltaFloorsAtZeroAndNeverWraps) {
    EXPECT_EQ(ApplyCountDelta(1, -5), 0u);
    EXPECT_EQ(ApplyCountDelta(0, INT32_MIN), 0u);
    EXPECT_EQ(ApplyCountDelta(0x80000000u, INT32_MAX), 0xFFFFFFFFu);
    EXPECT_EQ(ApplyCountDelta(7, 0), 7u);
}

}  // namespace
