// Run by restart_across_reboot.sh before (Reboot.Prepare) and after
// (Reboot.Verify) a restart of the Wine system, on the folder ORV_REBOOT_DIR.
#include "RestartTest.h"
#include "kernel/Module.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;

namespace {

struct Files {
    std::wstring folder = Env(L"ORV_REBOOT_DIR");
    std::wstring target = folder + L"\\Replaced Library.dll", temporary = folder + L"\\Replaced Library_orvtmp.dll";
    std::wstring source = folder + L"\\new\\Replaced Library.dll", deleted = folder + L"\\Deleted Library.dll";
};

}  // namespace

TEST(Reboot, Prepare) {
    const Files f;
    ASSERT_TRUE(CreateDirectoryW((f.folder + L"\\new").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(f.target, "old library") && WriteBytes(f.source, "new library") &&
                WriteBytes(f.deleted, "library to delete"));
    // Another process holds both targets, shared with nobody.
    std::vector<PROCESS_INFORMATION> holders(2);
    for (size_t i = 0; i < holders.size(); ++i) {
        const std::wstring held = i ? f.deleted : f.target;
        std::wstring command = L"\"" + Join(SelfDir(), L"restart_counter.exe") + L"\" hold \"" + held + L"\"";
        STARTUPINFOW si = {sizeof(si)};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &holders[i]));
        for (int wait = 0; wait < 200 && !FileExists(held + L".held"); ++wait) Sleep(50);
        ASSERT_TRUE(DeleteFileW((held + L".held").c_str())) << "the target is not held";
    }
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    IOrvInstallerKernel* kernel = nullptr;
    ASSERT_EQ(OrvWexKrCreateInstance(&kernel), S_OK);
    InstallRecord install(f.source, f.target, 1);
    EXPECT_EQ(Hex(kernel->InstallFile(install.Get())), "0x800407D0");
    EXPECT_EQ(Hex(kernel->PreparePostRebootCopyFile(install.Get()->bstrSource, install.Get()->bstrTarget, 1)), "0x00000000");
    EXPECT_EQ(Hex(kernel->PreparePostRebootDeleteFile(Bstr(f.deleted).Get())), "0x00000000");
    kernel->Release();
    WexStopLog(GetCurrentThreadId());
    EXPECT_EQ(PendingStartingWith(f.folder + L"\\"),
              (std::vector<std::wstring>{f.target + L" -> ", f.temporary + L" -> " + f.target, f.deleted + L" -> "}));
    EXPECT_EQ(ReadBytes(f.temporary), "new library");
    // The handles are released; the files stay as they are until the restart.
    for (PROCESS_INFORMATION& holder : holders) {
        TerminateProcess(holder.hProcess, 0);
        WaitForSingleObject(holder.hProcess, 10000);
        CloseHandle(holder.hThread);
        CloseHandle(holder.hProcess);
    }
    EXPECT_EQ(ReadBytes(f.target), "old library");
    EXPECT_TRUE(FileExists(f.deleted));
}

TEST(Reboot, Verify) {
    const Files f;
    EXPECT_EQ(ReadBytes(f.target), "new library");
    EXPECT_FALSE(FileExists(f.temporary));
    EXPECT_FALSE(FileExists(f.deleted));
    EXPECT_TRUE(PendingStartingWith(f.folder + L"\\").empty());
}
