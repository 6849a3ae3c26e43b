// Drives that refuse the work, made real by testdrive.sh (a small tmpfs named
// in ORV_TEST_DRIVE): one too small for the new file, one mounted read-only.
// Without it (no rights to mount) the tests skip.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FilesTest.h"

using namespace orv::test;
using namespace orv::test::files;

namespace {

class Drive : public KernelFixture {
protected:
    void SetUp() override {
        m_drive = Env(L"ORV_TEST_DRIVE");
        if (m_drive.empty()) GTEST_SKIP() << "no test drive: run through testdrive.sh as root";
        KernelFixture::SetUp();
    }
    void TearDown() override {
        KernelFixture::TearDown();
        if (!m_drive.empty()) {
            EXPECT_TRUE(NoTemporaryCopies(m_drive));
        }
    }
    std::wstring m_drive;
    TempDir m_temp;
};

class DiskFull : public Drive {};
class ReadOnlyDrive : public Drive {};

}  // namespace

// The drive holds 256 KiB and the new file is larger: written over the old
// one, it would break off part-way and leave neither.
TEST_F(DiskFull, TargetKeepsItsContentAndTheCopyErrorIsReported) {
    const std::string old(96 * 1024, 'o');
    const std::string fresh(300 * 1024, 'n');
    const std::wstring source = m_temp / L"big.dat";
    const std::wstring target = Join(m_drive, L"target.dat");
    ASSERT_TRUE(Write(source, fresh));

    const struct {
        const char* name;
        bool copyFile;
        bool targetExists;
    } rows[] = {{"InstallFile", false, true}, {"CopyFile, forced", true, true}, {"no target yet", false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        DeleteFileW(target.c_str());
        if (row.targetExists) {
            ASSERT_TRUE(Write(target, old));
            ASSERT_TRUE(SetAge(target, 400));
        }
        LogCursor log;
        HRESULT hr = E_FAIL;
        if (row.copyFile) {
            Bstr sourceB(source), targetB(target);
            hr = m_kernel->CopyFile(sourceB.Get(), targetB.Get(), VARIANT_TRUE);
        } else {
            InstallRecord record(source, target);
            hr = m_kernel->InstallFile(record.Get());
        }
        EXPECT_EQ(Hex(hr), Hex(HRESULT_FROM_WIN32(ERROR_DISK_FULL)));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"Error installing file", ERROR_DISK_FULL)}));
        if (row.targetExists) {
            EXPECT_TRUE(Content(target) == old) << "the old target was lost or changed";
        } else {
            EXPECT_FALSE(FileExists(target)) << "a part of the new file was left";
        }
        EXPECT_TRUE(NoTemporaryCopies(m_drive));
    }
}

// A read-only file on a read-only drive: its attribute cannot be taken off,
// which is said, and the copy or delete that follows reports the real
// failure: "access denied", which counts as in use.
TEST_F(ReadOnlyDrive, AttributeThatCannotBeRemoved) {
    const std::wstring target = Join(m_drive, L"readonly.dat");
    ASSERT_NE(Attributes(target) & FILE_ATTRIBUTE_READONLY, 0u);
    const std::wstring source = m_temp / L"source.dat";
    ASSERT_TRUE(Write(source, "new"));
    Bstr sourceB(source), targetB(target);
    InstallRecord uninstall(source, target);

    const struct {
        const char* name;
        std::function<HRESULT()> call;
        std::wstring before;
        std::wstring failure;
    } rows[] = {
        {"CopyFile, forced", [&] { return m_kernel->CopyFile(sourceB.Get(), targetB.Get(), VARIANT_TRUE); },
         L"Target file has read only attribute: Attempting to remove attribute for overwriting",
         Line(L'E', L"File could not be replaced")},
        {"UnInstallFile", [&] { return m_kernel->UnInstallFile(uninstall.Get()); },
         L"Target file has read only attribute: Attempting to remove attribute for deletion",
         Line(L'W', L"Target File seems to be in use: cannot delete")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LogCursor log;
        EXPECT_EQ(Hex(row.call()), Hex(static_cast<HRESULT>(0x800407D0L)));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L'W', row.before),
                                                 Win32Line(L'W', L"Readonly attribute could not be removed", ERROR_ACCESS_DENIED),
                                                 row.failure}));
        EXPECT_EQ(Content(target), "kept");
    }
}
