// A registration program running past the 20000 ms the install command
// waits: E_UNEXPECTED, the output so far logged. About 20 seconds.
#include "RestartTest.h"
#include "files/DllInstallCommand.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;

TEST(DllInstallCommandSlow, ProgramRunningPastTheTimeOut) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    TempDir temp;
    SetEnvironmentVariableW(L"ORV_STANDIN_PIDFILE", (temp / L"pid.txt").c_str());
    SetEnvironmentVariableW(L"ORV_STANDIN_OUTPUT", L"Started");
    SetEnvironmentVariableW(L"ORV_STANDIN_SLEEP_MS", L"60000");
    LogCursor log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Hex(orv::files::RunDllInstallCommand(L"C:\\App\\lib.dll", TRUE, nullptr)), Hex(E_UNEXPECTED));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, orv::files::kDllInstallCommandTimeoutMs - 100);
    EXPECT_LT(elapsed, orv::files::kDllInstallCommandTimeoutMs + 5000);
    EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"orvregsv output:Started")}));
    // The program was left running; end it here.
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(ReadBytes(temp / L"pid.txt")));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(WaitForSingleObject(process, 0), DWORD(WAIT_TIMEOUT));
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    WexStopLog(GetCurrentThreadId());
}
