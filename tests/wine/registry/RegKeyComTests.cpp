// InstallRegKey, UnInstallRegKey, IOrvRegKey and registration files through
// the real DLL; the registry read back afterwards.
#include <functional>
#include "KernelRecords.h"
#include "RegTestUtil.h"

using namespace orv::test;

const VARIANT_BOOL T = VARIANT_TRUE, F = VARIANT_FALSE;

class RegKeyCom : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created";
        ASSERT_EQ(m_kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&m_values)), S_OK);
    }
    void TearDown() override {
        if (m_values) m_values->Release();
    }

    // The key call gave `expected`, handing out the own IOrvRegKey exactly on success.
    AssertionResult KeyCall(HRESULT expected, const std::wstring& path, bool install, VARIANT_BOOL force = F) {
        IOrvRegKey* out = reinterpret_cast<IOrvRegKey*>(0xdeadbeef);
        HRESULT hr = install ? m_kernel->InstallRegKey(Bstr(path), &out)
                             : m_kernel->UnInstallRegKey(Bstr(path), &out, force);
        if (hr != expected) return AssertionFailure() << std::hex << "result 0x" << hr << ", expected 0x" << expected;
        if (SUCCEEDED(hr) ? out != m_values : out != nullptr) return AssertionFailure() << "out pointer " << out;
        if (out) out->Release();
        return AssertionSuccess();
    }
    HRESULT RemoveValue(const std::wstring& name) { return m_values->UnInstallValue(Bstr(name)); }

    LoadedKernel m_kernel;
    IOrvRegKey* m_values = nullptr;
};

TEST_F(RegKeyCom, InstallRegKeyMarksOnlyTheLevelsItCreates) {
    TestKey k(L"mark");
    ASSERT_TRUE(CreatePlainKey(k.Path(L"P")));
    LogCursor first;
    EXPECT_TRUE(KeyCall(S_OK, k.Full(L"P\\Q\\R"), true));
    EXPECT_TRUE(HasLogLine(first.Text(), L' ', L"Attempting to create registry key " + k.Full(L"P\\Q\\R")));
    EXPECT_TRUE(Marked(k.Path(L"P"), false));
    EXPECT_TRUE(Marked(k.Path(L"P\\Q")));
    EXPECT_TRUE(Marked(k.Path(L"P\\Q\\R")));

    EXPECT_TRUE(SetValue(k.Path(L"P\\Q"), L"OrvCreateKey", REG_DWORD, Dword(7)));  // shows a rewrite
    LogCursor again;
    EXPECT_TRUE(KeyCall(S_FALSE, k.Full(L"P\\Q\\R"), true));
    EXPECT_TRUE(HasLogLine(again.Text(), L' ', L"Key already existed: OK"));
    EXPECT_TRUE(ValueIs(k.Path(L"P\\Q"), L"OrvCreateKey", REG_DWORD, Dword(7)));
    EXPECT_TRUE(KeyHolds(k.Path(L"P\\Q\\R"), 0, 1));

    // Doubled and trailing backslashes: exactly the named levels.
    EXPECT_TRUE(KeyCall(S_OK, k.Full(L"A\\\\\\B\\\\"), true));
    EXPECT_TRUE(KeyHolds(k.Path(L"A"), 1, 1));
    EXPECT_TRUE(KeyHolds(k.Path(L"A\\B"), 0, 1));
    EXPECT_TRUE(Marked(k.Path(L"A\\B")));
}

// No key below a known top key: refused by all three key calls; a forced
// uninstall never empties a hive.
TEST_F(RegKeyCom, PathsWithoutAKeyBelowATopKeyAreRefused) {
    TestKey k(L"refuse");
    for (const wchar_t* path : {L"HKEY_CURRENT_USER", L"HKCU\\\\\\", L"HKEY_NOSUCH\\Software"}) {
        for (int call = 0; call < 3; ++call) {
            SCOPED_TRACE(Narrow(path) + " call " + std::to_string(call));
            LogCursor log;
            EXPECT_TRUE(KeyCall(HRESULT_FROM_WIN32(ERROR_BADKEY), path, call == 0, call == 2 ? T : F));
            EXPECT_TRUE(HasLogLine(log.Text(), call == 1 ? L'W' : L'E', L"Invalid registry key path " + std::wstring(path)));
        }
    }
    EXPECT_TRUE(KeyHolds(k.Path(), 0, 0));
}

TEST_F(RegKeyCom, ValueRules) {
    enum Kind { Str, Exp, Multi, Int, Bin };
    const std::string written[] = {Utf16(L"abc"), Utf16(L"%TEMP%\\x"), Utf16(std::wstring(L"a\0bc\0\0d\0", 8)), Dword(0xFFFFFFFE),
                                   std::string("\x01\xFF\x1A", 3)};
    const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY};
    BSTR multi[] = {SysAllocString(L"a"), SysAllocString(L"bc"), nullptr, SysAllocString(L"d")};
    BYTE bytes[] = {0x01, 0xFF, 0x1A};
    // preType REG_NONE: no value before; hr S_FALSE: the value before is kept.
    const struct { const char* label; Kind kind; VARIANT_BOOL force; DWORD preType; std::string pre; HRESULT hr; } rows[] = {
        {"string", Str, F, REG_NONE, {}, S_OK}, {"expandable string", Exp, F, REG_NONE, {}, S_OK},
        {"multi-string, a null string taken as empty", Multi, F, REG_NONE, {}, S_OK},
        {"integer", Int, F, REG_NONE, {}, S_OK}, {"binary", Bin, F, REG_NONE, {}, S_OK},
        {"string keeps a DWORD", Str, F, REG_DWORD, Dword(7), S_FALSE},
        {"string keeps an empty binary", Str, F, REG_BINARY, {}, S_FALSE},
        {"multi-string keeps a string", Multi, F, REG_SZ, Utf16(L"old"), S_FALSE},
        {"integer keeps a DWORD", Int, F, REG_DWORD, Dword(7), S_FALSE},
        {"integer replaces a string", Int, F, REG_SZ, Utf16(L"old"), S_OK},
        {"string overrides", Str, T, REG_SZ, Utf16(L"old"), S_OK},
    };
    TestKey k(L"values");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"V"), true));
    const std::wstring v = k.Path(L"V");
    for (const std::wstring name : {L"named", L""}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(row.label + Narrow(L" '" + name + L"'"));
            RegDeleteKeyValueW(HKEY_CURRENT_USER, v.c_str(), name.c_str());
            ASSERT_TRUE(!row.preType || SetValue(v, name.c_str(), row.preType, row.pre));
            Bstr n(name);
            LogCursor log;
            const HRESULT hr = row.kind == Str     ? m_values->InstallStringValue(n, Bstr(L"abc"), row.force, F)
                               : row.kind == Exp   ? m_values->InstallStringValue(n, Bstr(L"%TEMP%\\x"), row.force, T)
                               : row.kind == Multi ? m_values->InstallMultiStringValue(n, multi, 4, row.force)
                               : row.kind == Int   ? m_values->InstallIntegerValue(n, -2, row.force)
                                                   : m_values->InstallBinaryValue(n, bytes, 3, row.force);
            EXPECT_EQ(hr, row.hr);
            const bool kept = row.hr == S_FALSE;
            EXPECT_TRUE(ValueIs(v, name.c_str(), kept ? row.preType : types[row.kind], kept ? row.pre : written[row.kind]));
            EXPECT_TRUE(HasLogLine(log.Text(), L' ', kept ? L"Value already exists: Keeping existing value"
                                                          : L"Value has been installed successfully"));
        }
    }
    for (BSTR s : multi) SysFreeString(s);
}

// P existed before; the kernel created P\Q\R and the value v in R. Removing v
// walks up from R over the kernel's emptied keys, stopping at P.
TEST_F(RegKeyCom, UnInstallValueRemovesEmptiedKernelKeys) {
    // before: before InstallRegKey; after: after the value was installed.
    const struct { const char* label; std::function<void(const TestKey&)> before, after; std::vector<const wchar_t*> gone, kept; } rows[] = {
        {"last value", nullptr, nullptr, {L"P\\Q\\R", L"P\\Q"}, {L"P"}},
        {"R holds another value", nullptr,
         [](const TestKey& k) { SetValue(k.Path(L"P\\Q\\R"), L"w", REG_DWORD, Dword(1)); }, {}, {L"P\\Q\\R"}},
        {"R existed before", [](const TestKey& k) { CreatePlainKey(k.Path(L"P\\Q\\R")); }, nullptr, {}, {L"P\\Q\\R"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"walk");
        ASSERT_TRUE(CreatePlainKey(k.Path(L"P")));
        if (row.before) row.before(k);
        ASSERT_TRUE(KeyCall(row.before ? S_FALSE : S_OK, k.Full(L"P\\Q\\R"), true));
        ASSERT_EQ(m_values->InstallStringValue(Bstr(L"v"), Bstr(L"data"), F, F), S_OK);
        if (row.after) row.after(k);

        LogCursor log;
        EXPECT_TRUE(KeyCall(S_OK, k.Full(L"P\\Q\\R"), false));
        EXPECT_EQ(RemoveValue(L"v"), S_OK);
        EXPECT_TRUE(ValueIs(k.Path(L"P\\Q\\R"), L"v", REG_NONE));
        for (const wchar_t* path : row.gone) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, k.Path(path)));
        for (const wchar_t* path : row.kept) EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, k.Path(path))) << Narrow(path);
        EXPECT_TRUE(Marked(k.Path(L"P"), false));

        LogCursor next;
        const bool currentGone = !KeyExists(HKEY_CURRENT_USER, k.Path(L"P\\Q\\R"));
        const HRESULT hr = RemoveValue(L"w");
        EXPECT_TRUE(!currentGone || hr == S_OK) << std::hex << hr;
        EXPECT_EQ(CountOf(next.Text(), L"Parent key does no longer exist: OK"), currentGone ? 1u : 0u);
    }
}

// A missing value: an error and no walk. Forced: the whole tree goes.
TEST_F(RegKeyCom, MissingValueAndForcedUnInstall) {
    TestKey k(L"force");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"P\\Q"), true));
    LogCursor log;
    EXPECT_EQ(RemoveValue(L"nope"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(HasLogLine(log.Text(), L'W', L"Cannot uninstall registry value (maybe it is already gone!): error 2"));
    EXPECT_TRUE(Marked(k.Path(L"P\\Q")));  // holds only its marker, yet stays
    ASSERT_TRUE(SetValue(k.Path(L"P\\Q\\Plain\\Deep"), L"x", REG_DWORD, Dword(1)));
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"Current"), true));
    EXPECT_TRUE(KeyCall(S_OK, k.Full(L"P"), false, T));
    EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Key has been uninstalled successfully"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, k.Path(L"P")));
    EXPECT_EQ(m_values->InstallIntegerValue(Bstr(L"after"), 3, F), S_OK);
    EXPECT_TRUE(ValueIs(k.Path(L"Current"), L"after", REG_DWORD, Dword(3)));
}

// A registration file applied and reversed through InstallFile and
// UnInstallFile, with the target (the source) as its directory. Its lines
// name the key marker (in a key that existed before and in one the kernel
// makes), every byte value, an unknown type, both folder placeholders, a key
// that cannot be made and one that is gone by the time of the uninstall.
TEST_F(RegKeyCom, RegistrationFileThroughTheFileMethods) {
    TestKey k(L"file");
    ASSERT_TRUE(CreatePlainKey(k.Path(L"Existing")) && SetValue(k.Path(L"Existing"), L"mine", REG_SZ, Utf16(L"user")));
    std::string bytes;
    std::wstring text;
    for (int b = 1; b < 256; ++b)
        if (b != '\n' && b != '"') bytes += char(b), text += wchar_t(b);  // each byte the character of its code
    const std::string key = "[HKEY_CURRENT_USER\\" + Narrow(k.Path());
    const std::string script = "REGEDIT4\n" + key + "\\Existing]\n\"OrvCreateKey\"=dword:0\norvcreatekey=dword:1\nv=\"1\"\n" +
                               key + "\\New]\nOrvCreateKey=dword:5\ns=\"%winsysdir%\\srv.dll\"\nt=expand:x\nall=\"" +
                               bytes + "\"\nn\xE9\x80=\"x\"\nz=\"a" + std::string(1, '\0') + "b\"\n@=\"%orvtargetdir%\\s.dll\"\n" +
                               key + "\\Gone]\nv=\"1\"\n" + key + "\\" + std::string(300, 'k') + "]\nv=\"1\"\n";
    TempDir dir;
    const std::wstring file = dir / L"s.reg";
    ASSERT_TRUE(WriteBytes(file, script));
    InstallRecord install(file, dir.Path(), 0), uninstall(dir.Path(), file, 0);
    const std::wstring marker = L"is the key marker: Skipping this value", unknown = L"Unrecognized value type expand: Skipping this value t";

    LogCursor log;
    EXPECT_EQ(m_kernel->InstallFile(install.Get()), S_OK);
    EXPECT_TRUE(HasLogLine(log.Text(), L'W', L"Value OrvCreateKey " + marker));
    EXPECT_TRUE(HasLogLine(log.Text(), L'W', L"Value orvcreatekey " + marker));
    EXPECT_TRUE(HasLogLine(log.Text(), L'W', unknown));
    EXPECT_TRUE(HasLogLine(log.Text(), L'W', L"Skipping line 12 of the registration file"));
    EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Unable to open or create key " + k.Full(std::wstring(300, L'k'))));
    EXPECT_TRUE(Marked(k.Path(L"Existing"), false));
    EXPECT_TRUE(Marked(k.Path(L"New")));
    WCHAR system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_TRUE(ValueIs(k.Path(L"New"), L"s", REG_SZ, Utf16(system + std::wstring(L"\\srv.dll"))));
    EXPECT_TRUE(ValueIs(k.Path(L"New"), L"all", REG_SZ, Utf16(text)));
    EXPECT_TRUE(ValueIs(k.Path(L"New"), L"n\u00E9\u0080", REG_SZ, Utf16(L"x")));
    EXPECT_TRUE(ValueIs(k.Path(L"New"), L"", REG_SZ, Utf16(dir / L"s.dll")));  // the target is the directory
    EXPECT_TRUE(ValueIs(k.Path(L"New"), L"t", REG_NONE) && ValueIs(k.Path(L"New"), L"z", REG_NONE));

    ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, k.Path(L"New").c_str(), L"s"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, k.Path(L"Gone").c_str()), ERROR_SUCCESS);
    LogCursor removal;
    EXPECT_EQ(m_kernel->UnInstallFile(uninstall.Get()), S_OK);
    EXPECT_TRUE(HasLogLine(removal.Text(), L'W', L"Value OrvCreateKey " + marker));
    EXPECT_TRUE(HasLogLine(removal.Text(), L'W', unknown));
    EXPECT_TRUE(HasLogLine(removal.Text(), L'W', L"Error deleting value s: error 2"));
    EXPECT_TRUE(HasLogLine(removal.Text(), L' ', L"Key " + k.Full(L"Gone") + L" does not exist: nothing to do"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, k.Path(L"New")));
    EXPECT_TRUE(ValueIs(k.Path(L"Existing"), L"mine", REG_SZ, Utf16(L"user")));
    EXPECT_TRUE(ValueIs(k.Path(L"Existing"), L"v", REG_SZ, Utf16(L"1")));
}
