// A registration program that runs past the 20000 ms the install command
// waits: E_UNEXPECTED, the program left running. About 20 seconds.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "RestartTest.h"
#include "files/DllInstallCommand.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;

TEST(DllInstallCommandSlow, ProgramRunningPastTheTimeOut) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    TempDir temp;
    const std::wstring pidFile = temp / L"pid.txt";
    SetEnvironmentVariableW(L"ORV_STANDIN_PIDFILE", pidFile.c_str());
    SetEnvironmentVariableW(L"ORV_STANDIN_OUTPUT", Widen("5300740061007200740065006400").c_str());  // "Started"
    SetEnvironmentVariableW(L"ORV_STANDIN_SLEEP_MS", L"60000");
    LogCursor log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Hex(orv::files::RunDllInstallCommand(L"C:\\App\\lib.dll", TRUE, nullptr)), Hex(E_UNEXPECTED));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, orv::files::kDllInstallCommandTimeoutMs - 100);
    EXPECT_LT(elapsed, orv::files::kDllInstallCommandTimeoutMs + 5000);
    // What came before the time-out is in the log.
    EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"orvregsv output:Started")}));

    // The program was left running; end it here.
    const DWORD pid = static_cast<DWORD>(std::stoul(Content(pidFile)));
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    WexStopLog(GetCurrentThreadId());
}
