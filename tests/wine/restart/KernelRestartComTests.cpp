// The kernel DLL through COM: UnShareFile, the restart methods, and the
// App Paths and SharedDLLs work of InstallFile and UnInstallFile for
// programs and libraries.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RestartKernel.h"
#include "RestartTest.h"

using namespace orv::test;
using namespace orv::test::restart;

namespace {

std::wstring Fixture(const std::wstring& name) { return Join(FixturesDir(), L"restart\\" + name); }

std::wstring Canonical(const std::wstring& path) {
    // What the kernel names a new SharedDLLs value: full, long, upper case.
    WCHAR full[MAX_PATH], longer[MAX_PATH];
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    std::wstring text = GetLongPathNameW(full, longer, MAX_PATH) ? longer : full;
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Files, SharedDLLs values, App Paths entries and pending renames of one
// test; all gone afterwards.
class KernelRestart : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created"; }
    void TearDown() override {
        EXPECT_TRUE(ForgetPendingRenamesBelow(m_temp.Path()));
        for (const std::wstring& stem : m_systemStems) {
            EXPECT_TRUE(ForgetPendingRenamesStartingWith(stem));
            DeleteFileW((stem + L".dll").c_str());
            DeleteFileW((stem + L"_orvtmp.dll").c_str());
            RemoveTree(stem);
        }
        for (const std::wstring& name : SharedDllValuesContaining(m_tag))
            SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
        for (const std::wstring& name : m_programs)
            SHDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kAppPathsKey) + L"\\" + name).c_str());
    }
    // A library path directly in the system folder, unique to this test.
    std::wstring SystemLibrary() {
        m_systemStems.push_back(Join(SystemDir(), UniqueName(m_tag, L"")));
        return m_systemStems.back() + L".dll";
    }
    // A folder below the system folder, unique to this test.
    std::wstring SystemSubfolder() {
        m_systemStems.push_back(Join(SystemDir(), UniqueName(m_tag, L"")));
        CreateDirectoryW(m_systemStems.back().c_str(), nullptr);
        return m_systemStems.back();
    }
    std::wstring Program() {
        m_programs.push_back(UniqueName(m_tag, L".exe"));
        return m_temp / m_programs.back();
    }
    std::wstring Path(const std::wstring& name) const { return m_temp / name; }
    static bool CopyIn(const std::wstring& fixture, const std::wstring& to) {
        return CopyFileW(Fixture(fixture).c_str(), to.c_str(), FALSE) != FALSE;
    }

    LoadedKernel m_kernel;
    TempDir m_temp;
    std::wstring m_tag = UniqueName(L"orvrst", L"");
    std::vector<std::wstring> m_systemStems, m_programs;
};

}  // namespace

TEST_F(KernelRestart, UnShareFile) {
    const std::wstring library = SystemLibrary();
    ASSERT_TRUE(CopyIn(L"lib_v1.dll", library));
    const std::wstring data = SystemLibrary();
    ASSERT_TRUE(Write(data, "not a module"));
    const std::wstring outside = Path(L"private.dll");
    ASSERT_TRUE(CopyIn(L"lib_v1.dll", outside));
    const std::wstring missing = Path(L"missing.dll");
    struct Row {
        const char* label;
        const wchar_t* path;  // null: a null BSTR
        DWORD presetType;     // 0: no value
        std::string preset;
        HRESULT expected;
        std::string after;  // "": no value
        std::vector<std::wstring> lines;
    };
    const std::wstring p = library;
    const std::vector<Row> rows = {
        {"count 3 goes to 2",
         p.c_str(),
         REG_DWORD,
         Dword(3),
         S_OK,
         Dword(2),
         {Line(L' ', L"SharedDllCounter for '" + p + L"' will be decremented", 3),
          Line(L' ', L"SharedDllCounter for '" + p + L"' has been decremented from 3 to 2")}},
        {"count 1 stays: the last use goes with the library",
         p.c_str(),
         REG_DWORD,
         Dword(1),
         S_OK,
         Dword(1),
         {Line(L'W', L"SharedDllCounter for '" + p + L"' is already at 1 and will not be decremented")}},
        {"count kept as text",
         p.c_str(),
         REG_SZ,
         Utf16(L"3"),
         S_OK,
         Utf16(L"2"),
         {Line(L' ', L"SharedDllCounter for '" + p + L"' has been decremented from 3 to 2")}},
        {"no count",
         p.c_str(),
         0,
         "",
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         "",
         {Line(L'W', L"Failed to retrieve SharedDllCounter for '" + p + L"'")}},
        {"library outside the shared folders", outside.c_str(), 0, "", S_FALSE, "", {}},
        {"data file in the system folder", data.c_str(), 0, "", S_FALSE, "", {}},
        {"missing file",
         missing.c_str(),
         0,
         "",
         S_FALSE,
         "",
         {Win32Line(L'W', L"Missing file to be un-shared: '" + missing + L"'", 2)}},
        {"null path", nullptr, 0, "", S_FALSE, "", {Win32Line(L'W', L"Missing file to be un-shared: ''", 2)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring name = Canonical(row.path ? row.path : L"");
        SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
        if (row.presetType) {
            ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, row.presetType, row.preset));
        }
        LogCursor log;
        Bstr path(row.path ? row.path : L"");
        EXPECT_EQ(Hex(m_kernel->UnShareFile(row.path ? path.Get() : nullptr)), Hex(row.expected));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), row.lines));
        if (row.lines.empty()) {
            EXPECT_TRUE(Lacks(log.Text(), L"SharedDllCounter"));
        }
        const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
        EXPECT_EQ(value.exists, !row.after.empty());
        if (value.exists) {
            EXPECT_EQ(value.data, row.after);
        }
        if (row.path && row.path != missing) {
            EXPECT_TRUE(FileExists(row.path));  // never deleted here
        }
    }
}

TEST_F(KernelRestart, PreparePostRebootCopyFileCountsOnlyInPrimaryMode) {
    const std::wstring target = SystemLibrary(), name = Canonical(target);
    ASSERT_TRUE(CopyIn(L"lib_v1.dll", target));
    const std::wstring source = Path(L"lib_v2.dll");
    ASSERT_TRUE(CopyIn(L"lib_v2.dll", source));
    const std::wstring primaryLine = L"Install Mode is primary -> Check if shared Dll Counter is necessarry";
    struct Row {
        const char* label;
        ULONG mode;
        std::wstring source;
        bool denyCount;
        HRESULT expected;
        DWORD count;  // preset 1
        std::vector<std::wstring> lines;
    } rows[] = {
        {"primary",
         1,
         source,
         false,
         S_OK,
         2,
         {Line(L' ', L"Attempting to prepare post reboot file installation: " + source + L" --> " + target),
          Line(L' ', L"File type: Dynamic link library file"), Line(L' ', primaryLine, 3),
          Line(L' ', L"SharedDllCounter for PostrebootInstallation of  " + target + L" has been set to 2")}},
        {"undefined mode", 0, source, false, S_OK, 1, {}},
        {"repair", 2, source, false, S_OK, 1, {}},
        {"update", 4, source, false, S_OK, 1, {}},
        {"scheduling failed: nothing counted",
         1,
         Path(L"no such source.dll"),
         false,
         HRESULT_FROM_WIN32(2),
         1,
         {Win32Line(L'E', L"Error creating temporary copy of source file.", 2)}},
        {"count that cannot be written: the scheduling's result",
         1,
         source,
         true,
         S_OK,
         1,
         {Line(L'W', L"SharedDllCounter for PostrebootInstallation of " + target + L" could not be incremented")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, REG_DWORD, Dword(1)));
        LogCursor log;
        Bstr sourceB(row.source), targetB(target);
        HRESULT hr;
        {
            std::unique_ptr<DeniedKey> denied;
            if (row.denyCount) denied.reset(new DeniedKey(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ));
            hr = m_kernel->PreparePostRebootCopyFile(sourceB.Get(), targetB.Get(), row.mode);
        }
        EXPECT_EQ(Hex(hr), Hex(row.expected));
        EXPECT_EQ(DwordCount(name), row.count);
        EXPECT_TRUE(HasLinesInOrder(log.Text(), row.lines));
        if (row.mode != 1 || FAILED(row.expected)) {
            EXPECT_TRUE(Lacks(log.Text(), primaryLine));
        }
        const size_t entries = PendingRenamesStartingWith(target.substr(0, target.size() - 4)).size();
        EXPECT_EQ(entries, SUCCEEDED(row.expected) ? 2u : 0u);
        ForgetPendingRenamesStartingWith(target.substr(0, target.size() - 4));
    }

    // A data file in the system folder is scheduled, never counted.
    const std::wstring dataTarget = SystemLibrary();
    ASSERT_TRUE(Write(dataTarget, "data"));
    ASSERT_TRUE(Write(Path(L"data.new"), "new data"));
    Bstr sourceB(Path(L"data.new")), targetB(dataTarget);
    LogCursor log;
    EXPECT_EQ(m_kernel->PreparePostRebootCopyFile(sourceB.Get(), targetB.Get(), 1), S_OK);
    EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"File type: Data file")}));
    EXPECT_TRUE(Lacks(log.Text(), L"SharedDllCounter"));
    EXPECT_EQ(DwordCount(Canonical(dataTarget)), -1);
}

TEST_F(KernelRestart, PreparePostRebootDeleteFileForEveryKindOfFile) {
    struct Row {
        const char* label;
        const wchar_t* fixture;  // null: a data file
        const wchar_t* name;
        const wchar_t* type;
    } rows[] = {
        {"data file", nullptr, L"notes.txt", L"Data file"},
        {"program", L"app_v1.exe", L"app.exe", L"Executable file"},
        {"library", L"lib_v1.dll", L"lib.dll", L"Dynamic link library file"},
        {"COM server library", L"server.dll", L"server.dll", L"InProc COM server file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = Path(row.name);
        ASSERT_TRUE(row.fixture ? CopyIn(row.fixture, path) : Write(path, "x"));
        // In use the way a loaded module is: others may still read it, so
        // its kind can be told. (Held with no sharing at all, it would be
        // taken for a data file: its content cannot be read.)
        HeldOpen inUse(path, FILE_SHARE_READ);
        ASSERT_TRUE(inUse.Holding());
        LogCursor log;
        Bstr pathB(path);
        EXPECT_EQ(Hex(m_kernel->PreparePostRebootDeleteFile(pathB.Get())), Hex(S_OK));
        EXPECT_TRUE(
            HasLinesInOrder(log.Text(), {Line(L' ', L"Attempting to prepare post reboot file uninstallation: " + path),
                                         Line(L' ', std::wstring(L"File type: ") + row.type),
                                         Line(L' ', L"Running on an NT system: Use MoveFileEx"),
                                         Line(L' ', L"Post reboot installation initiated successfully")}));
        const std::vector<PendingRename> pending = PendingRenamesStartingWith(path);
        ASSERT_EQ(pending.size(), 1u);
        EXPECT_TRUE(pending[0].to.empty());
    }
}

TEST_F(KernelRestart, PostRebootRegisterRefusesFilesThatAreNoServers) {
    struct Row {
        const char* label;
        const wchar_t* fixture;
        const wchar_t* name;
        const wchar_t* type;
    } rows[] = {
        {"data file", nullptr, L"notes.txt", L"Data file"},
        {"missing file", nullptr, nullptr, L"Data file"},
        {"program", L"app_v1.exe", L"app.exe", L"Executable file"},
        {"library", L"lib_v1.dll", L"lib.dll", L"Dynamic link library file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = Path(row.name ? row.name : L"missing.bin");
        if (row.name) {
            ASSERT_TRUE(row.fixture ? CopyIn(row.fixture, path) : Write(path, "x"));
        }
        LogCursor log;
        Bstr pathB(path);
        EXPECT_EQ(Hex(m_kernel->PostRebootRegister(pathB.Get())), Hex(HRESULT_FROM_WIN32(ERROR_INVALID_MODULETYPE)));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"Post Reboot Step: Attempting registration of " + path),
                                                 Line(L' ', std::wstring(L"File type: ") + row.type),
                                                 Win32Line(L'E', std::wstring(L"Invalid module tpye: ") + row.type,
                                                           ERROR_INVALID_MODULETYPE)}));
    }
}

TEST_F(KernelRestart, NullArguments) {
    Bstr path(Path(L"x.dll"));
    struct Row {
        const char* method;
        std::function<HRESULT()> call;
    } rows[] = {
        {"PostRebootRegister", [&] { return m_kernel->PostRebootRegister(nullptr); }},
        {"PreparePostRebootCopyFile", [&] { return m_kernel->PreparePostRebootCopyFile(nullptr, path.Get(), 1); }},
        {"PreparePostRebootCopyFile", [&] { return m_kernel->PreparePostRebootCopyFile(path.Get(), nullptr, 1); }},
        {"PreparePostRebootDeleteFile", [&] { return m_kernel->PreparePostRebootDeleteFile(nullptr); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.method);
        LogCursor log;
        EXPECT_EQ(row.call(), E_POINTER);
        EXPECT_TRUE(HasLinesInOrder(
            log.Text(),
            {Win32Line(L'E', std::wstring(Widen(row.method)) + L"(): Invalid parameter ( NULL pointer )", 0x4003)}));
    }
}

// ---------------------------------------------------------------------------
// App Paths of programs, through InstallFile and UnInstallFile

TEST_F(KernelRestart, AppPathsByInstallMode) {
    struct Row {
        const char* label;
        ULONG mode;
        const wchar_t* appPaths;
        bool written;
        const wchar_t* pathTail;
    } rows[] = {
        {"primary", 1, nullptr, true, L""},
        {"repair, with search path", 2, L"C:\\Shared;D:\\Bin", true, L";C:\\Shared;D:\\Bin"},
        {"update, empty search path", 4, L"", true, L""},
        {"undefined", 0, L"C:\\X", false, nullptr},
        {"patch", 3, nullptr, false, nullptr},
        {"uninstall mode", 5, nullptr, false, nullptr},
        {"check", 6, nullptr, false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring target = Program(), name = m_programs.back();
        InstallRecord install(Fixture(L"app_v1.exe"), target, row.mode, 0, row.appPaths);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->InstallFile(install.Get())), Hex(S_OK));
        const std::wstring key = std::wstring(kAppPathsKey) + L"\\" + name;
        std::wstring program, searchPath;
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, nullptr, &program), row.written);
        if (row.written) {
            EXPECT_EQ(Narrow(program), Narrow(target));
            ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, L"Path", &searchPath));
            EXPECT_EQ(Narrow(searchPath), Narrow(m_temp.Path() + row.pathTail));
            EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"AppPath registration succeeded")}));
        } else {
            EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"No App Paths registration necessary")}));
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
        }
    }
}

TEST_F(KernelRestart, AppPathsOfAKeptNewerProgramAndItsRemoval) {
    const std::wstring target = Program(), name = m_programs.back();
    const std::wstring key = std::wstring(kAppPathsKey) + L"\\" + name;
    ASSERT_TRUE(CopyIn(L"app_v2.exe", target));
    {
        InstallRecord install(Fixture(L"app_v1.exe"), target, 1);
        EXPECT_EQ(Hex(m_kernel->InstallFile(install.Get())), Hex(S_FALSE));  // the newer one stays
    }
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, nullptr, nullptr));

    struct Row {
        const char* label;
        bool keyThere;
    } rows[] = {{"entry there", true}, {"entry already gone", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_TRUE(CopyIn(L"app_v2.exe", target));
        if (!row.keyThere) SHDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        InstallRecord uninstall(Path(L"source.exe"), target, 1);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->UnInstallFile(uninstall.Get())), Hex(S_OK));
        EXPECT_FALSE(FileExists(target));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"Performing AppPath unregistration"),
                                                 Line(L' ', L"AppPath unregistration succeeded")}));
    }
}

TEST_F(KernelRestart, AppPathsThatCannotBeWritten) {
    const std::wstring target = Program(), name = m_programs.back();
    const std::wstring key = std::wstring(kAppPathsKey) + L"\\" + name;
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, key, L"", REG_SZ, Utf16(L"before")));
    DeniedKey denied(HKEY_LOCAL_MACHINE, key);
    ASSERT_TRUE(denied.Denied());
    {
        InstallRecord install(Fixture(L"app_v1.exe"), target, 1);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->InstallFile(install.Get())), Hex(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"AppPath registration failed", 5)}));
        EXPECT_TRUE(FileExists(target));  // the program itself is in place
    }
    {
        InstallRecord uninstall(Path(L"source.exe"), target, 1);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->UnInstallFile(uninstall.Get())), Hex(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Win32Line(L'E', L"AppPath unregistration failed", 5)}));
    }
}

// ---------------------------------------------------------------------------
// SharedDLLs counts of libraries, through InstallFile and UnInstallFile

TEST_F(KernelRestart, SystemFolderLibraryIsRemovedByItsLastUser) {
    const std::wstring target = SystemLibrary(), name = Canonical(target);
    for (int user = 1; user <= 2; ++user) {
        SCOPED_TRACE(user);
        InstallRecord install(Fixture(L"lib_v1.dll"), target, 1);
        LogCursor log;
        EXPECT_TRUE(SUCCEEDED(m_kernel->InstallFile(install.Get())));
        EXPECT_EQ(DwordCount(name), user);
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"SharedDllCounter for '" + target + L"' has been set to " +
                                                                std::to_wstring(user))}));
    }
    {
        InstallRecord uninstall(Fixture(L"lib_v1.dll"), target, 1);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->UnInstallFile(uninstall.Get())), Hex(S_FALSE));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"SharedDllCounter for " + target +
                                                                L" has been set to 1. File is still being used by "
                                                                L"other applications and will not be uninstalled")}));
        EXPECT_TRUE(FileExists(target));
        EXPECT_EQ(DwordCount(name), 1);
    }
    {
        InstallRecord uninstall(Fixture(L"lib_v1.dll"), target, 1);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->UnInstallFile(uninstall.Get())), Hex(S_OK));
        EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', L"Dll " + target +
                                                                L" is no longer used by any other application: "
                                                                L"SharedDllCounter has been removed")}));
        EXPECT_FALSE(FileExists(target));
        EXPECT_EQ(DwordCount(name), -1);
    }
}

TEST_F(KernelRestart, InstallsThatAreNotCounted) {
    const std::wstring subfolder = SystemSubfolder();
    struct Row {
        const char* label;
        std::wstring target;
        ULONG mode, flags;
        const wchar_t* line;  // null: no counter line at all
    } rows[] = {
        {"force flag", SystemLibrary(), 1, 1, L"Force flag is set: Skipping SharedDllCounter"},
        {"repair mode", SystemLibrary(), 2, 0, nullptr},
        {"update mode", SystemLibrary(), 4, 0, nullptr},
        {"subfolder of the system folder", subfolder + L"\\" + UniqueName(m_tag, L".dll"), 1, 0, nullptr},
        {"private folder", Path(L"private.dll"), 1, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        InstallRecord install(Fixture(L"lib_v1.dll"), row.target, row.mode, row.flags);
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->InstallFile(install.Get())), Hex(S_OK));
        EXPECT_TRUE(FileExists(row.target));
        EXPECT_EQ(DwordCount(Canonical(row.target)), -1);
        if (row.line)
            EXPECT_TRUE(HasLinesInOrder(log.Text(), {Line(L' ', row.line)}));
        else
            EXPECT_TRUE(Lacks(log.Text(), L"SharedDllCounter"));
    }
}

TEST_F(KernelRestart, CountUnderAnotherNameFormAndCountsThatCannotBeChanged) {
    const std::wstring target = SystemLibrary();
    ASSERT_TRUE(CopyIn(L"lib_v1.dll", target));
    std::wstring lowered = target;
    CharLowerBuffW(lowered.data(), static_cast<DWORD>(lowered.size()));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, lowered, REG_DWORD, Dword(2)));
    {
        InstallRecord install(Fixture(L"lib_v1.dll"), target, 1);
        EXPECT_TRUE(SUCCEEDED(m_kernel->InstallFile(install.Get())));
        EXPECT_EQ(SharedDllValuesContaining(PathFindFileNameW(target.c_str())).size(), 1u);
        EXPECT_EQ(DwordCount(lowered), 3);
    }
    {
        DeniedKey denied(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ);
        ASSERT_TRUE(denied.Denied());
        InstallRecord install(Fixture(L"lib_v1.dll"), target, 1);
        LogCursor log;
        EXPECT_TRUE(SUCCEEDED(m_kernel->InstallFile(install.Get())));  // the count never changes the result
        EXPECT_TRUE(HasLinesInOrder(log.Text(),
                                    {Line(L'W', L"SharedDllCounter for '" + target + L"' could not be incremented")}));

        InstallRecord uninstall(Fixture(L"lib_v1.dll"), target, 1);
        LogCursor log2;
        EXPECT_EQ(Hex(m_kernel->UnInstallFile(uninstall.Get())), Hex(S_OK));
        EXPECT_TRUE(HasLinesInOrder(
            log2.Text(), {Win32Line(L'W', L"Unable to decrement SharedDllCounter. Continueing uninstall", 5)}));
        EXPECT_FALSE(FileExists(target));
    }
    EXPECT_EQ(DwordCount(lowered), 3);
}

TEST_F(KernelRestart, ProcessesAndThreadsCountThroughTheKernel) {
    const std::wstring target = SystemLibrary(), name = Canonical(target);
    ASSERT_TRUE(CopyIn(L"lib_v1.dll", target));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, REG_DWORD, Dword(1)));
    constexpr int kProcesses = 2, kThreads = 4, kRounds = 40;
    const std::wstring helper = Join(SelfDir(), L"restart_counter.exe");
    for (LONG delta : {1, -1}) {
        SCOPED_TRACE(delta > 0 ? "InstallFile everywhere" : "UnShareFile everywhere");
        std::vector<PROCESS_INFORMATION> started;
        for (int p = 0; p < kProcesses; ++p) {
            std::wstring command = L"\"" + helper + L"\" kernel \"" + target + L"\" " + std::to_wstring(kThreads) +
                                   L" " + std::to_wstring(kRounds) + L" " + std::to_wstring(delta);
            STARTUPINFOW si = {sizeof(si)};
            PROCESS_INFORMATION pi = {};
            ASSERT_TRUE(
                CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
            started.push_back(pi);
        }
        for (PROCESS_INFORMATION& pi : started) {
            EXPECT_EQ(WaitForSingleObject(pi.hProcess, 180000), WAIT_OBJECT_0);
            DWORD exitCode = 1;
            GetExitCodeProcess(pi.hProcess, &exitCode);
            EXPECT_EQ(exitCode, 0u);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        EXPECT_EQ(DwordCount(name), delta > 0 ? 1 + kProcesses * kThreads * kRounds : 1);
    }
}
