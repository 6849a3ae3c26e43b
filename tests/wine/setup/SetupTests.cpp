// orvsetup.exe run as a child process on products made in a temporary folder:
// refusals change nothing, a failed install is undone, an update replaces
// what changed, and uninstall leaves nothing behind.
#include "SetupTest.h"

namespace {

using namespace orv::test;
using namespace orv::test::setup;

// A file of the text "old", written long ago.
void WriteOld(const std::wstring& path) {
    WriteBytes(path, "old");
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME old = {0, 0x01000000};
    SetFileTime(h, nullptr, nullptr, &old);
    CloseHandle(h);
}
const std::wstring kReadme = L"[File readme]\r\nSource=readme.txt\r\nTarget=doc\\readme.txt\r\n";

TEST(OrvSetup, RefusesWithoutChanging) {
    Product p;
    const std::wstring item = L"[File readme]\r\nSource=readme.txt\r\nTarget=readme.txt\r\n";
    const struct { const char* label; std::wstring args, manifest; DWORD code; const char* says; } rows[] = {
        {"unknown verb", L"deploy", p.Head(L"1") + item, 1639, "usage"},
        {"no manifest", L"install", L"", 1619, "cannot be read"},
        {"a typo, with its line", L"install", p.Head(L"1") + item + L"Flag=force\r\n", 1620, "p.ini(8): unknown key 'Flag'"},
        {"a missing source, with its line", L"install",
         p.Head(L"1") + L"[File x]\r\nSource=nothere.txt\r\nTarget=x.txt\r\n", 1603, "p.ini(5): the source"},
        {"nothing installed", L"status", p.Head(L"1") + item, 1605, "nothing is installed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        DeleteFileW((p.Dir() + L"\\p.ini").c_str());
        EXPECT_TRUE(Ran(p.Run(row.args, row.manifest), row.code, row.says));
        EXPECT_FALSE(Exists(p.App()));
    }
}

TEST(OrvSetup, InstallUpdateUninstallLeavesNothing) {
    Product p;
    const std::wstring script = L"[Script app]\r\nSource=app.reg\r\n", values = L"[Registry HKCU\\" + p.Key() + L"]\r\n";
    ASSERT_TRUE(Ran(p.Run(L"install", p.Head(L"1.0") + kReadme + p.LibItem(L"1") + script + values +
                                          L"Old=string:only in 1\r\nGreeting=string:one\r\n"),
                    0, "[1/5] file   doc\\readme.txt  installed"));
    EXPECT_TRUE(FileExists(p.App() + L"\\doc\\readme.txt"));
    EXPECT_EQ(1, SharedCount(p.Lib()));
    EXPECT_EQ(L"one", Value(p.Key(), L"Greeting"));
    EXPECT_EQ(p.App() + L"\\data", Value(p.Key() + L"\\Script", L"Home"));

    // Version 2: a newer library, a changed value, one value less, one file more.
    ASSERT_TRUE(Ran(p.Run(L"install", p.Head(L"2.0") + kReadme + p.LibItem(L"2") +
                                          L"[File notes]\r\nSource=readme.txt\r\nTarget=doc\\notes.txt\r\n" + script +
                                          values + L"Greeting=string:two\r\n", L"p2.ini"), 0));
    EXPECT_EQ(ReadBytes(Join(FixturesDir(), L"files\\v2.dll")), ReadBytes(p.Lib()));
    EXPECT_EQ(1, SharedCount(p.Lib()));
    EXPECT_EQ(L"two", Value(p.Key(), L"Greeting"));
    EXPECT_FALSE(HasValue(p.Key(), L"Old"));
    EXPECT_TRUE(FileExists(p.App() + L"\\doc\\notes.txt"));
    EXPECT_TRUE(Ran(p.Run(L"status", L"", L"p2.ini"), 0, "version 2.0.0.0"));

    EXPECT_TRUE(Ran(p.Run(L"uninstall", L"", L"p2.ini"), 0));
    EXPECT_FALSE(Exists(p.App()) || FileExists(p.Lib()) || KeyExists(HKEY_CURRENT_USER, p.Key()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
}

TEST(OrvSetup, FailureUndoesTheRun) {
    Product p;
    // What was there before: an older readme, the library in version 1, a value of the user's.
    CreateDirectoryW(p.App().c_str(), nullptr);
    CreateDirectoryW((p.App() + L"\\doc").c_str(), nullptr);
    WriteOld(p.App() + L"\\doc\\readme.txt");
    CopyFileW(Join(FixturesDir(), L"files\\v1.dll").c_str(), p.Lib().c_str(), FALSE);
    ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, p.Key(), L"Keep", REG_SZ, Utf16(L"mine")));

    // The last item cannot be installed: its folder would lie below a file.
    EXPECT_TRUE(Ran(p.Run(L"install", p.Head(L"1") + kReadme + p.LibItem(L"2") + L"[Registry HKCU\\" + p.Key() +
                                          L"]\r\nKeep=string:theirs\r\nNew=dword:1\r\n" +
                                          L"[File bad]\r\nSource=readme.txt\r\nTarget=doc\\readme.txt\\sub\\x.txt\r\n"),
                    1603, "[5/5] file   doc\\readme.txt\\sub\\x.txt  FAILED"));
    EXPECT_EQ("old", ReadBytes(p.App() + L"\\doc\\readme.txt"));
    EXPECT_EQ(ReadBytes(Join(FixturesDir(), L"files\\v1.dll")), ReadBytes(p.Lib()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
    EXPECT_EQ(L"mine", Value(p.Key(), L"Keep"));
    EXPECT_FALSE(HasValue(p.Key(), L"New"));
    EXPECT_FALSE(Exists(p.App() + L"\\_orvsetup"));
    EXPECT_TRUE(Exists(p.App()));
}

// An update that fails midway leaves the earlier version as it was: its
// files, its values, its shared-library count and its state.
TEST(OrvSetup, FailedUpdateLeavesTheEarlierVersion) {
    Product p;
    const auto manifest = [&](const wchar_t* v, const std::wstring& more) {
        return p.Head(v) + p.LibItem(v) + L"[Registry HKCU\\" + p.Key() + L"]\r\nGreeting=string:" + v + L"\r\n" + more;
    };
    ASSERT_TRUE(Ran(p.Run(L"install", manifest(L"1", L"")), 0));
    WriteBytes(p.App() + L"\\blocker", "a file where version 2 wants a folder");
    EXPECT_TRUE(Ran(p.Run(L"install", manifest(L"2", L"[File bad]\r\nSource=readme.txt\r\nTarget=blocker\\x.txt\r\n"),
                          L"p2.ini"), 1603));
    EXPECT_EQ(ReadBytes(Join(FixturesDir(), L"files\\v1.dll")), ReadBytes(p.Lib()));
    EXPECT_EQ(1, SharedCount(p.Lib()));
    EXPECT_EQ(L"1", Value(p.Key(), L"Greeting"));
    const ProcessResult status = p.Run(L"status", L"");
    EXPECT_TRUE(Ran(status, 0, "Pr"));
    EXPECT_TRUE(Ran(status, 0, " 1\r\n"));
    DeleteFileW((p.App() + L"\\blocker").c_str());
    EXPECT_TRUE(Ran(p.Run(L"uninstall", L""), 0));
    EXPECT_FALSE(Exists(p.App()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
}

// A run killed midway leaves a state that uninstall follows: what the run
// installed goes, what it replaced comes back.
TEST(OrvSetup, UninstallFollowsAKilledInstall) {
    Product p;
    CreateDirectoryW(p.App().c_str(), nullptr);
    WriteOld(p.App() + L"\\f1.txt");
    std::wstring m = p.Head(L"1") + p.LibItem(L"1") + L"[Registry HKCU\\" + p.Key() + L"]\r\nNew=dword:1\r\n";
    for (int i = 1; i <= 400; ++i)
        m += L"[File f" + std::to_wstring(i) + L"]\r\nSource=readme.txt\r\nTarget=f" + std::to_wstring(i) + L".txt\r\n";
    WriteBytes(p.Dir() + L"\\p.ini", Utf16File(m));

    std::wstring cmd = L"\"" + Join(BinDir(), L"orvsetup.exe") + L"\" install \"" + p.Dir() + L"\\p.ini\" --quiet";
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(1))
        if (ReadBytes(p.App() + L"\\_orvsetup\\state.ini").find(Utf16(L"[Item 12]", false)) != std::string::npos) break;
    const bool running = WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(running) << "the install ended before it could be stopped";
    ASSERT_TRUE(Exists(p.App() + L"\\f5.txt"));

    EXPECT_TRUE(Ran(p.Run(L"uninstall", L""), 0));
    EXPECT_EQ("old", ReadBytes(p.App() + L"\\f1.txt"));
    EXPECT_FALSE(Exists(p.App() + L"\\f5.txt") || Exists(p.App() + L"\\_orvsetup") || Exists(p.Lib()) ||
                 KeyExists(HKEY_CURRENT_USER, p.Key()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
}

}  // namespace
