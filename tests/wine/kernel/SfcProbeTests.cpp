// The system file protection probe. This program plays the setup program: a
// decoy "sfc.dll" that calls every file protected sits in its own folder; the
// stand-in in the system folder protects only paths containing "orv_protected".
// Wine is told to prefer native "sfc.dll" files (WINEDLLOVERRIDES=sfc=n,b), so
// whichever file the kernel loads is the one that answers.
#include <windows.h>
#include <gtest/gtest.h>
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

TEST_F(SfcProbe, PlatformLibraryProtectsNothingHere) {
    // Wine's own file protection (the prefix's untouched system folder) reports nothing protected.
    COrvInstallerKernel* kernel = FromFactory();
    ASSERT_NE(kernel, nullptr);
    EXPECT_FALSE(kernel->IsWindowsFileProtected(kProtected));
    EXPECT_FALSE(kernel->IsWindowsFileProtected(kOrdinary));
    kernel->Release();
}
