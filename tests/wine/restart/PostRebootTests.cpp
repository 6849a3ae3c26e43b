// Replacing and deleting files at the next restart: the NT family's pending
// renames (in this process, which Wine runs as an NT version) and the
// [rename] section of wininit.ini with the RunOnce command on Windows 9x
// (through restart_win98.exe, which Wine runs as Windows 98).
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "RestartTest.h"
#include "files/PostReboot.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;
using orv::files::SchedulePostRebootCopy;
using orv::files::SchedulePostRebootDelete;

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

class PostRebootNt : public ::testing::Test {
protected:
    void SetUp() override { WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0); }
    void TearDown() override {
        EXPECT_TRUE(ForgetPendingRenamesBelow(m_temp.Path()));
        WexStopLog(GetCurrentThreadId());
    }
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }

    TempDir m_temp;
};

::testing::AssertionResult PendingAre(const std::vector<PendingRename>& actual,
                                      const std::vector<PendingRename>& expected) {
    bool same = actual.size() == expected.size();
    for (size_t i = 0; same && i < actual.size(); ++i)
        same = CompareStringOrdinal(actual[i].from.c_str(), -1, expected[i].from.c_str(), -1, TRUE) == CSTR_EQUAL &&
               CompareStringOrdinal(actual[i].to.c_str(), -1, expected[i].to.c_str(), -1, TRUE) == CSTR_EQUAL;
    if (same) return ::testing::AssertionSuccess();
    auto show = [](const std::vector<PendingRename>& list) {
        std::string text;
        for (const PendingRename& p : list) text += "[" + Narrow(p.from) + " -> " + Narrow(p.to) + "]";
        return text;
    };
    return ::testing::AssertionFailure() << "pending renames " << show(actual) << ", expected " << show(expected);
}

}  // namespace

TEST_F(PostRebootNt, CopyLeavesACompleteCopyAndTwoEntriesInOrder) {
    struct Row {
        const char* label;
        const wchar_t* target;
        const wchar_t* temporary;
        bool earlierCopy;
    } rows[] = {
        {"library", L"lib.dll", L"lib_orvtmp.dll", false},
        {"no extension", L"README", L"README_orvtmp", false},
        {"an earlier temporary copy is overwritten", L"again.ocx", L"again_orvtmp.ocx", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring source = Path(std::wstring(L"new_") + row.target), target = Path(row.target);
        const std::wstring temporary = Path(row.temporary);
        ASSERT_TRUE(Write(source, "new content"));
        ASSERT_TRUE(Write(target, "old content"));
        if (row.earlierCopy) {
            ASSERT_TRUE(Write(temporary, "an older copy, longer than the new one"));
        }
        HeldOpen inUse(target);
        ASSERT_TRUE(inUse.Holding());
        LogCursor log;

        EXPECT_EQ(Hex(SchedulePostRebootCopy(source.c_str(), target.c_str())), Hex(S_OK));
        EXPECT_EQ(Content(temporary), "new content");
        EXPECT_TRUE(PendingAre(PendingRenamesBelow(m_temp.Path()), {{target, L""}, {temporary, target}}));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"Running on an NT system: Use MoveFileEx"),
                                                 Line(L' ', L"Post reboot installation initiated successfully")}));
        ASSERT_TRUE(ForgetPendingRenamesBelow(m_temp.Path()));
    }
}

TEST_F(PostRebootNt, DeleteAddsOneEntry) {
    const std::wstring target = Path(L"gone.dll");
    ASSERT_TRUE(Write(target, "x"));
    HeldOpen inUse(target);
    LogCursor log;
    EXPECT_EQ(Hex(SchedulePostRebootDelete(target.c_str())), Hex(S_OK));
    EXPECT_TRUE(PendingAre(PendingRenamesBelow(m_temp.Path()), {{target, L""}}));
    EXPECT_TRUE(FileExists(target));
    EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"Running on an NT system: Use MoveFileEx"),
                                             Line(L' ', L"Post reboot installation initiated successfully")}));
}

TEST_F(PostRebootNt, RefusedAndFailingSteps) {
    const std::wstring source = Path(L"source.dll");
    ASSERT_TRUE(Write(source, "new"));
    const std::wstring missingSource = Path(L"no such source.dll");
    const std::wstring longTarget = m_temp.Path() + L"\\" + std::wstring(260 - m_temp.Path().size(), L'x');
    // Fits MAX_PATH itself, but its temporary copy would not.
    const std::wstring nearlyLong = m_temp.Path() + L"\\" + std::wstring(254 - m_temp.Path().size(), L'y') + L".dll";
    struct Row {
        const char* label;
        bool copy;
        const wchar_t* source;
        std::wstring target;
        HRESULT expected;
        std::wstring line;
    } rows[] = {
        {"copy into a missing folder", true, source.c_str(), Path(L"missing\\t.dll"), HRESULT_FROM_WIN32(3),
         Win32Line(L'E', L"Error creating temporary copy of source file.", 3)},
        {"copy of a missing source", true, missingSource.c_str(), Path(L"t.dll"), HRESULT_FROM_WIN32(2),
         Win32Line(L'E', L"Error creating temporary copy of source file.", 2)},
        {"copy onto a path too long", true, source.c_str(), longTarget, HRESULT_FROM_WIN32(206),
         Win32Line(L'E', L"Path too long: '" + longTarget + L"'", 206)},
        {"copy whose temporary name is too long", true, source.c_str(), nearlyLong, HRESULT_FROM_WIN32(206),
         Win32Line(L'E', L"Path too long: '" + nearlyLong + L"'", 206)},
        {"delete of a path too long", false, nullptr, longTarget, HRESULT_FROM_WIN32(206),
         Win32Line(L'E', L"Path too long: '" + longTarget + L"'", 206)},
        {"delete of an empty path", false, nullptr, L"", HRESULT_FROM_WIN32(3),
         Win32Line(L'E', L"Error calling MoveFileEx.", 3)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        LogCursor log;
        const HRESULT hr = row.copy ? SchedulePostRebootCopy(row.source, row.target.c_str())
                                    : SchedulePostRebootDelete(row.target.c_str());
        EXPECT_EQ(Hex(hr), Hex(row.expected));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {row.line}));
        EXPECT_TRUE(Lacks(log.Text(), L"initiated successfully"));
        EXPECT_TRUE(PendingRenamesBelow(m_temp.Path()).empty());
    }
    EXPECT_EQ(SchedulePostRebootCopy(nullptr, source.c_str()), E_POINTER);
    EXPECT_EQ(SchedulePostRebootCopy(source.c_str(), nullptr), E_POINTER);
    EXPECT_EQ(SchedulePostRebootDelete(nullptr), E_POINTER);
}

TEST_F(PostRebootNt, PendingListThatCannotBeWritten) {
    const std::wstring source = Path(L"source.dll"), target = Path(L"target.dll");
    ASSERT_TRUE(Write(source, "new"));
    ASSERT_TRUE(Write(target, "old"));
    struct Row {
        const char* label;
        bool copy;
    } rows[] = {{"copy", true}, {"delete", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        LogCursor log;
        HRESULT hr;
        {
            DeniedKey denied(HKEY_LOCAL_MACHINE, kSessionManager);
            ASSERT_TRUE(denied.Denied());
            SetLastError(0);  // the list's writer reports no error of its own here
            hr = row.copy ? SchedulePostRebootCopy(source.c_str(), target.c_str())
                          : SchedulePostRebootDelete(target.c_str());
        }
        // No error number comes back from the list's writer: a general failure, never S_OK.
        EXPECT_EQ(Hex(hr), Hex(HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"Error calling MoveFileEx.", ERROR_GEN_FAILURE)}));
        EXPECT_TRUE(Lacks(log.Text(), L"initiated successfully"));
        EXPECT_TRUE(PendingRenamesBelow(m_temp.Path()).empty());
        // What was done before the failure stays: the complete temporary copy.
        if (row.copy) {
            EXPECT_EQ(Content(Path(L"target_orvtmp.dll")), "new");
        }
        EXPECT_EQ(Content(target), "old");
    }
}

// ---------------------------------------------------------------------------
// Windows 9x

namespace {

class PostReboot9x : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(PrepareWin98()); }
    void SetUp() override {
        WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
        ASSERT_EQ(Hex(RunWin98(L"check")), Hex(S_OK)) << "restart_win98.exe does not run as Windows 9x";
    }
    void TearDown() override {
        for (const std::wstring& name : m_runOnce) SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, name.c_str());
        WexStopLog(GetCurrentThreadId());
    }
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }
    HRESULT Copy(const std::wstring& source, const std::wstring& target) {
        m_runOnce.push_back(L"__ORV__" + std::wstring(PathFindFileNameW(ShortPath(target).c_str())));
        return RunWin98(L"copy \"" + source + L"\" \"" + target + L"\"");
    }
    HRESULT Delete(const std::wstring& path) { return RunWin98(L"delete \"" + path + L"\""); }

    WininitGuard m_wininit;
    TempDir m_temp;
    std::vector<std::wstring> m_runOnce;
};

std::vector<std::wstring> Tail(const std::vector<std::wstring>& lines, size_t n) {
    return std::vector<std::wstring>(lines.end() - static_cast<ptrdiff_t>(std::min(n, lines.size())), lines.end());
}

std::string Show(const std::vector<std::wstring>& lines) {
    std::string text;
    for (const std::wstring& line : lines) text += "[" + Narrow(line) + "]";
    return text;
}

}  // namespace

TEST_F(PostReboot9x, CopyWritesRenameLinesAndRunOnceOnlyForLongNames) {
    struct Row {
        const char* label;
        const wchar_t* name;
        const wchar_t* temporary;
        bool runOnce;
    } rows[] = {
        {"long name", L"Long Library Name.dll", L"Long Library Name_orvtmp.dll", true},
        {"8.3 name", L"LIB83.DLL", L"LIB83_orvtmp.DLL", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring source = Path(L"source.dll"), target = Path(row.name);
        ASSERT_TRUE(Write(source, "new"));
        ASSERT_TRUE(Write(target, "old"));
        LogCursor log;

        EXPECT_EQ(Hex(Copy(source, target)), Hex(S_OK));
        EXPECT_EQ(Content(Path(row.temporary)), "new");
        const std::wstring shortTarget = ShortPath(target), shortTemporary = ShortPath(Path(row.temporary));
        ASSERT_FALSE(shortTarget.empty());
        const std::vector<std::wstring> expected = {L"NUL=" + shortTarget, shortTarget + L"=" + shortTemporary};
        EXPECT_EQ(Tail(RenameLines(), 2), expected) << Show(RenameLines());

        const std::wstring valueName = L"__ORV__" + std::wstring(PathFindFileNameW(shortTarget.c_str()));
        const RegValue runOnce = ReadValue(HKEY_LOCAL_MACHINE, kRunOnceKey, valueName);
        const std::wstring command = L"command.com /c ren \"" + shortTarget + L"\" \"" + row.name + L"\"";
        EXPECT_EQ(runOnce.exists, row.runOnce);
        if (row.runOnce) {
            EXPECT_EQ(runOnce.type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(runOnce.data, Utf16(command));  // with its terminator
            EXPECT_TRUE(
                HasLinesInOrder(log.Text(), {Line(L' ', L"Running on an 9X system: Use wininit.ini"),
                                             Line(L' ', L"Adding RunOnce Entry: " + valueName + L" -- " + command),
                                             Line(L' ', L"Post reboot installation initiated successfully")}));
        } else {
            EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"Running on an 9X system: Use wininit.ini"),
                                                     Line(L' ', L"Post reboot installation initiated successfully")}));
            EXPECT_TRUE(Lacks(log.Text(), L"Adding RunOnce Entry"));
        }
    }
}

TEST_F(PostReboot9x, DeletionsKeepALineEachAndACopyKeepsThem) {
    const std::wstring a = Path(L"First Library.dll"), b = Path(L"B.DLL"), t = Path(L"Target File.dll");
    const std::wstring source = Path(L"source.dll");
    for (const std::wstring& file : {a, b, t, source}) ASSERT_TRUE(Write(file, "x"));
    LogCursor log;
    ASSERT_EQ(Hex(Delete(a)), Hex(S_OK));
    ASSERT_EQ(Hex(Delete(b)), Hex(S_OK));
    ASSERT_EQ(Hex(Copy(source, t)), Hex(S_OK));
    ASSERT_EQ(Hex(Copy(source, t)), Hex(S_OK));  // scheduled twice: still one copy
    const std::wstring shortT = ShortPath(t);
    const std::vector<std::wstring> expected = {L"NUL=" + ShortPath(a), L"NUL=" + ShortPath(b), L"NUL=" + shortT,
                                                shortT + L"=" + ShortPath(Path(L"Target File_orvtmp.dll"))};
    EXPECT_EQ(Tail(RenameLines(), 4), expected) << Show(RenameLines());
    EXPECT_TRUE(HasLinesInOrder(
        log.Text(),
        {Line(L' ', L"Post reboot installation initiated successfully. Inserted string: NUL=" + ShortPath(a)),
         Line(L' ', L"Post reboot installation initiated successfully. Inserted string: NUL=" + ShortPath(b))}));
}

TEST_F(PostReboot9x, LargeSectionIsKeptWhole) {
    // About 200000 characters of [rename], between two other sections.
    std::string ini = "[Settings]\r\nKeep=1\r\n[rename]\r\n";
    std::vector<std::wstring> before;
    for (int i = 0; i < 4000; ++i) {
        const std::string line = "NUL=C:\\OLDAPP\\LIBRARY" + std::to_string(i) + ".DLL";
        ini += line + "\r\n";
        before.push_back(Widen(line));
    }
    ini += "[Other]\r\nAlso=kept\r\n";
    ASSERT_TRUE(Write(WininitPath(), ini));
    const std::wstring target = Path(L"gone.dll");
    ASSERT_TRUE(Write(target, "x"));

    ASSERT_EQ(Hex(Delete(target)), Hex(S_OK));
    std::vector<std::wstring> lines = RenameLines();
    ASSERT_EQ(lines.size(), before.size() + 1);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), lines.begin()));
    EXPECT_EQ(lines.back(), L"NUL=" + ShortPath(target));
    const std::string after = Content(WininitPath());
    EXPECT_NE(after.find("[Settings]\r\nKeep=1"), std::string::npos);
    EXPECT_NE(after.find("[Other]\r\nAlso=kept"), std::string::npos);
}

TEST_F(PostReboot9x, FailingSteps) {
    const std::wstring source = Path(L"source.dll"), target = Path(L"Long Target Name.dll");
    ASSERT_TRUE(Write(source, "new"));
    ASSERT_TRUE(Write(target, "old"));
    std::string huge = "[rename]\r\n";
    while (huge.size() < (size_t(1) << 20) + 100000) huge += "NUL=C:\\SOMEWHERE\\A_RATHER_LONG_FOLDER\\FILE.DLL\r\n";
    struct Row {
        const char* label;
        bool copy;
        std::wstring path;
        HRESULT expected;
        std::wstring line;
        std::function<void()> prepare;
    };
    std::unique_ptr<HeldOpen> held;
    std::unique_ptr<DeniedKey> denied;
    std::vector<Row> rows = {
        {"wininit.ini is a folder", false, target, HRESULT_FROM_WIN32(5),
         Win32Line(L'E', L"Error opening or creating wininit.ini", 5),
         [] { CreateDirectoryW(WininitPath().c_str(), nullptr); }},
        {"wininit.ini locked by another program", false, target, HRESULT_FROM_WIN32(32),
         Win32Line(L'E', L"Error opening or creating wininit.ini", 32),
         [&] {
             Write(WininitPath(), "[rename]\r\nNUL=C:\\KEEP.DLL\r\n");
             held.reset(new HeldOpen(WininitPath()));
         }},
        {"file to delete is missing", false, Path(L"missing.dll"), HRESULT_FROM_WIN32(2),
         Win32Line(L'E', L"Error getting the short path of '" + Path(L"missing.dll") + L"'", 2), [] {}},
        {"section beyond any wininit.ini", false, target, HRESULT_FROM_WIN32(ERROR_MORE_DATA),
         Win32Line(L'E', L"The [rename] section of wininit.ini is too long", ERROR_MORE_DATA),
         [&] { Write(WininitPath(), huge); }},
        {"RunOnce cannot be written", true, target, HRESULT_FROM_WIN32(5),
         Win32Line(L'E', L"Post reboot installation initialization failed", 5),
         [&] { denied.reset(new DeniedKey(HKEY_LOCAL_MACHINE, kRunOnceKey)); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        RemoveTree(WininitPath());
        row.prepare();
        const std::string before = FileExists(WininitPath()) ? Content(WininitPath()) : std::string();
        LogCursor log;
        const HRESULT hr = row.copy ? Copy(source, row.path) : Delete(row.path);
        held.reset();
        denied.reset();
        EXPECT_EQ(Hex(hr), Hex(row.expected));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {row.line}));
        EXPECT_TRUE(Lacks(log.Text(), L"initiated successfully"));
        if (row.copy) {
            // The lines written before the failure stay.
            EXPECT_EQ(
                Tail(RenameLines(), 1),
                std::vector<std::wstring>{ShortPath(target) + L"=" + ShortPath(Path(L"Long Target Name_orvtmp.dll"))});
        } else if (!before.empty()) {
            EXPECT_EQ(Content(WininitPath()), before);
        }
    }
}
