// White-box: the registration-file applier on files written here, and the access
// masks reaching the registry, recorded through the kernel's registry table (a
// 64-bit process under Wine shows no difference between registry views).
#include <functional>
#include <optional>
#include <set>
#include "RegTestUtil.h"
#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "registry/RegFile.h"
#include "registry/RegistryApi.h"

using namespace orv::test;
using namespace std::string_literals;

namespace {

struct Value {
    const wchar_t *sub, *name;
    DWORD type;  // REG_NONE: missing
    std::string data;
};

class RegFile : public ::testing::Test {
protected:
    // The script, every "$K" replaced by the test key's path, written.
    std::wstring Write(std::string text) {
        const std::string path = Narrow(m_key->Path());
        for (size_t at = text.find("$K"); at != std::string::npos; at = text.find("$K", at))
            text.replace(at, 2, path);
        EXPECT_TRUE(WriteBytes(m_dir / L"s.reg", text));
        return m_dir / L"s.reg";
    }
    HRESULT Apply(const std::string& text, bool install = true, LPCWSTR dir = L"C:\\App") {
        return orv::ReadRegistrationFile(Write(text).c_str(), dir,
                                         install ? orv::RegFileDirection::Install : orv::RegFileDirection::UnInstall);
    }
    AssertionResult Has(const Value& v) { return ValueIs(m_key->Path(v.sub), v.name, v.type, v.data); }

    TempDir m_dir;
    std::optional<TestKey> m_key{std::in_place, L"rf"};
};

}  // namespace

TEST_F(RegFile, InstallRules) {
    const struct { const char* label; std::string script; std::wstring dir; std::vector<Value> values; std::wstring errorLine; } rows[] = {
        {"default value through @ and an empty name, quoted names, trailing text after ']', CR LF",
         "REGEDIT4\r\n[HKEY_CURRENT_USER\\$K\\A] ; x\r\n@=\"1\"\n=\"2\"\n\"@\"=\"3\"\n\"Threading\"\"Model\"=\"Apartment\"\n", L"",
         {{L"A", L"", REG_SZ, Utf16(L"2")}, {L"A", L"@", REG_SZ, Utf16(L"3")}, {L"A", L"ThreadingModel", REG_SZ, Utf16(L"Apartment")}}, L""},
        {"placeholder, directory without a trailing backslash", "[HKEY_CURRENT_USER\\$K\\A]\n@=\"%orvtargetdir%\\s.dll\"\n",
         L"C:\\App", {{L"A", L"", REG_SZ, Utf16(L"C:\\App\\s.dll")}}, L""},
        {"placeholder, directory with a trailing backslash", "[HKEY_CURRENT_USER\\$K\\A]\n@=\"%orvtargetdir%\\s.dll\"\n",
         L"C:\\App\\", {{L"A", L"", REG_SZ, Utf16(L"C:\\App\\s.dll")}}, L""},
        {"dword in decimal, hex with both separators, backslashes kept",
         "[HKEY_CURRENT_USER\\$K\\A]\na=dword:16\nb=DWORD:00000010\nh=hex:01,ff.1a\ne=Hex:\np=\"C:\\\\Dir\"\n", L"",
         {{L"A", L"a", REG_DWORD, Dword(16)}, {L"A", L"b", REG_DWORD, Dword(10)}, {L"A", L"h", REG_BINARY, std::string("\x01\xFF\x1A", 3)},
          {L"A", L"e", REG_BINARY, {}}, {L"A", L"p", REG_SZ, Utf16(L"C:\\\\Dir")}}, L""},
        {"invalid top key skipped, next section applied",
         "[HKEY_Local_Machine\\$K\\X]\nv=\"1\"\n[HKEY_CURRENT_USER\\$K\\A]\nv=\"2\"\n", L"",
         {{L"A", L"v", REG_SZ, Utf16(L"2")}, {L"X", L"v", REG_NONE, {}}},
         L"Found invalid top key HKEY_Local_Machine: Skipping this key: error 1010"},
        {"header naming only the top key", "[HKEY_CURRENT_USER]\nOrvTopOnly=\"1\"\n[HKEY_CURRENT_USER\\]\nx=\"1\"\n",
         L"", {}, L"Invalid section header [HKEY_CURRENT_USER] (the section names a top key without a subkey)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        m_key.emplace(L"rf");
        LogCursor log;
        EXPECT_EQ(Apply(row.script, true, row.dir.c_str()), S_OK);
        for (const Value& v : row.values) EXPECT_TRUE(Has(v));
        EXPECT_TRUE(row.errorLine.empty() ? AssertionSuccess() : HasLogLine(log.Text(), L'E', row.errorLine));
        EXPECT_TRUE(ValueIs(L"", L"OrvTopOnly", REG_NONE));
        EXPECT_TRUE(ValueIs(L"", L"x", REG_NONE));
        EXPECT_TRUE(Marked(m_key->Path(), false));
    }
}

TEST_F(RegFile, InstallTwiceRewritesValuesAndMarksNothingNew) {
    const std::string script = "[HKEY_CURRENT_USER\\$K\\A\\B]\ns=\"one\"\nd=dword:5\n";
    ASSERT_EQ(Apply(script), S_OK);
    EXPECT_TRUE(Marked(m_key->Path(L"A")));
    ASSERT_TRUE(SetValue(m_key->Path(L"A\\B"), L"s", REG_SZ, Utf16(L"changed")));
    ASSERT_TRUE(SetValue(m_key->Path(L"A\\B"), L"d", REG_SZ, Utf16(L"other type")));
    ASSERT_TRUE(SetValue(m_key->Path(L"A\\B"), L"OrvCreateKey", REG_DWORD, Dword(9)));  // shows a rewrite
    EXPECT_EQ(Apply(script), S_OK);
    EXPECT_TRUE(Has({L"A\\B", L"s", REG_SZ, Utf16(L"one")}));
    EXPECT_TRUE(Has({L"A\\B", L"d", REG_DWORD, Dword(5)}));
    EXPECT_TRUE(Has({L"A\\B", L"OrvCreateKey", REG_DWORD, Dword(9)}));
    EXPECT_TRUE(Marked(m_key->Path(), false));
}

// Installed, then changed by somebody else (or not), then uninstalled: what
// still is as installed goes, with the kernel's keys once they are empty.
TEST_F(RegFile, UnInstallRemovesOnlyWhatIsStillAsInstalled) {
    const std::string script = "[HKEY_CURRENT_USER\\$K\\App]\ns=\"Hi %orvtargetdir%\\x\"\nd=dword:16\nh=hex:01,02\n"
                               "[HKEY_CURRENT_USER\\$K\\App\\Sub]\nv=\"1\"\n";
    // change.name null: no change, type REG_NONE: value deleted; valuesLeft: in App afterwards (0: App is gone).
    const struct { const char* label; Value change; DWORD valuesLeft; const wchar_t* line; } rows[] = {
        {"unchanged", {L"App", nullptr, 0, {}}, 0, nullptr},
        {"string differing in letter case only", {L"App", L"s", REG_SZ, Utf16(L"HI c:\\aPP\\X")}, 0, nullptr},
        {"string changed", {L"App", L"s", REG_SZ, Utf16(L"Hi C:\\App\\y")}, 2, L"Data of value s was changed"},
        {"string type changed", {L"App", L"s", REG_EXPAND_SZ, Utf16(L"Hi C:\\App\\x")}, 2, L"Type of value s was changed"},
        {"dword changed", {L"App", L"d", REG_DWORD, Dword(17)}, 2, L"Data of value d was changed"},
        {"hex changed", {L"App", L"h", REG_BINARY, std::string("\x01\x03", 2)}, 2, L"Data of value h was changed"},
        {"key not created by the kernel", {L"App", L"OrvCreateKey", REG_NONE, {}}, 3, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        m_key.emplace(L"rf");
        ASSERT_EQ(Apply(script), S_OK);
        ASSERT_TRUE(!row.change.type || SetValue(m_key->Path(L"App"), row.change.name, row.change.type, row.change.data));
        if (row.change.name && row.change.type == REG_NONE)
            RegDeleteKeyValueW(HKEY_CURRENT_USER, m_key->Path(L"App").c_str(), row.change.name);
        LogCursor log;
        EXPECT_EQ(Apply(script, false), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, m_key->Path(L"App\\Sub")));
        EXPECT_TRUE(KeyHolds(m_key->Path(L"App"), row.valuesLeft ? 0 : ~0u, row.valuesLeft ? row.valuesLeft : ~0u));
        if (row.line) {
            EXPECT_TRUE(Has(row.change));
            EXPECT_TRUE(HasLogLine(log.Text(), L' ', row.line + L" since installation: will not delete value"s));
        }
        EXPECT_TRUE(Marked(m_key->Path(), false));
    }
}

TEST_F(RegFile, BadInput) {
    std::string garbage(64 * 1024, '\0');
    for (unsigned i = 0, state = 1; i < garbage.size(); ++i) garbage[i] = char((state = state * 1103515245u + 12345u) >> 16);
    const std::string after = "\n[HKEY_CURRENT_USER\\$K\\After]\nv=\"1\"\n";
    const struct { const char* label; std::string bytes; const wchar_t* line; } rows[] = {
        {"binary garbage", garbage + after, nullptr},
        {"NUL bytes", "[HKEY_CURRENT_USER\\$K\\N\0ul]\nv=\"1\"\n[HKEY_CURRENT_USER\\$K\\After]\na=\"x\0y\"\nv=\"1\"\n"s,
         L"Skipping line 4 of the registration file (rejected: the line contains a NUL character)"},
        {"one huge line", std::string(8 * 1024 * 1024, 'A') + after, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        m_key.emplace(L"rf");
        LogCursor log;
        EXPECT_EQ(Apply(row.bytes), S_OK);
        EXPECT_TRUE(Has({L"After", L"v", REG_SZ, Utf16(L"1")}));
        EXPECT_TRUE(KeyHolds(m_key->Path(), 1, 0));
        EXPECT_TRUE(row.line ? HasLogLine(log.Text(), L'W', row.line) : AssertionSuccess());
    }
    // Files that cannot be opened.
    ASSERT_TRUE(WriteBytes(m_dir / L"locked.reg", "[HKEY_CURRENT_USER\\Software\\OrvTest\\Locked]\n"));
    HANDLE locked = CreateFileW((m_dir / L"locked.reg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::pair<std::wstring, DWORD> files[] = {{m_dir / L"no.reg", 2}, {m_dir / L"locked.reg", 32}};
    for (const auto& [path, error] : files) {
        LogCursor log;
        EXPECT_EQ(orv::InstallRegistrationFile(path.c_str(), L""), HRESULT_FROM_WIN32(error));
        EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Error reading reg file: error " + std::to_wstring(error)));
    }
    CloseHandle(locked);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\OrvTest\\Locked"));
}

namespace {

// "C" create, "O" open, "D" delete key, "S" SHDeleteKey, with the access mask.
std::set<std::pair<char, REGSAM>> g_calls;
const orv::RegistryApi& Sys() { return orv::SystemRegistryCalls(); }

LONG WINAPI Create(HKEY r, LPCWSTR p, DWORD x, LPWSTR c, DWORD o, REGSAM sam, LPSECURITY_ATTRIBUTES sa, PHKEY k,
                   LPDWORD d) {
    return g_calls.insert({'C', sam}), Sys().pfnCreateKeyEx(r, p, x, c, o, sam, sa, k, d);
}
LONG WINAPI Open(HKEY r, LPCWSTR p, DWORD o, REGSAM sam, PHKEY k) {
    return g_calls.insert({'O', sam}), Sys().pfnOpenKeyEx(r, p, o, sam, k);
}
LONG WINAPI Delete(HKEY k, LPCWSTR p) { return g_calls.insert({'D', 0}), Sys().pfnDeleteKey(k, p); }
DWORD WINAPI SHDelete(HKEY k, LPCWSTR p) { return g_calls.insert({'S', 0}), Sys().pfnSHDeleteKey(k, p); }

}  // namespace

TEST_F(RegFile, AccessMasks) {
    orv::RegistryCalls() = {&Create, &Open, &Delete, &SHDelete};
    IOrvInstallerKernel* kernel = nullptr;
    IOrvRegKey* values = nullptr;
    ASSERT_EQ(OrvWexKrCreateInstance(&kernel), S_OK);
    ASSERT_EQ(kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&values)), S_OK);
    auto key = [&](const std::wstring& path, int call) {  // 0 install, 1 uninstall, 2 forced
        IOrvRegKey* out = nullptr;
        (void)(call ? kernel->UnInstallRegKey(Bstr(path), &out, call == 2 ? VARIANT_TRUE : VARIANT_FALSE)
                    : kernel->InstallRegKey(Bstr(path), &out));
        if (out) out->Release();
    };
    auto value = [&](bool install) {
        (void)(install ? values->InstallIntegerValue(Bstr(L"v"), 1, VARIANT_FALSE) : values->UnInstallValue(Bstr(L"v")));
    };
    const TestKey& k = *m_key;
    const std::wstring script = Write("[HKEY_CURRENT_USER\\$K\\File]\nv=dword:1\n");
    const REGSAM w64 = KEY_WOW64_64KEY;
    // setup is not recorded.
    const struct { const char* label; bool b64; std::function<void()> setup, action; std::set<std::pair<char, REGSAM>> expected; } rows[] = {
        {"InstallRegKey", false, nullptr, [&] { key(k.Full(L"A\\B"), 0); }, {{'C', 0x2001F}}},
        {"InstallRegKey, 64-bit", true, nullptr, [&] { key(k.Full(L"A\\B"), 0); }, {{'C', 0x2001F | w64}}},
        {"UnInstallRegKey, 64-bit", true, nullptr, [&] { key(k.Full(L"A\\B"), 1); }, {{'O', 0xF003F | w64}}},
        {"removal walk, 64-bit", true, [&] { key(k.Full(L"W\\X"), 0), value(true); }, [&] { value(false); },
         {{'O', 0x2001F | w64}, {'D', 0}}},
        {"forced UnInstallRegKey, 64-bit", true, [&] { key(k.Full(L"A\\B"), 0); }, [&] { key(k.Full(L"A"), 2); },
         {{'S', 0}}},
        {"registration file install, 64-bit", true, nullptr,
         [&] { orv::InstallRegistrationFile(script.c_str(), L""); }, {{'C', 3}}},
        {"registration file uninstall, 64-bit", true, nullptr,
         [&] { orv::UnInstallRegistrationFile(script.c_str(), L""); }, {{'O', 3}, {'O', 0x2001F}, {'D', 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(kernel->put_Use64BitHive(row.b64 ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        if (row.setup) row.setup();
        g_calls.clear();
        row.action();
        EXPECT_EQ(g_calls, row.expected);
    }
    values->Release();
    kernel->Release();
    orv::RegistryCalls() = orv::SystemRegistryCalls();
}
