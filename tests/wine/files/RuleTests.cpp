// The data-file and version rules on real files.
#include "FilesTest.h"
#include "files/DirectoryMarkers.h"
#include "files/FileModel.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

const std::string kNew = "the new content of the file", kOld = "old content";
const std::wstring kCopied = Line(L' ', L"'{S}' successfully copied to '{T}'"),
                   kOverwriteOlder = Line(L' ', L"Source file time stamp is newer than target file time stamp: Overwriting existing file"),
                   kKeepNewer = Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file"),
                   kHigher = Line(L' ', L"Target file version is higher than source file version: Keeping existing file"),
                   kSame = Line(L' ', L"Target file version is same as source file version: Keeping existing file"),
                   kSkipVersion = Line(L' ', L"Force flag is set: Skipping version check"),
                   kReadOnlyOff = Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for overwriting"),
                   kInUseLine = Line(L'W', L"Target file seems to be in use: cannot overwrite"),
                   kNotReplaced = Line(L'E', L"File could not be replaced");

HRESULT Install(const std::wstring& source, const std::wstring& target, DWORD flags) {
    CWexKrFile* file = CWexKrFile::CreateInstance(source.c_str());
    const HRESULT hr = file->Install(target.c_str(), flags);
    file->Destroy();
    return hr;
}

class Rules : public FilesTest {};
enum class Hold { kNone, kTarget, kTargetReadable, kSource };

}  // namespace

TEST_F(Rules, KeepOrReplace) {
    const struct {
        const char* name;
        const wchar_t* source;  // fixture; null: a data file
        const wchar_t* target;  // fixture; L"": a data file; null: none
        FILETIME targetTime;
        DWORD attributes, flags;
        Hold hold;
        HRESULT result;
        Lines lines, absent;
    } rows[] = {
        {"data, no target", nullptr, nullptr, {}, 0, 0, Hold::kNone, S_OK, {kCopied}, {L"already exists", L"Time stamp"}},
        {"data, older target", nullptr, L"", kOlder, 0, 0, Hold::kNone, S_OK,
         {Line(L' ', L"Target file {T} already exists"), Line(L' ', L"Time stamp of source file is: 06.05.2010 07:08:09"),
          Line(L' ', L"Time stamp of target file: 12.11.2009 13:14:15"), kOverwriteOlder, kCopied}, {L"Force flag"}},
        {"data, newer target", nullptr, L"", kNewer, 0, 0, Hold::kNone, S_FALSE,
         {Line(L' ', L"Time stamp of target file: 02.01.2011 03:04:05"), kKeepNewer}, {L"copied"}},
        {"data, target of the same time", nullptr, L"", kSourceTime, 0, 0, Hold::kNone, S_FALSE, {kKeepNewer}, {}},
        {"data, newer target, forced", nullptr, L"", kNewer, 0, 1, Hold::kNone, S_OK,
         {Line(L' ', L"Force flag is set: Skipping time stamp check"), kCopied}, {L"Time stamp of"}},
        {"data, flags other than force", nullptr, L"", kNewer, 0, 6, Hold::kNone, S_FALSE, {}, {L"Force flag"}},
        {"data, read-only older target", nullptr, L"", kOlder, kRO, 0, Hold::kNone, S_OK,
         {kReadOnlyOff, Line(L' ', L"Readonly attribute removed successfully"), kCopied}, {}},
        {"data, read-only newer target", nullptr, L"", kNewer, kRO, 0, Hold::kNone, S_FALSE, {}, {L"read only"}},
        {"data, target held open", nullptr, L"", kOlder, 0, 0, Hold::kTarget, kInUse,
         {kInUseLine, Line(L' ', L"CopyFile Errorcode "), kNotReplaced},
         {L"Target file is read only", L"DeleteFile succeeded", L"successfully copied"}},
        {"data, read-only system target held open", nullptr, L"", kOlder, kRO | kSys, 0, Hold::kTarget, kInUse,
         {kReadOnlyOff, kInUseLine, Line(L' ', L"CopyFile Errorcode "), Line(L' ', L"Target file is system file"),
          kNotReplaced},
         {L"DeleteFile succeeded", L"A file was deleted"}},
        // The source cannot be read: deleting the target first would lose it.
        {"data, source held open", nullptr, L"", kOlder, 0, 0, Hold::kSource, kInUse, {kInUseLine, kNotReplaced},
         {L"DeleteFile succeeded", L"A file was deleted"}},
        {"higher version", L"v2.dll", L"v1.dll", kOlder, 0, 0, Hold::kNone, S_OK,
         {Line(L' ', L"File version of source file is: 2.0.0.0"), Line(L' ', L"File version of target file is: 1.0.0.0"),
          Line(L' ', L"Source file version is higher than target file version: Overwriting existing file"), kCopied},
         {L"Time stamp"}},
        {"lower version", L"v1.dll", L"v2.dll", kOlder, 0, 0, Hold::kNone, S_FALSE, {kHigher}, {L"copied"}},
        {"lower version, forced", L"v1.dll", L"v2.dll", kOlder, 0, 1, Hold::kNone, S_OK, {kSkipVersion, kCopied},
         {L"File version of"}},
        {"Microsoft's lower version, forced", L"msv1.dll", L"v2.dll", kOlder, 0, 1, Hold::kNone, S_FALSE,
         {Line(L' ', L"/FORCE ignored for microsoft system files"), kHigher}, {L"Skipping"}},
        {"microsoft in lower case, forced", L"lcmsv1.dll", L"v2.dll", kOlder, 0, 1, Hold::kNone, S_OK,
         {kSkipVersion, kCopied}, {L"/FORCE ignored"}},
        {"no company name, forced", L"nocov1.dll", L"v2.dll", kOlder, 0, 1, Hold::kNone, S_OK, {kSkipVersion}, {}},
        {"same version and size", L"v2.dll", L"v2.dll", kOlder, 0, 0, Hold::kNone, S_FALSE, {kSame}, {L"differ in size"}},
        {"same version, other size", L"v2.dll", L"v2big.dll", kOlder, 0, 0, Hold::kNone, S_FALSE,
         {Line(L'W', L"File versions are same but files differ in size"), kSame}, {}},
        {"source without version", L"nover.dll", L"v1.dll", kNewer, 0, 0, Hold::kNone, S_FALSE,
         {Line(L'W', L"Source file {S} has no file version: falling back to time stamp check"), kKeepNewer},
         {L"Force flag is set", L"File version of"}},
        {"target without version", L"v1.dll", L"nover.dll", kOlder, 0, 0, Hold::kNone, S_OK,
         {Line(L'W', L"Target file {T} has no file version: falling back to time stamp check"), kOverwriteOlder}, {}},
        // The version rule's own in-use sequence, on a target others may read (its version too).
        {"read-only system version held open", L"v2.dll", L"v1.dll", kOlder, kRO | kSys, 0, Hold::kTargetReadable, kInUse,
         {Line(L' ', L"Copy File Errorcode "), Line(L' ', L"Target file is system file"), kInUseLine},
         {L"CopyFile Errorcode", L"File could not be replaced", L"DeleteFile succeeded"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::wstring source = dir / (row.source ? row.source : L"source.dat"), target = dir / L"target.dll";
        ASSERT_TRUE(row.source ? Copy(Fixture(row.source), source) : WriteBytes(source, kNew));
        ASSERT_TRUE(SetWriteTime(source, kSourceTime));
        if (row.target) {
            ASSERT_TRUE(*row.target ? Copy(Fixture(row.target), target) : WriteBytes(target, kOld));
            ASSERT_TRUE(SetWriteTime(target, row.targetTime));
            ASSERT_TRUE(!row.attributes || SetFileAttributesW(target.c_str(), row.attributes));
        }
        const std::string before = ReadBytes(target);
        LogCursor log;
        std::unique_ptr<Holder> holder(row.hold == Hold::kNone ? nullptr
                                       : new Holder(row.hold == Hold::kSource ? source : target,
                                                  row.hold == Hold::kTargetReadable ? Share::kRead : Share::kNone));
        ASSERT_TRUE(!holder || holder->Holding());
        const HRESULT hr = Install(source, target, row.flags);
        holder.reset();
        EXPECT_EQ(hr, row.result);
        EXPECT_TRUE(LogHas(log.Text(), row.lines, row.absent, source, target));
        const DWORD attributes = GetFileAttributesW(target.c_str());
        const FILETIME time = WriteTime(target);
        EXPECT_EQ(ReadBytes(target), hr == S_OK ? ReadBytes(source) : before);
        EXPECT_TRUE(hr != S_OK || (!(attributes & kRO) && CompareFileTime(&time, &kSourceTime) == 0))
            << "the new file is read-only or lacks the source's time";
        EXPECT_TRUE(hr == S_OK || row.hold != Hold::kNone || (attributes & (kRO | kSys)) == row.attributes);
        EXPECT_TRUE(NoTemporaryCopies(dir.Path()));
    }
}

TEST_F(Rules, MissingFoldersAreMadeAndRemovedUpToTheFirstUnmarkedOne) {
    const std::wstring apps = Path(L"Apps"), tools = Join(apps, L"Tools"), bin = Join(tools, L"Bin");
    const std::wstring source = Path(L"source.dat"), target = Join(bin, L"tool.dat");
    ASSERT_TRUE(CreateDirectoryW(apps.c_str(), nullptr) && WriteBytes(source, kNew));
    LogCursor log;
    EXPECT_EQ(Install(source, target, 0), S_OK);
    EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Target directory does not exist: Attempting to create directory " + bin + L":"),
                                    Line(L' ', L"Directory creation succeeded")}));
    EXPECT_EQ(ReadBytes(target), kNew);
    const DWORD marker = GetFileAttributesW(Join(tools, kWexKrFolderMarker).c_str());
    EXPECT_TRUE(marker != INVALID_FILE_ATTRIBUTES && (marker & FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(FileExists(Join(apps, kWexKrFolderMarker)));
    LogCursor removal;
    EXPECT_EQ(CWexKrFile(target.c_str()).UnInstall(source.c_str()), S_OK);
    EXPECT_TRUE(LogHas(removal.Text(), {Line(L' ', L"File " + target + L" has been uninstalled successfully"),
                                        Line(L' ', L"Remove Directory '" + bin + L"'"),
                                        Line(L' ', L"Remove Directory '" + tools + L"'")},
                       {L"Remove Directory '" + apps + L"'"}));
    EXPECT_FALSE(IsFolder(tools));
    EXPECT_TRUE(IsFolder(apps));
}

TEST_F(Rules, UnInstallReadOnlyInUseAndGoneTargets) {
    const std::wstring target = Path(L"target.dat");
    const std::wstring removed = Line(L' ', L"File {T} has been uninstalled successfully");
    const std::wstring readOnly = Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for deletion");
    enum class State { kThere, kHeld, kGone };
    for (const auto& [attributes, state, result, lines] :
         {std::tuple{kRO, State::kThere, S_OK, Lines{readOnly, removed}},
          {kRO | kSys, State::kThere, S_OK, Lines{readOnly, removed}},
          {DWORD{0}, State::kHeld, kInUse, Lines{Line(L'W', L"Target File seems to be in use: cannot delete")}},
          {DWORD{0}, State::kGone, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
           Lines{Win32Line(L'E', L"Error uninstalling file", ERROR_FILE_NOT_FOUND)}}}) {
        SCOPED_TRACE(Narrow(lines.back()));
        DeleteFileW(target.c_str());
        ASSERT_TRUE(state == State::kGone ||
                    (WriteBytes(target, kOld) && (!attributes || SetFileAttributesW(target.c_str(), attributes))));
        LogCursor log;
        std::unique_ptr<Holder> holder(state == State::kHeld ? new Holder(target) : nullptr);
        ASSERT_TRUE(!holder || holder->Holding());
        EXPECT_EQ(CWexKrFile(target.c_str()).UnInstall(Path(L"source.dat").c_str()), result);
        holder.reset();
        EXPECT_TRUE(LogHas(log.Text(), lines, {}, L"", target));
        EXPECT_EQ(FileExists(target), state == State::kHeld);
    }
    DeleteFileW(target.c_str());
}
