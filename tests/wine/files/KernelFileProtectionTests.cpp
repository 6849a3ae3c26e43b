// Targets guarded by the system file protection are left alone by all four
// file methods. A stand-in "sfc.dll" in the system folder guards the paths
// that contain "orv_protected" (WINEDLLOVERRIDES=sfc=n,b makes Wine load it).
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FilesTest.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

std::wstring SystemSfc() {
    WCHAR dir[MAX_PATH];
    GetSystemDirectoryW(dir, MAX_PATH);
    return Join(dir, L"sfc.dll");
}

class ProtectedTargets : public KernelFixture {
protected:
    void SetUp() override {
        m_original = ReadBytes(SystemSfc());
        ASSERT_FALSE(m_original.empty());
        const std::string standIn = ReadBytes(Join(FixturesDir(), L"sfc_system\\sfc.dll"));
        ASSERT_FALSE(standIn.empty());
        ASSERT_TRUE(WriteBytes(SystemSfc(), standIn));
        KernelFixture::SetUp();
    }
    void TearDown() override {
        KernelFixture::TearDown();
        if (!m_original.empty()) WriteBytes(SystemSfc(), m_original);
        EXPECT_TRUE(NoTemporaryCopies(m_temp.Path()));
    }
    std::string m_original;
    TempDir m_temp;
};

}  // namespace

TEST_F(ProtectedTargets, AreLeftAlone) {
    const std::wstring source = m_temp / L"source.txt";
    const std::wstring target = m_temp / L"orv_protected.txt";
    ASSERT_TRUE(Write(source, "new"));
    ASSERT_TRUE(Write(target, "guarded"));
    ASSERT_TRUE(SetAge(target, 400));
    Bstr sourceB(source), targetB(target);
    InstallRecord install(source, target, 1, 1);
    InstallRecord uninstall(source, target);
    const std::wstring guarded = L"Target file is guarded by Windows File Protection, keeping existing version";
    const struct {
        const char* name;
        std::function<HRESULT()> call;
        std::wstring line;
    } rows[] = {
        {"InstallFile", [&] { return m_kernel->InstallFile(install.Get()); },
         L"Target file '" + target + L"' is guarded by Windows File Protection, keeping existing version"},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(uninstall.Get()); }, guarded},
        {"CopyFile", [&] { return m_kernel->CopyFile(sourceB.Get(), targetB.Get(), VARIANT_TRUE); }, guarded},
        {"DeleteFile", [&] { return m_kernel->DeleteFile(sourceB.Get(), targetB.Get()); }, guarded},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(row.call(), S_FALSE);
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L'W', row.line)}));
        EXPECT_EQ(Content(target), "guarded");
    }
    // InstallFile returned before its check info: the caller's field is as it was.
    EXPECT_TRUE(install.CheckInfoUntouched());

    // An unguarded path next to it is installed as usual.
    InstallRecord ordinary(source, m_temp / L"ordinary.txt");
    EXPECT_EQ(m_kernel->InstallFile(ordinary.Get()), S_OK);
}
