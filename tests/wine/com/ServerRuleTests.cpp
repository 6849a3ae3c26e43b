// InstallFile and UnInstallFile of COM servers and type libraries through the
// kernel DLL: every row of each ladder, checked by the registry, the disk,
// SharedDLLs and the log. "{T}" is the target, "{R}" the other registered
// file (same name, folder "elsewhere"), "{F}" the target's folder.
#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

namespace {

constexpr ULONG kPatch = 3, kPrimary = 1;

class ServerRules : public KernelComTest {
protected:
    void SetUp() override {
        KernelComTest::SetUp();
        CreateDirectoryW((m_temp / L"elsewhere").c_str(), nullptr);
        CreateDirectoryW((m_temp / L"source").c_str(), nullptr);
    }
    HRESULT Install(const std::wstring& source, const std::wstring& target, ULONG mode = kPatch, ULONG flags = 0,
                    std::wstring* regPath = nullptr) {
        InstallRecord record(source, target, mode, flags);
        const HRESULT hr = m_kernel->InstallFile(record.Get());
        const _ORV_CHECK_INFO* info = record.Get()->lpOrvCheckInfo;
        if (regPath && info && info[1].bstrKey) *regPath = info[1].bstrValue ? info[1].bstrValue : L"null";
        return hr;
    }
    HRESULT UnInstall(const std::wstring& target) {
        InstallRecord record(m_temp / L"source", target, kPrimary);
        return m_kernel->UnInstallFile(record.Get());
    }
    // A new target name; the fixture as the source of that name (servers are found by their file name).
    std::wstring Target(const wchar_t* fixture, std::wstring* source) {
        const std::wstring name = m_tag + L"_t" + std::to_wstring(m_targets++) + PathFindExtensionW(fixture);
        *source = m_temp / (L"source\\" + name);
        EXPECT_TRUE(CopyFileW(ComFixture(fixture).c_str(), source->c_str(), FALSE));
        return m_temp / name;
    }
    std::wstring Elsewhere(const std::wstring& target) const {
        return m_temp / (L"elsewhere\\" + std::wstring(PathFindFileNameW(target.c_str())));
    }

    int m_targets = 0;
};

FILETIME Shifted(const std::wstring& path, LONGLONG seconds) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    ULARGE_INTEGER t{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}};
    t.QuadPart += seconds * 10000000;
    return FILETIME{t.LowPart, t.HighPart};
}

const wchar_t kOffline[] = L"Offline registration impossible: COR- file not found";
constexpr HRESULT kNotInstalled = static_cast<HRESULT>(0x800407D1L);

}  // namespace

TEST_F(ServerRules, InProcessServerInstallLadder) {
    enum Registered { kNone, kAtTarget, kOther, kOtherMissing, kBareName, kBareNameHere };
    // existing: fixture at the target before; other: the fixture registered elsewhere, otherAge its age in
    // seconds against the source; registersTarget: else the registration stays as it was.
    const struct { const char* label; const wchar_t *source, *existing; Registered registered; const wchar_t* other;
                   LONGLONG otherAge; ULONG flags; HRESULT expected; bool registersTarget; std::vector<std::wstring> lines; } rows[] = {
        {"not registered: no comparison", L"srv_v1.dll", nullptr, kNone, nullptr, 0, 0, S_OK, true,
         {L"Attempting to register COM InProcServer {T}", L"Attempting to register COM server from reg file", kOffline,
          L"Falling back to out of process self registration ( orvregsv.exe )", L"COM server out of process self registration succeeded"}},
        {"force", L"srv_v1.dll", nullptr, kOther, L"srv_v2.dll", 0, 1, S_OK, true,
         {L"Force flag is set: Registering COM server without version or time stamp check"}},
        {"same version over itself", L"srv_v1.dll", L"srv_v1.dll", kAtTarget, nullptr, 0, 0, S_FALSE, true,
         {L"COM server {T} is already registered properly. Registering same version."}},
        {"newer version at the registered target", L"srv_v2.dll", L"srv_v1.dll", kAtTarget, nullptr, 0, 0, S_OK, true,
         {L"Reregistering newer version of COM server {T}"}},
        {"higher version elsewhere is kept", L"srv_v1.dll", nullptr, kOther, L"srv_v2.dll", 0, 0, S_OK, false,
         {L"COM server is already registered as {R}", L"FileVersion of registered COM Server is: 2.0.0.0",
          L"FileVersion of COM Server to be installed is: 1.0.0.0", L"Registered COM Server has newer version: Keeping existing registration"}},
        {"lower version elsewhere", L"srv_v2.dll", nullptr, kOther, L"srv_v1.dll", 0, 0, S_OK, true,
         {L"COM Server to be installed has newer version: Performing new registration in {T}"}},
        {"equal versions, other sizes", L"srv_v2.dll", nullptr, kOther, L"srv_v2big.dll", 0, 0, S_OK, true,
         {L"W COM server versions are same but files differ in size: Performing new registration in {T}"}},
        {"registered file gone", L"srv_v1.dll", nullptr, kOtherMissing, nullptr, 0, 0, S_OK, true,
         {L"W Registered file does not exist: Performing new registration in {T}"}},
        {"bare name nowhere", L"srv_v1.dll", nullptr, kBareName, nullptr, 0, 0, S_OK, true,
         {L"W COM server is not registered with absolute path: Trying to locate file with SearchPath",
          L"W Registered file cannot be found in search path: Performing new registration in {T}"}},
        {"bare name found: the target itself", L"srv_v1.dll", L"srv_v1.dll", kBareNameHere, nullptr, 0, 0, S_FALSE, true,
         {L"Found registered file in {F}", L"COM server versions are same: Performing new registration"}},
        {"no versions, registered older", L"srv_nover.dll", nullptr, kOther, L"srv_nover.dll", -3600, 0, S_OK, true,
         {L"W Neither registered COM Server {R} nor COM Server {T} has a FileVersion: Falling back to Time Stamp Check",
          L"Time stamp of COM server to be installed is newer than time stamp of registered COM Server: Performing new registration in {T}"}},
        {"no versions, registered newer", L"srv_nover.dll", nullptr, kOther, L"srv_nover.dll", 3600, 0, S_OK, false,
         {L"Time stamp of registered COM Server is same or newer than Time stamp of COM Server to be installed: Keeping existing registration"}},
        {"only the new one has a version", L"srv_v1.dll", nullptr, kOther, L"srv_nover.dll", 0, 0, S_OK, true,
         {L"W Registered COM server has no file version. COM server to be installed has file version 1.0.0.0: Supposed to be newer, performing new registration in {T}"}},
        {"only the registered one has a version", L"srv_nover.dll", nullptr, kOther, L"srv_v1.dll", 0, 0, S_OK, false,
         {L"W COM server to be installed has no file version. Registered COM server has file version 1.0.0.0: Supposed to be newer, keeping existing registration"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Clean();
        std::wstring source;
        const std::wstring target = Target(row.source, &source), other = Elsewhere(target);
        ASSERT_TRUE(!row.existing || CopyFileW(ComFixture(row.existing).c_str(), target.c_str(), FALSE));
        ASSERT_TRUE(!row.other || CopyFileW(ComFixture(row.other).c_str(), other.c_str(), FALSE));
        if (row.otherAge) SetTime(other, Shifted(source, row.otherAge));
        const std::wstring name = PathFindFileNameW(target.c_str());
        const std::wstring value = row.registered == kAtTarget ? target : row.registered >= kBareName ? name : other;
        ASSERT_TRUE(row.registered == kNone || SetValue(HKEY_CLASSES_ROOT, ServerKey(kInProcClsid), L"", REG_SZ, Utf16(value)));
        const std::wstring path = Env(L"PATH");
        if (row.registered == kBareNameHere) SetEnvironmentVariableW(L"PATH", (m_temp.Path() + L";" + path).c_str());
        LogCursor log;
        std::wstring regPath;
        const HRESULT hr = Install(source, target, kPatch, row.flags, &regPath);
        SetEnvironmentVariableW(L"PATH", path.c_str());
        EXPECT_EQ(Hex(hr), Hex(row.expected));
        EXPECT_TRUE(LogHas(log.Text(), Expand(row.lines, target, other, m_temp.Path())));
        EXPECT_EQ(ReadBytes(target), ReadBytes(row.expected == S_OK ? source : ComFixture(row.existing)));
        const std::wstring after = row.registersTarget ? target : value;
        EXPECT_EQ(Narrow(RegisteredServer(kInProcClsid)), Narrow(after));
        EXPECT_EQ(Narrow(regPath), Narrow(after));  // the check-info record of InstallFile
        EXPECT_EQ(Marks(target, L"DllRegisterServer"), row.registersTarget ? 1u : 0u);
        EXPECT_TRUE(row.registered != kNone || Lacks(log.Text(), L"already registered"));
    }
}

TEST_F(ServerRules, InProcessServerRegistrationSequenceAndFailures) {
    // cor: an offline registration file beside the setup program; expected E_FAIL: any failure.
    const struct { const char* label; const wchar_t* source; bool cor; const wchar_t* folder; HRESULT expected;
                   std::vector<std::wstring> lines; } rows[] = {
        {"offline file: none of the server's code runs", L"srv_v1.dll", true, L"", S_OK,
         {L"Attempting to register COM server from reg file", L"COM server offline registration succeeded"}},
        {"every way fails", L"srv_fail.dll", false, L"", E_FAIL,
         {L"W Registration with 'orvregsv.exe' failed", L"Falling back to registration with 'regsvr32.exe'",
          L"E COM server out of process self registration failed! Reboot required."}},
        {"the file cannot be installed", L"srv_v1.dll", false, L"bad?folder\\", kNotInstalled, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::wstring source;
        std::wstring target = Target(row.source, &source);
        target.insert(target.rfind(L'\\') + 1, row.folder);
        CreateDirectoryW(Join(SelfDir(), L"cor").c_str(), nullptr);
        ASSERT_TRUE(!row.cor || WriteBytes(CorBesideMe(target), InProcCor(target)));
        LogCursor log;
        const HRESULT hr = Install(source, target);
        EXPECT_TRUE(row.expected == E_FAIL ? FAILED(hr) && hr != kNotInstalled : hr == row.expected) << Hex(hr);
        EXPECT_TRUE(LogHas(log.Text(), Expand(row.lines, target, L"")));
        EXPECT_EQ(Narrow(RegisteredServer(kInProcClsid)), Narrow(SUCCEEDED(hr) ? target : L""));
        EXPECT_TRUE(!row.cor || (Marks(target, L"DllRegisterServer") == 0 && Lacks(log.Text(), L"CreateProcess")));
        EXPECT_TRUE(hr != kNotInstalled || Lacks(log.Text(), L"Attempting to register"));
        Clean();
    }
}

TEST_F(ServerRules, InProcessServerUninstall) {
    enum Setup { kInstalled, kOtherRegistered, kTwoUsers, kOffline, kFailing };
    const struct { const char* label; Setup setup; HRESULT expected; bool unregistered, fileGone; std::vector<std::wstring> lines; } rows[] = {
        {"registered here", kInstalled, S_OK, true, true,
         {L"Attempting to unregister COM server from reg file", L"W COM server offline unregistration cannot proceed",
          L"Falling back to out of process self unregistration", L"COM server out of process self unregistration succeeded",
          L"Dll {T} is no longer used by any other application: SharedDllCounter has been removed"}},
        {"registered elsewhere", kOtherRegistered, S_OK, false, true,
         {L"COM server is registered at different path {R}: Keeping existing registration"}},
        {"another product's count", kTwoUsers, S_FALSE, false, false,
         {L"SharedDllCounter for {T} has been set to 1. File is still being used by other applications and will not be uninstalled"}},
        {"offline file: no program is started", kOffline, S_OK, true, true, {L"COM server offline unregistration succeeded"}},
        {"every way fails", kFailing, S_OK, false, true,
         {L"W COM server unregistration with 'orvregsv.exe' failed", L"Falling back to unregistration with 'regsvr32.exe'",
          L"E COM server unregistration failed even with 'regsvr32.exe'!"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::wstring source;
        const std::wstring target = Target(row.setup == kFailing ? L"srv_fail.dll" : L"srv_v1.dll", &source);
        const std::wstring other = Elsewhere(target);
        ASSERT_TRUE(row.setup != kOffline || WriteBytes(CorBesideMe(target), InProcCor(target)));
        ASSERT_TRUE(row.setup == kFailing ? CopyFileW(source.c_str(), target.c_str(), FALSE) &&
                                                SetValue(HKEY_CLASSES_ROOT, ServerKey(kInProcClsid), L"", REG_SZ, Utf16(target))
                                          : SUCCEEDED(Install(source, target, kPrimary)));
        ASSERT_TRUE(row.setup != kTwoUsers || SUCCEEDED(Install(source, target, kPrimary)));
        ASSERT_TRUE(row.setup != kOtherRegistered || (CopyFileW(source.c_str(), other.c_str(), FALSE) &&
                                                      SetValue(HKEY_CLASSES_ROOT, ServerKey(kInProcClsid), L"", REG_SZ, Utf16(other))));
        LogCursor log;
        EXPECT_EQ(Hex(UnInstall(target)), Hex(row.expected));
        EXPECT_TRUE(LogHas(log.Text(), Expand(row.lines, target, other)));
        EXPECT_EQ(RegisteredServer(kInProcClsid).empty(), row.unregistered);
        EXPECT_EQ(FileExists(target), !row.fileGone);
        EXPECT_EQ(DwordCount(Canonical(target)), row.setup == kTwoUsers ? 1 : -1);
        EXPECT_TRUE(row.setup != kOffline || (Marks(target, L"DllUnregisterServer") == 0 && Lacks(log.Text(), L"CreateProcess")));
        Clean();
    }
}

TEST_F(ServerRules, LocalServerInstallAndUninstall) {
    enum Setup { kNone, kAtTarget, kOther };
    // registered: fixture at the target or elsewhere, per setup; registeredAtTarget, appPaths: afterwards.
    const struct { const char* label; bool install; const wchar_t *source, *registered; Setup setup; ULONG mode; HRESULT expected;
                   bool registeredAtTarget, appPaths; std::vector<std::wstring> lines; } rows[] = {
        {"not registered, primary mode", true, L"local_v1.exe", nullptr, kNone, kPrimary, S_OK, true, true,
         {L"Attempting to register EXE server from reg file", kOffline, L"EXE server out of process self registration succeeded"}},
        {"same version at the registered path, patch mode", true, L"local_v1.exe", L"local_v1.exe", kAtTarget, kPatch, S_FALSE, true, false,
         {L"No App Paths registration necessary", L"EXE server '{T}' is already registered properly. Registering same version."}},
        {"higher version elsewhere", true, L"local_v1.exe", L"local_v2.exe", kOther, kPatch, S_OK, false, false,
         {L"EXE server is already registered as '{R}'", L"File version of registered EXE server is: 2.0.0.0",
          L"Registered EXE server has higher version: Keeping existing registration"}},
        {"uninstall: registered here", false, L"local_v1.exe", L"local_v1.exe", kAtTarget, kPrimary, S_OK, false, false,
         {L"Falling back to out of process self unregistration", L"EXE server unregistration with 'orvregsv.exe' succeeded",
          L"AppPath unregistration succeeded"}},
        {"uninstall: registered elsewhere", false, L"local_v1.exe", L"local_v1.exe", kOther, kPrimary, S_OK, false, false,
         {L"EXE server is registered at different path {R}: Keeping existing registration"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::wstring source;
        const std::wstring target = Target(row.source, &source), other = Elsewhere(target);
        const std::wstring registered = row.setup == kAtTarget ? target : other;
        ASSERT_TRUE(row.setup == kNone || (CopyFileW(ComFixture(row.registered).c_str(), registered.c_str(), FALSE) &&
                                           SetValue(HKEY_CLASSES_ROOT, ServerKey(kLocalClsid, L"LocalServer32"), L"",
                                                    REG_SZ, Utf16(registered))));
        ASSERT_TRUE(row.install || CopyFileW(source.c_str(), target.c_str(), FALSE));
        LogCursor log;
        EXPECT_EQ(Hex(row.install ? Install(source, target, row.mode) : UnInstall(target)), Hex(row.expected));
        EXPECT_TRUE(LogHas(log.Text(), Expand(row.lines, target, other)));
        EXPECT_EQ(Narrow(RegisteredServer(kLocalClsid, L"LocalServer32")),
                  Narrow(row.registeredAtTarget ? target : row.setup == kOther ? other : L""));
        EXPECT_EQ(FileExists(target), row.install);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kAppPathsKey) + L"\\" + PathFindFileNameW(target.c_str())), row.appPaths);
        EXPECT_TRUE(Lacks(log.Text(), L"InProcServer"));
        Clean();
    }
}

TEST_F(ServerRules, TypeLibraryInstallAndUninstall) {
    const std::wstring v21 = L"\\2.1\\0\\win64", v30 = L"\\3.0\\0\\win64";
    // existing: at the target before, a fixture, "data", or "self" (the target is the source); otherRegistered: the
    // same library registered elsewhere; expected E_FAIL: any failure; content: fixture the target holds afterwards
    // (null: no target); key: registered to the target afterwards (else nothing of 2.1 and 3.0 points to it).
    const struct { const char* label; bool install; const wchar_t* existing; bool otherRegistered; ULONG flags; HRESULT expected;
                   const wchar_t* content; std::wstring key; std::vector<std::wstring> lines; } rows[] = {
        {"new target", true, nullptr, false, 0, S_OK, L"tlb_21.tlb", v21, {L"Typelib registration succeeded", L"Typelib installation succeeded"}},
        {"2.1 over 2.0", true, L"tlb_20.tlb", false, 0, S_OK, L"tlb_21.tlb", v21,
         {L"Source typelib version is higher than target typelib version: Overwriting existing typelib", L"Typelib registration succeeded"}},
        {"2.1 over 3.0: the target kept and registered", true, L"tlb_30.tlb", false, 0, S_OK, L"tlb_30.tlb", v30,
         {L"Target typelib version is same or higher than source typelib version: Keeping existing file", L"Typelib registration succeeded"}},
        {"the same library registered elsewhere", true, nullptr, true, 0, S_OK, L"tlb_21.tlb", L"",
         {L"TypeLib with same version already registered as {R}: Keeping existing registration", L"Typelib installation succeeded"}},
        {"forced over 3.0", true, L"tlb_30.tlb", true, 1, S_OK, L"tlb_21.tlb", v21, {L"Force flag is set: Skipping version check"}},
        {"a target that is no type library", true, L"data", false, 0, S_OK, L"tlb_21.tlb", v21,
         {L"W Target typelib already exists but has no valid version: Overwriting target file", L"Typelib registration succeeded"}},
        {"onto its own path", true, L"self", false, 0, S_OK, L"tlb_21.tlb", v21,
         {L"Server dependent installation: source file path equals target file path: OK", L"Typelib registration succeeded"}},
        {"uninstall", false, L"tlb_21.tlb", false, 0, S_OK, nullptr, L"", {L"Typelib has been unregistered successfully"}},
        {"uninstall when not registered", false, L"tlb_20.tlb", false, 0, E_FAIL, nullptr, L"", {L"E Unable to unregister typelib"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::wstring source;
        const std::wstring target = Target(L"tlb_21.tlb", &source), other = Elsewhere(target);
        const std::wstring existing = row.existing && wcscmp(row.existing, L"self") ? row.existing : L"";
        ASSERT_TRUE(existing.empty() || (existing == L"data" ? WriteBytes(target, "data")
                                                             : CopyFileW(ComFixture(existing).c_str(), target.c_str(), FALSE)));
        ASSERT_TRUE(!row.otherRegistered || SetValue(HKEY_CLASSES_ROOT, kTypeLibKey + v21, L"", REG_SZ, Utf16(other)));
        ASSERT_TRUE(row.install || row.existing != std::wstring(L"tlb_21.tlb") || SUCCEEDED(Install(target, target)));
        const std::wstring from = row.existing && !wcscmp(row.existing, L"self") ? target : source;
        ASSERT_TRUE(from != target || CopyFileW(source.c_str(), target.c_str(), FALSE));
        LogCursor log;
        const HRESULT hr = row.install ? Install(from, target, kPatch, row.flags) : UnInstall(target);
        EXPECT_TRUE(row.expected == E_FAIL ? FAILED(hr) : hr == row.expected) << Hex(hr);
        EXPECT_TRUE(LogHas(log.Text(), Expand(row.lines, target, other)));
        EXPECT_EQ(ReadBytes(target), row.content ? ReadBytes(ComFixture(row.content)) : "");
        for (const std::wstring& key : {v21, v30}) {
            std::wstring path;
            ReadString(HKEY_CLASSES_ROOT, kTypeLibKey + key, nullptr, &path);
            EXPECT_EQ(path == target, key == row.key) << Narrow(key);
        }
        EXPECT_TRUE(row.flags == 0 || Lacks(log.Text(), L"Typelib installation succeeded"));
        std::wstring help;  // the help file of member 0 of the second type description
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kTypeLibKey + std::wstring(L"\\2.1\\HELPDIR"), nullptr, &help) ? Narrow(help) : "",
                  row.key == v21 ? "orvfixture.hlp" : "");
        Clean();
    }
}
