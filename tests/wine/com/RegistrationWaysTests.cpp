// The ways to register a COM server, on the file objects of the kernel's
// static library: each way registers a server that COM can then create and
// unregisters it; their failures; where a registration is found; the
// dependency check on fixture modules.
#include <atomic>
#include <functional>
#include <thread>

#include "ComTest.h"
#include "com/DependencyCheck.h"
#include "files/FileModel.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::com;

namespace {

class ComWays : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    }
    void TearDown() override {
        WexStopLog(GetCurrentThreadId());
        ComTest::TearDown();
    }
};

UINT ErrorMode() {
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

}  // namespace

TEST_F(ComWays, EachWayRegistersACreatableServerAndUnregistersIt) {
    using Way = std::function<HRESULT(CWexKrCOMServerFile&, const std::wstring&, BOOL)>;
    const Way offline = [](CWexKrCOMServerFile& s, const std::wstring& p, BOOL reg) {
        return reg ? s.InstallOfflineRegistration(p.c_str()) : s.UnInstallOfflineRegistration(p.c_str());
    };
    const Way program = [](CWexKrCOMServerFile& s, const std::wstring& p, BOOL reg) {
        return s.RegisterOutOfProcess(p.c_str(), reg);
    };
    const Way regsvr32 = [](CWexKrCOMServerFile& s, const std::wstring& p, BOOL reg) {
        return s.RegisterWithRegsvr32(p.c_str(), reg);
    };
    const Way self = [](CWexKrCOMServerFile& s, const std::wstring& p, BOOL reg) { return s.SelfRegister(p.c_str(), reg); };
    const struct {
        const char* label;
        const wchar_t* fixture;
        const wchar_t* folder;
        Way way;
        const wchar_t* entry;  // the server's own entry that runs; null: none of its code runs
    } rows[] = {
        {"offline registration file", L"srv_v1.dll", L"", offline, nullptr},
        {"orvregsv.exe, a path with blanks", L"srv_v1.dll", L"with blanks", program, L"DllRegisterServer"},
        {"regsvr32.exe, a path with blanks", L"srv_v1.dll", L"with blanks", regsvr32, L"DllRegisterServer"},
        {"in-process self-registration", L"srv_v1.dll", L"", self, L"DllRegisterServer"},
        {"local server through orvregsv.exe", L"local_v1.exe", L"", program, L"RegServer"},
        {"local server registering itself", L"local_v1.exe", L"", self, L"RegServer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring server = Place(row.fixture, row.folder);
        const bool local = wcsstr(row.fixture, L".exe") != nullptr;
        const wchar_t* clsid = local ? kLocalClsid : kInProcClsid;
        const wchar_t* kind = local ? L"LocalServer32" : L"InProcServer32";
        if (!row.entry) {
            CreateDirectoryW(Join(SelfDir(), L"cor").c_str(), nullptr);
            ASSERT_TRUE(WriteBytes(CorBesideMe(server), InProcCor(server)));
        }
        CWexKrFile* file = CWexKrFile::CreateInstance(server.c_str());
        auto* com = dynamic_cast<CWexKrCOMServerFile*>(file);
        ASSERT_NE(com, nullptr);

        EXPECT_EQ(Hex(row.way(*com, server, TRUE)), Hex(S_OK));
        EXPECT_EQ(Narrow(RegisteredServer(clsid, kind)), Narrow(server));
        std::wstring registered;
        EXPECT_EQ(com->GetRegisteredServerPath(registered), S_OK);
        EXPECT_EQ(Narrow(registered), Narrow(server));
        long answer = 0;
        EXPECT_EQ(Hex(CreateAndAsk(clsid, local ? CLSCTX_LOCAL_SERVER : CLSCTX_INPROC_SERVER, &answer)), Hex(S_OK));
        EXPECT_EQ(answer, 1);
        const std::wstring kept = Join(KeptCorFolder(), PathFindFileNameW(CorBesideMe(server).c_str()));
        EXPECT_EQ(FileExists(kept), !row.entry);

        EXPECT_EQ(Hex(row.way(*com, server, FALSE)), Hex(S_OK));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ServerKey(clsid, kind)));
        EXPECT_EQ(Hex(CreateAndAsk(clsid, CLSCTX_ALL, &answer)), Hex(REGDB_E_CLASSNOTREG));
        EXPECT_FALSE(FileExists(kept));
        EXPECT_EQ(Marks(server, local ? L"RegServer" : L"DllRegisterServer"), row.entry ? 1u : 0u);
        file->Destroy();
    }
}

TEST_F(ComWays, InProcessSelfRegistrationFailuresAndFaults) {
    const struct {
        const char* label;
        const wchar_t* fixture;  // null: a file that does not exist
        BOOL reg;
        HRESULT expected;
        const wchar_t* line;  // expected error line, or null
    } rows[] = {
        {"no DllUnregisterServer", L"srv_nounreg.dll", FALSE, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr},
        {"the entry point's own failure", L"srv_fail.dll", TRUE, kSelfRegClass, nullptr},
        {"an imported library is missing", L"srv_needgone.dll", TRUE, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), nullptr},
        {"no such file", nullptr, TRUE, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), nullptr},
        {"access violation", L"srv_av.dll", TRUE, E_UNEXPECTED, L"Exception 0xC0000005 raised while loading "},
        {"division by zero", L"srv_div.dll", TRUE, E_UNEXPECTED, L"Exception 0xC0000094 raised while loading "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring server = row.fixture ? Place(row.fixture) : m_temp / L"missing.dll";
        CWexKrInProcServerFile file(server.c_str());
        SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT);
        LogCursor log;
        EXPECT_EQ(Hex(file.SelfRegister(server.c_str(), row.reg)), Hex(row.expected));
        EXPECT_EQ(ErrorMode(), UINT(SEM_NOALIGNMENTFAULTEXCEPT));
        SetErrorMode(0);
        EXPECT_EQ(GetModuleHandleW(server.c_str()), nullptr) << "the library was not freed";
        if (row.line) {
            EXPECT_TRUE(HasLines(log.Text(), {Line(L'E', row.line + server)}));
        }
        if (row.expected == E_UNEXPECTED) {
            EXPECT_EQ(Marks(server, L"DllRegisterServer"), 1u);
        }
    }
}

TEST_F(ComWays, RegisteredServerIsFoundByItsFileName) {
    const std::wstring server = Place(L"srv_v1.dll"), elsewhere = m_temp / L"other\\" + PathFindFileNameW(server.c_str());
    const std::wstring noTypeLib = m_temp / L"regsrv.dll", local = Place(L"local_v1.exe");
    ASSERT_TRUE(CopyFileW(Join(FixturesDir(), L"files\\regsrv.dll").c_str(), noTypeLib.c_str(), FALSE));
    const struct {
        const char* label;
        std::wstring file, registered;  // registered "": no registration
        const wchar_t* kind;
        HRESULT expected;
    } rows[] = {
        {"not registered", server, L"", L"InProcServer32", S_FALSE},
        {"registered here", server, server, L"InProcServer32", S_OK},
        {"the same file name in another folder", server, elsewhere, L"InProcServer32", S_OK},
        {"another file name", server, m_temp / L"other.dll", L"InProcServer32", S_FALSE},
        {"registered, but no type library to find it by", noTypeLib, noTypeLib, L"InProcServer32", S_FALSE},
        {"a local server", local, local, L"LocalServer32", S_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Clean();
        const wchar_t* clsid = wcscmp(row.kind, L"LocalServer32") ? kInProcClsid : kLocalClsid;
        ASSERT_TRUE(row.registered.empty() ||
                    SetValue(HKEY_CLASSES_ROOT, ServerKey(clsid, row.kind), L"", REG_SZ, Utf16(row.registered)));
        CWexKrFile* file = CWexKrFile::CreateInstance(row.file.c_str());
        auto* com = dynamic_cast<CWexKrCOMServerFile*>(file);
        ASSERT_NE(com, nullptr);
        std::wstring found = L"untouched";
        EXPECT_EQ(com->GetRegisteredServerPath(found), row.expected);
        EXPECT_EQ(Narrow(found), Narrow(row.expected == S_OK ? row.registered : L"untouched"));
        file->Destroy();
    }
}

TEST_F(ComWays, RegistrationProgramsCommandLinesAndFailures) {
    const std::wstring blanks = Place(L"srv_v1.dll", L"with blanks"), failing = Place(L"srv_fail.dll");
    const std::wstring noUnregister = Place(L"srv_nounreg.dll");
    const std::wstring regsvr32 = SystemDir() + L"\\regsvr32.exe ";
    const struct {
        const char* label;
        bool program;  // orvregsv.exe, else regsvr32.exe
        std::wstring server;
        BOOL reg;
        HRESULT expected;
        std::wstring line;
    } rows[] = {
        {"orvregsv.exe: the path as it is", true, blanks, TRUE, S_OK, L"CreateProcess on: 'orvregsv.exe " + blanks + L" /s /w'"},
        {"orvregsv.exe: unregistering", true, blanks, FALSE, S_OK, L"CreateProcess on: 'orvregsv.exe " + blanks + L" /u /s /w'"},
        {"orvregsv.exe: the entry point's failure", true, failing, TRUE, kSelfRegClass, L"CreateProcess on: 'orvregsv"},
        {"orvregsv.exe: no entry point", true, noUnregister, FALSE, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), L"CreateProcess on: 'orvregsv"},
        {"regsvr32.exe: the path quoted", false, blanks, TRUE, S_OK, L"CreateProcess on '" + regsvr32 + L"\"" + blanks + L"\" /s'"},
        {"regsvr32.exe: both switch strings", false, blanks, FALSE, S_OK, L"CreateProcess on '" + regsvr32 + L"\"" + blanks + L"\" /s /u /s'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        CWexKrInProcServerFile file(row.server.c_str());
        LogCursor log;
        EXPECT_EQ(Hex(row.program ? file.RegisterOutOfProcess(row.server.c_str(), row.reg)
                                  : file.RegisterWithRegsvr32(row.server.c_str(), row.reg)),
                  Hex(row.expected));
        EXPECT_TRUE(HasLines(log.Text(), {Line(L' ', row.line)}));
        // The product beside the DLLs, reached through PATH: nothing is beside this test.
        const std::wstring program = Line(L' ', L"Registration program: '" + BinDir() + L"\\orvregsv.exe'");
        EXPECT_TRUE(row.program ? HasLines(log.Text(), {program}) : Lacks(log.Text(), L"Registration program"));
        EXPECT_EQ(RegisteredServer(kInProcClsid).empty(), !(row.reg && row.expected == S_OK));
    }
}

// A program named orvregsv.exe in the current folder never runs.
TEST_F(ComWays, RegistrationProgramIsNeverTakenFromTheCurrentFolder) {
    const std::wstring planted = m_temp / L"planted", record = m_temp / L"planted.txt", server = Place(L"srv_v1.dll");
    CreateDirectoryW(planted.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Join(FixturesDir(), L"restart\\orvregsv.exe").c_str(), (planted + L"\\orvregsv.exe").c_str(), FALSE));
    SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", record.c_str());
    WCHAR current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    SetCurrentDirectoryW(planted.c_str());
    CWexKrInProcServerFile file(server.c_str());
    const HRESULT hr = file.RegisterOutOfProcess(server.c_str(), TRUE);
    SetCurrentDirectoryW(current);
    SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", nullptr);
    EXPECT_EQ(Hex(hr), Hex(S_OK));
    EXPECT_FALSE(FileExists(record)) << "the planted program ran";
    EXPECT_EQ(Narrow(RegisteredServer(kInProcClsid)), Narrow(server));
}

TEST_F(ComWays, OfflineRegistrationFile) {
    const std::wstring server = Place(L"srv_v1.dll"), bad = Place(L"srv_v1.dll"), none = Place(L"srv_v1.dll");
    CreateDirectoryW(Join(SelfDir(), L"cor").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(CorBesideMe(server), InProcCor(server)));
    ASSERT_TRUE(WriteBytes(CorBesideMe(bad), "REGEDIT4\r\n[HKEY_NOWHERE\\Orv]\r\n@=\"x\"\r\n"));
    const auto kept = [](const std::wstring& s) { return Join(KeptCorFolder(), PathFindFileNameW(CorBesideMe(s).c_str())); };
    CWexKrInProcServerFile file(server.c_str());
    const struct {
        const char* label;
        std::wstring server;
        bool install;
        HRESULT expected;
        bool keptAfter;
    } rows[] = {
        {"applied with the server's folder", server, true, S_OK, true},
        {"registry writes that fail still count", bad, true, S_OK, true},
        {"no file", none, true, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false},
        {"reversed from the kept copy", server, false, S_OK, false},
        {"no kept copy", none, false, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCursor log;
        EXPECT_EQ(Hex(row.install ? file.InstallOfflineRegistration(row.server.c_str())
                                  : file.UnInstallOfflineRegistration(row.server.c_str())),
                  Hex(row.expected));
        EXPECT_EQ(FileExists(kept(row.server)), row.keptAfter);
        if (row.server == server) {
            EXPECT_EQ(Narrow(RegisteredServer(kInProcClsid)), Narrow(row.install ? server : L""));
        }
        if (FAILED(row.expected)) {
            EXPECT_TRUE(Lacks(log.Text(), L"TqOrvWexKr"));
        }
    }
    EXPECT_EQ(Marks(server, L"DllRegisterServer") + Marks(server, L"DllUnregisterServer"), 0u);
}

// The search for imported libraries looks in the server's own folder without
// making it the current folder, which another thread would see.
TEST_F(ComWays, DependencyCheckOnFixtureModules) {
    const std::wstring gone = Place(L"srv_needgone.dll", L"gone"), part = Place(L"srv_needpart.dll", L"part");
    const std::wstring dep = Place(L"srv_needdep.dll", L"dep");
    PlaceAsIs(L"orvpart.dll", L"part");
    PlaceAsIs(L"orvdep.dll", L"dep");
    const std::wstring partLibrary = m_temp / L"part\\orvpart.dll";
    const struct {
        std::wstring server;
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
        std::vector<std::wstring> lines;
    } rows[] = {
        {gone, {L"orvgone.dll"}, {},
         {L"The module " + gone + L" could not be loaded due to unresolved module dependencies:", L"Module orvgone.dll is unresolved"}},
        {part, {}, {{{L"OrvPartMissing", partLibrary}, L"0.0.0.0"}},
         {L"The module " + part + L" could not be loaded due to unresolved exports:",
          L"Export OrvPartMissing <-- " + partLibrary + L" ( version 0.0.0.0 ) is unresolved"}},
        {dep, {}, {}, {}},
    };
    WCHAR before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    std::atomic<bool> done{false}, changed{false};
    std::thread watcher([&] {
        WCHAR now[MAX_PATH];
        while (!done) {
            GetCurrentDirectoryW(MAX_PATH, now);
            if (wcscmp(now, before) != 0) changed = true;
        }
    });
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.server));
        CWexKrInProcServerFile file(row.server.c_str());
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
        LogCursor log;
        EXPECT_EQ(file.CheckModuleDependencies(row.server.c_str(), modules, exports), row.lines.empty());
        EXPECT_EQ(modules, row.modules);
        EXPECT_EQ(exports.size(), row.exports.size());
        for (const auto& [key, version] : row.exports) {
            ASSERT_EQ(exports.count(key), 1u);
            EXPECT_EQ(Narrow(exports.at(key)), Narrow(version));
        }
        orv::com::ReportUnresolvedDependencies(row.server.c_str(), modules, exports);
        std::vector<std::wstring> lines;
        for (const std::wstring& text : row.lines) lines.push_back(Line(L'E', text));
        EXPECT_TRUE(lines.empty() ? Lacks(log.Text(), L"TqOrvWexKr") : HasLines(log.Text(), lines));
    }
    done = true;
    watcher.join();
    EXPECT_FALSE(changed) << "the current folder changed during the walk";
}
