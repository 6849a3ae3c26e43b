// InstallFile, UnInstallFile, CopyFile, DeleteFile, GetFileInfo and
// FreeFileInfo through the kernel's COM interface on the built DLL. Drives
// that refuse the work are made real by testdrive.sh (a small tmpfs named in
// ORV_TEST_DRIVE; the tests skip without it).
#include <shlwapi.h>

#include <cstring>
#include <functional>

#include "FilesTest.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

struct Call {
    const char* name;
    std::function<HRESULT()> call;
    Lines lines;
    HRESULT result;
};

::testing::AssertionResult RunAll(const std::vector<Call>& rows, const std::wstring& s = L"", const std::wstring& t = L"") {
    for (const auto& row : rows) {
        LogCursor log;
        const HRESULT hr = row.call();
        if (hr != row.result) return ::testing::AssertionFailure() << row.name << " returned " << std::hex << hr;
        const auto logged = LogHas(log.Text(), row.lines, {}, s, t);
        if (!logged) return ::testing::AssertionFailure() << row.name << ": " << logged.message();
    }
    return ::testing::AssertionSuccess();
}

class KernelFiles : public KernelTest {};

std::string Str(BSTR s) { return s ? Narrow(s) : std::string("null"); }
ULONGLONG Ticks(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

class Drive : public KernelTest {
protected:
    void SetUp() override {
        m_drive = Env(L"ORV_TEST_DRIVE");
        if (m_drive.empty()) GTEST_SKIP() << "no test drive: run through testdrive.sh as root";
        KernelTest::SetUp();
    }
    std::wstring m_drive;
};
class DiskFull : public Drive {};
class ReadOnlyDrive : public Drive {};

}  // namespace

// Null, missing and too long (refused before anything is written) arguments,
// and calls whose file work fails.
TEST_F(KernelFiles, BadArguments) {
    const std::wstring missing = Path(L"missing.txt"), other = Path(L"other.txt"), source = Path(L"source.txt");
    const std::wstring belowAFile = Join(source, L"sub\\target.txt"), inMissingFolder = Path(L"none\\target.txt");
    std::wstring tooLong = m_temp.Path();
    while (tooLong.size() < 300) tooLong += L"\\nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn";
    ASSERT_TRUE(WriteBytes(source, "new"));
    const Bstr missingB(missing), otherB(other), sourceB(source), longB(tooLong);
    InstallRecord install(missing, other), uninstall(other, missing), installLong(source, tooLong),
        installFromLong(tooLong, other), uninstallLong(source, tooLong), installBelowAFile(source, belowAFile);
    const auto null = [](const wchar_t* method) {
        return Lines{Win32Line(L'E', method + std::wstring(L"(): Invalid parameter ( NULL pointer )"), 0x4003)};
    };
    const Lines tooLongLine{Line(L'E', L"Path longer than 259 characters refused: '")};
    const HRESULT kTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    _ORV_FILE_INFO info{};
    _ORV_CHECK_INFO end{};
    BSTR result = nullptr;
    EXPECT_TRUE(RunAll({
        {"InstallFile(null)", [&] { return m_kernel->InstallFile(nullptr); }, null(L"InstallFile"), E_POINTER},
        {"UnInstallFile(null)", [&] { return m_kernel->UnInstallFile(nullptr); }, null(L"UnInstallFile"), E_POINTER},
        {"CopyFile(null, t)", [&] { return m_kernel->CopyFile(nullptr, otherB, VARIANT_TRUE); }, null(L"CopyFile"), E_POINTER},
        {"CopyFile(s, null)", [&] { return m_kernel->CopyFile(otherB, nullptr, VARIANT_TRUE); }, null(L"CopyFile"), E_POINTER},
        {"DeleteFile(s, null)", [&] { return m_kernel->DeleteFile(otherB, nullptr); }, null(L"DeleteFile"), E_POINTER},
        {"InstallFile, no source", [&] { return m_kernel->InstallFile(install.Get()); },
         {Win32Line(L'E', L"Missing file '{S}'", ERROR_FILE_NOT_FOUND)}, kNotFound},
        {"UnInstallFile, no target", [&] { return m_kernel->UnInstallFile(uninstall.Get()); },
         {Line(L' ', L"Attempting file uninstallation: {S}"),
          Win32Line(L'W', L"Missing file to be un-installed: '{S}'", ERROR_FILE_NOT_FOUND)}, S_FALSE},
        {"CopyFile, no source", [&] { return m_kernel->CopyFile(missingB, otherB, VARIANT_FALSE); },
         {Line(L'E', L"'{S}' missing from the source", 1)}, kNotFound},
        {"DeleteFile, no target", [&] { return m_kernel->DeleteFile(nullptr, missingB); },
         {Line(L' ', L"Attempting file deletion: {S}"), Win32Line(L'W', L"Missing file to be deleted: '{S}'", ERROR_FILE_NOT_FOUND)},
         S_FALSE},
        {"InstallFile, long target", [&] { return m_kernel->InstallFile(installLong.Get()); }, tooLongLine, kTooLong},
        {"InstallFile, long source", [&] { return m_kernel->InstallFile(installFromLong.Get()); }, tooLongLine, kTooLong},
        {"UnInstallFile, long", [&] { return m_kernel->UnInstallFile(uninstallLong.Get()); }, tooLongLine, kTooLong},
        {"CopyFile, long target", [&] { return m_kernel->CopyFile(sourceB, longB, VARIANT_TRUE); }, tooLongLine, kTooLong},
        {"CopyFile, long source", [&] { return m_kernel->CopyFile(longB, otherB, VARIANT_TRUE); }, tooLongLine, kTooLong},
        {"DeleteFile, long", [&] { return m_kernel->DeleteFile(sourceB, longB); }, tooLongLine, kTooLong},
        {"PreparePostRebootCopyFile(null, t)", [&] { return m_kernel->PreparePostRebootCopyFile(nullptr, otherB, 1); },
         null(L"PreparePostRebootCopyFile"), E_POINTER},
        {"PreparePostRebootDeleteFile(null)", [&] { return m_kernel->PreparePostRebootDeleteFile(nullptr); },
         null(L"PreparePostRebootDeleteFile"), E_POINTER},
        {"UnShareFile(null): nothing to un-share", [&] { return m_kernel->UnShareFile(nullptr); },
         {Win32Line(L'W', L"Missing file to be un-shared: ''", ERROR_FILE_NOT_FOUND)}, S_FALSE},
        {"InstallFile, target folder below a file", [&] { return m_kernel->InstallFile(installBelowAFile.Get()); },
         {Win32Line(L'E', L"Directory creation failed: Aborting file installation", ERROR_PATH_NOT_FOUND)},
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"PreparePostRebootCopyFile, target folder missing",
         [&] { return m_kernel->PreparePostRebootCopyFile(sourceB, Bstr(inMissingFolder), 3); },
         {Win32Line(L'E', L"Error creating temporary copy of source file.", ERROR_PATH_NOT_FOUND)},
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"PreparePostRebootDeleteFile, empty path", [&] { return m_kernel->PreparePostRebootDeleteFile(Bstr(L"")); },
         {Win32Line(L'E', L"Error calling MoveFileEx.", ERROR_PATH_NOT_FOUND)}, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"GetFileInfo(s, null)", [&] { return m_kernel->GetFileInfo(sourceB, nullptr); }, {}, E_POINTER},
        {"GetFileInfo, long", [&] { return m_kernel->GetFileInfo(longB, &info); }, tooLongLine, kTooLong},
        {"FreeFileInfo(null)", [&] { return m_kernel->FreeFileInfo(nullptr); }, null(L"FreeFileInfo"), E_POINTER},
        {"InstallCheck(null, c, r)", [&] { return m_kernel->InstallCheck(nullptr, &end, &result); }, null(L"InstallCheck"),
         E_POINTER},
        {"InstallCheck(s, null, r)", [&] { return m_kernel->InstallCheck(sourceB, nullptr, &result); },
         null(L"InstallCheck"), E_POINTER},
        {"InstallCheck(s, c, null)", [&] { return m_kernel->InstallCheck(sourceB, &end, nullptr); },
         null(L"InstallCheck"), E_POINTER},
        {"InstallCheck, long", [&] { return m_kernel->InstallCheck(longB, &end, &result); }, tooLongLine, kTooLong},
    }, missing));
    EXPECT_TRUE(!info.bstrName && !result);  // refused calls left them
    EXPECT_TRUE(install.Untouched() && installLong.Untouched());
    EXPECT_TRUE(FileExists(source));
    EXPECT_FALSE(FileExists(other) || IsFolder(tooLong.substr(0, m_temp.Path().size() + 10)));
    EXPECT_FALSE(IsFolder(Path(L"none")));
}

// A target others hold open is replaced when they let it be renamed, and
// never lost: it leaves its name only once the complete copy waits beside it.
// Also in a folder of 247 characters (Windows makes them up to 248), where
// the temporary names beside the target no longer fit MAX_PATH.
TEST_F(KernelFiles, HeldTargetsAreSwappedNeverLost) {
    const Lines ladder{Line(L' ', L"DeleteFile succeeded"),
                       Line(L' ', L"'{S}' successfully copied to '{T}', after deleting destination file")};
    const struct {
        const char* name;
        bool versionRule;  // CopyFile of v2.dll over v1.dll; else a forced InstallFile of data
        bool held;
        Share share;
        size_t folder;  // 0: the test's own
        Lines lines;
    } rows[] = {
        {"data, held with delete sharing", false, true, Share::kDelete, 0, ladder},
        {"data, held through a mapped view only", false, true, Share::kMapped, 0, ladder},
        {"version rule, held with delete sharing", true, true, Share::kDelete, 0,
         {Line(L' ', L"'{S}' successfully copied to '{T}', finally")}},
        {"data in a folder of 247 characters", false, false, Share::kNone, 247, {Line(L' ', L"'{S}' successfully copied to '{T}'")}},
        {"data in a folder of 247 characters, held with delete sharing", false, true, Share::kDelete, 247, ladder},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::wstring folder = dir.Path();
        if (row.folder) {
            folder = Join(folder, std::wstring(row.folder - folder.size() - 1, L'f'));
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        }
        const std::wstring source = row.versionRule ? Fixture(L"v2.dll") : dir / L"source.dat", target = Join(folder, L"t.dll");
        ASSERT_TRUE(row.versionRule ? Copy(Fixture(L"v1.dll"), target) : WriteBytes(source, "new") && WriteBytes(target, "old"));
        HRESULT hr = E_FAIL;
        LogCursor log;
        {
            std::unique_ptr<Holder> holder(row.held ? new Holder(target, row.share) : nullptr);
            ASSERT_TRUE(!holder || holder->Holding());
            InstallRecord record(source, target, /*INSTALL_MODE_PATCH*/ 3);
            record.Get()->dwFlags = 1;
            hr = row.versionRule ? m_kernel->CopyFile(Bstr(source), Bstr(target), VARIANT_FALSE)
                                 : m_kernel->InstallFile(record.Get());
        }
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(LogHas(log.Text(), row.lines, {}, source, target));
        EXPECT_EQ(ReadBytes(target), ReadBytes(source)) << "the target was lost or not replaced";
        EXPECT_TRUE(NoTemporaryCopies(dir.Path()));
    }
}

// One file under other names: another drive letter onto its folder (Y: is
// C:), the "\\?\" and "\\.\" forms, a hard link, its short name, other letter
// case, a path relative to the current folder. Installed onto itself it is
// left as it is; removed with itself as the source, it stays.
TEST_F(KernelFiles, TheSameFileUnderAnotherNameIsLeftAlone) {
    const std::wstring folder = Path(L"Some Long Folder"), path = Join(folder, L"Installed File.dat");
    const std::wstring link = Path(L"link.dat");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) && WriteBytes(path, "kept") && SetWriteTime(path, kOlder));
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), path.c_str(), nullptr));
    ASSERT_EQ(path.substr(0, 3), L"C:\\") << "the temporary folder is not on C:";
    WCHAR previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    Finally restore{[&] { SetCurrentDirectoryW(previous); }};
    const std::wstring installed = Line(L' ', L"Server dependent installation: source file path equals target file path: OK"),
                       kept = Line(L' ', L"Server dependent installation: File will not be deleted");
    for (const std::wstring& other : {L"Y" + path.substr(1), L"\\\\?\\" + path, L"\\\\.\\" + path, link, ShortPath(path),
                                      Upper(path), std::wstring(L"Installed File.dat")}) {
        SCOPED_TRACE(Narrow(other));
        ASSERT_NE(other, path);
        for (const auto& [target, source] : {std::pair{path, other}, std::pair{other, path}}) {
            InstallRecord install(source, target), uninstall(source, target);
            install.Get()->dwFlags = 1;
            LogCursor log;
            EXPECT_EQ(m_kernel->InstallFile(install.Get()), S_OK);
            EXPECT_EQ(m_kernel->UnInstallFile(uninstall.Get()), S_OK);
            EXPECT_EQ(m_kernel->DeleteFile(Bstr(source), Bstr(target)), S_OK);
            EXPECT_TRUE(LogHas(log.Text(), {installed, kept, kept}));
            EXPECT_EQ(ReadBytes(path), "kept");
            const FILETIME time = WriteTime(path);
            EXPECT_EQ(CompareFileTime(&time, &kOlder), 0);
        }
    }
}

// Installing many files into one folder, the kernel reads the folder's names
// once and takes a name it has not seen for a new target. Files that others
// put there afterwards are still looked at: a newer one is kept, an older one
// (on disk in another letter case) is replaced, and no copy is left beside.
TEST_F(KernelFiles, TargetsMadeByOthersAfterTheFolderWasReadAreLookedAt) {
    const std::wstring source = Path(L"source.dat"), folder = Path(L"many");
    ASSERT_TRUE(WriteBytes(source, "new") && SetWriteTime(source, kSourceTime) &&
                CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* name : {L"a.dat", L"b.dat", L"c.dat"}) {
        InstallRecord record(source, Join(folder, name));
        ASSERT_EQ(m_kernel->InstallFile(record.Get()), S_OK);
    }
    const std::wstring newer = Join(folder, L"newer.dat"), older = Join(folder, L"older.dat");
    ASSERT_TRUE(WriteBytes(newer, "theirs") && SetWriteTime(newer, kNewer));
    ASSERT_TRUE(WriteBytes(Join(folder, L"OLDER.DAT"), "theirs") && SetWriteTime(Join(folder, L"OLDER.DAT"), kOlder));

    LogCursor log;
    InstallRecord keep(source, newer), replace(source, older);
    EXPECT_EQ(m_kernel->InstallFile(keep.Get()), S_FALSE);
    EXPECT_EQ(m_kernel->InstallFile(replace.Get()), S_OK);
    EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Target file " + newer + L" already exists"),
                                    Line(L' ', L"Target file time stamp is same or newer than source file time "
                                               L"stamp: Keeping existing file"),
                                    Line(L' ', L"Target file " + older + L" already exists")}));
    EXPECT_EQ(ReadBytes(newer), "theirs");
    EXPECT_EQ(ReadBytes(older), "new");
    EXPECT_EQ(FindNames(folder, L"*").size(), 7u) << "., .., a.dat, b.dat, c.dat, newer.dat, older.dat and nothing else";
}

// Folders, drive roots and devices are no files: refused before anything is
// read (a serial port would make a reader wait for ever) or written.
TEST_F(KernelFiles, WhatIsNoFileIsRefused) {
    const std::wstring folder = m_temp.Path(), file = Path(L"file.dat"), com1 = Path(L"COM1");
    ASSERT_TRUE(WriteBytes(file, "data"));
    WCHAR previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));  // where "CON_orvtmp" would be made
    Finally restore{[&] { SetCurrentDirectoryW(previous); }};
    constexpr DWORD kNotForFolders = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED
    const auto refused = [](const std::wstring& path, bool folder) {
        return Lines{folder ? Win32Line(L'E', L"Not a file: '" + path + L"' is a folder or a drive root", kNotForFolders)
                            : Win32Line(L'E', L"Not a file: '" + path + L"' is a device", ERROR_INVALID_NAME)};
    };
    const HRESULT kFolder = HRESULT_FROM_WIN32(kNotForFolders), kDevice = HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    InstallRecord fromCom1(L"COM1", file), toCom1(file, com1), fromFolder(folder, file), toFolder(file, folder),
        removeNul(file, L"NUL");
    const Bstr fileB(file), folderB(folder), rootB(L"C:\\");
    _ORV_FILE_INFO info{};
    _ORV_CHECK_INFO end{};
    BSTR result = nullptr;
    EXPECT_TRUE(RunAll({
        {"InstallFile from COM1", [&] { return m_kernel->InstallFile(fromCom1.Get()); }, refused(L"COM1", false), kDevice},
        {"InstallFile to COM1 in a folder", [&] { return m_kernel->InstallFile(toCom1.Get()); }, refused(com1, false), kDevice},
        {"InstallFile from a folder", [&] { return m_kernel->InstallFile(fromFolder.Get()); }, refused(folder, true), kFolder},
        {"InstallFile to a folder", [&] { return m_kernel->InstallFile(toFolder.Get()); }, refused(folder, true), kFolder},
        {"CopyFile to a drive root", [&] { return m_kernel->CopyFile(fileB, rootB, VARIANT_TRUE); },
         refused(L"C:\\", true), kFolder},
        {"UnInstallFile of NUL", [&] { return m_kernel->UnInstallFile(removeNul.Get()); }, refused(L"NUL", false), kDevice},
        {"DeleteFile of a folder", [&] { return m_kernel->DeleteFile(nullptr, folderB); }, refused(folder, true), kFolder},
        {"PreparePostRebootCopyFile to CON", [&] { return m_kernel->PreparePostRebootCopyFile(fileB, Bstr(L"CON"), 3); },
         refused(L"CON", false), kDevice},
        {"PreparePostRebootCopyFile to NUL", [&] { return m_kernel->PreparePostRebootCopyFile(fileB, Bstr(L"NUL"), 3); },
         refused(L"NUL", false), kDevice},
        {"PreparePostRebootCopyFile to a drive root", [&] { return m_kernel->PreparePostRebootCopyFile(fileB, rootB, 3); },
         refused(L"C:\\", true), kFolder},
        {"PreparePostRebootDeleteFile of a folder", [&] { return m_kernel->PreparePostRebootDeleteFile(folderB); },
         refused(folder, true), kFolder},
        {"UnShareFile of COM1", [&] { return m_kernel->UnShareFile(Bstr(L"COM1")); }, refused(L"COM1", false), kDevice},
        {"PostRebootRegister of COM1", [&] { return m_kernel->PostRebootRegister(Bstr(L"COM1")); },
         refused(L"COM1", false), kDevice},
        {"GetFileInfo of COM1", [&] { return m_kernel->GetFileInfo(Bstr(L"COM1"), &info); }, refused(L"COM1", false), kDevice},
        {"InstallCheck of a folder", [&] { return m_kernel->InstallCheck(folderB, &end, &result); },
         refused(folder, true), kFolder},
    }));
    EXPECT_TRUE(fromCom1.Untouched() && !info.bstrName && !result);
    EXPECT_EQ(GetFileAttributesW(L"C:\\_orvtmp"), INVALID_FILE_ATTRIBUTES);
    for (const std::wstring& made : FindNames(m_temp.Path(), L"*_orvtmp*")) ADD_FAILURE() << "made: " << Narrow(made);
    EXPECT_EQ(ReadBytes(file), "data");
}

// An export table claiming 0xFFFFFFFF functions over 64 MB of non-zero
// bytes: no 16-bit ordinal reaches beyond 65,536 of them, and installing the
// module costs about what copying it does.
TEST_F(KernelFiles, ForgedExportCountCostsAboutACopy) {
    std::string image = ReadBytes(Fixture(L"ordinal.dll"));
    const auto at = [&](size_t offset, int width) {
        uint32_t v = 0;
        memcpy(&v, image.data() + offset, width);
        return v;
    };
    const size_t pe = at(0x3C, 4), optional = pe + 24, sections = optional + at(pe + 20, 2);
    const uint32_t exportRva = at(optional + (at(optional, 2) == 0x20B ? 112 : 96), 4);
    size_t directory = 0;
    for (size_t s = sections; s < sections + 40 * at(pe + 6, 2); s += 40)
        if (exportRva >= at(s + 12, 4) && exportRva < at(s + 12, 4) + at(s + 8, 4))
            directory = exportRva - at(s + 12, 4) + at(s + 20, 4);
    ASSERT_NE(directory, 0u) << "no export directory in the fixture";
    memset(&image[directory + 20], 0xFF, 4);  // number of functions
    image.append(64 << 20, 'A');
    const std::wstring source = Path(L"forged.dll");
    ASSERT_TRUE(WriteBytes(source, image));
    const auto timed = [](const std::function<void()>& work) {
        const ULONGLONG start = GetTickCount64();
        work();
        return GetTickCount64() - start;
    };
    const ULONGLONG copy = timed([&] { EXPECT_TRUE(Copy(source, Path(L"copy.dll"))); });
    InstallRecord record(source, Path(L"installed.dll"), /*INSTALL_MODE_PATCH*/ 3);
    const ULONGLONG install = timed([&] { EXPECT_EQ(m_kernel->InstallFile(record.Get()), S_OK); });
    EXPECT_LT(install, 10 * copy + 1500) << "install " << install << " ms, plain copy " << copy << " ms";
}

TEST_F(KernelFiles, InstallFileRecordsCheckInfo) {
    enum class Target { kNone, kNewer, kHeld };
    const struct {
        const char* name;
        const wchar_t* source;  // fixture; null: a data file
        const wchar_t* target;  // fixture an existing target holds; null: data
        Target existing;
        HRESULT result;
        const wchar_t* type;
        const wchar_t* version;  // null: "timestamp" of the source
        bool server;
    } rows[] = {
        {"data file", nullptr, nullptr, Target::kNone, S_OK, L"Data file", nullptr, false},
        {"data file, newer target kept", nullptr, nullptr, Target::kNewer, S_FALSE, L"Data file", nullptr, false},
        {"data file, target in use", nullptr, nullptr, Target::kHeld, kInUse, L"Data file", nullptr, false},
        {"versioned library", L"v2.dll", nullptr, Target::kNone, S_OK, L"Dynamic link library file", L"2.0.0.0", false},
        {"versioned library, higher target kept", L"v1.dll", L"v2.dll", Target::kNewer, S_FALSE,
         L"Dynamic link library file", L"1.0.0.0", false},
        {"versioned library, target in use", L"v2.dll", L"v1.dll", Target::kHeld, kInUse, L"Dynamic link library file",
         L"2.0.0.0", false},
        {"in-process server", L"regsrv.dll", nullptr, Target::kNone, S_OK, L"InProc COM server file", nullptr, true},
        {"local server", L"tlbexe.exe", nullptr, Target::kNone, S_OK, L"Local COM server file", nullptr, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::wstring source = row.source ? Fixture(row.source) : dir / L"source.txt", target = dir / L"target.exe";
        ASSERT_TRUE(row.source || (WriteBytes(source, "new data") && SetWriteTime(source, kSourceTime)));
        if (row.existing != Target::kNone) {
            ASSERT_TRUE(row.target ? Copy(Fixture(row.target), target) : WriteBytes(target, "old data"));
            ASSERT_TRUE(SetWriteTime(target, row.existing == Target::kNewer ? kNewer : kOlder));
        }
        const std::string before = ReadBytes(target);
        // Patch mode: neither App Paths nor SharedDLLs may be touched.
        InstallRecord record(source, target, /*INSTALL_MODE_PATCH*/ 3);
        HRESULT hr = E_FAIL;
        LogCursor log;
        {
            // Held as a running module is: others may read it, so its version is seen.
            std::unique_ptr<Holder> holder(row.existing == Target::kHeld ? new Holder(target, Share::kRead) : nullptr);
            ASSERT_TRUE(!holder || holder->Holding());
            hr = m_kernel->InstallFile(record.Get());
        }
        EXPECT_EQ(hr, row.result);
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Attempting <" + std::wstring(row.type) + L"> installation: {S} --> {T}")},
                           {}, source, target));
        const std::string value = row.version ? Narrow(row.version) : "timestamp=" + Narrow(BlobText(WriteTime(source)));
        EXPECT_EQ(record.CheckInfo(), (row.version ? "version=" + value : value) +
                                          (row.server ? ";comserverregpath=null;" : ";null=null;") + "null=null;");
        EXPECT_EQ(ReadBytes(target), hr == S_OK ? ReadBytes(source) : before);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey + std::wstring(L"\\target.exe")));
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, target).exists);
        EXPECT_TRUE(NoTemporaryCopies(dir.Path()));
    }
    // InstallFile registers the in-process server (its entry point leaves a key): expected here.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\OrvTest\\files_regsrv"));
    SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvTest\\files_regsrv");
    InstallRecord failed(Fixture(L"v1.dll"), Path(L"bad?name.txt"));
    EXPECT_EQ(m_kernel->InstallFile(failed.Get()), HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
    EXPECT_EQ(failed.Get()->lpOrvCheckInfo, nullptr);
}

TEST_F(KernelFiles, CopyFileAppliesOnlyTheFileRule) {
    const struct {
        const char* name;
        const wchar_t* source;  // fixture; null: a data file
        const wchar_t* target;  // fixture an older target holds; null: newer data
        VARIANT_BOOL force;
        HRESULT result;
        Lines lines;
    } rows[] = {
        {"self-registering library", L"regsrv.dll", L"v1.dll", VARIANT_FALSE, S_OK,
         {Line(L' ', L"File type: InProc COM server file"),
          Line(L'W', L"Source file {S} has no file version: falling back to time stamp check")}},
        {"Microsoft's lower version, forced", L"msv1.dll", L"v2.dll", VARIANT_TRUE, S_FALSE,
         {Line(L' ', L"/FORCE ignored for microsoft system files")}},
        {"newer data target", nullptr, nullptr, VARIANT_FALSE, S_FALSE,
         {Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file")}},
        {"newer data target, forced by 1", nullptr, nullptr, 1, S_OK, {Line(L' ', L"Force flag is set: Skipping time stamp check")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::wstring source = row.source ? Fixture(row.source) : dir / L"source.txt", target = dir / L"target.bin";
        ASSERT_TRUE(row.source || (WriteBytes(source, "new data") && SetWriteTime(source, kSourceTime)));
        ASSERT_TRUE(row.target ? Copy(Fixture(row.target), target) && SetWriteTime(target, kOlder) : WriteBytes(target, "old"));
        const std::string before = ReadBytes(target);
        LogCursor log;
        EXPECT_EQ(m_kernel->CopyFile(Bstr(source), Bstr(target), row.force), row.result);
        EXPECT_TRUE(LogHas(log.Text(), row.lines, {}, source, target));
        EXPECT_EQ(ReadBytes(target), row.result == S_OK ? ReadBytes(source) : before);
    }
}

TEST_F(KernelFiles, DeleteFileLeavesSharedDllCountsAlone) {
    const std::wstring target = Path(L"shared.dll");
    ASSERT_TRUE(Copy(Fixture(L"regsrv.dll"), target));
    ASSERT_TRUE(SetCount(target, REG_DWORD, Dword(2)));
    Finally cleanup{[&] { SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, target.c_str()); }};
    EXPECT_EQ(m_kernel->DeleteFile(nullptr, Bstr(target)), S_OK);
    EXPECT_FALSE(FileExists(target));
    EXPECT_EQ(DwordCount(target), 2);
}

// Each row: "name|full path|description|size|time|version words|version text|vendor|flags".
TEST_F(KernelFiles, GetFileInfoOfEachFileClassAndFreeFileInfo) {
    const std::wstring data = Path(L"Long data file name.txt");
    ASSERT_TRUE(WriteBytes(data, "data"));
    WCHAR shortData[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(data.c_str(), shortData, MAX_PATH), 0u);
    const char kCompany[] = "Orv Fixture Company";
    const struct {
        const char* label;
        std::wstring path, given;  // given: what the caller passes, if not the path
        const char *description, *version, *vendor;  // version null: not an executable
        bool com;
    } rows[] = {
        {"data file, by its short name", data, shortData, "Data file", nullptr, nullptr, false},
        {"file gone since", Path(L"gone.dll"), L"", "Data file", nullptr, nullptr, false},
        {"program", Fixture(L"plain.exe"), L"", "Executable file", "1.0.0.0", kCompany, false},
        {"library", Fixture(L"v2.dll"), L"", "Dynamic link library file", "2.0.0.0", kCompany, false},
        {"in-process server", Fixture(L"regsrv.dll"), L"", "InProc COM server file", "0.0.0.0", "N/A", true},
        {"local server", Fixture(L"olereg.exe"), L"", "Local COM server file", "1.0.0.0", kCompany, true},
        {"type library", Fixture(L"tlb_21.tlb", L"com"), L"", "Type library file", "2.1.0.0", "N/A", false},
        {"TrueType font", L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf", L"", "True type font file",
         "2.37.0.0", "N/A", false},
        {"raster font", L"Z:\\usr\\share\\wine\\fonts\\coure.fon", L"", "Raster font file", "0.0.0.0", "N/A", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        _ORV_FILE_INFO info;
        memset(&info, 0xA5, sizeof info);  // no field may keep what was there
        LogCursor log;
        ASSERT_EQ(m_kernel->GetFileInfo(Bstr(row.given.empty() ? row.path : row.given), &info), S_OK);
        const _ORV_FILE_VERSION& v = info.version;
        char numbers[128], expected[128];
        snprintf(numbers, sizeof numbers, "%lu|%llu|%u.%u.%u.%u|%s|%s|%04X %04X %04X", info.dwSize,
                 Ticks(info.ftTimeStamp), v.wVerMaj1, v.wVerMaj2, v.wVerMin1, v.wVerMin2,
                 Str(info.bstrVersionString).c_str(), Str(info.bstrVendor).c_str(), USHORT(info.bExecutable),
                 USHORT(info.bCOMServer), USHORT(info.bWindowsFileProtected));
        snprintf(expected, sizeof expected, "%lu|%llu|%s|%s|%s|%s %s 0000",
                 static_cast<unsigned long>(ReadBytes(row.path).size()), Ticks(WriteTime(row.path)),
                 row.version ? row.version : "65535.65535.65535.65535", row.version ? row.version : "null",
                 row.vendor ? row.vendor : "null", row.version ? "FFFF" : "0000", row.com ? "FFFF" : "0000");
        EXPECT_EQ(Str(info.bstrName) + "|" + Str(info.bstrFullPath) + "|" + Str(info.bstrDescription) + "|" + numbers,
                  Narrow(PathFindFileNameW(row.path.c_str())) + "|" + Narrow(row.path) + "|" + row.description + "|" +
                      expected);
        EXPECT_EQ(Narrow(log.Text()), "");  // GetFileInfo logs nothing
        EXPECT_EQ(m_kernel->FreeFileInfo(&info), S_OK);
        EXPECT_TRUE(!info.bstrName && !info.bstrFullPath && !info.bstrDescription && !info.bstrVersionString &&
                    !info.bstrVendor);
    }
}

// The drive holds 256 KiB and the new file is larger: written over the old
// one, it would break off part-way and leave neither.
TEST_F(DiskFull, TargetKeepsItsContentAndTheCopyErrorIsReported) {
    const std::string old(96 * 1024, 'o');
    const std::wstring source = Path(L"big.dat"), target = Join(m_drive, L"target.dat");
    ASSERT_TRUE(WriteBytes(source, std::string(300 * 1024, 'n')));
    for (const auto& [name, copyFile, exists] : {std::tuple{"InstallFile", false, true}, {"CopyFile, forced", true, true},
                                                  {"no target yet", false, false}}) {
        SCOPED_TRACE(name);
        DeleteFileW(target.c_str());
        ASSERT_TRUE(!exists || (WriteBytes(target, old) && SetWriteTime(target, kOlder)));
        InstallRecord record(source, target);
        LogCursor log;
        EXPECT_EQ(copyFile ? m_kernel->CopyFile(Bstr(source), Bstr(target), VARIANT_TRUE)
                           : m_kernel->InstallFile(record.Get()),
                  HRESULT_FROM_WIN32(ERROR_DISK_FULL));
        EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'E', L"Error installing file", ERROR_DISK_FULL)}));
        EXPECT_EQ(ReadBytes(target), exists ? old : "") << "the old target was lost or changed";
        EXPECT_TRUE(NoTemporaryCopies(m_drive));
    }
}

// A read-only file on a read-only drive: the attribute cannot be taken off,
// which is said, and the copy or delete that follows counts as "in use".
TEST_F(ReadOnlyDrive, AttributeThatCannotBeRemoved) {
    const std::wstring target = Join(m_drive, L"readonly.dat"), source = Path(L"source.dat");
    ASSERT_TRUE(GetFileAttributesW(target.c_str()) & kRO);
    ASSERT_TRUE(WriteBytes(source, "new"));
    InstallRecord uninstall(source, target);
    const auto removal = [](const wchar_t* purpose, const std::wstring& failure) {
        return Lines{Line(L'W', L"Target file has read only attribute: Attempting to remove attribute for " + std::wstring(purpose)),
                     Win32Line(L'W', L"Readonly attribute could not be removed", ERROR_ACCESS_DENIED), failure};
    };
    EXPECT_TRUE(RunAll({
        {"CopyFile, forced", [&] { return m_kernel->CopyFile(Bstr(source), Bstr(target), VARIANT_TRUE); },
         removal(L"overwriting", Line(L'E', L"File could not be replaced")), kInUse},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(uninstall.Get()); },
         removal(L"deletion", Line(L'W', L"Target File seems to be in use: cannot delete")), kInUse},
    }));
    EXPECT_EQ(ReadBytes(target), "kept");
}
