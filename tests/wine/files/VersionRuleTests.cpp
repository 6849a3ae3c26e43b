// The version rule on modules with version resources: higher, lower and equal
// versions, the force flag and its Microsoft exception, the time-stamp
// fallback, attributes and a target in use.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FilesTest.h"
#include "files/FileModel.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr HRESULT kInUse = static_cast<HRESULT>(0x800407D0L);
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
constexpr DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;

::testing::AssertionResult SameBytes(const std::wstring& path, const std::wstring& fixture) {
    if (Content(path) == Content(fixture)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Narrow(path) << " does not hold " << Narrow(fixture);
}

class VersionRule : public FilesTest {};

enum class Age { kAsBuilt, kOlder, kNewer };

struct VersionRow {
    const char* name;
    const wchar_t* source;  // fixture
    const wchar_t* target;  // fixture copied to the target, or null for none
    Age targetAge;
    DWORD targetAttributes;
    DWORD flags;
    HRESULT result;
    bool replaced;
    std::vector<std::wstring> lines;
    std::vector<std::wstring> absent;
};

}  // namespace

TEST_F(VersionRule, Decisions) {
    const std::wstring higher = Line(L' ', L"Target file version is higher than source file version: Keeping existing file");
    const std::wstring same = Line(L' ', L"Target file version is same as source file version: Keeping existing file");
    const std::wstring copied = Line(L' ', L"'{S}' successfully copied to '{T}'");
    const std::wstring skipVersion = Line(L' ', L"Force flag is set: Skipping version check");
    const VersionRow rows[] = {
        {"higher source", L"v2.dll", L"v1.dll", Age::kAsBuilt, 0, 0, S_OK, true,
         {Line(L' ', L"Target file {T} already exists"), Line(L' ', L"File version of source file is: 2.0.0.0"),
          Line(L' ', L"File version of target file is: 1.0.0.0"),
          Line(L' ', L"Source file version is higher than target file version: Overwriting existing file"), copied},
         {L"Time stamp"}},
        {"lower source", L"v1.dll", L"v2.dll", Age::kOlder, 0, 0, S_FALSE, false, {higher}, {L"copied"}},
        {"lower source, forced", L"v1.dll", L"v2.dll", Age::kAsBuilt, 0, 1, S_OK, true, {skipVersion, copied},
         {L"File version of"}},
        {"Microsoft's lower source, forced", L"msv1.dll", L"v2.dll", Age::kAsBuilt, 0, 1, S_FALSE, false,
         {Line(L' ', L"/FORCE ignored for microsoft system files"), higher}, {L"Skipping"}},
        {"microsoft in lower case, forced", L"lcmsv1.dll", L"v2.dll", Age::kAsBuilt, 0, 1, S_OK, true,
         {skipVersion, copied}, {L"/FORCE ignored"}},
        {"no company name, forced", L"nocov1.dll", L"v2.dll", Age::kAsBuilt, 0, 1, S_OK, true, {skipVersion}, {}},
        {"same version and size", L"v2.dll", L"v2.dll", Age::kOlder, 0, 0, S_FALSE, false, {same}, {L"differ in size"}},
        {"same version, other size", L"v2.dll", L"v2big.dll", Age::kOlder, 0, 0, S_FALSE, false,
         {Line(L'W', L"File versions are same but files differ in size"), same}, {}},
        {"source without version", L"nover.dll", L"v1.dll", Age::kNewer, 0, 0, S_FALSE, false,
         {Line(L'W', L"Source file {S} has no file version: falling back to time stamp check"),
          Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file")},
         {L"Force flag is set", L"File version of"}},
        {"Microsoft's source, forced, target without version", L"msv1.dll", L"nover.dll", Age::kNewer, 0, 1, S_FALSE,
         false,
         {Line(L'W', L"Target file {T} has no file version: falling back to time stamp check"),
          Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file")},
         {L"Skipping time stamp check"}},
        {"target without version", L"v1.dll", L"nover.dll", Age::kOlder, 0, 0, S_OK, true,
         {Line(L'W', L"Target file {T} has no file version: falling back to time stamp check"),
          Line(L' ', L"Source file time stamp is newer than target file time stamp: Overwriting existing file"), copied},
         {}},
        {"no target", L"v1.dll", nullptr, Age::kAsBuilt, 0, 0, S_OK, true, {copied},
         {L"already exists", L"File version of"}},
        {"read-only lower target", L"v2.dll", L"v1.dll", Age::kAsBuilt, kReadOnly, 0, S_OK, true,
         {Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for overwriting"),
          Line(L' ', L"Readonly attribute removed successfully"), copied},
         {}},
        {"read-only higher target", L"v1.dll", L"v2.dll", Age::kAsBuilt, kReadOnly, 0, S_FALSE, false, {higher},
         {L"read only"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::wstring source = Fixture(row.source);
        const std::wstring target = dir / L"target.dll";
        if (row.target) {
            ASSERT_TRUE(Copy(Fixture(row.target), target));
            if (row.targetAge != Age::kAsBuilt) {
                ASSERT_TRUE(SetAge(target, row.targetAge == Age::kOlder ? 400 : -400));
            }
            if (row.targetAttributes) {
                ASSERT_TRUE(SetAttributes(target, row.targetAttributes));
            }
        }
        LogCursor log;
        FilePtr file(CWexKrFile::CreateInstance(source.c_str()));
        ASSERT_TRUE(dynamic_cast<CWexKrExecutableFile*>(file.get()));
        EXPECT_EQ(Hex(file->Install(target.c_str(), row.flags)), Hex(row.result));
        const std::wstring text = log.Text();
        EXPECT_TRUE(HasLinesInOrder(text, ExpandAll(row.lines, source, target)));
        for (const auto& absent : row.absent) EXPECT_TRUE(LacksText(text, absent));
        if (row.replaced) {
            EXPECT_TRUE(SameBytes(target, source));
            EXPECT_FALSE(Attributes(target) & kReadOnly);
        } else {
            EXPECT_TRUE(SameBytes(target, Fixture(row.target)));
        }
        EXPECT_TRUE(NoTemporaryCopies(dir.Path()));
    }
}

TEST_F(VersionRule, InUseTargetIsKeptWhole) {
    const struct {
        const char* name;
        const wchar_t* source;
        DWORD attributes;
        Sharing sharing;
        std::vector<std::wstring> lines;
        std::vector<std::wstring> absent;
    } rows[] = {
        // The rule's own in-use sequence, on a target others may read (its version too).
        {"read-only system target", L"v2.dll", kReadOnly | kSystem, Sharing::kRead,
         {Line(L' ', L"Copy File Errorcode "), Line(L' ', L"Target file is system file"),
          Line(L'W', L"Target file seems to be in use: cannot overwrite")},
         {L"CopyFile Errorcode", L"File could not be replaced", L"DeleteFile succeeded"}},
        // Without a version the data-file rule decides, with its own sequence.
        {"source without version", L"nover.dll", 0, Sharing::kNone,
         {Line(L'W', L"Source file {S} has no file version: falling back to time stamp check"),
          Line(L'W', L"Target file seems to be in use: cannot overwrite"), Line(L' ', L"CopyFile Errorcode "),
          Line(L'E', L"File could not be replaced")},
         {L"Copy File Errorcode"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring source = Fixture(row.source);
        const std::wstring target = Path(L"target.dll");
        ASSERT_TRUE(Copy(Fixture(L"v1.dll"), target));
        ASSERT_TRUE(SetAge(target, 400));
        if (row.attributes) {
            ASSERT_TRUE(SetAttributes(target, row.attributes));
        }
        HRESULT hr = E_FAIL;
        LogCursor log;
        {
            Holder holder(target, row.sharing);
            ASSERT_TRUE(holder.Holding());
            FilePtr file(CWexKrFile::CreateInstance(source.c_str()));
            hr = file->Install(target.c_str(), 0);
        }
        EXPECT_EQ(Hex(hr), Hex(kInUse));
        const std::wstring text = log.Text();
        EXPECT_TRUE(HasLinesInOrder(text, ExpandAll(row.lines, source, target)));
        for (const auto& absent : row.absent) EXPECT_TRUE(LacksText(text, absent));
        EXPECT_TRUE(SameBytes(target, Fixture(L"v1.dll")));
        SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(target.c_str());
    }
}

TEST_F(VersionRule, CopyErrorsOtherThanInUse) {
    const std::wstring target = Path(L"bad?name.dll");
    LogCursor log;
    FilePtr file(CWexKrFile::CreateInstance(Fixture(L"v1.dll").c_str()));
    EXPECT_EQ(Hex(file->Install(target.c_str(), 0)), Hex(HRESULT_FROM_WIN32(ERROR_INVALID_NAME)));
    EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"Error installing file", ERROR_INVALID_NAME)}));
}
