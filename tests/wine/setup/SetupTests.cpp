// orvsetup.exe run as a child process on products made in a temporary folder:
// refusals change nothing, a failed install is undone, an update replaces
// what changed, and uninstall leaves nothing behind.
#include "SetupTest.h"

namespace {

using namespace orv::test;
using namespace orv::test::setup;

TEST(OrvSetup, RefusesWithoutChanging) {
    Product p;
    const std::wstring item = L"[File readme]\r\nSource=readme.txt\r\nTarget=readme.txt\r\n";
    const struct {
        const char* label;
        std::wstring args, manifest;
        DWORD code;
        const char* says;
    } rows[] = {
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
        const ProcessResult r = p.Run(row.args, row.manifest);
        EXPECT_EQ(row.code, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos, r.output.find(row.says)) << r.output;
        EXPECT_FALSE(Exists(p.App()));
    }
}

TEST(OrvSetup, InstallUpdateUninstallLeavesNothing) {
    Product p;
    const std::wstring readme = L"[File readme]\r\nSource=readme.txt\r\nTarget=doc\\readme.txt\r\n";
    const std::wstring script = L"[Script app]\r\nSource=app.reg\r\n";
    const std::wstring lib = L"[File lib]\r\nSource=v%\\lib.dll\r\nTarget=" + p.Lib() + L"\r\n";
    const std::wstring v1 = p.Head(L"1.0") + readme + [&] { std::wstring l = lib; l[l.find(L'%')] = L'1'; return l; }() +
                            script + L"[Registry HKCU\\" + p.Key() + L"]\r\nOld=string:only in 1\r\nGreeting=string:one\r\n";
    ProcessResult r = p.Run(L"install", v1);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("[1/5] file   doc\\readme.txt  installed")) << r.output;
    EXPECT_TRUE(FileExists(p.App() + L"\\doc\\readme.txt"));
    EXPECT_EQ(1, SharedCount(p.Lib()));
    EXPECT_EQ(L"one", Value(p.Key(), L"Greeting"));
    EXPECT_EQ(p.App() + L"\\data", Value(p.Key() + L"\\Script", L"Home"));

    // Version 2: a newer library, a changed value, one value less, one file more.
    const std::wstring v2 = p.Head(L"2.0") + readme + [&] { std::wstring l = lib; l[l.find(L'%')] = L'2'; return l; }() +
                            L"[File notes]\r\nSource=readme.txt\r\nTarget=doc\\notes.txt\r\n" + script +
                            L"[Registry HKCU\\" + p.Key() + L"]\r\nGreeting=string:two\r\n";
    r = p.Run(L"install", v2, L"p2.ini");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ(ReadBytes(Join(FixturesDir(), L"files\\v2.dll")), ReadBytes(p.Lib()));
    EXPECT_EQ(1, SharedCount(p.Lib()));
    EXPECT_EQ(L"two", Value(p.Key(), L"Greeting"));
    EXPECT_FALSE(HasValue(p.Key(), L"Old"));
    EXPECT_TRUE(FileExists(p.App() + L"\\doc\\notes.txt"));

    r = p.Run(L"status", L"", L"p2.ini");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("version 2.0.0.0")) << r.output;

    r = p.Run(L"uninstall", L"", L"p2.ini");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_FALSE(Exists(p.App()));
    EXPECT_FALSE(FileExists(p.Lib()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, p.Key()));
}

TEST(OrvSetup, FailureUndoesTheRun) {
    Product p;
    // What was there before: an older readme, the library in version 1, a value of the user's.
    CreateDirectoryW(p.App().c_str(), nullptr);
    CreateDirectoryW((p.App() + L"\\doc").c_str(), nullptr);
    WriteBytes(p.App() + L"\\doc\\readme.txt", "old");
    {
        HANDLE h = CreateFileW((p.App() + L"\\doc\\readme.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        FILETIME old = {0, 0x01000000};
        SetFileTime(h, nullptr, nullptr, &old);
        CloseHandle(h);
    }
    CopyFileW(Join(FixturesDir(), L"files\\v1.dll").c_str(), p.Lib().c_str(), FALSE);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, p.Key().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &key, nullptr));
    RegSetValueExW(key, L"Keep", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"mine"), 10);
    RegCloseKey(key);

    // The last item cannot be installed: its folder would lie below a file.
    const std::wstring m = p.Head(L"1") + L"[File readme]\r\nSource=readme.txt\r\nTarget=doc\\readme.txt\r\n" +
                           L"[File lib]\r\nSource=v2\\lib.dll\r\nTarget=" + p.Lib() + L"\r\n" + L"[Registry HKCU\\" +
                           p.Key() + L"]\r\nKeep=string:theirs\r\nNew=dword:1\r\n" +
                           L"[File bad]\r\nSource=readme.txt\r\nTarget=doc\\readme.txt\\sub\\x.txt\r\n";
    const ProcessResult r = p.Run(L"install", m);
    EXPECT_EQ(1603u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("[5/5] file   doc\\readme.txt\\sub\\x.txt  FAILED")) << r.output;
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
        return p.Head(v) + L"[File lib]\r\nSource=v" + v + L"\\lib.dll\r\nTarget=" + p.Lib() + L"\r\n" +
               L"[Registry HKCU\\" + p.Key() + L"]\r\nGreeting=string:" + v + L"\r\n" + more;
    };
    ProcessResult r = p.Run(L"install", manifest(L"1", L""));
    ASSERT_EQ(0u, r.exitCode) << r.output;
    WriteBytes(p.App() + L"\\blocker", "a file where version 2 wants a folder");
    r = p.Run(L"install", manifest(L"2", L"[File bad]\r\nSource=readme.txt\r\nTarget=blocker\\x.txt\r\n"), L"p2.ini");
    EXPECT_EQ(1603u, r.exitCode) << r.output;
    EXPECT_EQ(ReadBytes(Join(FixturesDir(), L"files\\v1.dll")), ReadBytes(p.Lib()));
    EXPECT_EQ(1, SharedCount(p.Lib()));
    EXPECT_EQ(L"1", Value(p.Key(), L"Greeting"));
    r = p.Run(L"status", L"");
    EXPECT_NE(std::string::npos, r.output.find("Pr")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(" 1\r\n")) << r.output;
    DeleteFileW((p.App() + L"\\blocker").c_str());
    r = p.Run(L"uninstall", L"");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_FALSE(Exists(p.App()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
}

// The state file as it is now, shared so that the writer's renames go on.
std::string ReadShared(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes(1 << 20, '\0');
    DWORD got = 0;
    ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(h);
    bytes.resize(got);
    return bytes;
}

// A run killed midway leaves a state that uninstall follows: what the run
// installed goes, what it replaced comes back.
TEST(OrvSetup, UninstallFollowsAKilledInstall) {
    Product p;
    CreateDirectoryW(p.App().c_str(), nullptr);
    WriteBytes(p.App() + L"\\f1.txt", "old");
    {
        HANDLE h = CreateFileW((p.App() + L"\\f1.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        FILETIME old = {0, 0x01000000};
        SetFileTime(h, nullptr, nullptr, &old);
        CloseHandle(h);
    }
    std::wstring m = p.Head(L"1") + L"[File lib]\r\nSource=v1\\lib.dll\r\nTarget=" + p.Lib() + L"\r\n" +
                     L"[Registry HKCU\\" + p.Key() + L"]\r\nNew=dword:1\r\n";
    for (int i = 1; i <= 400; ++i)
        m += L"[File f" + std::to_wstring(i) + L"]\r\nSource=readme.txt\r\nTarget=f" + std::to_wstring(i) + L".txt\r\n";
    WriteBytes(p.Dir() + L"\\p.ini", Utf16File(m));

    std::wstring cmd = L"\"" + Join(BinDir(), L"orvsetup.exe") + L"\" install \"" + p.Dir() + L"\\p.ini\" --quiet";
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    const std::wstring mark = L"[Item 12]";
    const std::string wanted(reinterpret_cast<const char*>(mark.data()), mark.size() * sizeof(wchar_t));
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
        if (ReadShared(p.App() + L"\\_orvsetup\\state.ini").find(wanted) != std::string::npos) break;
        Sleep(1);
    }
    const bool running = WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(running) << "the install ended before it could be stopped";
    ASSERT_TRUE(Exists(p.App() + L"\\f5.txt"));

    const ProcessResult r = p.Run(L"uninstall", L"");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("old", ReadBytes(p.App() + L"\\f1.txt"));
    EXPECT_FALSE(Exists(p.App() + L"\\f5.txt"));
    EXPECT_FALSE(Exists(p.App() + L"\\_orvsetup"));
    EXPECT_FALSE(Exists(p.Lib()));
    EXPECT_EQ(-1, SharedCount(p.Lib()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, p.Key()));
}

}  // namespace
