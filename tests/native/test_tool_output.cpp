// Output of the registration program: UTF-16 pieces, '%' and unprintable
// characters replaced, a bounded text, pieces that split a character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ToolOutput.h"

using orv::ToolOutput;

namespace {

std::string Le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::string Show(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[12];
            snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

::testing::AssertionResult TextIs(const ToolOutput& output, const std::u16string& expected) {
    if (output.Text() == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "text \"" << Show(output.Text()) << "\", expected \"" << Show(expected)
                                         << "\"";
}

TEST(ToolOutput, ReplacesPercentAndUnprintableCharacters) {
    struct Row {
        const char* label;
        std::u16string input;
        std::u16string expected;
    } rows[] = {
        {"plain text", u"Registered C:\\x.dll", u"Registered C:\\x.dll"},
        {"percent signs", u"100% done %s", u"100# done #s"},
        {"line ends and tab", u"a\r\nb\tc", u"a##b#c"},
        {"NUL and DEL and C1 control",
         std::u16string(u"a\0b\x7F"
                        u"c\x85"
                        u"d",
                        7),
         u"a#b#c#d"},
        {"letters beyond ASCII stay", u"Fehler: Datei \u00FCberschrieben \u4E2D",
         u"Fehler: Datei \u00FCberschrieben \u4E2D"},
        {"no-break space stays", u"a\u00A0b", u"a\u00A0b"},
        {"surrogates and non-characters",
         u"a\xD83D\xDE00"
         u"b\xFFFF",
         u"a##b#"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ToolOutput output(4095);
        const std::string bytes = Le(row.input);
        output.Append(bytes.data(), bytes.size());
        EXPECT_TRUE(TextIs(output, row.expected));
        EXPECT_FALSE(output.Truncated());
    }
}

TEST(ToolOutput, PiecesThatSplitACharacter) {
    const std::string bytes = Le(u"Ab%\u00FCz");
    struct Row {
        const char* label;
        std::vector<size_t> cuts;  // piece sizes; the rest comes last
    } rows[] = {
        {"one piece", {}},
        {"odd first piece", {1}},
        {"every byte alone", {1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"odd pieces throughout", {3, 3, 3}},
        {"empty pieces between", {0, 1, 0, 2, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ToolOutput output(4095);
        size_t at = 0;
        for (size_t n : row.cuts) {
            output.Append(bytes.data() + at, n);
            at += n;
        }
        output.Append(bytes.data() + at, bytes.size() - at);
        EXPECT_TRUE(TextIs(output, u"Ab#\u00FCz"));
    }
    // A last odd byte is not a character.
    ToolOutput output(4095);
    output.Append("a\0b", 3);
    EXPECT_TRUE(TextIs(output, u"a"));
    EXPECT_EQ(output.TotalChars(), 1u);
}

TEST(ToolOutput, KeepsAtMostItsCapacity) {
    struct Row {
        const char* label;
        size_t capacity;
        size_t chars;
        size_t pieceBytes;
    } rows[] = {
        {"exactly full", 4095, 4095, 4096},
        {"one character more", 4095, 4096, 4096},
        {"far more, in pipe-sized pieces", 4095, 50000, 4096},
        {"far more, in odd pieces", 4095, 50000, 4095},
        {"no room at all", 0, 10, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::u16string input;
        for (size_t i = 0; i < row.chars; ++i) input.push_back(static_cast<char16_t>(u'a' + i % 26));
        const std::string bytes = Le(input);
        ToolOutput output(row.capacity);
        for (size_t at = 0; at < bytes.size(); at += row.pieceBytes)
            output.Append(bytes.data() + at, std::min(row.pieceBytes, bytes.size() - at));
        const size_t kept = std::min(row.capacity, row.chars);
        EXPECT_TRUE(TextIs(output, input.substr(0, kept)));
        EXPECT_EQ(output.TotalChars(), row.chars);
        EXPECT_EQ(output.Truncated(), row.chars > row.capacity);
    }
}

TEST(ToolOutput, UsesTheGivenClassifier) {
    ToolOutput output(10, [](char16_t c) { return c != u'x'; });
    const std::string bytes = Le(u"x\ty%");
    output.Append(bytes.data(), bytes.size());
    EXPECT_TRUE(TextIs(output, u"#\ty#"));  // '%' is replaced whatever the classifier says
}

}  // namespace
