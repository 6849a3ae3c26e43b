// Output of the registration program: UTF-16 pieces, '%' and unprintable
// characters replaced, a bounded text. The fuzz target checks the bound, the
// character count and that no unprintable character gets through.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/ToolOutput.h"

using orv::ToolOutput;

namespace {

std::string Le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

// Feeds bytes in pieces of the given sizes, cycling; the rest comes last.
std::u16string Feed(ToolOutput& output, const std::string& bytes, const std::vector<size_t>& pieces = {}) {
    size_t at = 0;
    for (size_t i = 0; !pieces.empty() && at < bytes.size(); ++i) {
        const size_t n = std::min(pieces[i % pieces.size()], bytes.size() - at);
        output.Append(bytes.data() + at, n);
        at += n;
    }
    output.Append(bytes.data() + at, bytes.size() - at);
    return output.Text();
}

TEST(ToolOutput, ReplacesPercentAndUnprintableCharacters) {
    const std::u16string input(u"100% \r\n\t\0\x7F\x85|\u00A0\u00FC\u4E2D|\xD83D\xDE00\xFFFF", 19);
    ToolOutput output(4095);
    EXPECT_EQ(Feed(output, Le(input)), u"100# ######|\u00A0\u00FC\u4E2D|###");
    EXPECT_FALSE(output.Truncated());
    // A classifier of the caller's replaces what it refuses; '%' goes whatever it says.
    ToolOutput custom(10, [](char16_t c) { return c != u'x'; });
    EXPECT_EQ(Feed(custom, Le(u"x\ty%")), u"#\ty#");
}

TEST(ToolOutput, PiecesThatSplitACharacter) {
    const std::string bytes = Le(u"Ab%\u00FCz");
    for (const std::vector<size_t>& pieces : {std::vector<size_t>{1}, {3}, {0, 1, 0, 2}}) {
        SCOPED_TRACE(testing::PrintToString(pieces));
        ToolOutput output(4095);
        EXPECT_EQ(Feed(output, bytes, pieces), u"Ab#\u00FCz");
    }
    ToolOutput output(4095);  // a last odd byte is not a character
    EXPECT_EQ(Feed(output, std::string("a\0b", 3)), u"a");
    EXPECT_EQ(output.TotalChars(), 1u);
}

TEST(ToolOutput, KeepsTheStartUpToItsCapacity) {
    const struct { size_t chars, piece; } rows[] = {{4095, 4096}, {4096, 4096}, {50000, 4095}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.chars);
        std::u16string input;
        for (size_t i = 0; i < row.chars; ++i) input.push_back(static_cast<char16_t>(u'a' + i % 26));
        ToolOutput output(4095);
        EXPECT_TRUE(Feed(output, Le(input), {row.piece}) == input.substr(0, 4095));
        EXPECT_EQ(output.TotalChars(), row.chars);
        EXPECT_EQ(output.Truncated(), row.chars > 4095);
    }
}

}  // namespace
