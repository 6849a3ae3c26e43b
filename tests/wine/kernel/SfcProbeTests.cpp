// The system file protection probe. This program plays the setup program: a
// decoy "sfc.dll" that calls every file protected sits in its own folder; the
// stand-in in the system folder protects only paths containing "orv_protected".
// Wine is told to prefer native "sfc.dll" files (WINEDLLOVERRIDES=sfc=n,b), so
// whichever file the kernel loads is the one that answers.
#include <windows.h>
#include <gtest/gtest.h>
#include <functional>
#include "Machine.h"
#include "kernel/ClassFactory.h"
#include "kernel/KernelObject.h"
#include "kernel/Module.h"

using namespace orv::test;

namespace {

// The stand-in in the system folder while a test runs.
class SfcProbe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_original.empty());
        ASSERT_TRUE(WriteBytes(SystemSfc(), ReadBytes(Join(FixturesDir(), L"sfc_system\\sfc.dll"))));
    }
    void TearDown() override { WriteBytes(SystemSfc(), m_original); }
    static std::wstring SystemSfc() { return Join(SystemDir(), L"sfc.dll"); }
    static COrvInstallerKernel* Create(bool fromFactory) {
        IOrvInstallerKernel* kernel = nullptr;
        EXPECT_EQ(fromFactory ? orv::CWexKrClassFactory::Instance().CreateInstance(nullptr, IID_IOrvInstallerKernel,
                                                                                  reinterpret_cast<void**>(&kernel))
                              : OrvWexKrCreateInstance(&kernel),
                  S_OK);
        return static_cast<COrvInstallerKernel*>(kernel);
    }

    const std::string m_original = ReadBytes(SystemSfc());
};

const wchar_t kProtected[] = L"C:\\windows\\system32\\orv_protected.dll";
const wchar_t kOrdinary[] = L"C:\\Program Files\\Orv\\ordinary.dll";

}  // namespace

// Guards the other tests: the decoy is there and answers "protected".
TEST(SfcDecoy, TheDecoyBesideTheProgramWouldProtectEverything) {
    HMODULE h = LoadLibraryExW(Join(SelfDir(), L"sfc.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(h, nullptr);
    auto fn = reinterpret_cast<PFN_SfcIsFileProtected>(GetProcAddress(h, "SfcIsFileProtected"));
    ASSERT_NE(fn, nullptr);
    EXPECT_TRUE(fn(nullptr, kOrdinary));
    FreeLibrary(h);
}

// Factory-made objects ask the system folder's library (the decoy would say
// yes to the ordinary file); objects made by the export have no probe.
TEST_F(SfcProbe, OnlyFactoryObjectsAskTheSystemFolderLibrary) {
    for (bool fromFactory : {true, false}) {
        SCOPED_TRACE(fromFactory ? "class factory" : "OrvWexKrCreateInstance");
        COrvInstallerKernel* kernel = Create(fromFactory);
        ASSERT_NE(kernel, nullptr);
        EXPECT_EQ(kernel->IsWindowsFileProtected(kProtected), fromFactory);
        EXPECT_FALSE(kernel->IsWindowsFileProtected(kOrdinary));
        kernel->Release();
    }
}

TEST_F(SfcProbe, GuardedTargetsAreLeftAloneByTheFileMethods) {
    COrvInstallerKernel* kernel = Create(true);
    ASSERT_NE(kernel, nullptr);
    TempDir dir;
    const std::wstring source = dir / L"source.txt", target = dir / L"orv_protected.txt";
    ASSERT_TRUE(WriteBytes(source, "new") && WriteBytes(target, "guarded"));
    const Bstr sourceB(source), targetB(target);
    _ORV_CHECK_INFO* const untouched = reinterpret_cast<_ORV_CHECK_INFO*>(static_cast<uintptr_t>(0xdeadbeef));
    _ORV_FILE_INSTALL_INFO install{sourceB, targetB, nullptr, nullptr, 1, 1, untouched, 0};
    _ORV_FILE_INSTALL_INFO uninstall{sourceB, targetB, nullptr, nullptr, 1, 0, untouched, 0};
    const std::wstring guarded = L"W Target file is guarded by Windows File Protection, keeping existing version";
    const struct { const char* name; std::function<HRESULT()> call; std::wstring line; } rows[] = {
        {"InstallFile", [&] { return kernel->InstallFile(&install); },
         L"W Target file '" + target + L"' is guarded by Windows File Protection, keeping existing version"},
        {"UnInstallFile", [&] { return kernel->UnInstallFile(&uninstall); }, guarded},
        {"CopyFile", [&] { return kernel->CopyFile(sourceB, targetB, VARIANT_TRUE); }, guarded},
        {"DeleteFile", [&] { return kernel->DeleteFile(sourceB, targetB); }, guarded},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(row.call(), S_FALSE);
        EXPECT_NE(log.Text().find(row.line), std::wstring::npos) << Narrow(log.Text());
        EXPECT_EQ(ReadBytes(target), "guarded");
    }
    EXPECT_EQ(install.lpOrvCheckInfo, untouched);  // returned before recording anything
    // GetFileInfo asks about the caller's own path: a short name the list does not hold is not protected.
    for (const auto& [path, guarded] : {std::pair{target, VARIANT_TRUE}, {ShortPath(target), VARIANT_FALSE}}) {
        _ORV_FILE_INFO info{};
        EXPECT_EQ(kernel->GetFileInfo(Bstr(path), &info), S_OK);
        EXPECT_EQ(info.bWindowsFileProtected, guarded) << Narrow(path);
        kernel->FreeFileInfo(&info);
    }
    // UnShareFile of a guarded library in the system folder: refused, its count kept.
    const std::wstring library = Join(SystemDir(), UniqueName(L"orv_protected", L".dll"));
    ASSERT_TRUE(CopyFileW(Join(FixturesDir(), L"restart\\lib_v1.dll").c_str(), library.c_str(), FALSE));
    ASSERT_TRUE(SetCount(Canonical(library), REG_DWORD, Dword(3)));
    LogCursor log;
    EXPECT_EQ(Hex(kernel->UnShareFile(Bstr(library))), Hex(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
    EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'E', L"Target file is under Windows file protection. Aborting file uninstallation", 5)}));
    EXPECT_EQ(DwordCount(Canonical(library)), 3);
    DeleteSharedDllValuesContaining(PathFindFileNameW(library.c_str()));
    DeleteFileW(library.c_str());
    kernel->Release();
}
