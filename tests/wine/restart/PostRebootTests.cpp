// Replacing and deleting files at the next restart: pending renames on the NT
// family (this process), wininit.ini and RunOnce on Windows 9x (restart_win98.exe).
#include <algorithm>

#include "RestartTest.h"
#include "files/PostReboot.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;
using orv::files::SchedulePostRebootCopy;
using orv::files::SchedulePostRebootDelete;

namespace {

class PostReboot : public ::testing::Test {
protected:
    void SetUp() override { WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0); }
    void TearDown() override {
        EXPECT_TRUE(ForgetPendingStartingWith(m_temp.Path() + L"\\"));
        for (const std::wstring& name : m_runOnce) SHDeleteValueW(HKEY_LOCAL_MACHINE, kRunOnceKey, name.c_str());
        WexStopLog(GetCurrentThreadId());
    }
    HRESULT Copy9x(const std::wstring& source, const std::wstring& target) {
        m_runOnce.push_back(L"__ORV__" + std::wstring(PathFindFileNameW(ShortPath(target).c_str())));
        return RunWin98(L"copy \"" + source + L"\" \"" + target + L"\"");
    }

    TempDir m_temp;
    WininitGuard m_wininit;
    std::vector<std::wstring> m_runOnce;
};

std::vector<std::wstring> Tail(std::vector<std::wstring> lines, size_t n) {
    lines.erase(lines.begin(), lines.end() - std::min(n, lines.size()));
    return lines;
}

const std::wstring kDone = Line(L' ', L"Post reboot installation initiated successfully");

}  // namespace

TEST_F(PostReboot, NtCopyLeavesACompleteCopyAndTwoEntriesInOrder) {
    // Windows makes folders of up to 248 characters: the copy's name beside a target there passes MAX_PATH.
    const std::wstring longFolder = m_temp / std::wstring(247 - m_temp.Path().size() - 1, L'f');
    ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
    struct Row { const char* label; std::wstring target, temporary; bool earlierCopy; } rows[] = {
        {"library", m_temp / L"lib.dll", m_temp / L"lib_orvtmp.dll", false},
        {"no extension", m_temp / L"README", m_temp / L"README_orvtmp", false},
        {"an earlier, longer temporary copy is overwritten", m_temp / L"again.ocx", m_temp / L"again_orvtmp.ocx", true},
        {"in a folder of 247 characters", Join(longFolder, L"l.dll"), Join(longFolder, L"l_orvtmp.dll"), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring source = m_temp / L"new", target = row.target, temporary = row.temporary;
        ASSERT_TRUE(WriteBytes(source, "new content") && WriteBytes(target, "old content"));
        ASSERT_TRUE(!row.earlierCopy || WriteBytes(temporary, "an older copy, longer than the new one"));
        HeldOpen inUse(target);
        LogCursor log;
        EXPECT_EQ(Hex(SchedulePostRebootCopy(source.c_str(), target.c_str())), Hex(S_OK));
        EXPECT_EQ(ReadBytes(L"\\\\?\\" + temporary), "new content");
        EXPECT_EQ(PendingStartingWith(m_temp.Path() + L"\\"),
                  (std::vector<std::wstring>{target + L" -> ", temporary + L" -> " + target}));
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Running on an NT system: Use MoveFileEx"), kDone}));
        ASSERT_TRUE(ForgetPendingStartingWith(m_temp.Path() + L"\\"));
    }
    const std::wstring target = m_temp / L"gone.dll";
    ASSERT_TRUE(WriteBytes(target, "x"));
    EXPECT_EQ(Hex(SchedulePostRebootDelete(target.c_str())), Hex(S_OK));
    EXPECT_EQ(PendingStartingWith(m_temp.Path() + L"\\"), std::vector<std::wstring>{target + L" -> "});
    EXPECT_TRUE(FileExists(target));
}

TEST_F(PostReboot, Win9xCopyWritesRenameLinesAndRunOnceOnlyForLongNames) {
    ASSERT_EQ(Hex(RunWin98(L"check")), Hex(S_OK)) << "restart_win98.exe does not run as Windows 9x";
    struct Row { const char* label; const wchar_t *name, *temporary; bool runOnce; } rows[] = {
        {"long name", L"Long Library Name.dll", L"Long Library Name_orvtmp.dll", true},
        {"8.3 name", L"LIB83.DLL", L"LIB83_orvtmp.DLL", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring source = m_temp / L"source.dll", target = m_temp / row.name;
        ASSERT_TRUE(WriteBytes(source, "new") && WriteBytes(target, "old"));
        LogCursor log;
        EXPECT_EQ(Hex(Copy9x(source, target)), Hex(S_OK));
        EXPECT_EQ(ReadBytes(m_temp / row.temporary), "new");
        const std::wstring shortTarget = ShortPath(target);
        EXPECT_EQ(Tail(RenameLines(), 2), (std::vector<std::wstring>{
                                              L"NUL=" + shortTarget, shortTarget + L"=" + ShortPath(m_temp / row.temporary)}));
        const std::wstring command = L"command.com /c ren \"" + shortTarget + L"\" \"" + row.name + L"\"";
        const RegValue runOnce = ReadValue(HKEY_LOCAL_MACHINE, kRunOnceKey, m_runOnce.back());
        EXPECT_EQ(runOnce.data, row.runOnce ? Utf16(command) : "");
        EXPECT_TRUE(runOnce.type == (row.runOnce ? REG_SZ : 0));
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Running on an 9X system: Use wininit.ini"), kDone}));
    }
}

TEST_F(PostReboot, Win9xLargeSectionIsKeptWhole) {
    std::string ini = "[Settings]\r\nKeep=1\r\n[rename]\r\n";  // about 200000 characters of [rename]
    std::vector<std::wstring> expected;
    for (int i = 0; i < 4000; ++i) {
        expected.push_back(L"NUL=C:\\OLDAPP\\LIBRARY" + std::to_wstring(i) + L".DLL");
        ini += Narrow(expected.back()) + "\r\n";
    }
    ASSERT_TRUE(WriteBytes(WininitPath(), ini + "[Other]\r\nAlso=kept\r\n"));
    const std::wstring target = m_temp / L"gone.dll";
    ASSERT_TRUE(WriteBytes(target, "x"));
    ASSERT_EQ(Hex(RunWin98(L"delete \"" + target + L"\"")), Hex(S_OK));
    expected.push_back(L"NUL=" + ShortPath(target));
    EXPECT_TRUE(RenameLines() == expected);
    const std::string after = ReadBytes(WininitPath());
    EXPECT_NE(after.find("[Settings]\r\nKeep=1"), std::string::npos);
    EXPECT_NE(after.find("[Other]\r\nAlso=kept"), std::string::npos);
}
