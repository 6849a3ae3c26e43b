// InstallRegKey, UnInstallRegKey and IOrvRegKey through the real DLL, as a
// setup program calls them; the registry is read back afterwards.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <functional>
#include "RegTestUtil.h"
#include "kernel/TqOrvWexKr_h.h"

using namespace orv::test;

namespace {

typedef HRESULT(STDAPICALLTYPE* PFN_CreateInstance)(IOrvInstallerKernel**);

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : m_s(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_s); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return m_s; }

private:
    BSTR m_s;
};

const VARIANT_BOOL T = VARIANT_TRUE, F = VARIANT_FALSE;
const HRESULT kBadKey = HRESULT_FROM_WIN32(ERROR_BADKEY);

class RegKeyCom : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
        ASSERT_NE(m_module, nullptr) << GetLastError();
        auto create = reinterpret_cast<PFN_CreateInstance>(GetProcAddress(m_module, "OrvWexKrCreateInstance"));
        ASSERT_NE(create, nullptr);
        ASSERT_EQ(create(&m_kernel), S_OK);
        ASSERT_EQ(m_kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&m_values)), S_OK);
    }
    void TearDown() override {
        if (m_values) m_values->Release();
        if (m_kernel) m_kernel->Release();
        if (m_module) FreeLibrary(m_module);
    }

    // InstallRegKey / UnInstallRegKey gave `expected`, and handed out the
    // object's own IOrvRegKey exactly when it succeeded.
    ::testing::AssertionResult KeyCall(HRESULT expected, const std::wstring& fullPath, bool install,
                                       VARIANT_BOOL force = F) {
        IOrvRegKey* out = reinterpret_cast<IOrvRegKey*>(0xdeadbeef);
        Bstr path(fullPath);
        HRESULT hr = install ? m_kernel->InstallRegKey(path, &out) : m_kernel->UnInstallRegKey(path, &out, force);
        if (hr != expected)
            return ::testing::AssertionFailure() << std::hex << "result 0x" << hr << ", expected 0x" << expected;
        if (SUCCEEDED(hr) ? out != m_values : out != nullptr)
            return ::testing::AssertionFailure() << "out pointer " << out << " (own IOrvRegKey " << m_values << ")";
        if (out) out->Release();
        return ::testing::AssertionSuccess();
    }
    HRESULT RemoveValue(const std::wstring& name) { return m_values->UnInstallValue(Bstr(name)); }

    HMODULE m_module = nullptr;
    IOrvInstallerKernel* m_kernel = nullptr;
    IOrvRegKey* m_values = nullptr;
};

}  // namespace

TEST_F(RegKeyCom, InstallRegKeyMarksOnlyTheLevelsItCreates) {
    TestKey k(L"mark");
    ASSERT_TRUE(CreatePlainKey(k.Path(L"P")));
    LogCursor first;
    EXPECT_TRUE(KeyCall(S_OK, k.Full(L"P\\Q\\R"), true));
    EXPECT_TRUE(HasLogLine(first.Text(), L' ', L"Attempting to create registry key " + k.Full(L"P\\Q\\R")));
    EXPECT_TRUE(IsUnmarked(k.Path(L"P")));
    EXPECT_TRUE(IsMarked(k.Path(L"P\\Q")));
    EXPECT_TRUE(IsMarked(k.Path(L"P\\Q\\R")));

    // Again: nothing new, nothing marked.
    EXPECT_TRUE(SetValue(k.Path(L"P\\Q"), L"OrvCreateKey", REG_DWORD, Dword(7)));
    LogCursor again;
    EXPECT_TRUE(KeyCall(S_FALSE, k.Full(L"P\\Q\\R"), true));
    EXPECT_TRUE(HasLogLine(again.Text(), L' ', L"Key already existed: OK"));
    EXPECT_TRUE(ValueIs(k.Path(L"P\\Q"), L"OrvCreateKey", REG_DWORD, Dword(7)));
    EXPECT_TRUE(IsUnmarked(k.Path(L"P")));
    EXPECT_TRUE(KeyHolds(k.Path(L"P\\Q\\R"), 0, 1));
}

TEST_F(RegKeyCom, EmptyPathComponentsCreateExactlyTheNamedLevels) {
    const struct {
        const char* label;
        const wchar_t* path;
        std::vector<const wchar_t*> levels;
    } rows[] = {
        {"doubled and trailing", L"P\\\\Q\\", {L"P", L"P\\Q"}},
        {"runs of backslashes", L"A\\\\\\B\\\\\\C\\\\", {L"A", L"A\\B", L"A\\B\\C"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"bs");
        EXPECT_TRUE(KeyCall(S_OK, k.Full(row.path), true));
        EXPECT_TRUE(KeyHolds(k.Path(), 1, 0));
        for (size_t i = 0; i < row.levels.size(); ++i) {
            EXPECT_TRUE(IsMarked(k.Path(row.levels[i])));
            EXPECT_TRUE(KeyHolds(k.Path(row.levels[i]), i + 1 < row.levels.size() ? 1 : 0, 1));
        }
    }
}

// A path without a known top key, or naming no key below it, is refused by
// all three key calls; in particular a forced uninstall never empties a hive.
TEST_F(RegKeyCom, PathsWithoutAKeyBelowATopKeyAreRefused) {
    TestKey k(L"refuse");
    ASSERT_TRUE(SetValue(k.Path(), L"witness", REG_DWORD, Dword(1)));
    const wchar_t* paths[] = {L"HKEY_CURRENT_USER", L"HKEY_CURRENT_USER\\", L"HKCU\\\\\\", L"HKEY_NOSUCH\\Software",
                              L"Software\\OrvTest", L""};
    for (const wchar_t* path : paths) {
        for (int call = 0; call < 3; ++call) {
            SCOPED_TRACE(Narrow(path) + (call == 0 ? " install" : call == 1 ? " uninstall" : " forced uninstall"));
            LogCursor log;
            EXPECT_TRUE(KeyCall(kBadKey, path, call == 0, call == 2 ? T : F));
            EXPECT_TRUE(HasLogLine(log.Text(), call == 1 ? L'W' : L'E', L"Invalid registry key path " + std::wstring(path)));
        }
    }
    EXPECT_TRUE(ValueIs(k.Path(), L"witness", REG_DWORD, Dword(1)));
}

TEST_F(RegKeyCom, NullArgumentsAreRefused) {
    Bstr path(L"HKEY_CURRENT_USER\\Software\\OrvTest\\never"), name(L"v");
    IOrvRegKey* out = nullptr;
    BYTE byte = 0;
    BSTR strings[1] = {nullptr};
    const struct {
        const char* label;
        std::function<HRESULT()> call;
    } rows[] = {
        {"InstallRegKey path", [&] { return m_kernel->InstallRegKey(nullptr, &out); }},
        {"InstallRegKey out", [&] { return m_kernel->InstallRegKey(path, nullptr); }},
        {"UnInstallRegKey path", [&] { return m_kernel->UnInstallRegKey(nullptr, &out, T); }},
        {"UnInstallRegKey out", [&] { return m_kernel->UnInstallRegKey(path, nullptr, T); }},
        {"string name", [&] { return m_values->InstallStringValue(nullptr, name, T, F); }},
        {"string data", [&] { return m_values->InstallStringValue(name, nullptr, T, F); }},
        {"multi name", [&] { return m_values->InstallMultiStringValue(nullptr, strings, 1, T); }},
        {"multi array", [&] { return m_values->InstallMultiStringValue(name, nullptr, 0, T); }},
        {"integer name", [&] { return m_values->InstallIntegerValue(nullptr, 1, T); }},
        {"binary name", [&] { return m_values->InstallBinaryValue(nullptr, &byte, 1, T); }},
        {"binary data", [&] { return m_values->InstallBinaryValue(name, nullptr, 0, T); }},
        {"uninstall name", [&] { return m_values->UnInstallValue(nullptr); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.call(), E_POINTER);
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\OrvTest\\never"));
}

TEST_F(RegKeyCom, KeyCreationFailureLeavesNoCurrentKey) {
    TestKey k(L"fail");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"Good"), true));
    // A non-volatile key cannot live below a volatile one: the second level fails.
    ASSERT_TRUE(CreatePlainKey(k.Path(L"Vol"), REG_OPTION_VOLATILE));
    LogCursor log;
    EXPECT_TRUE(KeyCall(HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE), k.Full(L"Vol\\Q\\R"), true));
    EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Error creating key: error 1021"));
    EXPECT_TRUE(KeyGone(k.Path(L"Vol\\Q")));

    // Neither the failed key nor the previous one is current any more.
    EXPECT_EQ(m_values->InstallStringValue(Bstr(L"v"), Bstr(L"x"), F, F), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Error installing value: error 6"));
    EXPECT_TRUE(KeyHolds(k.Path(L"Good"), 0, 1));
    EXPECT_EQ(RemoveValue(L"v"), S_OK);
    EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Parent key does no longer exist: OK"));
}

TEST_F(RegKeyCom, ValueRules) {
    BSTR multi[] = {SysAllocString(L"a"), SysAllocString(L"bc"), nullptr, SysAllocString(L"d")};
    BYTE bytes[] = {0x01, 0xFF, 0x1A};
    const std::wstring kept = L"Value already exists: Keeping existing value";
    const std::wstring written = L"Value has been installed successfully";
    const struct {
        const char* label;
        DWORD preType;  // REG_NONE: no value before
        Bytes pre;
        std::function<HRESULT(BSTR)> call;
        HRESULT hr;
        DWORD type;
        Bytes data;
        std::wstring line;
    } rows[] = {
        {"string", REG_NONE, {}, [&](BSTR n) { return m_values->InstallStringValue(n, Bstr(L"abc"), F, F); },
         S_OK, REG_SZ, Utf16(L"abc"), written},
        {"empty string", REG_NONE, {}, [&](BSTR n) { return m_values->InstallStringValue(n, Bstr(L""), F, F); },
         S_OK, REG_SZ, Utf16(L""), written},
        {"expandable string", REG_NONE, {},
         [&](BSTR n) { return m_values->InstallStringValue(n, Bstr(L"%TEMP%\\x"), F, T); }, S_OK, REG_EXPAND_SZ,
         Utf16(L"%TEMP%\\x"), written},
        {"string keeps a DWORD", REG_DWORD, Dword(7),
         [&](BSTR n) { return m_values->InstallStringValue(n, Bstr(L"abc"), F, F); }, S_FALSE, REG_DWORD, Dword(7),
         kept},
        {"string keeps an empty binary", REG_BINARY, {},
         [&](BSTR n) { return m_values->InstallStringValue(n, Bstr(L"abc"), F, F); }, S_FALSE, REG_BINARY, {}, kept},
        {"string overrides", REG_SZ, Utf16(L"old"),
         [&](BSTR n) { return m_values->InstallStringValue(n, Bstr(L"new"), T, F); }, S_OK, REG_SZ, Utf16(L"new"),
         L"Registry action runs in overwrite-mode per default"},
        {"multi-string", REG_NONE, {}, [&](BSTR n) { return m_values->InstallMultiStringValue(n, multi, 2, F); },
         S_OK, REG_MULTI_SZ, Utf16(std::wstring(L"a\0bc\0", 5), 1), written},
        {"multi-string, null string taken as empty", REG_NONE, {},
         [&](BSTR n) { return m_values->InstallMultiStringValue(n, multi, 4, F); }, S_OK, REG_MULTI_SZ,
         Utf16(std::wstring(L"a\0bc\0\0d\0", 8), 1), written},
        {"multi-string, no strings", REG_NONE, {},
         [&](BSTR n) { return m_values->InstallMultiStringValue(n, multi, 0, F); }, S_OK, REG_MULTI_SZ, Utf16(L""),
         written},
        {"multi-string, negative count", REG_NONE, {},
         [&](BSTR n) { return m_values->InstallMultiStringValue(n, multi, -3, F); }, S_OK, REG_MULTI_SZ, Utf16(L""),
         written},
        {"multi-string keeps a binary", REG_BINARY, {9},
         [&](BSTR n) { return m_values->InstallMultiStringValue(n, multi, 2, F); }, S_FALSE, REG_BINARY, {9}, kept},
        {"multi-string overrides", REG_SZ, Utf16(L"old"),
         [&](BSTR n) { return m_values->InstallMultiStringValue(n, multi, 1, T); }, S_OK, REG_MULTI_SZ,
         Utf16(std::wstring(L"a\0", 2), 1), L"Force flag is set"},
        {"integer", REG_NONE, {}, [&](BSTR n) { return m_values->InstallIntegerValue(n, 16, F); }, S_OK, REG_DWORD,
         Dword(16), written},
        {"negative integer", REG_NONE, {}, [&](BSTR n) { return m_values->InstallIntegerValue(n, -2, F); }, S_OK,
         REG_DWORD, Dword(0xFFFFFFFE), written},
        {"integer replaces a string", REG_SZ, Utf16(L"old"),
         [&](BSTR n) { return m_values->InstallIntegerValue(n, 5, F); }, S_OK, REG_DWORD, Dword(5), written},
        {"integer keeps a DWORD", REG_DWORD, Dword(7), [&](BSTR n) { return m_values->InstallIntegerValue(n, 5, F); },
         S_FALSE, REG_DWORD, Dword(7), kept},
        {"integer overrides", REG_DWORD, Dword(7), [&](BSTR n) { return m_values->InstallIntegerValue(n, 5, T); },
         S_OK, REG_DWORD, Dword(5), L"Force flag is set"},
        {"binary", REG_NONE, {}, [&](BSTR n) { return m_values->InstallBinaryValue(n, bytes, 3, F); }, S_OK,
         REG_BINARY, {0x01, 0xFF, 0x1A}, written},
        {"empty binary", REG_NONE, {}, [&](BSTR n) { return m_values->InstallBinaryValue(n, bytes, 0, F); }, S_OK,
         REG_BINARY, {}, written},
        {"binary keeps a DWORD", REG_DWORD, Dword(7),
         [&](BSTR n) { return m_values->InstallBinaryValue(n, bytes, 3, F); }, S_FALSE, REG_DWORD, Dword(7), kept},
        {"binary overrides", REG_SZ, Utf16(L"old"),
         [&](BSTR n) { return m_values->InstallBinaryValue(n, bytes, 1, T); }, S_OK, REG_BINARY, {0x01},
         L"Force flag is set"},
    };
    TestKey k(L"values");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"V"), true));
    for (int defaultValue = 0; defaultValue < 2; ++defaultValue) {
        for (const auto& row : rows) {
            const std::wstring name = defaultValue ? L"" : Widen(row.label);
            SCOPED_TRACE(std::string(row.label) + (defaultValue ? " (default value)" : ""));
            RegDeleteKeyValueW(HKEY_CURRENT_USER, k.Path(L"V").c_str(), name.c_str());
            if (row.preType != REG_NONE) {
                ASSERT_TRUE(SetValue(k.Path(L"V"), name.c_str(), row.preType, row.pre));
            }
            LogCursor log;
            EXPECT_EQ(row.call(Bstr(name)), row.hr);
            EXPECT_TRUE(ValueIs(k.Path(L"V"), name.c_str(), row.type, row.data));
            EXPECT_TRUE(HasLogLine(log.Text(), L' ', row.line));
        }
    }
    for (BSTR s : multi) SysFreeString(s);
}

TEST_F(RegKeyCom, ValueCallsWithoutUsableCurrentKey) {
    BYTE byte = 0;
    BSTR strings[1] = {nullptr};
    Bstr name(L"v"), data(L"x");
    const struct {
        const char* label;
        std::function<HRESULT()> call;
    } rows[] = {
        {"string", [&] { return m_values->InstallStringValue(name, data, T, F); }},
        {"multi-string", [&] { return m_values->InstallMultiStringValue(name, strings, 1, F); }},
        {"integer", [&] { return m_values->InstallIntegerValue(name, 1, F); }},
        {"binary", [&] { return m_values->InstallBinaryValue(name, &byte, 1, F); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCursor log;
        EXPECT_EQ(row.call(), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
        EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Error installing value: error 6"));
    }
    LogCursor log;
    EXPECT_EQ(RemoveValue(L"v"), S_OK);
    EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Parent key does no longer exist: OK"));

    // The current key deleted behind the kernel's back.
    TestKey k(L"deleted");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"D"), true));
    ASSERT_EQ(SHDeleteKeyW(HKEY_CURRENT_USER, k.Path(L"D").c_str()), static_cast<DWORD>(ERROR_SUCCESS));
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.label) + ", key deleted");
        LogCursor deleted;
        EXPECT_EQ(row.call(), HRESULT_FROM_WIN32(ERROR_KEY_DELETED));
        EXPECT_TRUE(HasLogLine(deleted.Text(), L'E', L"Error installing value: error 1018"));
    }
}

// P existed before; the kernel created P\Q\R and the value v in R. Removing
// v walks up from R over the kernel's empty keys.
TEST_F(RegKeyCom, UnInstallValueRemovesEmptiedKernelKeys) {
    const struct {
        const char* label;
        std::function<void(const TestKey&)> before;  // before InstallRegKey
        std::function<void(const TestKey&)> after;   // after the value was installed
        std::vector<const wchar_t*> gone;
        std::vector<const wchar_t*> kept;
        bool currentKeyGone;
    } rows[] = {
        {"last value", nullptr, nullptr, {L"P\\Q\\R", L"P\\Q"}, {L"P"}, true},
        {"R holds another value", nullptr,
         [](const TestKey& k) { SetValue(k.Path(L"P\\Q\\R"), L"w", REG_DWORD, Dword(1)); }, {}, {L"P\\Q\\R"}, false},
        {"Q holds another subkey", nullptr, [](const TestKey& k) { CreatePlainKey(k.Path(L"P\\Q\\S")); },
         {L"P\\Q\\R"}, {L"P\\Q"}, true},
        {"Q holds a value", nullptr, [](const TestKey& k) { SetValue(k.Path(L"P\\Q"), L"x", REG_DWORD, Dword(1)); },
         {L"P\\Q\\R"}, {L"P\\Q"}, true},
        {"Q's marker is not a DWORD", nullptr,
         [](const TestKey& k) { SetValue(k.Path(L"P\\Q"), L"OrvCreateKey", REG_SZ, Utf16(L"0")); }, {L"P\\Q\\R"},
         {L"P\\Q"}, true},
        {"R existed before", [](const TestKey& k) { CreatePlainKey(k.Path(L"P\\Q\\R")); }, nullptr, {}, {L"P\\Q\\R"},
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"walk");
        ASSERT_TRUE(CreatePlainKey(k.Path(L"P")));
        if (row.before) row.before(k);
        IOrvRegKey* out = nullptr;
        ASSERT_TRUE(SUCCEEDED(m_kernel->InstallRegKey(Bstr(k.Full(L"P\\Q\\R")), &out)));
        out->Release();
        ASSERT_EQ(m_values->InstallStringValue(Bstr(L"v"), Bstr(L"data"), F, F), S_OK);
        if (row.after) row.after(k);

        LogCursor log;
        EXPECT_TRUE(KeyCall(S_OK, k.Full(L"P\\Q\\R"), false));
        EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Key has been opened successfully for uninstallation"));
        EXPECT_EQ(RemoveValue(L"v"), S_OK);
        EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Registry value uninstallation succeeded"));
        EXPECT_TRUE(ValueMissing(k.Path(L"P\\Q\\R"), L"v"));
        for (const wchar_t* path : row.gone) EXPECT_TRUE(KeyGone(k.Path(path)));
        for (const wchar_t* path : row.kept) EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, k.Path(path))) << Narrow(path);
        EXPECT_TRUE(IsUnmarked(k.Path(L"P")));

        LogCursor next;
        HRESULT hr = RemoveValue(L"w");
        if (row.currentKeyGone) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_TRUE(HasLogLine(next.Text(), L' ', L"Parent key does no longer exist: OK"));
        } else {
            EXPECT_NE(next.Text().find(L"Attempting to uninstall registry value 'w'"), std::wstring::npos);
            EXPECT_EQ(next.Text().find(L"Parent key does no longer exist"), std::wstring::npos);
        }
    }
}

TEST_F(RegKeyCom, UnInstallValueOfAMissingValueDoesNotWalk) {
    TestKey k(L"missing");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"Q\\R"), true));
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"Q\\R"), false));
    LogCursor log;
    EXPECT_EQ(RemoveValue(L"nope"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(HasLogLine(log.Text(), L'W', L"Cannot uninstall registry value (maybe it is already gone!): error 2"));
    EXPECT_TRUE(IsMarked(k.Path(L"Q\\R")));  // holds only its marker, yet stays
}

TEST_F(RegKeyCom, UnInstallRegKeyOfAMissingKey) {
    TestKey k(L"gone");
    LogCursor log;
    EXPECT_TRUE(KeyCall(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), k.Full(L"X"), false));
    EXPECT_TRUE(HasLogLine(log.Text(), L'W',
                           L"Cannot open key for uninstallation (key might be uninstalled already): error 2"));
    EXPECT_TRUE(KeyCall(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), k.Full(L"X"), false, T));
    EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Error uninstalling key: error 2"));
}

TEST_F(RegKeyCom, ForcedUnInstallDeletesTheTreeAndKeepsTheCurrentKey) {
    TestKey k(L"force");
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"P\\Q"), true));
    ASSERT_TRUE(CreatePlainKey(k.Path(L"P\\Q\\Plain\\Deep")));
    ASSERT_TRUE(SetValue(k.Path(L"P\\Q\\Plain"), L"x", REG_DWORD, Dword(1)));
    ASSERT_TRUE(KeyCall(S_OK, k.Full(L"Current"), true));

    LogCursor log;
    EXPECT_TRUE(KeyCall(S_OK, k.Full(L"P"), false, T));
    EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Force flag is set"));
    EXPECT_TRUE(HasLogLine(log.Text(), L' ', L"Key has been uninstalled successfully"));
    EXPECT_TRUE(KeyGone(k.Path(L"P")));
    EXPECT_EQ(m_values->InstallIntegerValue(Bstr(L"after"), 3, F), S_OK);
    EXPECT_TRUE(ValueIs(k.Path(L"Current"), L"after", REG_DWORD, Dword(3)));
}
