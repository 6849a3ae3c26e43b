// Argument splitting by the C runtime's rules, and the version text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "core/VersionText.h"

namespace {

TEST(CommandLine, SplitsLikeTheCRuntime) {
    const struct { const char* label; const wchar_t* text; std::vector<std::wstring> expected; } rows[] = {
        {"null", nullptr, {}},
        {"blanks and tabs only", L" \t  ", {}},
        {"repeated, leading and trailing separators", L"  a \t\tb  ", {L"a", L"b"}},
        {"quoted run inside a word, tab kept", L"d\"e\tf\"g h", {L"de\tfg", L"h"}},
        {"empty quotes between words", L"x \"\" y", {L"x", L"", L"y"}},
        {"unterminated quote runs to the end", L"\"a b  ", {L"a b  "}},
        {"backslashes not before a quote are literal", L"a\\\\\\b c\\", {L"a\\\\\\b", L"c\\"}},
        {"odd backslashes escape a quote", L"a\\\\\\\"b c", {L"a\\\"b", L"c"}},
        {"even backslashes keep the quote's role", L"a\\\\\\\\\"b c\" d", {L"a\\\\b c", L"d"}},
        {"quoted trailing backslash pair", L"\"C:\\dir\\\\\" x", {L"C:\\dir\\", L"x"}},
        {"doubled quote inside quotes is a quote", L"a\"b\"\" c d", {L"ab\" c d"}},
        {"doubled quote outside quotes opens and closes", L"a\"\"b c", {L"ab", L"c"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.expected, orv::SplitArguments(row.text));
    }
}

// Parsed, formatted and parsed again gives the same parts; bad text leaves them alone.
TEST(VersionText, RoundTrips) {
    const struct { const wchar_t* text; bool valid; uint16_t parts[4]; } rows[] = {
        {L"65535.65535.65535.65535", true, {65535, 65535, 65535, 65535}},
        {L" 5.0.2195\t", true, {5, 0, 2195, 0}},
        {L"1.2.3.4.5", false, {}},
        {L"1.65536", false, {}},
        {L"1.2.", false, {}},
        {L"", false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text)));
        uint16_t parts[4] = {11, 22, 33, 44};
        ASSERT_EQ(row.valid, orv::ParseVersionText(row.text, parts));
        if (!row.valid) {
            EXPECT_EQ(11, parts[0]);
            continue;
        }
        EXPECT_TRUE(std::equal(parts, parts + 4, row.parts));
        wchar_t text[24];
        orv::FormatVersionText(parts, text, 24);
        uint16_t again[4] = {};
        ASSERT_TRUE(orv::ParseVersionText(text, again));
        EXPECT_TRUE(std::equal(again, again + 4, parts));
    }
}

}  // namespace
