// A library's install command through the registration program: the exact
// command line, exit codes, the program's output in the log, output far
// larger than a pipe holds, and a program that cannot be started. The
// program is a stand-in (tests/fixtures/restart) beside this test.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "RestartTest.h"
#include "files/DllInstallCommand.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;
using orv::files::RunDllInstallCommand;

namespace {

const wchar_t* const kStandInVariables[] = {L"ORV_STANDIN_RECORD", L"ORV_STANDIN_PIDFILE",  L"ORV_STANDIN_OUTPUT",
                                            L"ORV_STANDIN_REPEAT", L"ORV_STANDIN_SLEEP_MS", L"ORV_STANDIN_EXIT"};

class DllInstallCommand : public ::testing::Test {
protected:
    void SetUp() override {
        WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
        ASSERT_TRUE(FileExists(Join(SelfDir(), L"orvregsv.exe"))) << "the stand-in is not beside the test";
        Reset();
        SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", (m_temp / L"commandline.txt").c_str());
    }
    void TearDown() override {
        Reset();
        WexStopLog(GetCurrentThreadId());
    }
    static void Reset() {
        for (LPCWSTR name : kStandInVariables) SetEnvironmentVariableW(name, nullptr);
    }
    // What the stand-in writes to its standard output.
    static void Output(const std::string& bytes, long repeat = 1) {
        std::wstring hex;
        for (unsigned char b : bytes) {
            const wchar_t digits[] = L"0123456789ABCDEF";
            hex.push_back(digits[b >> 4]);
            hex.push_back(digits[b & 15]);
        }
        SetEnvironmentVariableW(L"ORV_STANDIN_OUTPUT", hex.c_str());
        SetEnvironmentVariableW(L"ORV_STANDIN_REPEAT", std::to_wstring(repeat).c_str());
    }
    static void ExitWith(long code) { SetEnvironmentVariableW(L"ORV_STANDIN_EXIT", std::to_wstring(code).c_str()); }
    std::wstring RecordedCommandLine() const {
        const std::string bytes = Content(m_temp / L"commandline.txt");
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    TempDir m_temp;
};

std::string Utf16Bytes(const std::wstring& text) { return Utf16(text, false); }

}  // namespace

TEST_F(DllInstallCommand, ExactCommandLine) {
    struct Row {
        const char* label;
        const wchar_t* path;
        BOOL install;
        const wchar_t* command;
        const wchar_t* expected;
    } rows[] = {
        {"install", L"C:\\App\\lib.dll", TRUE, nullptr, L"orvregsv.exe C:\\App\\lib.dll /s /c /w /n /i"},
        {"uninstall", L"C:\\App\\lib.dll", FALSE, nullptr, L"orvregsv.exe C:\\App\\lib.dll /u /s /c /w /n /i"},
        {"any non-zero flag installs", L"C:\\App\\lib.dll", 2, nullptr,
         L"orvregsv.exe C:\\App\\lib.dll /s /c /w /n /i"},
        {"with the library's command", L"C:\\App\\lib.dll", TRUE, L"setup -q",
         L"orvregsv.exe C:\\App\\lib.dll /s /c /w /n /i:\"setup -q\""},
        {"uninstall with an empty command", L"C:\\App\\lib.dll", FALSE, L"",
         L"orvregsv.exe C:\\App\\lib.dll /u /s /c /w /n /i:\"\""},
        {"path with blanks goes as it is", L"C:\\Program Files\\A B\\lib.dll", TRUE, nullptr,
         L"orvregsv.exe C:\\Program Files\\A B\\lib.dll /s /c /w /n /i"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        DeleteFileW((m_temp / L"commandline.txt").c_str());
        EXPECT_EQ(Hex(RunDllInstallCommand(row.path, row.install, row.command)), Hex(S_OK));
        EXPECT_EQ(Narrow(RecordedCommandLine()), Narrow(row.expected));
    }
    EXPECT_EQ(RunDllInstallCommand(nullptr, TRUE, nullptr), E_POINTER);
}

TEST_F(DllInstallCommand, ExitCodesAndTheOutputLine) {
    struct Row {
        const char* label;
        long exitCode;
        std::wstring output;
        HRESULT expected;
        std::wstring line;  // empty: neither output line
    } rows[] = {
        {"success writes no output line", 0, L"Registered fine", S_OK, L""},
        {"a Win32 error", 5, L"Access denied", HRESULT_FROM_WIN32(5), L"orvregsv output:Access denied"},
        {"only the low 16 bits of a positive code", 0x12345, L"x", static_cast<HRESULT>(0x80072345),
         L"orvregsv output:x"},
        {"a negative code is a result code", static_cast<long>(0x80004005), L"failed", E_FAIL,
         L"orvregsv output:failed"},
        {"failure without output", 1, L"", HRESULT_FROM_WIN32(1), L"No output came from orvregsv"},
        {"percent and control characters", 2, L"Error 100%\r\n\tbad\x0001 \x00E9t\x00E9 %s", HRESULT_FROM_WIN32(2),
         L"orvregsv output:Error 100####bad# \x00E9t\x00E9 #s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Output(Utf16Bytes(row.output));
        ExitWith(row.exitCode);
        LogCursor log;
        EXPECT_EQ(Hex(RunDllInstallCommand(L"C:\\App\\lib.dll", TRUE, nullptr)), Hex(row.expected));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"CreatePipe to orvregsv succeeded")}));
        if (row.line.empty()) {
            EXPECT_TRUE(Lacks(log.Text(), L"orvregsv output:"));
            EXPECT_TRUE(Lacks(log.Text(), L"No output came from orvregsv"));
        } else {
            EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', row.line) + L"\r\n"}));
        }
    }
}

TEST_F(DllInstallCommand, OutputFarLargerThanThePipe) {
    // 200000 characters: the program can only end if its output is read while it runs.
    const std::wstring piece = L"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!?";
    Output(Utf16Bytes(piece), 200000 / static_cast<long>(piece.size()));
    ExitWith(3);
    LogCursor log;
    const DWORD start = GetTickCount();
    EXPECT_EQ(Hex(RunDllInstallCommand(L"C:\\App\\lib.dll", TRUE, nullptr)), Hex(HRESULT_FROM_WIN32(3)));
    EXPECT_LT(GetTickCount() - start, 10000u);
    std::wstring expected;
    while (expected.size() < 4096) expected += piece;
    // The log takes 4096 characters of text; the output keeps 4095 of them.
    const std::wstring text = log.Text();
    const size_t at = text.find(L"orvregsv output:");
    ASSERT_NE(at, std::wstring::npos);
    const size_t end = text.find(L"\r\n", at);
    const std::wstring logged = text.substr(at, end - at);
    EXPECT_EQ(logged.size(), 4096u);
    EXPECT_EQ(logged, (L"orvregsv output:" + expected).substr(0, 4096));
}

TEST_F(DllInstallCommand, ProgramThatCannotBeStarted) {
    // For a moment there is no stand-in beside the test, and the search path
    // holds only the system folders; the current folder holds what the row puts there.
    const std::wstring standIn = Join(SelfDir(), L"orvregsv.exe"), away = standIn + L".away";
    ASSERT_TRUE(MoveFileExW(standIn.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING));
    struct Restore {
        std::wstring from, to, path, dir;
        ~Restore() {
            MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
            SetEnvironmentVariableW(L"PATH", path.c_str());
            SetCurrentDirectoryW(dir.c_str());
        }
    } restore{away, standIn, Env(L"PATH"), L""};
    WCHAR dir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, dir);
    restore.dir = dir;
    WCHAR windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    SetEnvironmentVariableW(L"PATH", (std::wstring(windows) + L"\\system32;" + windows).c_str());
    ASSERT_TRUE(SetCurrentDirectoryW(m_temp.Path().c_str()));

    struct Row {
        const char* label;
        const char* fileInCurrentFolder;  // null: none
        HRESULT expected;
    } rows[] = {
        {"no such program anywhere", nullptr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"a file of that name that is no program", "not a program", HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.fileInCurrentFolder) {
            ASSERT_TRUE(Write(m_temp / L"orvregsv.exe", row.fileInCurrentFolder));
        }
        LogCursor log;
        EXPECT_EQ(Hex(RunDllInstallCommand(L"C:\\App\\lib.dll", TRUE, nullptr)), Hex(row.expected));
        EXPECT_TRUE(Lacks(log.Text(), L"orvregsv output:"));
        EXPECT_TRUE(Lacks(log.Text(), L"No output came from orvregsv"));
        EXPECT_TRUE(RecordedCommandLine().empty());
    }
}
