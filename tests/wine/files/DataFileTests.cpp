// The data-file rule on real files: keep or replace by time stamp, the force
// bit, attributes, a target in use, folders made and removed, the same file
// under another name, and copies that fail without costing the old file.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FilesTest.h"
#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr HRESULT kInUse = static_cast<HRESULT>(0x800407D0L);
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
constexpr DWORD kSystem = FILE_ATTRIBUTE_SYSTEM;

const std::string kNew = "the new content of the file";
const std::string kOld = "old content";

// Whole-second times away from any time-zone question: the log shows them as stored.
FILETIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}
const FILETIME kSourceTime = Time(2010, 5, 6, 7, 8, 9);
const FILETIME kOlderTime = Time(2009, 11, 12, 13, 14, 15);
const FILETIME kNewerTime = Time(2011, 1, 2, 3, 4, 5);

::testing::AssertionResult Holds(const std::wstring& path, const std::string& expected) {
    const std::string content = Content(path);
    if (content == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Narrow(path) << " holds \"" << content << "\", expected \"" << expected
                                         << "\"";
}

class DataFile : public FilesTest {
protected:
    // The source, with its content and time.
    std::wstring MakeSource(DWORD attributes = 0) {
        const std::wstring source = Path(L"source.dat");
        EXPECT_TRUE(Write(source, kNew));
        EXPECT_TRUE(SetWriteTime(source, kSourceTime));
        if (attributes) {
            EXPECT_TRUE(SetAttributes(source, attributes));
        }
        return source;
    }
    std::wstring MakeTarget(const FILETIME& time, DWORD attributes = 0) {
        const std::wstring folder = Path(L"target");
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring target = Join(folder, L"target.dat");
        EXPECT_TRUE(Write(target, kOld));
        EXPECT_TRUE(SetWriteTime(target, time));
        if (attributes) {
            EXPECT_TRUE(SetAttributes(target, attributes));
        }
        return target;
    }
};

enum class Target { kNone, kOlder, kNewer, kSameTime };

}  // namespace

TEST_F(DataFile, KeepOrReplaceByTimeStamp) {
    const struct {
        const char* name;
        Target target;
        DWORD targetAttributes;
        DWORD sourceAttributes;
        DWORD flags;
        HRESULT result;
        bool replaced;
        std::vector<std::wstring> lines;
        std::vector<std::wstring> absent;
    } rows[] = {
        {"no target", Target::kNone, 0, 0, 0, S_OK, true,
         {Line(L' ', L"'{S}' successfully copied to '{T}'")}, {L"already exists", L"Time stamp"}},
        {"older target", Target::kOlder, 0, 0, 0, S_OK, true,
         {Line(L' ', L"Target file {T} already exists"),
          Line(L' ', L"Time stamp of source file is: 06.05.2010 07:08:09"),
          Line(L' ', L"Time stamp of target file: 12.11.2009 13:14:15"),
          Line(L' ', L"Source file time stamp is newer than target file time stamp: Overwriting existing file"),
          Line(L' ', L"'{S}' successfully copied to '{T}'")},
         {L"Force flag"}},
        {"newer target", Target::kNewer, 0, 0, 0, S_FALSE, false,
         {Line(L' ', L"Time stamp of target file: 02.01.2011 03:04:05"),
          Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file")},
         {L"copied"}},
        {"target of the same time", Target::kSameTime, 0, 0, 0, S_FALSE, false,
         {Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file")},
         {}},
        {"newer target, forced", Target::kNewer, 0, 0, 1, S_OK, true,
         {Line(L' ', L"Target file {T} already exists"), Line(L' ', L"Force flag is set: Skipping time stamp check"),
          Line(L' ', L"'{S}' successfully copied to '{T}'")},
         {L"Time stamp of"}},
        {"flags other than force", Target::kNewer, 0, 0, 6, S_FALSE, false, {}, {L"Force flag"}},
        {"read-only older target", Target::kOlder, kReadOnly, 0, 0, S_OK, true,
         {Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for overwriting"),
          Line(L' ', L"Readonly attribute removed successfully"), Line(L' ', L"'{S}' successfully copied to '{T}'")},
         {}},
        {"read-only newer target", Target::kNewer, kReadOnly, 0, 0, S_FALSE, false, {}, {L"read only"}},
        {"read-only source", Target::kOlder, 0, kReadOnly, 0, S_OK, true, {}, {L"read only"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring source = MakeSource(row.sourceAttributes);
        const std::wstring target = Join(Path(L"target"), L"target.dat");
        switch (row.target) {
        case Target::kNone: CreateDirectoryW(Path(L"target").c_str(), nullptr); break;
        case Target::kOlder: MakeTarget(kOlderTime, row.targetAttributes); break;
        case Target::kNewer: MakeTarget(kNewerTime, row.targetAttributes); break;
        case Target::kSameTime: MakeTarget(kSourceTime, row.targetAttributes); break;
        }
        LogCursor log;
        CWexKrFile file(source.c_str());
        EXPECT_EQ(Hex(file.Install(target.c_str(), row.flags)), Hex(row.result));
        const std::wstring text = log.Text();
        EXPECT_TRUE(HasLinesInOrder(text, ExpandAll(row.lines, source, target)));
        for (const auto& absent : row.absent) EXPECT_TRUE(LacksText(text, absent));
        EXPECT_TRUE(Holds(target, row.replaced ? kNew : kOld));
        const DWORD attributes = Attributes(target);
        if (row.replaced) {
            EXPECT_FALSE(attributes & kReadOnly) << "the new file is left read-only";
            const FILETIME time = WriteTime(target);
            EXPECT_EQ(CompareFileTime(&time, &kSourceTime), 0) << "the copy does not keep the source's time";
        } else {
            EXPECT_EQ(attributes & kReadOnly, row.targetAttributes & kReadOnly);
        }
        SetAttributes(source, FILE_ATTRIBUTE_NORMAL);
        SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(source.c_str());
        DeleteFileW(target.c_str());
    }
}

TEST_F(DataFile, InUseTargetIsKeptWhole) {
    const struct {
        const char* name;
        bool holdTarget;  // else the source is held
        DWORD targetAttributes;
        std::vector<std::wstring> lines;
        std::vector<std::wstring> absent;
    } rows[] = {
        {"target held open", true, 0,
         {Line(L'W', L"Target file seems to be in use: cannot overwrite"), Line(L' ', L"CopyFile Errorcode "),
          Line(L'E', L"File could not be replaced")},
         {L"Target file is read only", L"DeleteFile succeeded", L"successfully copied"}},
        {"read-only system target held open", true, kReadOnly | kSystem,
         {Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for overwriting"),
          Line(L'W', L"Target file seems to be in use: cannot overwrite"), Line(L' ', L"CopyFile Errorcode "),
          Line(L' ', L"Target file is system file"), Line(L'E', L"File could not be replaced")},
         {L"DeleteFile succeeded", L"A file was deleted"}},
        // The source cannot be read: the old rule lost the target here.
        {"source held open", false, 0,
         {Line(L'W', L"Target file seems to be in use: cannot overwrite"), Line(L'E', L"File could not be replaced")},
         {L"DeleteFile succeeded", L"A file was deleted"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring source = MakeSource();
        const std::wstring target = MakeTarget(kOlderTime, row.targetAttributes);
        HRESULT hr = E_FAIL;
        LogCursor log;
        {
            Holder holder(row.holdTarget ? target : source);
            ASSERT_TRUE(holder.Holding());
            hr = CWexKrFile(source.c_str()).Install(target.c_str(), 0);
        }
        EXPECT_EQ(Hex(hr), Hex(kInUse));
        const std::wstring text = log.Text();
        EXPECT_TRUE(HasLinesInOrder(text, row.lines));
        for (const auto& absent : row.absent) EXPECT_TRUE(LacksText(text, absent));
        EXPECT_TRUE(Holds(target, kOld));
        EXPECT_TRUE(NoTemporaryCopies(m_temp.Path()));
        SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(DataFile, TheSameFileUnderAnotherNameIsLeftAlone) {
    const std::wstring folder = Path(L"Some Long Folder");
    ASSERT_TRUE(MakeFolder(folder));
    const std::wstring path = Join(folder, L"Installed File.dat");
    ASSERT_TRUE(Write(path, kOld));
    ASSERT_TRUE(SetWriteTime(path, kOlderTime));
    std::wstring upper = path;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    WCHAR previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    const ScopeExit restore([&] { SetCurrentDirectoryW(previous); });

    const struct {
        const char* name;
        std::wstring other;
    } rows[] = {
        {"short path", ShortPath(path)},
        {"other letter case", upper},
        {"relative path", L"Installed File.dat"},
        {"dots in the path", folder + L"\\..\\Some Long Folder\\.\\Installed File.dat"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.other.empty());
        LogCursor log;
        EXPECT_EQ(CWexKrFile(path.c_str()).Install(row.other.c_str(), kWexKrInstallForce), S_OK);
        EXPECT_EQ(CWexKrFile(row.other.c_str()).Install(path.c_str(), kWexKrInstallForce), S_OK);
        EXPECT_EQ(CWexKrFile(path.c_str()).UnInstall(row.other.c_str()), S_OK);
        const std::wstring text = log.Text();
        EXPECT_TRUE(HasLinesInOrder(
            text, {Line(L' ', L"Server dependent installation: source file path equals target file path: OK"),
                   Line(L' ', L"Server dependent installation: source file path equals target file path: OK"),
                   Line(L' ', L"Server dependent installation: File will not be deleted")}));
        EXPECT_TRUE(Holds(path, kOld));
        const FILETIME time = WriteTime(path);
        EXPECT_EQ(CompareFileTime(&time, &kOlderTime), 0);
    }
}

TEST_F(DataFile, MissingFoldersAreMadeAndRemovedAgain) {
    const std::wstring apps = Path(L"Apps");
    ASSERT_TRUE(MakeFolder(apps));
    const std::wstring tools = Join(apps, L"Tools");
    const std::wstring bin = Join(tools, L"Bin");
    const std::wstring target = Join(bin, L"tool.dat");
    const std::wstring source = MakeSource();

    LogCursor log;
    EXPECT_EQ(CWexKrFile(source.c_str()).Install(target.c_str(), 0), S_OK);
    EXPECT_TRUE(HasLinesInOrder(log.Text(),
                                {Line(L' ', L"Target directory does not exist: Attempting to create directory " + bin + L":"),
                                 Line(L' ', L"Directory creation succeeded")}));
    EXPECT_TRUE(Holds(target, kNew));
    EXPECT_NE(Attributes(Join(tools, kWexKrFolderMarker)), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Attributes(Join(apps, kWexKrFolderMarker)), INVALID_FILE_ATTRIBUTES);

    LogCursor removal;
    EXPECT_EQ(CWexKrFile(target.c_str()).UnInstall(source.c_str()), S_OK);
    EXPECT_TRUE(HasLinesInOrder(removal.Text(), {Line(L' ', L"File " + target + L" has been uninstalled successfully"),
                                                 Line(L' ', L"Remove Directory '" + bin + L"'"),
                                                 Line(L' ', L"Remove Directory '" + tools + L"'")}));
    EXPECT_FALSE(IsFolder(tools));
    EXPECT_TRUE(IsFolder(apps));
}

TEST_F(DataFile, FailedInstallsLeaveNothingBehind) {
    ASSERT_TRUE(Write(Path(L"afile"), "in the way"));
    const std::wstring source = MakeSource();
    const std::wstring tooLong = LongPathBelow(m_temp.Path(), 300);
    const struct {
        const char* name;
        std::wstring target;
        HRESULT result;
        std::wstring line;
    } rows[] = {
        {"a file where a folder should be", Path(L"afile\\sub\\x.dat"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
         Win32Line(L'E', L"Directory creation failed: Aborting file installation", ERROR_PATH_NOT_FOUND)},
        {"a name the file system refuses", Path(L"bad?name.dat"), HRESULT_FROM_WIN32(ERROR_INVALID_NAME),
         Win32Line(L'E', L"Error installing file", ERROR_INVALID_NAME)},
        {"a path too long", tooLong, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
         Line(L'E', L"Path longer than 259 characters refused: '" + tooLong.substr(0, 40))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(Hex(CWexKrFile(source.c_str()).Install(row.target.c_str(), 0)), Hex(row.result));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {row.line}));
        EXPECT_FALSE(FileExists(row.target));
    }
}

TEST_F(DataFile, UnInstall) {
    const struct {
        const char* name;
        bool exists;
        DWORD attributes;
        bool hold;
        bool sourceIsFile;
        HRESULT result;
        bool remains;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"plain file", true, 0, false, false, S_OK, false,
         {Line(L' ', L"File {T} has been uninstalled successfully")}},
        {"read-only file", true, kReadOnly, false, false, S_OK, false,
         {Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for deletion"),
          Line(L' ', L"Readonly attribute removed successfully"),
          Line(L' ', L"File {T} has been uninstalled successfully")}},
        {"read-only system file", true, kReadOnly | kSystem, false, false, S_OK, false, {}},
        {"file in use", true, 0, true, false, kInUse, true,
         {Line(L'W', L"Target File seems to be in use: cannot delete")}},
        {"file already gone", false, 0, false, false, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false,
         {Win32Line(L'E', L"Error uninstalling file", ERROR_FILE_NOT_FOUND)}},
        {"installed from itself", true, 0, false, true, S_OK, true,
         {Line(L' ', L"Server dependent installation: File will not be deleted")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring source = MakeSource();
        const std::wstring target = MakeTarget(kOlderTime, row.attributes);
        if (!row.exists) {
            ASSERT_TRUE(DeleteFileW(target.c_str()));
        }
        HRESULT hr = E_FAIL;
        LogCursor log;
        {
            std::unique_ptr<Holder> holder(row.hold ? new Holder(target) : nullptr);
            if (holder) {
                ASSERT_TRUE(holder->Holding());
            }
            hr = CWexKrFile(target.c_str()).UnInstall(row.sourceIsFile ? target.c_str() : source.c_str());
        }
        EXPECT_EQ(Hex(hr), Hex(row.result));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), ExpandAll(row.lines, source, target)));
        EXPECT_EQ(FileExists(target), row.remains);
        EXPECT_TRUE(IsFolder(Path(L"target")));  // made by the test, so it has no marker and stays
        SetAttributes(target, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(target.c_str());
    }
}
