// Post-reboot text work: the temporary copy's name, the [rename] section of
// wininit.ini (split, join, scheduled lines) and the long-name command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RenameSection.h"

using namespace orv;

namespace {

using Lines = std::vector<std::wstring>;

std::string Show(const Lines& lines) {
    std::string out;
    for (const std::wstring& line : lines) {
        out += '[';
        for (wchar_t c : line) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
        out += ']';
    }
    return out;
}

::testing::AssertionResult LinesAre(const Lines& actual, const Lines& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "lines " << Show(actual) << ", expected " << Show(expected);
}

TEST(RenameSection, TemporaryCopyPath) {
    const std::wstring longFolder(240, L'f');
    struct Row {
        const char* label;
        std::wstring target;
        bool ok;
        std::wstring expected;
    } rows[] = {
        {"library", L"C:\\App\\lib.dll", true, L"C:\\App\\lib_orvtmp.dll"},
        {"no extension", L"C:\\App\\README", true, L"C:\\App\\README_orvtmp"},
        {"dot in a folder, none in the name", L"C:\\App.v2\\README", true, L"C:\\App.v2\\README_orvtmp"},
        {"two dots: the last one starts the extension", L"C:\\a\\b.tar.gz", true, L"C:\\a\\b.tar_orvtmp.gz"},
        {"forward slashes", L"C:/App/x.dll", true, L"C:/App/x_orvtmp.dll"},
        {"UNC path", L"\\\\srv\\share\\x.ocx", true, L"\\\\srv\\share\\x_orvtmp.ocx"},
        {"bare name", L"x.dll", true, L"x_orvtmp.dll"},
        {"name that is only an extension", L"C:\\u\\.profile", true, L"C:\\u\\_orvtmp.profile"},
        {"trailing dot", L"C:\\u\\file.", true, L"C:\\u\\file_orvtmp."},
        {"result of 259 characters fits", L"C:\\" + longFolder + L"\\" + std::wstring(4, L'n') + L".dll", true,
         L"C:\\" + longFolder + L"\\" + std::wstring(4, L'n') + L"_orvtmp.dll"},
        {"result of 260 characters does not", L"C:\\" + longFolder + L"\\" + std::wstring(5, L'n') + L".dll", false,
         L""},
        {"base name of 256 characters", L"C:\\" + std::wstring(256, L'b'), false, L""},
        {"extension of 256 characters", L"C:\\a." + std::wstring(255, L'e'), false, L""},
        {"folder of 256 characters", L"\\" + std::wstring(254, L'f') + L"\\x", false, L""},
        {"empty", L"", true, L"_orvtmp"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::wstring out = L"sentinel";
        EXPECT_EQ(MakeTemporaryCopyPath(row.target, out), row.ok);
        EXPECT_EQ(out, row.expected);
        EXPECT_LE(out.size(), kMaxPathChars);
    }
}

TEST(RenameSection, SplitsTheSectionBuffer) {
    struct Row {
        const char* label;
        std::wstring buffer;  // characters handed back, as counted by the call
        Lines expected;
    } rows[] = {
        {"nothing", std::wstring(), {}},
        {"one line", std::wstring(L"NUL=C:\\A.DLL\0", 13), {L"NUL=C:\\A.DLL"}},
        {"two lines", std::wstring(L"a=b\0NUL=c\0", 10), {L"a=b", L"NUL=c"}},
        {"an empty line ends the list", std::wstring(L"a=b\0\0c=d\0", 9), {L"a=b"}},
        {"last line without its NUL", std::wstring(L"a=b\0c=", 6), {L"a=b", L"c="}},
        {"line without '='", std::wstring(L"noequals\0", 9), {L"noequals"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_TRUE(LinesAre(SplitProfileSection(row.buffer.data(), row.buffer.size()), row.expected));
    }
    EXPECT_TRUE(SplitProfileSection(nullptr, 5).empty());
}

TEST(RenameSection, JoinKeepsEveryLineAndEndsTheList) {
    EXPECT_EQ(JoinProfileSection({}), std::wstring(1, L'\0'));
    EXPECT_EQ(JoinProfileSection({L"a=b", L"", L"NUL=c"}), std::wstring(L"a=b\0NUL=c\0\0", 11));
    const Lines lines = {L"NUL=C:\\A.DLL", L"C:\\B.DLL=C:\\B_ORV~1.DLL", L"x"};
    const std::wstring joined = JoinProfileSection(lines);
    // What WritePrivateProfileSection gets reads back as the same lines.
    EXPECT_TRUE(LinesAre(SplitProfileSection(joined.data(), joined.size() - 1), lines));
}

TEST(RenameSection, SchedulesDeletionsAndCopies) {
    struct Step {
        bool copy;
        const wchar_t* target;
        const wchar_t* temporary;
    };
    struct Row {
        const char* label;
        Lines before;
        std::vector<Step> steps;
        Lines expected;
    } rows[] = {
        {"deletion into an empty section", {}, {{false, L"C:\\A.DLL", nullptr}}, {L"NUL=C:\\A.DLL"}},
        {"two deletions keep a line each",
         {},
         {{false, L"C:\\A.DLL", nullptr}, {false, L"C:\\B.DLL", nullptr}},
         {L"NUL=C:\\A.DLL", L"NUL=C:\\B.DLL"}},
        {"a copy keeps the deletions scheduled before it",
         {L"NUL=C:\\A.DLL", L"NUL=C:\\B.DLL"},
         {{true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}},
         {L"NUL=C:\\A.DLL", L"NUL=C:\\B.DLL", L"NUL=C:\\T.DLL", L"C:\\T.DLL=C:\\T_ORV~1.DLL"}},
        {"a copy scheduled twice is one copy",
         {},
         {{true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}, {true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}},
         {L"NUL=C:\\T.DLL", L"C:\\T.DLL=C:\\T_ORV~1.DLL"}},
        {"earlier lines about the target go whatever their letter case and blanks",
         {L"nul = c:\\t.dll", L"X=Y", L"c:\\t.dll =C:\\OLD.TMP"},
         {{true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}},
         {L"X=Y", L"NUL=C:\\T.DLL", L"C:\\T.DLL=C:\\T_ORV~1.DLL"}},
        {"a rename whose source is the target stays",
         {L"C:\\OTHER.DLL=C:\\T.DLL"},
         {{true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}},
         {L"C:\\OTHER.DLL=C:\\T.DLL", L"NUL=C:\\T.DLL", L"C:\\T.DLL=C:\\T_ORV~1.DLL"}},
        {"a deletion after a copy of the same file comes last",
         {},
         {{true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}, {false, L"C:\\T.DLL", nullptr}},
         {L"NUL=C:\\T.DLL", L"C:\\T.DLL=C:\\T_ORV~1.DLL", L"NUL=C:\\T.DLL"}},
        {"a longer name that starts like the target is another file",
         {L"NUL=C:\\T.DLLX", L"C:\\T.DLL2=Q"},
         {{true, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL"}},
         {L"NUL=C:\\T.DLLX", L"C:\\T.DLL2=Q", L"NUL=C:\\T.DLL", L"C:\\T.DLL=C:\\T_ORV~1.DLL"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Lines lines = row.before;
        for (const Step& step : row.steps) {
            if (step.copy) {
                AddRenameCopy(lines, step.target, step.temporary);
            } else {
                EXPECT_EQ(AddRenameDelete(lines, step.target), std::wstring(L"NUL=") + step.target);
            }
        }
        EXPECT_TRUE(LinesAre(lines, row.expected));
    }
}

TEST(RenameSection, LargeSectionIsKeptWhole) {
    // Far beyond the 32767 characters a fixed buffer would hold.
    Lines lines;
    for (int i = 0; i < 20000; ++i) lines.push_back(L"NUL=C:\\OLD\\FILE" + std::to_wstring(i) + L".DLL");
    std::wstring joined = JoinProfileSection(lines);
    ASSERT_GT(joined.size(), 32767u * 10);
    Lines read = SplitProfileSection(joined.data(), joined.size() - 1);
    AddRenameDelete(read, L"C:\\NEW.DLL");
    AddRenameCopy(read, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL");
    ASSERT_EQ(read.size(), lines.size() + 3);
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), read.begin()));
    EXPECT_EQ(read[lines.size()], L"NUL=C:\\NEW.DLL");
}

TEST(RenameSection, ShortNameDiffersOnlyByTheFileName) {
    struct Row {
        const char* label;
        const wchar_t* shortTarget;
        bool differs;
    } rows[] = {
        {"8.3 name", L"C:\\PROGRA~1\\APP\\LIB.DLL", false},
        {"'~' only in a folder", L"C:\\PROG~FBU\\X.DLL", false},
        {"Wine-style short name", L"C:\\ORV_~UHM\\LONG~KBA.DLL", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(ShortNameDiffers(row.shortTarget), row.differs);
    }
}

}  // namespace
