// The system file protection probe. This program plays the setup program: a
// decoy "sfc.dll" that calls every file protected sits in its own folder; the
// stand-in in the system folder protects only paths containing "orv_protected".
// Wine is told to prefer native "sfc.dll" files (WINEDLLOVERRIDES=sfc=n,b), so
// whichever file the kernel loads is the one that answers.
#include <windows.h>
#include <gtest/gtest.h>
#include <functional>
#include "WineTest.h"
#include "kernel/ClassFactory.h"
#include "kernel/KernelObject.h"
#include "kernel/Module.h"

using namespace orv::test;

namespace {

std::wstring SystemSfc() {
    WCHAR dir[MAX_PATH];
    GetSystemDirectoryW(dir, MAX_PATH);
    return Join(dir, L"sfc.dll");
}

std::wstring OwnFolder() {
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s = path;
    return s.substr(0, s.find_last_of(L'\\'));
}

class SfcProbe : public ::testing::Test {
protected:
    void SetUp() override {
        m_original = ReadBytes(SystemSfc());
        ASSERT_FALSE(m_original.empty());
    }
    void TearDown() override { WriteBytes(SystemSfc(), m_original); }

    void InstallStandIn() {
        std::string standIn = ReadBytes(Join(FixturesDir(), L"sfc_system\\sfc.dll"));
        ASSERT_FALSE(standIn.empty());
        ASSERT_TRUE(WriteBytes(SystemSfc(), standIn));
    }

    static COrvInstallerKernel* FromFactory() {
        IOrvInstallerKernel* kernel = nullptr;
        EXPECT_EQ(orv::CWexKrClassFactory::Instance().CreateInstance(nullptr, IID_IOrvInstallerKernel,
                                                                     reinterpret_cast<void**>(&kernel)),
                  S_OK);
        return static_cast<COrvInstallerKernel*>(kernel);
    }
    static COrvInstallerKernel* FromExport() {
        IOrvInstallerKernel* kernel = nullptr;
        EXPECT_EQ(OrvWexKrCreateInstance(&kernel), S_OK);
        return static_cast<COrvInstallerKernel*>(kernel);
    }

    std::string m_original;
};

const wchar_t kProtected[] = L"C:\\windows\\system32\\orv_protected.dll";
const wchar_t kOrdinary[] = L"C:\\Program Files\\Orv\\ordinary.dll";

}  // namespace

TEST_F(SfcProbe, TheDecoyBesideTheProgramWouldProtectEverything) {
    // Guards the other tests: the decoy is there and answers "protected".
    std::wstring decoy = Join(OwnFolder(), L"sfc.dll");
    ASSERT_TRUE(FileExists(decoy));
    HMODULE h = LoadLibraryExW(decoy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(h, nullptr);
    auto fn = reinterpret_cast<PFN_SfcIsFileProtected>(GetProcAddress(h, "SfcIsFileProtected"));
    ASSERT_NE(fn, nullptr);
    EXPECT_TRUE(fn(nullptr, kOrdinary));
    FreeLibrary(h);
}

TEST_F(SfcProbe, FactoryObjectsAskTheSystemFolderLibrary) {
    InstallStandIn();
    COrvInstallerKernel* kernel = FromFactory();
    ASSERT_NE(kernel, nullptr);
    EXPECT_TRUE(kernel->IsWindowsFileProtected(kProtected));
    EXPECT_FALSE(kernel->IsWindowsFileProtected(kOrdinary));  // the decoy would have said yes
    kernel->Release();
}

TEST_F(SfcProbe, ExportMadeObjectsHaveNoProbe) {
    InstallStandIn();
    COrvInstallerKernel* kernel = FromExport();
    ASSERT_NE(kernel, nullptr);
    EXPECT_FALSE(kernel->IsWindowsFileProtected(kProtected));
    EXPECT_FALSE(kernel->IsWindowsFileProtected(kOrdinary));
    kernel->Release();
}

TEST_F(SfcProbe, GuardedTargetsAreLeftAloneByTheFileMethods) {
    InstallStandIn();
    COrvInstallerKernel* kernel = FromFactory();
    ASSERT_NE(kernel, nullptr);
    TempDir dir;
    const std::wstring source = dir / L"source.txt";
    const std::wstring target = dir / L"orv_protected.txt";
    ASSERT_TRUE(WriteBytes(source, "new"));
    ASSERT_TRUE(WriteBytes(target, "guarded"));
    BSTR sourceB = SysAllocString(source.c_str());
    BSTR targetB = SysAllocString(target.c_str());
    _ORV_CHECK_INFO* const untouched = reinterpret_cast<_ORV_CHECK_INFO*>(static_cast<uintptr_t>(0xdeadbeef));
    _ORV_FILE_INSTALL_INFO install{sourceB, targetB, nullptr, nullptr, 1, 1, untouched, 0};
    _ORV_FILE_INSTALL_INFO uninstall{sourceB, targetB, nullptr, nullptr, 1, 0, untouched, 0};
    const std::wstring guarded = L"W Target file is guarded by Windows File Protection, keeping existing version";
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        std::wstring line;
    } rows[] = {
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
    WCHAR shortTarget[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(target.c_str(), shortTarget, MAX_PATH), 0u);
    for (const auto& [path, guarded] : {std::pair{targetB, VARIANT_TRUE}, {SysAllocString(shortTarget), VARIANT_FALSE}}) {
        _ORV_FILE_INFO info{};
        EXPECT_EQ(kernel->GetFileInfo(path, &info), S_OK);
        EXPECT_EQ(info.bWindowsFileProtected, guarded) << Narrow(path);
        kernel->FreeFileInfo(&info);
        if (path != targetB) SysFreeString(path);
    }
    SysFreeString(sourceB);
    SysFreeString(targetB);
    kernel->Release();
}
