// A local server that never ends its "/RegServer" run: ended after 25 s.
#include "ComTest.h"
#include "files/FileModel.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::com;

TEST(ComSlow, LocalServerThatNeverEndsIsTerminated) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    TempDir temp;
    const std::wstring server = temp / L"hang.exe";
    ASSERT_TRUE(CopyFileW(ComFixture(L"local_hang.exe").c_str(), server.c_str(), FALSE));
    CWexKrLocalServerFile file(server.c_str());
    LogCursor log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Hex(file.SelfRegister(server.c_str(), TRUE)), Hex(E_FAIL));
    EXPECT_GE(GetTickCount() - start, 25000u);
    EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Slow Process failed to (un) register within 25 seconds"),
                                      Line(L' ', L"Waited for process to terminate")}));
    EXPECT_TRUE(DeleteFileW(server.c_str())) << "the server is still running";
    SHDeleteValueW(HKEY_CURRENT_USER, kMarksKey, L"hang.exe:RegServer");
    WexStopLog(GetCurrentThreadId());
}
