// What no test can make the system do: memory that runs out while the file
// methods build their file object or the check-info array; a registry that
// refuses the App Paths entry (as root, Wine refuses no registry write).
#include <cstring>
#include <functional>

#include "FilesTest.h"
#include "files/FileSeams.h"
#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "registry/RegistryApi.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

class KernelSeams : public FilesTest {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        ASSERT_EQ(OrvWexKrCreateInstance(&m_kernel), S_OK);
        ASSERT_TRUE(WriteBytes(Path(L"source.txt"), "data"));
    }
    void TearDown() override {
        orv::files::Seams() = orv::files::FileEngineSeams();
        orv::RegistryCalls() = orv::SystemRegistryCalls();
        if (m_kernel) m_kernel->Release();
        FilesTest::TearDown();
    }
    IOrvInstallerKernel* m_kernel = nullptr;
};

LONG WINAPI RefuseCreate(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD) {
    return ERROR_ACCESS_DENIED;
}
DWORD WINAPI RefuseDelete(HKEY, LPCWSTR) { return ERROR_ACCESS_DENIED; }

}  // namespace

TEST_F(KernelSeams, FileObjectThatCannotBeMade) {
    ASSERT_TRUE(WriteBytes(Path(L"target.txt"), "installed"));
    InstallRecord record(Path(L"source.txt"), Path(L"target.txt"));
    const Bstr source(Path(L"source.txt")), target(Path(L"target.txt")), library(Fixture(L"v1.dll"));
    _ORV_FILE_INFO info, before;
    memset(&info, 0xA5, sizeof info);
    before = info;
    _ORV_CHECK_INFO none{};
    BSTR result = reinterpret_cast<BSTR>(uintptr_t{0xdeadbeef});
    const struct { const char* name; std::function<HRESULT()> call; } rows[] = {
        {"InstallFile", [&] { return m_kernel->InstallFile(record.Get()); }},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(record.Get()); }},
        {"CopyFile", [&] { return m_kernel->CopyFile(source, target, VARIANT_TRUE); }},
        {"DeleteFile", [&] { return m_kernel->DeleteFile(source, target); }},
        {"GetFileInfo", [&] { return m_kernel->GetFileInfo(library, &info); }},
        {"InstallCheck", [&] { return m_kernel->InstallCheck(library, &none, &result); }},
    };
    orv::files::Seams().pfnObjectAllocationFails = [] { return true; };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(row.call(), E_OUTOFMEMORY);
        EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'E', L"CWexKrFile::CreateInstance() failed", ERROR_OUTOFMEMORY)}));
    }
    EXPECT_TRUE(record.Untouched());
    EXPECT_EQ(memcmp(&info, &before, sizeof info), 0) << "GetFileInfo changed the record";
    EXPECT_EQ(result, reinterpret_cast<BSTR>(uintptr_t{0xdeadbeef}));
    EXPECT_EQ(ReadBytes(Path(L"target.txt")), "installed");
}

TEST_F(KernelSeams, CheckInfoThatCannotBeSavedLeavesTheResult) {
    InstallRecord record(Path(L"source.txt"), Path(L"target.txt"), /*INSTALL_MODE_PATCH*/ 3);
    orv::files::Seams().pfnAllocateCheckInfo = [](SIZE_T) -> void* { return nullptr; };
    EXPECT_EQ(m_kernel->InstallFile(record.Get()), S_OK);
    EXPECT_EQ(record.Get()->lpOrvCheckInfo, nullptr);  // cleared once Install ran, nothing recorded
    EXPECT_EQ(ReadBytes(Path(L"target.txt")), "data");
}

TEST_F(KernelSeams, AppPathsEntryThatCannotBeWrittenOrRemoved) {
    const std::wstring program = Path(L"refused.exe");
    orv::RegistryCalls().pfnCreateKeyEx = &RefuseCreate;
    orv::RegistryCalls().pfnSHDeleteKey = &RefuseDelete;
    InstallRecord install(Fixture(L"plain.exe"), program, /*INSTALL_MODE_PRIMARY*/ 1), uninstall(Path(L"source.txt"), program);
    LogCursor log;
    EXPECT_EQ(m_kernel->InstallFile(install.Get()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(m_kernel->UnInstallFile(uninstall.Get()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'E', L"AppPath registration failed", ERROR_ACCESS_DENIED),
                                    Line(L' ', L"Performing AppPath unregistration"),
                                    Win32Line(L'E', L"AppPath unregistration failed", ERROR_ACCESS_DENIED)}));
    EXPECT_FALSE(FileExists(program));  // the file goes first
}
