// Argument splitting by the Microsoft C runtime's rules, and the version text
// form that the utility library's version value is built on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "core/VersionText.h"

namespace {

using Args = std::vector<std::wstring>;

struct SplitRow {
    const char* label;
    const wchar_t* text;
    Args expected;
};

TEST(CommandLine, SplitsLikeTheCRuntime) {
    const SplitRow rows[] = {
        {"null", nullptr, {}},
        {"empty", L"", {}},
        {"blanks and tabs only", L" \t  ", {}},
        {"plain words", L"a b c", {L"a", L"b", L"c"}},
        {"repeated, leading and trailing separators", L"  a \t\tb  ", {L"a", L"b"}},
        {"quoted blank kept", L"\"a b\" c", {L"a b", L"c"}},
        {"quoted run inside a word", L"d\"e f\"g h", {L"de fg", L"h"}},
        {"empty quotes are an argument", L"\"\"", {L""}},
        {"empty quotes between words", L"x \"\" y", {L"x", L"", L"y"}},
        {"unterminated quote runs to the end", L"\"a b  ", {L"a b  "}},
        {"backslashes before a letter are literal", L"a\\\\\\b", {L"a\\\\\\b"}},
        {"odd backslashes escape a quote", L"a\\\\\\\"b c", {L"a\\\"b", L"c"}},
        {"even backslashes keep the quote's role", L"a\\\\\\\\\"b c\" d", {L"a\\\\b c", L"d"}},
        {"escaped quote alone", L"\\\"", {L"\""}},
        {"trailing backslash", L"a\\", {L"a\\"}},
        {"quoted trailing backslash pair", L"\"C:\\dir\\\\\" x", {L"C:\\dir\\", L"x"}},
        {"backslash before a blank", L"a\\ b", {L"a\\", L"b"}},
        {"doubled quote inside quotes is a quote", L"a\"b\"\" c d", {L"ab\" c d"}},
        {"doubled quote outside quotes opens and closes", L"a\"\"b c", {L"ab", L"c"}},
        {"quoted path with switches", L"\"C:\\Program Files\\x.exe\" /s /v:\"1 2\"",
         {L"C:\\Program Files\\x.exe", L"/s", L"/v:1 2"}},
        {"tab inside quotes kept", L"\"a\tb\"", {L"a\tb"}},
    };
    for (const SplitRow& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.expected, orv::SplitArguments(row.text));
    }
}

// The version value's text form: parsed, formatted and parsed again gives the same parts.
TEST(VersionText, RoundTrips) {
    const struct {
        const wchar_t* text;
        bool valid;
        uint16_t parts[4];
    } rows[] = {
        {L"1.2.3.4", true, {1, 2, 3, 4}},
        {L"65535.65535.65535.65535", true, {65535, 65535, 65535, 65535}},
        {L"7.1", true, {7, 1, 0, 0}},
        {L" 5.0.2195.6717\t", true, {5, 0, 2195, 6717}},
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
            EXPECT_EQ(11, parts[0]) << "parts changed by text that is no version";
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
