// Post-reboot text work: the temporary copy's name and the [rename] section of
// wininit.ini. Join/split round trips are checked by the fuzz target.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RenameSection.h"

using namespace orv;

namespace {

using Lines = std::vector<std::wstring>;

TEST(RenameSection, TemporaryCopyPath) {
    const std::wstring folder = L"C:\\" + std::wstring(240, L'f') + L"\\";
    const struct { const char* label; std::wstring target, expected; size_t limit = kMaxPathChars; } rows[] = {  // expected empty: refused
        {"library", L"C:\\App\\lib.dll", L"C:\\App\\lib_orvtmp.dll"},
        {"dot in a folder, none in the name", L"C:\\App.v2\\README", L"C:\\App.v2\\README_orvtmp"},
        {"the last dot starts the extension", L"C:\\a\\b.tar.gz", L"C:\\a\\b.tar_orvtmp.gz"},
        {"forward slashes", L"C:/App/x.dll", L"C:/App/x_orvtmp.dll"},
        {"name that is only an extension", L"C:\\u\\.profile", L"C:\\u\\_orvtmp.profile"},
        {"result of 259 characters fits", folder + L"nnnn.dll", folder + L"nnnn_orvtmp.dll"},
        {"result of 260 characters does not", folder + L"nnnnn.dll", L""},
        {"unless the limit is larger", folder + L"nnnnn.dll", folder + L"nnnnn_orvtmp.dll", 260},
        {"base name of 256 characters", L"C:\\" + std::wstring(256, L'b'), L""},
        {"extension of 256 characters", L"C:\\a." + std::wstring(255, L'e'), L""},
        {"folder of 256 characters", L"\\" + std::wstring(254, L'f') + L"\\x", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::wstring out = L"sentinel";
        EXPECT_EQ(MakeTemporaryCopyPath(row.target, out, row.limit), !row.expected.empty());
        EXPECT_EQ(out, row.expected);
    }
}

TEST(RenameSection, SplitAndJoin) {
    const struct { const char* label; std::wstring buffer; Lines expected; } rows[] = {
        {"nothing", std::wstring(), {}},
        {"two lines", std::wstring(L"a=b\0NUL=c\0", 10), {L"a=b", L"NUL=c"}},
        {"an empty line ends the list", std::wstring(L"a=b\0\0c=d\0", 9), {L"a=b"}},
        {"last line without its NUL", std::wstring(L"a=b\0c=", 6), {L"a=b", L"c="}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(SplitProfileSection(row.buffer.data(), row.buffer.size()), row.expected);
    }
    EXPECT_TRUE(SplitProfileSection(nullptr, 5).empty());
    EXPECT_EQ(JoinProfileSection({}), std::wstring(1, L'\0'));
    EXPECT_EQ(JoinProfileSection({L"a=b", L"", L"NUL=c"}), std::wstring(L"a=b\0NUL=c\0\0", 11));
}

TEST(RenameSection, SchedulesDeletionsAndCopies) {
    const std::wstring kCopy = L"C:\\T.DLL=C:\\T_ORV~1.DLL";
    // Steps: "+" schedules a copy of T.DLL, anything else a deletion of that file.
    const struct { const char* label; Lines before; std::vector<const wchar_t*> steps; Lines expected; } rows[] = {
        {"two deletions keep a line each", {}, {L"C:\\A.DLL", L"C:\\B.DLL"}, {L"NUL=C:\\A.DLL", L"NUL=C:\\B.DLL"}},
        {"a copy keeps the deletions scheduled before it", {L"NUL=C:\\A.DLL"}, {L"+"},
         {L"NUL=C:\\A.DLL", L"NUL=C:\\T.DLL", kCopy}},
        {"a copy scheduled twice is one copy", {}, {L"+", L"+"}, {L"NUL=C:\\T.DLL", kCopy}},
        {"earlier lines about the target go whatever their letter case and blanks",
         {L"nul = c:\\t.dll", L"X=Y", L"c:\\t.dll =C:\\OLD.TMP"}, {L"+"}, {L"X=Y", L"NUL=C:\\T.DLL", kCopy}},
        {"a rename whose source is the target stays", {L"C:\\OTHER.DLL=C:\\T.DLL"}, {L"+"},
         {L"C:\\OTHER.DLL=C:\\T.DLL", L"NUL=C:\\T.DLL", kCopy}},
        {"a deletion after a copy of the same file comes last", {}, {L"+", L"C:\\T.DLL"},
         {L"NUL=C:\\T.DLL", kCopy, L"NUL=C:\\T.DLL"}},
        {"a longer name that starts like the target is another file", {L"NUL=C:\\T.DLLX", L"C:\\T.DLL2=Q"}, {L"+"},
         {L"NUL=C:\\T.DLLX", L"C:\\T.DLL2=Q", L"NUL=C:\\T.DLL", kCopy}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Lines lines = row.before;
        for (const wchar_t* step : row.steps) {
            if (step[0] == L'+') AddRenameCopy(lines, L"C:\\T.DLL", L"C:\\T_ORV~1.DLL");
            else EXPECT_EQ(AddRenameDelete(lines, step), std::wstring(L"NUL=") + step);
        }
        EXPECT_EQ(lines, row.expected);
    }
}

TEST(RenameSection, ShortNameDiffersOnlyByTheFileName) {
    EXPECT_FALSE(ShortNameDiffers(L"C:\\PROGRA~1\\APP\\LIB.DLL"));
    EXPECT_FALSE(ShortNameDiffers(L"C:\\PROG~FBU\\X.DLL"));
    EXPECT_TRUE(ShortNameDiffers(L"C:\\ORV_~UHM\\LONG~KBA.DLL"));
}

}  // namespace
