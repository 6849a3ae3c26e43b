// InstallFile, UnInstallFile, CopyFile and DeleteFile through the kernel's COM
// interface on the built DLL. Drives that refuse the work are made real by
// testdrive.sh (a small tmpfs named in ORV_TEST_DRIVE; the tests skip without it).
#include <shlwapi.h>

#include <functional>

#include "FilesTest.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

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

// Null, missing and too long (refused before anything is written) arguments.
TEST_F(KernelFiles, BadArguments) {
    const std::wstring missing = Path(L"missing.txt"), other = Path(L"other.txt"), source = Path(L"source.txt");
    std::wstring tooLong = m_temp.Path();
    while (tooLong.size() < 300) tooLong += L"\\nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn";
    ASSERT_TRUE(WriteBytes(source, "new"));
    const Bstr missingB = B(missing), otherB = B(other), sourceB = B(source), longB = B(tooLong);
    InstallRecord install(missing, other), uninstall(other, missing), installLong(source, tooLong),
        installFromLong(tooLong, other), uninstallLong(source, tooLong);
    const auto null = [](const wchar_t* method) {
        return Lines{Win32Line(L'E', method + std::wstring(L"(): Invalid parameter ( NULL pointer )"), 0x4003)};
    };
    const Lines tooLongLine{Line(L'E', L"Path longer than 259 characters refused: '")};
    const HRESULT kTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    EXPECT_TRUE(RunAll({
        {"InstallFile(null)", [&] { return m_kernel->InstallFile(nullptr); }, null(L"InstallFile"), E_POINTER},
        {"UnInstallFile(null)", [&] { return m_kernel->UnInstallFile(nullptr); }, null(L"UnInstallFile"), E_POINTER},
        {"CopyFile(null, t)", [&] { return m_kernel->CopyFile(nullptr, otherB.get(), VARIANT_TRUE); }, null(L"CopyFile"), E_POINTER},
        {"CopyFile(s, null)", [&] { return m_kernel->CopyFile(otherB.get(), nullptr, VARIANT_TRUE); }, null(L"CopyFile"), E_POINTER},
        {"DeleteFile(s, null)", [&] { return m_kernel->DeleteFile(otherB.get(), nullptr); }, null(L"DeleteFile"), E_POINTER},
        {"InstallFile, no source", [&] { return m_kernel->InstallFile(install.Get()); },
         {Win32Line(L'E', L"Missing file '{S}'", ERROR_FILE_NOT_FOUND)}, kNotFound},
        {"UnInstallFile, no target", [&] { return m_kernel->UnInstallFile(uninstall.Get()); },
         {Line(L' ', L"Attempting file uninstallation: {S}"),
          Win32Line(L'W', L"Missing file to be un-installed: '{S}'", ERROR_FILE_NOT_FOUND)}, S_FALSE},
        {"CopyFile, no source", [&] { return m_kernel->CopyFile(missingB.get(), otherB.get(), VARIANT_FALSE); },
         {Line(L'E', L"'{S}' missing from the source", 1)}, kNotFound},
        {"DeleteFile, no target", [&] { return m_kernel->DeleteFile(nullptr, missingB.get()); },
         {Line(L' ', L"Attempting file deletion: {S}"), Win32Line(L'W', L"Missing file to be deleted: '{S}'", ERROR_FILE_NOT_FOUND)},
         S_FALSE},
        {"InstallFile, long target", [&] { return m_kernel->InstallFile(installLong.Get()); }, tooLongLine, kTooLong},
        {"InstallFile, long source", [&] { return m_kernel->InstallFile(installFromLong.Get()); }, tooLongLine, kTooLong},
        {"UnInstallFile, long", [&] { return m_kernel->UnInstallFile(uninstallLong.Get()); }, tooLongLine, kTooLong},
        {"CopyFile, long target", [&] { return m_kernel->CopyFile(sourceB.get(), longB.get(), VARIANT_TRUE); }, tooLongLine, kTooLong},
        {"CopyFile, long source", [&] { return m_kernel->CopyFile(longB.get(), otherB.get(), VARIANT_TRUE); }, tooLongLine, kTooLong},
        {"DeleteFile, long", [&] { return m_kernel->DeleteFile(sourceB.get(), longB.get()); }, tooLongLine, kTooLong},
    }, missing));
    EXPECT_TRUE(install.Untouched() && installLong.Untouched());
    EXPECT_TRUE(FileExists(source));
    EXPECT_FALSE(FileExists(other) || IsFolder(tooLong.substr(0, m_temp.Path().size() + 10)));
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
            std::unique_ptr<Holder> holder(row.existing == Target::kHeld ? new Holder(target, true) : nullptr);
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
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAppPaths + std::wstring(L"target.exe")));
        EXPECT_NE(SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str(), nullptr, nullptr, nullptr), ERROR_SUCCESS);
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
        EXPECT_EQ(m_kernel->CopyFile(B(source).get(), B(target).get(), row.force), row.result);
        EXPECT_TRUE(LogHas(log.Text(), row.lines, {}, source, target));
        EXPECT_EQ(ReadBytes(target), row.result == S_OK ? ReadBytes(source) : before);
    }
}

TEST_F(KernelFiles, DeleteFileLeavesSharedDllCountsAlone) {
    const std::wstring target = Path(L"shared.dll");
    ASSERT_TRUE(Copy(Fixture(L"regsrv.dll"), target));
    DWORD count = 2, size = sizeof(count);
    ASSERT_EQ(SHSetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str(), REG_DWORD, &count, size), ERROR_SUCCESS);
    Finally cleanup{[&] { SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str()); }};
    EXPECT_EQ(m_kernel->DeleteFile(nullptr, B(target).get()), S_OK);
    EXPECT_FALSE(FileExists(target));
    count = 0;
    ASSERT_EQ(SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str(), nullptr, &count, &size), ERROR_SUCCESS);
    EXPECT_EQ(count, 2u);
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
        EXPECT_EQ(copyFile ? m_kernel->CopyFile(B(source).get(), B(target).get(), VARIANT_TRUE)
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
        {"CopyFile, forced", [&] { return m_kernel->CopyFile(B(source).get(), B(target).get(), VARIANT_TRUE); },
         removal(L"overwriting", Line(L'E', L"File could not be replaced")), kInUse},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(uninstall.Get()); },
         removal(L"deletion", Line(L'W', L"Target File seems to be in use: cannot delete")), kInUse},
    }));
    EXPECT_EQ(ReadBytes(target), "kept");
}
