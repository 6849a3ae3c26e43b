// The ways to register a COM server, on the file objects of the kernel's
// static library: each way registers a server that COM can then create, and
// unregisters it; failures; where a registration is found; offline files;
// the dependency check on fixture modules.
#include <atomic>
#include <thread>

#include "ComTest.h"
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

}  // namespace

// The log shows each way's command line: orvregsv.exe gets the path as it
// is, regsvr32.exe quoted, and both its switch strings when unregistering.
TEST_F(ComWays, EachWayRegistersACreatableServerAndUnregistersIt) {
    enum Way { kOffline, kProgram, kRegsvr32, kSelf };
    const auto run = [](Way way, CWexKrCOMServerFile& s, const std::wstring& p, BOOL reg) {
        switch (way) {
        case kOffline: return reg ? s.InstallOfflineRegistration(p.c_str()) : s.UnInstallOfflineRegistration(p.c_str());
        case kProgram: return s.RegisterOutOfProcess(p.c_str(), reg);
        case kRegsvr32: return s.RegisterWithRegsvr32(p.c_str(), reg);
        default: return s.SelfRegister(p.c_str(), reg);
        }
    };
    const std::wstring regsvr32 = L"CreateProcess on '" + SystemDir() + L"\\regsvr32.exe \"{T}\" /s";
    // entry: the server's own entry that runs (null: none of its code runs); "{T}" in the lines: the server.
    const struct { const char* label; const wchar_t* fixture; Way way; const wchar_t* entry; std::wstring registerLine, unregisterLine; } rows[] = {
        {"offline registration file", L"srv_v1.dll", kOffline, nullptr, L"", L""},
        {"orvregsv.exe", L"srv_v1.dll", kProgram, L"DllRegisterServer", L"CreateProcess on: 'orvregsv.exe {T} /s /w'",
         L"CreateProcess on: 'orvregsv.exe {T} /u /s /w'"},
        {"regsvr32.exe", L"srv_v1.dll", kRegsvr32, L"DllRegisterServer", regsvr32 + L"'", regsvr32 + L" /u /s'"},
        {"in-process self-registration", L"srv_v1.dll", kSelf, L"DllRegisterServer", L"", L""},
        {"local server through orvregsv.exe", L"local_v1.exe", kProgram, L"RegServer", L"", L""},
        {"local server registering itself", L"local_v1.exe", kSelf, L"RegServer", L"", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring server = Place(row.fixture, L"with blanks");
        const bool local = wcsstr(row.fixture, L".exe") != nullptr;
        const wchar_t* clsid = local ? kLocalClsid : kInProcClsid;
        const wchar_t* kind = local ? L"LocalServer32" : L"InProcServer32";
        if (row.way == kOffline) {
            CreateDirectoryW(Join(SelfDir(), L"cor").c_str(), nullptr);
            ASSERT_TRUE(WriteBytes(CorBesideMe(server), InProcCor(server)));
        }
        CWexKrFile* file = CWexKrFile::CreateInstance(server.c_str());
        auto* com = dynamic_cast<CWexKrCOMServerFile*>(file);
        ASSERT_NE(com, nullptr);

        LogCursor log;
        EXPECT_EQ(Hex(run(row.way, *com, server, TRUE)), Hex(S_OK));
        EXPECT_TRUE(row.registerLine.empty() || LogHas(log.Text(), Expand({row.registerLine}, server)));
        EXPECT_TRUE(row.way != kProgram ||  // the product, found through PATH: nothing is beside this test
                    LogHas(log.Text(), {Line(L' ', L"Registration program: '" + BinDir() + L"\\orvregsv.exe'")}));
        EXPECT_EQ(Narrow(RegisteredServer(clsid, kind)), Narrow(server));
        std::wstring registered;
        EXPECT_EQ(com->GetRegisteredServerPath(registered), S_OK);
        EXPECT_EQ(Narrow(registered), Narrow(server));
        long answer = 0;
        EXPECT_EQ(Hex(CreateAndAsk(clsid, local ? CLSCTX_LOCAL_SERVER : CLSCTX_INPROC_SERVER, &answer)), Hex(S_OK));
        EXPECT_EQ(answer, 1);
        const std::wstring kept = Join(KeptCorFolder(), PathFindFileNameW(CorBesideMe(server).c_str()));
        EXPECT_EQ(FileExists(kept), row.way == kOffline);

        LogCursor unregistering;
        EXPECT_EQ(Hex(run(row.way, *com, server, FALSE)), Hex(S_OK));
        EXPECT_TRUE(row.unregisterLine.empty() || LogHas(unregistering.Text(), Expand({row.unregisterLine}, server)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ServerKey(clsid, kind)));
        EXPECT_EQ(Hex(CreateAndAsk(clsid, CLSCTX_ALL, &answer)), Hex(REGDB_E_CLASSNOTREG));
        EXPECT_FALSE(FileExists(kept));
        // The kept-copy folder, made for this copy, goes with it.
        EXPECT_FALSE(row.way == kOffline && PathFileExistsW(KeptCorFolder().c_str()));
        EXPECT_EQ(Marks(server, local ? L"RegServer" : L"DllRegisterServer"), row.entry ? 1u : 0u);
        file->Destroy();
    }
}

TEST_F(ComWays, InProcessSelfRegistrationFailuresAndFaults) {
    const struct { const char* label; const wchar_t* fixture; BOOL reg; HRESULT expected; const wchar_t* errorLine; } rows[] = {
        {"no DllUnregisterServer", L"srv_nounreg.dll", FALSE, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr},
        {"the entry point's own failure", L"srv_fail.dll", TRUE, kSelfRegClass, nullptr},
        {"an imported library is missing", L"srv_needgone.dll", TRUE, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), nullptr},
        {"access violation", L"srv_av.dll", TRUE, E_UNEXPECTED, L"Exception 0xC0000005 raised while loading "},
        {"division by zero", L"srv_div.dll", TRUE, E_UNEXPECTED, L"Exception 0xC0000094 raised while loading "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring server = Place(row.fixture);
        CWexKrInProcServerFile file(server.c_str());
        SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT);
        LogCursor log;
        EXPECT_EQ(Hex(file.SelfRegister(server.c_str(), row.reg)), Hex(row.expected));
        EXPECT_EQ(SetErrorMode(0), UINT(SEM_NOALIGNMENTFAULTEXCEPT)) << "the caller's error mode was not given back";
        EXPECT_EQ(GetModuleHandleW(server.c_str()), nullptr) << "the library was not freed";
        EXPECT_TRUE(!row.errorLine || LogHas(log.Text(), {Line(L'E', row.errorLine + server)}));
        EXPECT_TRUE(row.expected != E_UNEXPECTED || Marks(server, L"DllRegisterServer") == 1u);
    }
}

// Only the file name decides (the ladders show the same name found in
// another folder); the coclasses come from the file's own type library.
TEST_F(ComWays, RegisteredServerIsFoundByItsFileName) {
    const std::wstring server = Place(L"srv_v1.dll"), noTypeLib = m_temp / L"regsrv.dll";
    ASSERT_TRUE(CopyFileW(Join(FixturesDir(), L"files\\regsrv.dll").c_str(), noTypeLib.c_str(), FALSE));
    for (const auto& [file, registered] : {std::pair{server, m_temp / L"other.dll"}, {noTypeLib, noTypeLib}}) {
        ASSERT_TRUE(SetValue(HKEY_CLASSES_ROOT, ServerKey(kInProcClsid), L"", REG_SZ, Utf16(registered)));
        CWexKrInProcServerFile object(file.c_str());
        std::wstring found = L"untouched";
        EXPECT_EQ(object.GetRegisteredServerPath(found), S_FALSE);
        EXPECT_EQ(Narrow(found), "untouched");
    }
}

// What the registration ways test leaves out: a file whose registry writes
// fail still counts (and is kept); no file, or no kept copy, is 0x80070002 unlogged.
TEST_F(ComWays, OfflineRegistrationFileEdges) {
    const std::wstring bad = Place(L"srv_v1.dll"), none = Place(L"srv_v1.dll");
    CreateDirectoryW(Join(SelfDir(), L"cor").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(CorBesideMe(bad), "REGEDIT4\r\n[HKEY_NOWHERE\\Orv]\r\n@=\"x\"\r\n"));
    CWexKrInProcServerFile file(bad.c_str());
    for (const auto& [server, install, expected] : {std::tuple{bad, true, S_OK}, {none, true, HRESULT(0x80070002)},
                                                      {none, false, HRESULT(0x80070002)}}) {
        LogCursor log;
        EXPECT_EQ(Hex(install ? file.InstallOfflineRegistration(server.c_str()) : file.UnInstallOfflineRegistration(server.c_str())),
                  Hex(expected));
        EXPECT_EQ(FileExists(Join(KeptCorFolder(), PathFindFileNameW(CorBesideMe(server).c_str()))), expected == S_OK);
        EXPECT_TRUE(expected == S_OK || Lacks(log.Text(), L"TqOrvWexKr"));
    }
}

// The search for imported libraries looks in the server's own folder without
// making it the current folder, which another thread would see. (The report's
// lines: KernelComTests.cpp.)
TEST_F(ComWays, DependencyCheckOnFixtureModules) {
    const std::wstring gone = Place(L"srv_needgone.dll", L"gone"), part = Place(L"srv_needpart.dll", L"part");
    const std::wstring dep = Place(L"srv_needdep.dll", L"dep");
    PlaceAsIs(L"orvpart.dll", L"part");
    PlaceAsIs(L"orvdep.dll", L"dep");
    const struct { std::wstring server; orv::UnresolvedModules modules; orv::UnresolvedExports exports; } rows[] = {
        {gone, {L"orvgone.dll"}, {}},
        {part, {}, {{{L"OrvPartMissing", m_temp / L"part\\orvpart.dll"}, L"0.0.0.0"}}},
        {dep, {}, {}},
    };
    WCHAR before[MAX_PATH], now[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    std::atomic<bool> done{false}, changed{false};
    std::thread watcher([&] {
        while (!done) changed = changed || (GetCurrentDirectoryW(MAX_PATH, now), wcscmp(now, before) != 0);
    });
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.server));
        orv::UnresolvedModules modules;
        orv::UnresolvedExports exports;
        EXPECT_EQ(CWexKrInProcServerFile(row.server.c_str()).CheckModuleDependencies(row.server.c_str(), modules, exports),
                  row.modules.empty() && row.exports.empty());
        EXPECT_TRUE(modules == row.modules && exports == row.exports);
    }
    done = true;
    watcher.join();
    EXPECT_FALSE(changed) << "the current folder changed during the walk";
}
