// What no test can make the system do: memory that runs out while the file
// methods build their file object or the check-info array.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FilesTest.h"
#include "files/FileSeams.h"
#include "kernel/KernelObject.h"
#include "kernel/Module.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

class KernelSeams : public FilesTest {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        ASSERT_EQ(OrvWexKrCreateInstance(&m_kernel), S_OK);
    }
    void TearDown() override {
        orv::files::Seams() = orv::files::FileEngineSeams();
        if (m_kernel) m_kernel->Release();
        FilesTest::TearDown();
    }
    IOrvInstallerKernel* m_kernel = nullptr;
};

BSTR Alloc(const std::wstring& s) { return SysAllocString(s.c_str()); }

}  // namespace

TEST_F(KernelSeams, FileObjectThatCannotBeMade) {
    const std::wstring source = Path(L"source.txt");
    const std::wstring target = Path(L"target.txt");
    ASSERT_TRUE(Write(source, "data"));
    ASSERT_TRUE(Write(target, "installed"));
    BSTR sourceB = Alloc(source), targetB = Alloc(target);
    _ORV_FILE_INSTALL_INFO info{};
    info.bstrSource = sourceB;
    info.bstrTarget = targetB;
    info.lpOrvCheckInfo = reinterpret_cast<_ORV_CHECK_INFO*>(static_cast<uintptr_t>(0xdeadbeef));
    const struct {
        const char* name;
        std::function<HRESULT()> call;
    } rows[] = {
        {"InstallFile", [&] { return m_kernel->InstallFile(&info); }},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(&info); }},
        {"CopyFile", [&] { return m_kernel->CopyFile(sourceB, targetB, VARIANT_TRUE); }},
        {"DeleteFile", [&] { return m_kernel->DeleteFile(sourceB, targetB); }},
    };
    orv::files::Seams().pfnObjectAllocationFails = [] { return true; };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(Hex(row.call()), Hex(E_OUTOFMEMORY));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"CWexKrFile::CreateInstance() failed", 14)}));
    }
    EXPECT_EQ(info.lpOrvCheckInfo, reinterpret_cast<_ORV_CHECK_INFO*>(static_cast<uintptr_t>(0xdeadbeef)));
    EXPECT_EQ(Content(target), "installed");
    SysFreeString(sourceB);
    SysFreeString(targetB);
}

TEST_F(KernelSeams, CheckInfoThatCannotBeSavedLeavesTheResult) {
    const std::wstring source = Path(L"source.txt");
    const std::wstring target = Path(L"target.txt");
    ASSERT_TRUE(Write(source, "data"));
    BSTR sourceB = Alloc(source), targetB = Alloc(target);
    _ORV_FILE_INSTALL_INFO info{};
    info.bstrSource = sourceB;
    info.bstrTarget = targetB;
    info.lpOrvCheckInfo = reinterpret_cast<_ORV_CHECK_INFO*>(static_cast<uintptr_t>(0xdeadbeef));
    orv::files::Seams().pfnAllocateCheckInfo = [](SIZE_T) -> void* { return nullptr; };
    LogCursor log;
    EXPECT_EQ(m_kernel->InstallFile(&info), S_OK);
    EXPECT_EQ(info.lpOrvCheckInfo, nullptr);
    EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"Unable to save OrvCheck Info", 14)}));
    EXPECT_EQ(Content(target), "data");
    SysFreeString(sourceB);
    SysFreeString(targetB);
}
