// A library's install command through a stand-in "orvregsv.exe" beside the
// test (tests/fixtures/restart): command line, exit codes, output in the log.
#include "RestartTest.h"
#include "files/DllInstallCommand.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;
using orv::files::RunDllInstallCommand;

namespace {

class DllInstallCommand : public ::testing::Test {
protected:
    void SetUp() override {
        WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
        ASSERT_TRUE(FileExists(Join(SelfDir(), L"orvregsv.exe"))) << "the stand-in is not beside the test";
        SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", (m_temp / L"commandline.txt").c_str());
    }
    void TearDown() override {
        for (LPCWSTR name : {L"ORV_STANDIN_RECORD", L"ORV_STANDIN_OUTPUT", L"ORV_STANDIN_REPEAT", L"ORV_STANDIN_EXIT"})
            SetEnvironmentVariableW(name, nullptr);
        WexStopLog(GetCurrentThreadId());
    }
    // The stand-in writes text (UTF-16) repeat times, then exits with code.
    static void Behave(const std::wstring& text, long code, long repeat = 1) {
        SetEnvironmentVariableW(L"ORV_STANDIN_OUTPUT", text.c_str());
        SetEnvironmentVariableW(L"ORV_STANDIN_REPEAT", std::to_wstring(repeat).c_str());
        SetEnvironmentVariableW(L"ORV_STANDIN_EXIT", std::to_wstring(code).c_str());
    }

    TempDir m_temp;
};

}  // namespace

TEST_F(DllInstallCommand, CommandLineExitCodesAndTheOutputLine) {
    // line empty: neither output line
    struct Row { const char* label; long exitCode; std::wstring output; HRESULT expected; std::wstring line;
                 BOOL install = TRUE; const wchar_t* command = nullptr;
                 std::wstring commandLine = L"orvregsv.exe C:\\App Dir\\lib.dll /s /c /w /n /i"; } rows[] = {
        {"success writes no output line", 0, L"Registered fine", S_OK, L""},
        {"uninstall", 0, L"", S_OK, L"", FALSE, nullptr, L"orvregsv.exe C:\\App Dir\\lib.dll /u /s /c /w /n /i"},
        {"with the library's command", 0, L"", S_OK, L"", TRUE, L"setup -q",
         L"orvregsv.exe C:\\App Dir\\lib.dll /s /c /w /n /i:\"setup -q\""},
        {"a Win32 error", 5, L"Access denied", HRESULT_FROM_WIN32(5), L"orvregsv output:Access denied"},
        {"only the low 16 bits of a positive code", 0x12345, L"x", HRESULT(0x80072345), L"orvregsv output:x"},
        {"a negative code is a result code", long(0x80004005), L"failed", E_FAIL, L"orvregsv output:failed"},
        {"failure without output", 1, L"", HRESULT_FROM_WIN32(1), L"No output came from orvregsv"},
        {"a quotation mark in the command: refused, nothing runs", 0, L"", E_INVALIDARG, L"", TRUE,
         L"a\" /u /i:\"b", L""},
        {"percent and control characters", 2, L"Error 100%\r\n\tbad\x0001 \x00E9t\x00E9 %s", HRESULT_FROM_WIN32(2),
         L"orvregsv output:Error 100####bad# \x00E9t\x00E9 #s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        DeleteFileW((m_temp / L"commandline.txt").c_str());
        Behave(row.output, row.exitCode);
        LogCursor log;
        EXPECT_EQ(Hex(RunDllInstallCommand(L"C:\\App Dir\\lib.dll", row.install, row.command)), Hex(row.expected));
        EXPECT_EQ(ReadBytes(m_temp / L"commandline.txt"), Utf16(row.commandLine, false));  // UTF-16
        EXPECT_TRUE(row.line.empty() ? LogHas(log.Text(), {}, {L"orvregsv output:", L"No output came from orvregsv"})
                                     : LogHas(log.Text(), {Line(L' ', row.line) + L"\r\n"}));
    }
}

TEST_F(DllInstallCommand, OutputFarLargerThanThePipe) {
    // 200000 characters: the program can only end if its output is read while it runs.
    const std::wstring piece = L"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!?";
    Behave(piece, 3, 200000 / long(piece.size()));
    LogCursor log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Hex(RunDllInstallCommand(L"C:\\App\\lib.dll", TRUE, nullptr)), Hex(HRESULT_FROM_WIN32(3)));
    EXPECT_LT(GetTickCount() - start, 10000u);
    std::wstring expected = L"orvregsv output:";
    while (expected.size() < 4096) expected += piece;
    // The log takes 4096 characters of text: the line is cut, never overflowed.
    const std::wstring text = log.Text();
    const size_t at = text.find(L"orvregsv output:");
    ASSERT_NE(at, std::wstring::npos);
    EXPECT_EQ(text.substr(at, text.find(L"\r\n", at) - at), expected.substr(0, 4096));
}
