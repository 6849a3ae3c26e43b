// InstallFile, UnInstallFile, CopyFile and DeleteFile through the kernel's
// COM interface, on the built DLL: results, log lines, files and check info.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FilesTest.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

constexpr HRESULT kInUse = static_cast<HRESULT>(0x800407D0L);
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr HRESULT kTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
constexpr DWORD kInvalidParameter = 0x4003;
const wchar_t kRegSrvKey[] = L"Software\\OrvTest\\files_regsrv";
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

class KernelFiles : public KernelFixture {
protected:
    void SetUp() override {
        KernelFixture::SetUp();
        ASSERT_TRUE(FileExists(Fixture(L"holder.exe"))) << "fixtures not built";
        SHDeleteKeyW(HKEY_CURRENT_USER, kRegSrvKey);
    }
    void TearDown() override {
        KernelFixture::TearDown();
        EXPECT_TRUE(NoTemporaryCopies(m_temp.Path()));
    }
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }
    std::wstring DataSource(const std::string& content = "new data") {
        const std::wstring path = Path(L"source.txt");
        EXPECT_TRUE(Write(path, content));
        EXPECT_TRUE(SetAge(path, 10));
        return path;
    }
    TempDir m_temp;
};

}  // namespace

TEST_F(KernelFiles, NullArguments) {
    Bstr path(Path(L"x.txt"));
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        const wchar_t* line;
    } rows[] = {
        {"InstallFile", [&] { return m_kernel->InstallFile(nullptr); }, L"InstallFile(): Invalid parameter ( NULL pointer )"},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(nullptr); },
         L"UnInstallFile(): Invalid parameter ( NULL pointer )"},
        {"CopyFile without source", [&] { return m_kernel->CopyFile(nullptr, path.Get(), VARIANT_TRUE); },
         L"CopyFile(): Invalid parameter ( NULL pointer )"},
        {"CopyFile without target", [&] { return m_kernel->CopyFile(path.Get(), nullptr, VARIANT_TRUE); },
         L"CopyFile(): Invalid parameter ( NULL pointer )"},
        {"DeleteFile without target", [&] { return m_kernel->DeleteFile(path.Get(), nullptr); },
         L"DeleteFile(): Invalid parameter ( NULL pointer )"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(Hex(row.call()), Hex(E_POINTER));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', row.line, kInvalidParameter)}));
    }
}

TEST_F(KernelFiles, MissingFiles) {
    const std::wstring missing = Path(L"missing.txt");
    const std::wstring other = Path(L"other.txt");
    Bstr missingB(missing), otherB(other);
    InstallRecord install(missing, other);
    InstallRecord uninstall(other, missing);
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT result;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"InstallFile without source", [&] { return m_kernel->InstallFile(install.Get()); }, kNotFound,
         {Win32Line(L'E', L"Missing file '{S}'", ERROR_FILE_NOT_FOUND)}},
        {"UnInstallFile without target", [&] { return m_kernel->UnInstallFile(uninstall.Get()); }, S_FALSE,
         {Line(L' ', L"Attempting file uninstallation: {S}"),
          Win32Line(L'W', L"Missing file to be un-installed: '{S}'", ERROR_FILE_NOT_FOUND)}},
        {"CopyFile without source", [&] { return m_kernel->CopyFile(missingB.Get(), otherB.Get(), VARIANT_FALSE); },
         kNotFound, {Line(L'E', L"'{S}' missing from the source", 1)}},
        {"DeleteFile without target", [&] { return m_kernel->DeleteFile(nullptr, missingB.Get()); }, S_FALSE,
         {Line(L' ', L"Attempting file deletion: {S}"),
          Win32Line(L'W', L"Missing file to be deleted: '{S}'", ERROR_FILE_NOT_FOUND)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(Hex(row.call()), Hex(row.result));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), ExpandAll(row.lines, missing, other)));
    }
    EXPECT_TRUE(install.CheckInfoUntouched());
    EXPECT_FALSE(FileExists(other));
}

TEST_F(KernelFiles, InstallFileRecordsCheckInfo) {
    enum class Prepare { kNothing, kNewer, kHeld };
    const struct {
        const char* name;
        const wchar_t* fixture;  // null: a data file
        const wchar_t* targetFixture;  // what an existing target holds (null: data)
        Prepare prepare;
        HRESULT result;
        const wchar_t* type;
        const wchar_t* key0;
        const wchar_t* version;  // null: the source's time stamp
        const wchar_t* key1;
    } rows[] = {
        {"data file", nullptr, nullptr, Prepare::kNothing, S_OK, L"Data file", L"timestamp", nullptr, nullptr},
        {"data file, newer target kept", nullptr, nullptr, Prepare::kNewer, S_FALSE, L"Data file", L"timestamp",
         nullptr, nullptr},
        {"data file, target in use", nullptr, nullptr, Prepare::kHeld, kInUse, L"Data file", L"timestamp", nullptr,
         nullptr},
        {"versioned library", L"v2.dll", nullptr, Prepare::kNothing, S_OK, L"Dynamic link library file", L"version",
         L"2.0.0.0", nullptr},
        {"versioned library, higher target kept", L"v1.dll", L"v2.dll", Prepare::kNewer, S_FALSE,
         L"Dynamic link library file", L"version", L"1.0.0.0", nullptr},
        {"versioned library, target in use", L"v2.dll", L"v1.dll", Prepare::kHeld, kInUse,
         L"Dynamic link library file", L"version", L"2.0.0.0", nullptr},
        {"program with a version", L"plain.exe", nullptr, Prepare::kNothing, S_OK, L"Executable file", L"version",
         L"1.0.0.0", nullptr},
        {"library without a version", L"nover.dll", nullptr, Prepare::kNothing, S_OK, L"Dynamic link library file",
         L"timestamp", nullptr, nullptr},
        {"in-process server", L"regsrv.dll", nullptr, Prepare::kNothing, S_OK, L"InProc COM server file",
         L"timestamp", nullptr, L"comserverregpath"},
        {"local server", L"tlbexe.exe", nullptr, Prepare::kNothing, S_OK, L"Local COM server file", L"timestamp",
         nullptr, L"comserverregpath"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::wstring source = row.fixture ? Fixture(row.fixture) : Join(dir.Path(), L"source.txt");
        if (!row.fixture) {
            ASSERT_TRUE(Write(source, "new data"));
            ASSERT_TRUE(SetAge(source, 10));
        }
        const std::wstring target = dir / L"target.bin";
        if (row.prepare != Prepare::kNothing) {
            if (row.targetFixture) {
                ASSERT_TRUE(Copy(Fixture(row.targetFixture), target));
            } else {
                ASSERT_TRUE(Write(target, "old data"));
            }
            ASSERT_TRUE(SetAge(target, row.prepare == Prepare::kNewer ? 0 : 400));
        }
        const std::string before = Content(target);
        // Patch mode: neither App Paths nor SharedDLLs are touched, so the prefix keeps no trace.
        InstallRecord record(source, target, /*INSTALL_MODE_PATCH*/ 3);
        HRESULT hr = E_FAIL;
        LogCursor log;
        {
            // Held as a running module is: others may read it, so its version is seen.
            std::unique_ptr<Holder> holder(row.prepare == Prepare::kHeld ? new Holder(target, Sharing::kRead) : nullptr);
            if (holder) {
                ASSERT_TRUE(holder->Holding());
            }
            hr = m_kernel->InstallFile(record.Get());
        }
        EXPECT_EQ(Hex(hr), Hex(row.result));
        EXPECT_TRUE(HasLinesInOrder(
            log.Text(), {Line(L' ', L"Attempting <" + std::wstring(row.type) + L"> installation: " + source + L" --> " + target)}));
        const std::wstring value = row.version ? row.version : BlobText(WriteTime(source));
        EXPECT_TRUE(CheckInfoIs(record.CheckInfo(), row.key0, value.c_str(), row.key1, nullptr));
        EXPECT_EQ(Content(target), row.result == S_OK ? Content(source) : before);
        EXPECT_TRUE(NoTemporaryCopies(dir.Path()));
    }
    // Nothing was registered on the way.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRegSrvKey));
}

TEST_F(KernelFiles, InstallFileFailureGivesNoCheckInfo) {
    InstallRecord record(DataSource(), Path(L"bad?name.txt"));
    EXPECT_EQ(Hex(m_kernel->InstallFile(record.Get())), Hex(HRESULT_FROM_WIN32(ERROR_INVALID_NAME)));
    EXPECT_EQ(record.Get()->lpOrvCheckInfo, nullptr);
}

TEST_F(KernelFiles, PathsTooLongAreRefusedBeforeAnythingIsWritten) {
    const std::wstring source = DataSource();
    const std::wstring tooLong = LongPathBelow(m_temp.Path(), 300);
    Bstr sourceB(source), tooLongB(tooLong);
    InstallRecord install(source, tooLong);
    InstallRecord installFrom(tooLong, Path(L"target.txt"));
    InstallRecord uninstall(source, tooLong);
    const struct {
        const char* name;
        std::function<HRESULT()> call;
    } rows[] = {
        {"InstallFile target", [&] { return m_kernel->InstallFile(install.Get()); }},
        {"InstallFile source", [&] { return m_kernel->InstallFile(installFrom.Get()); }},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(uninstall.Get()); }},
        {"CopyFile target", [&] { return m_kernel->CopyFile(sourceB.Get(), tooLongB.Get(), VARIANT_TRUE); }},
        {"CopyFile source", [&] { return m_kernel->CopyFile(tooLongB.Get(), sourceB.Get(), VARIANT_TRUE); }},
        {"DeleteFile", [&] { return m_kernel->DeleteFile(sourceB.Get(), tooLongB.Get()); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(Hex(row.call()), Hex(kTooLong));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L'E', L"Path longer than 259 characters refused: '")}));
    }
    EXPECT_TRUE(install.CheckInfoUntouched());
    EXPECT_TRUE(FileExists(source));
    EXPECT_FALSE(FileExists(Path(L"target.txt")));
    const size_t first = m_temp.Path().size() + 1;
    EXPECT_FALSE(IsFolder(tooLong.substr(0, tooLong.find(L'\\', first))));
}

TEST_F(KernelFiles, UnInstallFile) {
    const std::wstring target = Path(L"installed.dll");
    ASSERT_TRUE(Copy(Fixture(L"regsrv.dll"), target));
    InstallRecord self(target, target);
    LogCursor log;
    EXPECT_EQ(m_kernel->UnInstallFile(self.Get()), S_OK);
    EXPECT_TRUE(FileExists(target));
    InstallRecord record(Fixture(L"regsrv.dll"), target);
    EXPECT_EQ(m_kernel->UnInstallFile(record.Get()), S_OK);
    EXPECT_FALSE(FileExists(target));
    EXPECT_TRUE(HasLinesInOrder(
        log.Text(), {Line(L' ', L"Attempting file uninstallation: " + target), Line(L' ', L"File type: InProc COM server file"),
                     Line(L' ', L"Server dependent installation: File will not be deleted"),
                     Line(L' ', L"File " + target + L" has been uninstalled successfully")}));
    EXPECT_TRUE(self.CheckInfoUntouched());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRegSrvKey));
}

TEST_F(KernelFiles, CopyFileAppliesOnlyTheFileRule) {
    const struct {
        const char* name;
        const wchar_t* source;  // fixture; null: a data file
        const wchar_t* target;  // fixture an existing target holds; null: newer data
        VARIANT_BOOL force;
        HRESULT result;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"self-registering library", L"regsrv.dll", L"v1.dll", VARIANT_FALSE, S_OK,
         {Line(L' ', L"File type: InProc COM server file"),
          Line(L'W', L"Source file {S} has no file version: falling back to time stamp check")}},
        {"lower version, forced", L"v1.dll", L"v2.dll", VARIANT_TRUE, S_OK,
         {Line(L' ', L"Force flag is set: Skipping version check")}},
        {"Microsoft's lower version, forced", L"msv1.dll", L"v2.dll", VARIANT_TRUE, S_FALSE,
         {Line(L' ', L"/FORCE ignored for microsoft system files")}},
        {"newer data target", nullptr, nullptr, VARIANT_FALSE, S_FALSE,
         {Line(L' ', L"File type: Data file"),
          Line(L' ', L"Target file time stamp is same or newer than source file time stamp: Keeping existing file")}},
        {"newer data target, forced", nullptr, nullptr, static_cast<VARIANT_BOOL>(1), S_OK,
         {Line(L' ', L"Force flag is set: Skipping time stamp check")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::wstring source = row.source ? Fixture(row.source) : dir / L"source.txt";
        const std::wstring target = dir / L"target.bin";
        if (!row.source) {
            ASSERT_TRUE(Write(source, "new data"));
            ASSERT_TRUE(SetAge(source, 10));
        }
        if (row.target) {
            ASSERT_TRUE(Copy(Fixture(row.target), target));
            ASSERT_TRUE(SetAge(target, 400));
        } else {
            ASSERT_TRUE(Write(target, "old data"));
        }
        const std::string before = Content(target);
        Bstr sourceB(source), targetB(target);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->CopyFile(sourceB.Get(), targetB.Get(), row.force)), Hex(row.result));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), ExpandAll(row.lines, source, target)));
        EXPECT_EQ(Content(target), row.result == S_OK ? Content(source) : before);
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRegSrvKey));
}

TEST_F(KernelFiles, DeleteFileLeavesSharedDllCountsAlone) {
    const std::wstring target = Path(L"shared.dll");
    ASSERT_TRUE(Copy(Fixture(L"regsrv.dll"), target));
    const DWORD count = 2;
    ASSERT_EQ(SHSetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str(), REG_DWORD, &count, sizeof(count)),
              ERROR_SUCCESS);
    const ScopeExit cleanup([&] { SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str()); });
    Bstr targetB(target);
    EXPECT_EQ(m_kernel->DeleteFile(nullptr, targetB.Get()), S_OK);
    EXPECT_FALSE(FileExists(target));
    DWORD value = 0, size = sizeof(value), type = 0;
    ASSERT_EQ(SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, target.c_str(), &type, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 2u);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRegSrvKey));
}

