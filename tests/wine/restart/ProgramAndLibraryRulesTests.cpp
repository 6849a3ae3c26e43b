// The library rule as the file model runs it, where the kernel's methods do
// not reach: a library below the system folder that is a COM server, a
// library's own install command, and file objects that cannot be made.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "RestartTest.h"
#include "files/FileModel.h"
#include "files/FileSeams.h"
#include "kernel/Module.h"
#include "kernel/TqOrvWexKr_h.h"
#include "platform/WexLog.h"
#include "platform/WexUt.h"

using namespace orv::test;
using namespace orv::test::restart;

namespace {

std::wstring Fixture(const std::wstring& name) { return Join(FixturesDir(), L"restart\\" + name); }

class LibraryRule : public ::testing::Test {
protected:
    void SetUp() override {
        WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
        m_folder = Join(SystemDir(), UniqueName(L"orvrstsub", L""));
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    }
    void TearDown() override {
        RemoveTree(m_folder);
        for (const std::wstring& name : SharedDllValuesContaining(PathFindFileNameW(m_folder.c_str())))
            SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
        orv::files::Seams() = orv::files::FileEngineSeams();
        WexStopLog(GetCurrentThreadId());
    }
    std::wstring m_folder;
};

std::wstring CanonicalOf(const std::wstring& path) {
    WCHAR out[MAX_PATH];
    return CWexPath::PathMakeUnique(path.c_str(), out, MAX_PATH);
}

}  // namespace

TEST_F(LibraryRule, BelowTheSystemFolderOnlyServersAreCounted) {
    struct Row {
        const char* label;
        const wchar_t* fixture;
        bool counted;
    } rows[] = {
        {"plain library", L"lib_v1.dll", false},
        {"library that exports DllRegisterServer", L"server.dll", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring target = Join(m_folder, UniqueName(L"lib", L".dll"));
        // The library rule itself, whatever class the factory would pick.
        CWexKrDllFile library(Fixture(row.fixture).c_str());
        library.m_bSharedDllCounter = TRUE;
        LogCursor log;
        EXPECT_EQ(Hex(library.Install(target.c_str(), 0)), Hex(S_OK));
        EXPECT_EQ(DwordCount(CanonicalOf(target)), row.counted ? 1 : -1);
        if (row.counted) {
            EXPECT_TRUE(
                HasLinesInOrder(log.Text(), {Line(L' ', L"SharedDllCounter for '" + target + L"' has been set to 1")}));
        } else {
            EXPECT_TRUE(Lacks(log.Text(), L"SharedDllCounter"));
        }
    }
}

TEST_F(LibraryRule, InstallCommandGoesToTheRegistrationProgram) {
    TempDir temp;
    SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", (temp / L"commandline.txt").c_str());
    CWexKrDllFile library(Fixture(L"lib_v1.dll").c_str());
    Bstr command(L"register --quiet");
    library.m_lpDllInstallCmd = command.Get();
    EXPECT_EQ(Hex(library.RunDllInstallCommand(L"C:\\App\\lib.dll", FALSE)), Hex(S_OK));
    SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", nullptr);
    const std::string bytes = Content(temp / L"commandline.txt");
    EXPECT_EQ(Narrow(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2)),
              "orvregsv.exe C:\\App\\lib.dll /u /s /c /w /n /i:\"register --quiet\"");
}

TEST_F(LibraryRule, FileObjectsThatCannotBeMade) {
    TempDir temp;
    const std::wstring library = temp / L"lib.dll";
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), library.c_str(), FALSE));
    IOrvInstallerKernel* kernel = nullptr;
    ASSERT_EQ(OrvWexKrCreateInstance(&kernel), S_OK);
    Bstr libraryB(library), otherB(temp / L"lib2.dll");
    static int allocations;
    struct Row {
        const char* label;
        int failAt;  // the allocation that fails, counted from 1
        std::function<HRESULT()> call;
        HRESULT expected;
    } rows[] = {
        {"UnShareFile", 1, [&] { return kernel->UnShareFile(libraryB.Get()); }, E_OUTOFMEMORY},
        {"PostRebootRegister", 1, [&] { return kernel->PostRebootRegister(libraryB.Get()); }, E_OUTOFMEMORY},
        {"PreparePostRebootCopyFile", 1,
         [&] { return kernel->PreparePostRebootCopyFile(libraryB.Get(), otherB.Get(), 1); }, E_OUTOFMEMORY},
        {"PreparePostRebootDeleteFile", 1, [&] { return kernel->PreparePostRebootDeleteFile(libraryB.Get()); },
         E_OUTOFMEMORY},
        // The copy is scheduled; only the count's object is missing: the scheduling's result.
        {"PreparePostRebootCopyFile, second object", 2,
         [&] { return kernel->PreparePostRebootCopyFile(libraryB.Get(), otherB.Get(), 1); }, S_OK},
    };
    static int failAt;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        allocations = 0;
        failAt = row.failAt;
        orv::files::Seams().pfnObjectAllocationFails = [] { return ++allocations == failAt; };
        LogCursor log;
        EXPECT_EQ(Hex(row.call()), Hex(row.expected));
        orv::files::Seams() = orv::files::FileEngineSeams();
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"CWexKrFile::CreateInstance() failed", 14)}));
        ForgetPendingRenamesBelow(temp.Path());
    }
    kernel->Release();
}
