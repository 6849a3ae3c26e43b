// The log library as its callers see it: the lines in the file.
#include <windows.h>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include "LogLock.h"
#include "WineTest.h"
#include "platform/WexLog.h"

using namespace orv::test;

namespace {

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> out;
    std::wistringstream in(text);
    std::wstring line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

// "<date> <time> <pid>/<tid> <component> <level> <sev> <text>"
struct Parsed {
    std::wstring component, text;
    int level = -1;
    wchar_t severity = 0;
};
Parsed Parse(const std::wstring& line) {
    Parsed p;
    // 23 characters of time stamp, then a blank.
    const bool stamped = line.size() >= 24 && line[4] == L'-' && line[10] == L' ' && line[19] == L'.' && line[23] == L' ';
    std::wistringstream in(stamped ? line.substr(24) : L"");
    std::wstring ids;
    in >> ids >> p.component >> p.level;
    if (!in || ids.find(L'/') == std::wstring::npos) {
        ADD_FAILURE() << "not a log line: " << Narrow(line);
        return Parsed{};
    }
    in.get();  // the blank before the severity
    p.severity = static_cast<wchar_t>(in.get());
    in.get();
    std::getline(in, p.text);
    return p;
}

// lg_writer.exe started with these arguments.
PROCESS_INFORMATION StartWriter(const std::wstring& arguments) {
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + Join(BinDir(), L"lg_writer.exe") + L"\" " + arguments;
    EXPECT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << Narrow(cmd);
    return pi;
}
// Its exit code once it has ended; 0xdeadbeef if it did not end within a minute.
DWORD Reap(const PROCESS_INFORMATION& pi) {
    DWORD code = 0xdeadbeef;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace

ULONGLONG Ticks(const SYSTEMTIME& st) {
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(Log, LineCarriesTheAttributesSetBeforeIt) {
    LogCursor cursor;
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    WexWriteLogSetEnv(GetCurrentThreadId(), L"CompA", 1, L'E');
    WexWriteLogEnv(L"value %d and %s and %ls", 42, L"wide", L"also wide");
    GetLocalTime(&after);
    WexWriteLogSetEnv(GetCurrentThreadId(), L"CompB", 3, L' ');
    WexWriteLogEnv(L"plain, and not ASCII: \u00e4\u20ac");
    auto lines = Lines(cursor.Text());
    ASSERT_EQ(lines.size(), 2u);
    const Parsed a = Parse(lines[0]), b = Parse(lines[1]);
    EXPECT_EQ(a.component, L"CompA");
    EXPECT_EQ(a.level, 1);
    EXPECT_EQ(a.severity, L'E');
    EXPECT_EQ(a.text, L"value 42 and wide and also wide");
    EXPECT_EQ(b.component, L"CompB");
    EXPECT_EQ(b.severity, L' ');
    EXPECT_EQ(b.text, L"plain, and not ASCII: \u00e4\u20ac");
    // The thread id written is the caller's.
    EXPECT_NE(lines[0].find(L"/" + std::to_wstring(GetCurrentThreadId())), std::wstring::npos);
    // The local time of the write (the tests run in a zone half an hour off whole hours).
    SYSTEMTIME written{};
    ASSERT_EQ(swscanf(lines[0].c_str(), L"%hu-%hu-%hu %hu:%hu:%hu.%hu", &written.wYear, &written.wMonth, &written.wDay,
                      &written.wHour, &written.wMinute, &written.wSecond, &written.wMilliseconds), 7);
    EXPECT_LE(Ticks(before), Ticks(written)) << Narrow(lines[0]);
    EXPECT_LE(Ticks(written), Ticks(after)) << Narrow(lines[0]);
}

TEST(Log, Win32LinesAddNumberAndSystemText) {
    LogCursor cursor;
    WexWriteWin32Message(L"Copy failed: 100% sure", ERROR_SHARING_VIOLATION, GetCurrentThreadId(), L"Kr", L'E', 2);
    WexVarInitWin32Message(ERROR_ACCESS_DENIED, GetCurrentThreadId(), L"Kr", 2, L'W');
    WexVarWriteWin32Message(L"Could not open %s", L"C:\\x.dll");
    auto lines = Lines(cursor.Text());
    ASSERT_EQ(lines.size(), 2u);
    const Parsed a = Parse(lines[0]), b = Parse(lines[1]);
    // The plain text is not a format: its "%" stays.
    EXPECT_EQ(a.text.rfind(L"Copy failed: 100% sure: error 32 (0x00000020): ", 0), 0u) << Narrow(a.text);
    EXPECT_GT(a.text.size(), 50u);  // the system's description follows
    EXPECT_EQ(a.severity, L'E');
    EXPECT_EQ(b.text.rfind(L"Could not open C:\\x.dll: error 5 (0x00000005): ", 0), 0u) << Narrow(b.text);
    EXPECT_EQ(b.severity, L'W');
}

TEST(Log, OverlongTextIsCutNotOverflowed) {
    LogCursor cursor;
    std::wstring huge(3 * WEX_LOG_MAX_TEXT, L'x');
    WexWriteLogSetEnv(GetCurrentThreadId(), L"Kr", 2, L' ');
    WexWriteLogEnv(L"%s", huge.c_str());
    WexWriteWin32Message(huge.c_str(), 2, GetCurrentThreadId(), L"Kr", L'E', 2);
    WexWriteLogSetEnv(GetCurrentThreadId(), L"Kr", 2, L' ');
    WexWriteLogEnv(L"after");
    auto lines = Lines(cursor.Text());
    ASSERT_EQ(lines.size(), 3u);
    const Parsed a = Parse(lines[0]), b = Parse(lines[1]);
    EXPECT_EQ(a.text, std::wstring(WEX_LOG_MAX_TEXT, L'x'));
    EXPECT_EQ(b.text.substr(0, WEX_LOG_MAX_TEXT), std::wstring(WEX_LOG_MAX_TEXT, L'x'));
    EXPECT_NE(b.text.find(L": error 2 "), std::wstring::npos);
    EXPECT_NE(lines[2].find(L"after"), std::wstring::npos);
}

TEST(Log, ThreadsNeverMixTheirAttributes) {
    LogCursor cursor;
    const int kLines = 300;
    auto writer = [](const wchar_t* component, wchar_t severity, int level) {
        for (int i = 0; i < kLines; ++i) {
            WexWriteLogSetEnv(GetCurrentThreadId(), component, level, severity);
            Sleep(0);  // let the other thread set its attributes in between
            WexWriteLogEnv(L"from %s #%d", component, i);
        }
    };
    std::thread t1(writer, L"ThreadOne", L'E', 1);
    std::thread t2(writer, L"ThreadTwo", L'W', 3);
    t1.join();
    t2.join();
    auto lines = Lines(cursor.Text());
    ASSERT_EQ(lines.size(), 2u * kLines);
    for (const auto& line : lines) {
        const Parsed p = Parse(line);
        bool one = p.text.rfind(L"from ThreadOne", 0) == 0;
        SCOPED_TRACE(Narrow(line));
        EXPECT_EQ(p.component, one ? L"ThreadOne" : L"ThreadTwo");
        EXPECT_EQ(p.severity, one ? L'E' : L'W');
        EXPECT_EQ(p.level, one ? 1 : 3);
    }
}

TEST(Log, ProcessesWritingOneFileNeverInterleave) {
    LogCursor cursor;
    const int kLines = 3000;
    // Two children and this process, all at once: the children wait for the start signal.
    std::wstring eventName = L"orv_lg_start_" + std::to_wstring(GetCurrentProcessId());
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(start, nullptr);
    PROCESS_INFORMATION pi[2];
    for (int i = 0; i < 2; ++i) pi[i] = StartWriter(L"Child" + std::to_wstring(i) + L" " + std::to_wstring(kLines) + L" " + eventName);
    Sleep(300);  // let both reach their wait
    SetEvent(start);
    for (int i = 0; i < kLines; ++i) {
        WexWriteLogSetEnv(GetCurrentThreadId(), L"Parent", 2, L' ');
        WexWriteLogEnv(L"Parent line %d payload %s", i, L"0123456789abcdefghijklmnopqrstuvwxyz0123456789");
    }
    for (const auto& p : pi) ASSERT_EQ(Reap(p), 0u);
    CloseHandle(start);
    auto lines = Lines(cursor.Text());
    ASSERT_EQ(lines.size(), 3u * kLines);
    int perWriter[3] = {0, 0, 0};
    for (const auto& line : lines) {
        const Parsed p = Parse(line);
        SCOPED_TRACE(Narrow(line));
        int w = p.component == L"Parent" ? 0 : p.component == L"Child0" ? 1 : p.component == L"Child1" ? 2 : -1;
        ASSERT_GE(w, 0);
        // A whole line: "<writer> line <n> payload <46 characters>".
        std::wstring expect = p.component + L" line " + std::to_wstring(perWriter[w]) +
                              L" payload 0123456789abcdefghijklmnopqrstuvwxyz0123456789";
        EXPECT_EQ(p.text, expect);
        ++perWriter[w];
    }
}

TEST(Log, TheLockKeepsProcessesApart) {
    // Three processes add to one counter in shared memory, each addition a
    // read and a later write under the lock: none may be lost.
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    const std::wstring lockName = L"orv_lg_test." + tag, sectionName = L"orv_lg_counter_" + tag,
                       startName = L"orv_lg_go_" + tag;
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), sectionName.c_str());
    ASSERT_NE(section, nullptr);
    auto* counter = static_cast<volatile LONG*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, startName.c_str());
    orv::lg::CrossProcessLock lock;
    ASSERT_TRUE(counter && start && lock.Open(lockName.c_str()));
    const int kCount = 2000;
    PROCESS_INFORMATION pi[2];
    for (auto& p : pi) p = StartWriter(L"--count " + lockName + L" " + sectionName + L" " + std::to_wstring(kCount) + L" " + startName);
    Sleep(300);  // let both reach their wait
    SetEvent(start);
    for (int i = 0; i < kCount; ++i) {
        ASSERT_TRUE(lock.Acquire(10000));
        const LONG value = *counter;
        Sleep(0);
        *counter = value + 1;
        lock.Release();
    }
    for (const auto& p : pi) EXPECT_EQ(Reap(p), 0u);
    EXPECT_EQ(*counter, 3 * kCount);
    UnmapViewOfFile(const_cast<LONG*>(counter));
    CloseHandle(section);
    CloseHandle(start);
}

TEST(Log, AWriterKilledHoldingTheLockHoldsUpNobody) {
    WexWriteLogSetEnv(GetCurrentThreadId(), L"Kr", 2, L' ');
    WexWriteLogEnv(L"the log is open");
    LogCursor cursor;
    WCHAR name[64];
    orv::lg::LockNameOfLog(LogPath().c_str(), name);
    HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, (std::wstring(name) + L".lock").c_str());
    ASSERT_NE(section, nullptr) << "the log of this process has no lock section";
    auto* state = static_cast<const orv::lg::CrossProcessLock::SharedState*>(
        MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(orv::lg::CrossProcessLock::SharedState)));
    ASSERT_NE(state, nullptr);

    const std::wstring readyName = L"orv_lg_ready_" + std::to_wstring(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    const PROCESS_INFORMATION pi = StartWriter(L"--hold " + readyName);
    HANDLE waits[2] = {ready, pi.hProcess};
    EXPECT_EQ(WaitForMultipleObjects(2, waits, FALSE, 30000), WAIT_OBJECT_0) << "the holder did not take the lock";
    const LONG holder = state->owner;
    EXPECT_NE(holder, 0);
    TerminateProcess(pi.hProcess, 9);
    EXPECT_EQ(Reap(pi), 9u);

    WexWriteLogSetEnv(GetCurrentThreadId(), L"Kr", 2, L' ');
    WexWriteLogEnv(L"after the holder died");
    // The line is written, and the lock was taken over and given back: a line
    // that had waited out its time and been written beside the lock would
    // leave the dead holder's token in the lock word.
    EXPECT_NE(cursor.Text().find(L"after the holder died"), std::wstring::npos);
    EXPECT_EQ(state->owner, 0);
    UnmapViewOfFile(state);
    CloseHandle(section);
    CloseHandle(ready);
}

TEST(Log, UnwritableLogNeverFailsTheCaller) {
    // A log file that cannot be created: every call still returns, no crash.
    std::wstring saved = LogPath();
    WexStopLog(GetCurrentThreadId());
    EXPECT_EQ(WexStartLog(GetCurrentThreadId(), L"Q:\\no\\such\\folder\\x.log", nullptr, 0), -1);
    WexWriteLogSetEnv(GetCurrentThreadId(), L"Kr", 2, L' ');
    EXPECT_EQ(WexWriteLogEnv(L"lost %s", L"line"), 0);
    EXPECT_EQ(WexWriteWin32Message(L"lost", 5, GetCurrentThreadId(), L"Kr", L'E', 2), 0);
    EXPECT_EQ(WexWriteLogEnv(nullptr), 0);
    WexStopLog(GetCurrentThreadId());
    WexStartLog(GetCurrentThreadId(), saved.c_str(), nullptr, 0);
}
