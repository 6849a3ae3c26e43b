// The kernel DLL through COM: UnShareFile, the restart methods, App Paths
// and SharedDLLs counts of InstallFile and UnInstallFile.
#include <shlwapi.h>

#include "RestartTest.h"

using namespace orv::test;
using namespace orv::test::restart;

namespace {

class KernelRestart : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created"; }
    void TearDown() override {
        EXPECT_TRUE(ForgetPendingStartingWith(m_temp.Path() + L"\\"));
        EXPECT_TRUE(ForgetPendingStartingWith(Join(SystemDir(), m_tag)));
        for (const std::wstring& path : m_system) RemoveTree(path);
        DeleteSharedDllValuesContaining(m_tag);
        for (const std::wstring& name : m_programs) SHDeleteKeyW(HKEY_LOCAL_MACHINE, AppKey(name).c_str());
    }
    // A path directly in the system folder (or another), unique to this test.
    std::wstring InSystem(const std::wstring& extension = L".dll", const std::wstring& folder = SystemDir()) {
        m_system.push_back(Join(folder, UniqueName(m_tag, extension)));
        m_system.push_back(m_system.back().substr(0, m_system.back().size() - 4) + L"_orvtmp.dll");
        return m_system[m_system.size() - 2];
    }
    std::wstring Program() {
        m_programs.push_back(UniqueName(m_tag, L".exe"));
        return m_temp / m_programs.back();
    }
    static std::wstring AppKey(const std::wstring& name) { return std::wstring(kAppPathsKey) + L"\\" + name; }
    HRESULT Install(const std::wstring& fixture, const std::wstring& target, ULONG mode, ULONG flags = 0,
                    const wchar_t* appPaths = nullptr) {
        InstallRecord record(Fixture(fixture), target, mode, flags, appPaths);
        return m_kernel->InstallFile(record.Get());
    }
    HRESULT UnInstall(const std::wstring& target) {
        InstallRecord record(m_temp / L"source", target, 1);
        return m_kernel->UnInstallFile(record.Get());
    }

    LoadedKernel m_kernel;
    TempDir m_temp;
    std::wstring m_tag = UniqueName(L"orvrst", L"");
    std::vector<std::wstring> m_system, m_programs;
};

}  // namespace

TEST_F(KernelRestart, UnShareFile) {
    const std::wstring p = InSystem(), data = InSystem(), missing = m_temp / L"missing.dll";
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), p.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(data, "not a module"));
    const std::wstring decremented = L"SharedDllCounter for '" + p + L"' has been decremented from 3 to 2";
    // type 0: no value before; after "": no value afterwards; line "": no counter line
    const struct { const char* label; std::wstring path; DWORD type; std::string before; HRESULT expected;
                   std::string after; std::wstring line; } rows[] = {
        {"count 3 goes to 2", p, REG_DWORD, Dword(3), S_OK, Dword(2), Line(L' ', decremented)},
        {"count 1 stays: the last use goes with the library", p, REG_DWORD, Dword(1), S_OK, Dword(1),
         Line(L'W', L"SharedDllCounter for '" + p + L"' is already at 1 and will not be decremented")},
        {"count kept as text", p, REG_SZ, Utf16(L"3"), S_OK, Utf16(L"2"), Line(L' ', decremented)},
        {"no count", p, 0, "", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "",
         Line(L'W', L"Failed to retrieve SharedDllCounter for '" + p + L"'")},
        {"count that is no number", p, REG_SZ, Utf16(L"many"), HRESULT_FROM_WIN32(ERROR_INVALID_DATA), Utf16(L"many"),
         Line(L'W', L"Failed to retrieve SharedDllCounter for '" + p + L"'")},
        {"data file in the system folder", data, 0, "", S_FALSE, "", L""},
        {"missing file", missing, 0, "", S_FALSE, "",
         Win32Line(L'W', L"Missing file to be un-shared: '" + missing + L"'", 2)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        DeleteSharedDllValuesContaining(m_tag);
        ASSERT_TRUE(!row.type || SetCount(Canonical(row.path), row.type, row.before));
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->UnShareFile(Bstr(row.path).Get())), Hex(row.expected));
        EXPECT_TRUE(row.line.empty() ? Lacks(log.Text(), L"SharedDllCounter") : LogHas(log.Text(), {row.line}));
        EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, Canonical(row.path)).data, row.after);
        EXPECT_EQ(FileExists(row.path), row.path != missing);
    }
}

TEST_F(KernelRestart, PreparePostRebootCopyFileCountsOnlyInPrimaryMode) {
    const std::wstring target = InSystem(), name = Canonical(target), source = m_temp / L"lib_v2.dll";
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), target.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v2.dll").c_str(), source.c_str(), FALSE));
    const std::wstring primary = L"Install Mode is primary -> Check if shared Dll Counter is necessarry";
    const std::wstring stem = target.substr(0, target.size() - 4);
    const struct { const char* label; ULONG mode; std::wstring source; HRESULT expected; DWORD count; } rows[] = {  // count 1 before
        {"primary", 1, source, S_OK, 2},
        {"repair", 2, source, S_OK, 1},
        {"scheduling failed: nothing counted", 1, m_temp / L"no such source.dll", HRESULT_FROM_WIN32(2), 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_TRUE(SetCount(name, REG_DWORD, Dword(1)));
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->PreparePostRebootCopyFile(Bstr(row.source).Get(), Bstr(target).Get(), row.mode)),
                  Hex(row.expected));
        EXPECT_EQ(DwordCount(name), row.count);
        EXPECT_TRUE(row.count != 2 ? Lacks(log.Text(), primary)
                                   : LogHas(log.Text(), {Line(L' ', L"File type: Dynamic link library file"), Line(L' ', primary, 3),
                                                         Line(L' ', L"SharedDllCounter for PostrebootInstallation of  " + target +
                                                                        L" has been set to 2")}));
        EXPECT_EQ(PendingStartingWith(stem).size(), SUCCEEDED(row.expected) ? 2u : 0u);
        ForgetPendingStartingWith(stem);
    }
}

TEST_F(KernelRestart, AppPathsByInstallMode) {
    const struct { ULONG mode; const wchar_t *appPaths, *pathTail; } rows[] = {  // null tail: nothing written
        {1, nullptr, L""}, {2, L"C:\\Shared;D:\\Bin", L";C:\\Shared;D:\\Bin"}, {4, L"", L""},
        {0, L"C:\\X", nullptr}, {3, nullptr, nullptr}, {5, nullptr, nullptr}, {6, nullptr, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        const std::wstring target = Program(), key = AppKey(m_programs.back());
        LogCursor log;
        EXPECT_EQ(Hex(Install(L"app_v1.exe", target, row.mode, 0, row.appPaths)), Hex(S_OK));
        std::wstring program = L"<none>", searchPath = L"<none>";
        ReadString(HKEY_LOCAL_MACHINE, key, nullptr, &program);
        ReadString(HKEY_LOCAL_MACHINE, key, L"Path", &searchPath);
        EXPECT_EQ(Narrow(program), Narrow(row.pathTail ? target : L"<none>"));
        EXPECT_EQ(Narrow(searchPath), Narrow(row.pathTail ? m_temp.Path() + row.pathTail : L"<none>"));
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', row.pathTail ? L"AppPath registration succeeded" : L"No App Paths registration necessary")}));
    }
}

TEST_F(KernelRestart, AppPathsOfAKeptNewerProgramAndItsRemoval) {
    const std::wstring target = Program(), key = AppKey(m_programs.back());
    ASSERT_TRUE(CopyFileW(Fixture(L"app_v2.exe").c_str(), target.c_str(), FALSE));
    EXPECT_EQ(Hex(Install(L"app_v1.exe", target, 1)), Hex(S_FALSE));  // the newer one stays
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, nullptr, nullptr));
    for (bool keyThere : {true, false}) {  // the entry there, then already gone
        ASSERT_TRUE(CopyFileW(Fixture(L"app_v2.exe").c_str(), target.c_str(), FALSE));
        if (!keyThere) SHDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        LogCursor log;
        EXPECT_EQ(Hex(UnInstall(target)), Hex(S_OK));
        EXPECT_FALSE(FileExists(target) || KeyExists(HKEY_LOCAL_MACHINE, key));
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"AppPath unregistration succeeded")}));
    }
}

// Libraries in the system folder and in the common files folder are counted.
TEST_F(KernelRestart, SharedFolderLibraryIsRemovedByItsLastUser) {
    for (const std::wstring& folder : {SystemDir(), Env(L"CommonProgramFiles")}) {
        SCOPED_TRACE(Narrow(folder));
        const std::wstring target = InSystem(L".dll", folder), name = Canonical(target);
        for (int user = 1; user <= 2; ++user) {
            LogCursor log;
            EXPECT_TRUE(SUCCEEDED(Install(L"lib_v1.dll", target, 1)));
            EXPECT_EQ(DwordCount(name), user);
            EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"SharedDllCounter for '" + target + L"' has been set to " +
                                                             std::to_wstring(user))}));
        }
        LogCursor log;
        EXPECT_EQ(Hex(UnInstall(target)), Hex(S_FALSE));
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"SharedDllCounter for " + target +
                                                         L" has been set to 1. File is still being used by other "
                                                         L"applications and will not be uninstalled")}));
        EXPECT_TRUE(FileExists(target));
        EXPECT_EQ(DwordCount(name), 1);
        EXPECT_EQ(Hex(UnInstall(target)), Hex(S_OK));
        EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Dll " + target + L" is no longer used by any other application: "
                                                                        L"SharedDllCounter has been removed")}));
        EXPECT_FALSE(FileExists(target));
        EXPECT_EQ(DwordCount(name), -1);
    }
    // A count that is no number: said, and the library goes all the same.
    const std::wstring target = InSystem();
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), target.c_str(), FALSE));
    ASSERT_TRUE(SetCount(Canonical(target), REG_SZ, Utf16(L"many")));
    LogCursor log;
    EXPECT_EQ(Hex(UnInstall(target)), Hex(S_OK));
    EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'W', L"Unable to decrement SharedDllCounter. Continueing uninstall",
                                                ERROR_INVALID_DATA)}));
    EXPECT_FALSE(FileExists(target));
}

TEST_F(KernelRestart, InstallsThatAreNotCounted) {
    const std::wstring subfolder = InSystem(L"");
    ASSERT_TRUE(CreateDirectoryW(subfolder.c_str(), nullptr));
    const struct { const char* label; std::wstring target; ULONG flags; } rows[] = {
        {"force flag", InSystem(), 1},
        {"subfolder of the system folder", subfolder + L"\\lib.dll", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCursor log;
        EXPECT_EQ(Hex(Install(L"lib_v1.dll", row.target, 1, row.flags)), Hex(S_OK));
        EXPECT_TRUE(FileExists(row.target));
        EXPECT_EQ(DwordCount(Canonical(row.target)), -1);
        EXPECT_TRUE(row.flags ? LogHas(log.Text(), {Line(L' ', L"Force flag is set: Skipping SharedDllCounter")})
                              : Lacks(log.Text(), L"SharedDllCounter"));
    }
}

TEST_F(KernelRestart, CountUnderAnotherNameFormIsUpdatedUnderItsOwnName) {
    const std::wstring target = InSystem();
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), target.c_str(), FALSE));
    std::wstring lowered = target;
    CharLowerBuffW(lowered.data(), DWORD(lowered.size()));
    ASSERT_TRUE(SetCount(lowered, REG_DWORD, Dword(2)));
    EXPECT_TRUE(SUCCEEDED(Install(L"lib_v1.dll", target, 1)));
    EXPECT_EQ(SharedDllValuesContaining(PathFindFileNameW(target.c_str())).size(), 1u);
    EXPECT_EQ(DwordCount(lowered), 3);
}

TEST_F(KernelRestart, ProcessesAndThreadsCountThroughTheKernel) {
    const std::wstring target = InSystem(), name = Canonical(target);
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), target.c_str(), FALSE));
    ASSERT_TRUE(SetCount(name, REG_DWORD, Dword(1)));
    constexpr int kProcesses = 2, kThreads = 4, kRounds = 40;
    for (LONG delta : {1, -1}) {
        SCOPED_TRACE(delta > 0 ? "InstallFile everywhere" : "UnShareFile everywhere");
        const std::wstring command = L"\"" + Join(SelfDir(), L"restart_counter.exe") + L"\" count \"" + target + L"\" " +
                                     std::to_wstring(kThreads) + L" " + std::to_wstring(kRounds) + L" " + std::to_wstring(delta);
        for (const ProcessResult& run : RunTogether(std::vector<std::wstring>(kProcesses, command), 180000))
            EXPECT_EQ(run.exitCode, 0u) << "failed calls";
        EXPECT_EQ(DwordCount(name), delta > 0 ? 1 + kProcesses * kThreads * kRounds : 1);
    }
}

TEST_F(KernelRestart, PostRebootRegisterRefusesFilesThatAreNoServers) {
    const std::wstring data = m_temp / L"data.txt";
    ASSERT_TRUE(WriteBytes(data, "not a module"));
    const struct { std::wstring path, type; } rows[] = {{data, L"Data file"}, {Fixture(L"lib_v1.dll"), L"Dynamic link library file"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.type));
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->PostRebootRegister(Bstr(row.path).Get())), Hex(HRESULT_FROM_WIN32(ERROR_INVALID_MODULETYPE)));
        EXPECT_NE(log.Text().find(L"E Invalid module tpye: " + row.type), std::wstring::npos) << Narrow(log.Text());
    }
    EXPECT_EQ(m_kernel->PostRebootRegister(nullptr), E_POINTER);
}
