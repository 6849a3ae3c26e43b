// SharedDLLs counts read by their registry type and written back in it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/SharedDllCount.h"

using namespace orv;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Utf16(const std::u16string& text) {
    Bytes bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

TEST(SharedDllCount, ReadsByType) {
    struct Row {
        const char* label;
        uint32_t type;
        Bytes data;
        bool ok;
        uint32_t count;
    } rows[] = {
        {"dword", kCountTypeDword, {3, 0, 0, 0}, true, 3},
        {"dword high bytes", kCountTypeDword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
        {"dword too short", kCountTypeDword, {3, 0}, false, 0},
        {"dword too long", kCountTypeDword, {3, 0, 0, 0, 0}, false, 0},
        {"binary of four bytes", kCountTypeBinary, {2, 0, 0, 0}, true, 2},
        {"binary of one byte", kCountTypeBinary, {2}, false, 0},
        {"binary of eight bytes", kCountTypeBinary, {2, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"string \"2\" is 2, not 50", kCountTypeString, Utf16(std::u16string(u"2\0", 2)), true, 2},
        {"string without its NUL", kCountTypeString, Utf16(u"17"), true, 17},
        {"expandable string", kCountTypeExpandString, Utf16(std::u16string(u"5\0", 2)), true, 5},
        {"blanks around the digits", kCountTypeString, Utf16(std::u16string(u" \t12 \0", 6)), true, 12},
        {"leading zeros", kCountTypeString, Utf16(u"007"), true, 7},
        {"largest count", kCountTypeString, Utf16(u"4294967295"), true, 4294967295u},
        {"too large", kCountTypeString, Utf16(u"4294967296"), false, 0},
        {"many digits", kCountTypeString, Utf16(u"99999999999999999999999"), false, 0},
        {"text after the NUL is not read", kCountTypeString, Utf16(std::u16string(u"4\0x", 3)), true, 4},
        {"empty string", kCountTypeString, Utf16(std::u16string(u"\0", 1)), false, 0},
        {"blanks only", kCountTypeString, Utf16(u"  "), false, 0},
        {"no data", kCountTypeString, {}, false, 0},
        {"sign", kCountTypeString, Utf16(u"-1"), false, 0},
        {"plus sign", kCountTypeString, Utf16(u"+1"), false, 0},
        {"hexadecimal", kCountTypeString, Utf16(u"0x10"), false, 0},
        {"blank inside", kCountTypeString, Utf16(u"1 2"), false, 0},
        {"fullwidth digit", kCountTypeString, Utf16(u"\uFF11"), false, 0},
        {"half a character, no end", kCountTypeString, {'3', 0, '4'}, false, 0},
        {"half a character after the end", kCountTypeString, {'3', 0, 0, 0, 'x'}, true, 3},
        {"multi-string", 7, Utf16(std::u16string(u"1\0\0", 3)), false, 0},
        {"qword", 11, {1, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"big-endian dword", 5, {0, 0, 0, 1}, false, 0},
        {"no type", 0, {1, 0, 0, 0}, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        uint32_t count = 0xdeadbeef;
        EXPECT_EQ(DecodeSharedDllCount(row.type, row.data.data(), row.data.size(), count), row.ok);
        EXPECT_EQ(count, row.ok ? row.count : 0xdeadbeef);
    }
}

TEST(SharedDllCount, WritesBackInTheTypeItWasFoundIn) {
    struct Row {
        const char* label;
        uint32_t type;
        uint32_t count;
        Bytes expected;
    } rows[] = {
        {"dword", kCountTypeDword, 2, {2, 0, 0, 0}},
        {"binary", kCountTypeBinary, 0x01020304, {4, 3, 2, 1}},
        {"string", kCountTypeString, 12, Utf16(std::u16string(u"12\0", 3))},
        {"string zero", kCountTypeString, 0, Utf16(std::u16string(u"0\0", 2))},
        {"expandable string, largest", kCountTypeExpandString, 4294967295u, Utf16(std::u16string(u"4294967295\0", 11))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Bytes data = {0xEE};
        ASSERT_TRUE(EncodeSharedDllCount(row.type, row.count, data));
        EXPECT_EQ(data, row.expected);
        uint32_t back = 0;
        ASSERT_TRUE(DecodeSharedDllCount(row.type, data.data(), data.size(), back));
        EXPECT_EQ(back, row.count);
    }
    Bytes data = {0xEE};
    EXPECT_FALSE(EncodeSharedDllCount(7, 1, data));
    EXPECT_EQ(data, Bytes{0xEE});
}

TEST(SharedDllCount, DeltaFloorsAtZeroAndNeverWraps) {
    struct Row {
        const char* label;
        uint32_t count;
        int32_t delta;
        uint32_t expected;
    } rows[] = {
        {"up", 1, 1, 2},
        {"down", 3, -1, 2},
        {"down to zero", 1, -1, 0},
        {"below zero floors", 1, -5, 0},
        {"lowest delta", 0, INT32_MIN, 0},
        {"top stays", 0xFFFFFFFFu, 1, 0xFFFFFFFFu},
        {"largest delta", 0x80000000u, INT32_MAX, 0xFFFFFFFFu},
        {"zero delta", 7, 0, 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(ApplyCountDelta(row.count, row.delta), row.expected);
    }
}

}  // namespace
