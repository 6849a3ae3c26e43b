// The registration-file applier called directly: files written here, the
// registry read back afterwards.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <functional>
#include "RegTestUtil.h"
#include "files/FileModel.h"
#include "registry/RegFile.h"

using namespace orv::test;
using namespace std::string_literals;

namespace {

// The script with every "$K" replaced by the test key's path.
std::string Script(std::string text, const TestKey& k) {
    const std::string path = Narrow(k.Path());
    for (size_t at = text.find("$K"); at != std::string::npos; at = text.find("$K", at + path.size()))
        text.replace(at, 2, path);
    return text;
}

std::wstring SystemDir() {
    WCHAR dir[MAX_PATH];
    GetSystemDirectoryW(dir, MAX_PATH);
    return dir;
}

struct Value {
    const wchar_t* sub;
    const wchar_t* name;
    DWORD type;
    Bytes data;
};
struct LogLine {
    WCHAR severity;
    std::wstring text;  // "$K" stands for the test key's path below HKCU
};

class RegFile : public ::testing::Test {
protected:
    HRESULT Apply(const std::string& bytes, orv::RegFileDirection direction, LPCWSTR dir = L"C:\\App") {
        EXPECT_TRUE(WriteBytes(File(), bytes));
        return orv::ReadRegistrationFile(File().c_str(), dir, direction);
    }
    HRESULT Install(const std::string& bytes, LPCWSTR dir = L"C:\\App") {
        return Apply(bytes, orv::RegFileDirection::Install, dir);
    }
    HRESULT UnInstall(const std::string& bytes) { return Apply(bytes, orv::RegFileDirection::UnInstall); }
    std::wstring File() const { return m_dir / L"script.reg"; }

    static ::testing::AssertionResult LogHas(const std::wstring& log, const LogLine& line, const TestKey& k) {
        std::wstring text = line.text;
        const size_t at = text.find(L"$K");
        if (at != std::wstring::npos) text.replace(at, 2, k.Path());
        return HasLogLine(log, line.severity, text);
    }

    TempDir m_dir;
};

}  // namespace

TEST_F(RegFile, InstallRules) {
    const std::wstring longDir = L"C:\\" + std::wstring(300, L'd');
    WCHAR acp[8] = {};
    MultiByteToWideChar(CP_ACP, 0, "caf\xE9", 4, acp, 8);
    const struct {
        const char* label;
        std::string script;
        std::wstring dir;
        std::vector<Value> present;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> absent;  // sub key, value name (null: the key)
        std::vector<LogLine> lines;
    } rows[] = {
        {"default value through @ and an empty name",
         "REGEDIT4\n[HKEY_CURRENT_USER\\$K\\A]\n@=\"one\"\n[HKEY_CURRENT_USER\\$K\\B]\n=\"two\"\n\"@\"=\"three\"\n",
         L"C:\\App",
         {{L"A", L"", REG_SZ, Utf16(L"one")}, {L"B", L"", REG_SZ, Utf16(L"two")}, {L"B", L"@", REG_SZ, Utf16(L"three")}},
         {},
         {}},
        {"quoted names, CR LF line ends", "[HKEY_CURRENT_USER\\$K\\A]\r\n\"Threading\"\"Model\"=\"Apartment\"\r\n",
         L"C:\\App", {{L"A", L"ThreadingModel", REG_SZ, Utf16(L"Apartment")}}, {}, {}},
        {"target directory without a trailing backslash",
         "[HKEY_CURRENT_USER\\$K\\A]\n@=\"%orvtargetdir%\\server.dll\"\n", L"C:\\App",
         {{L"A", L"", REG_SZ, Utf16(L"C:\\App\\server.dll")}}, {}, {}},
        {"target directory with a trailing backslash",
         "[HKEY_CURRENT_USER\\$K\\A]\n@=\"%orvtargetdir%\\server.dll\"\n", L"C:\\App\\",
         {{L"A", L"", REG_SZ, Utf16(L"C:\\App\\server.dll")}}, {}, {}},
        {"placeholder in other case, ending the data", "[HKEY_CURRENT_USER\\$K\\A]\nv=\"%OrvTargetDir%\"\n", L"C:\\App",
         {{L"A", L"v", REG_SZ, Utf16(L"C:\\App\\")}}, {}, {}},
        {"system directory", "[HKEY_CURRENT_USER\\$K\\A]\nv=\"%winsysdir%\\x.dll\"\n", L"C:\\App",
         {{L"A", L"v", REG_SZ, Utf16(SystemDir() + L"\\x.dll")}}, {}, {}},
        {"directory longer than MAX_PATH", "[HKEY_CURRENT_USER\\$K\\A]\nv=\"%orvtargetdir%/x\"\n", longDir,
         {{L"A", L"v", REG_SZ, Utf16(longDir + L"\\x")}}, {}, {}},
        {"placeholder without a directory", "[HKEY_CURRENT_USER\\$K\\A]\nv=\"%orvtargetdir%\\x\"\nw=\"ok\"\n", L"",
         {{L"A", L"w", REG_SZ, Utf16(L"ok")}}, {{L"A", L"v"}},
         {{L'W', L"Skipping line 2 of the registration file (rejected: no directory known for the placeholder)"}}},
        {"dword in decimal", "[HKEY_CURRENT_USER\\$K\\A]\na=dword:16\nb=DWORD:00000010\nc=dword:99999999999\n", L"",
         {{L"A", L"a", REG_DWORD, Dword(16)}, {L"A", L"b", REG_DWORD, Dword(10)}, {L"A", L"c", REG_DWORD, Dword(~0u)}},
         {}, {}},
        {"hex with both separators", "[HKEY_CURRENT_USER\\$K\\A]\nh=hex:01,ff.1a\ne=Hex:\n", L"",
         {{L"A", L"h", REG_BINARY, {0x01, 0xFF, 0x1A}}, {L"A", L"e", REG_BINARY, {}}}, {}, {}},
        {"backslashes kept", "[HKEY_CURRENT_USER\\$K\\A]\np=\"C:\\\\Dir\"\n", L"",
         {{L"A", L"p", REG_SZ, Utf16(L"C:\\\\Dir")}}, {}, {}},
        {"ANSI code page", "[HKEY_CURRENT_USER\\$K\\A]\nv=\"caf\xE9\"\n", L"", {{L"A", L"v", REG_SZ, Utf16(acp)}}, {},
         {}},
        {"trailing text after the bracket", "[HKEY_CURRENT_USER\\$K\\T] ; comment\nv=\"1\"\n", L"",
         {{L"T", L"v", REG_SZ, Utf16(L"1")}}, {}, {}},
        {"an empty section creates its key", "[HKEY_CURRENT_USER\\$K\\Empty]\n", L"",
         {{L"Empty", L"OrvCreateKey", REG_DWORD, Dword(0)}}, {}, {}},
        {"invalid top key skipped, next section applied",
         "[HKEY_Local_Machine\\$K\\X]\nv=\"1\"\n[HKEY_CURRENT_USER\\$K\\Y]\nv=\"2\"\n", L"",
         {{L"Y", L"v", REG_SZ, Utf16(L"2")}}, {{L"X", nullptr}},
         {{L'E', L"Found invalid top key HKEY_Local_Machine: Skipping this key: error 1010"}}},
        {"header without HKEY_", "[Software\\X]\nv=\"1\"\n", L"", {}, {},
         {{L'E', L"Found invalid top key Software: Skipping this key: error 1010"}}},
        {"header without closing bracket", "[HKEY_CURRENT_USER\\$K\\NB\nv=\"1\"\n", L"", {}, {{L"NB", nullptr}},
         {{L'E', L"Invalid section header [HKEY_CURRENT_USER\\$K\\NB (no closing ']'"}}},
        {"header naming only the top key", "[HKEY_CURRENT_USER]\nOrvTopOnly=\"1\"\n[HKEY_CURRENT_USER\\]\n", L"", {},
         {},
         {{L'E', L"Invalid section header [HKEY_CURRENT_USER] (the section names a top key without a subkey)"},
          {L'E', L"Invalid section header [HKEY_CURRENT_USER\\] (the section names"}}},
        {"HKEY_DYN_DATA on the NT family", "[HKEY_DYN_DATA\\OrvTest]\nv=\"1\"\n", L"", {}, {},
         {{L'E', L"Registry top key HKEY_DYN_DATA is not supported on WinNT platforms: error 1010"}}},
        {"unrecognised type word", "[HKEY_CURRENT_USER\\$K\\A]\ne=hex(2):41,00\nm=multi:x\n", L"", {},
         {{L"A", L"e"}, {L"A", L"m"}},
         {{L'W', L"Unrecognized value type hex(2): Skipping this value e"},
          {L'W', L"Unrecognized value type multi: Skipping this value m"}}},
        {"typed line without a colon", "[HKEY_CURRENT_USER\\$K\\A]\nn=dword16\n", L"", {}, {{L"A", L"n"}},
         {{L'W', L"Skipping line 2 of the registration file (rejected: no ':' after the '=' of a value without "
                 L"quotes): n=dword16"}}},
        {"no header at all", "v=\"1\"\nREGEDIT4\n", L"", {}, {{L"", L"v"}}, {}},
        {"values the registry refuses", "[HKEY_CURRENT_USER\\$K\\A]\n" + std::string(16384, 's') + "=\"1\"\n" +
             std::string(16384, 'd') + "=dword:1\n" + std::string(16384, 'h') + "=hex:01\nafter=\"ok\"\n",
         L"", {{L"A", L"after", REG_SZ, Utf16(L"ok")}}, {},
         {{L'E', L"Error setting string value ssssssss"}, {L'E', L"Error setting dword value dddddddd"},
          {L'E', L"Error setting hex value hhhhhhhh"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"rf");
        LogCursor log;
        EXPECT_EQ(Install(Script(row.script, k), row.dir.c_str()), S_OK);
        for (const Value& v : row.present) EXPECT_TRUE(ValueIs(k.Path(v.sub), v.name, v.type, v.data));
        for (const auto& a : row.absent) {
            if (a.second)
                EXPECT_TRUE(ValueMissing(k.Path(a.first), a.second));
            else
                EXPECT_TRUE(KeyGone(k.Path(a.first)));
        }
        for (const LogLine& line : row.lines) EXPECT_TRUE(LogHas(log.Text(), line, k));
        EXPECT_TRUE(ValueMissing(L"", L"OrvTopOnly"));
        EXPECT_TRUE(IsUnmarked(k.Path()));
    }
}

TEST_F(RegFile, UnableToCreateKeyGoesOnWithTheNextSection) {
    TestKey k(L"nocreate");
    ASSERT_TRUE(CreatePlainKey(k.Path(L"Vol"), REG_OPTION_VOLATILE));
    LogCursor log;
    EXPECT_EQ(Install(Script("[HKEY_CURRENT_USER\\$K\\Vol\\Q]\nv=\"1\"\n[HKEY_CURRENT_USER\\$K\\Next]\nv=\"2\"\n", k)),
              S_OK);
    EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Unable to open or create key " + k.Full(L"Vol\\Q") + L": error 1021"));
    EXPECT_TRUE(KeyGone(k.Path(L"Vol\\Q")));
    EXPECT_TRUE(ValueIs(k.Path(L"Next"), L"v", REG_SZ, Utf16(L"2")));
}

TEST_F(RegFile, InstallTwiceRewritesValuesAndMarksNothingNew) {
    TestKey k(L"twice");
    const std::string script = Script("[HKEY_CURRENT_USER\\$K\\A\\B]\ns=\"one\"\nd=dword:5\n", k);
    ASSERT_EQ(Install(script), S_OK);
    EXPECT_TRUE(IsMarked(k.Path(L"A")));
    EXPECT_TRUE(IsMarked(k.Path(L"A\\B")));
    ASSERT_TRUE(SetValue(k.Path(L"A\\B"), L"s", REG_SZ, Utf16(L"changed")));
    ASSERT_TRUE(SetValue(k.Path(L"A\\B"), L"d", REG_SZ, Utf16(L"other type")));
    ASSERT_TRUE(SetValue(k.Path(L"A\\B"), L"OrvCreateKey", REG_DWORD, Dword(9)));  // would show a rewrite
    EXPECT_EQ(Install(script), S_OK);
    EXPECT_TRUE(ValueIs(k.Path(L"A\\B"), L"s", REG_SZ, Utf16(L"one")));
    EXPECT_TRUE(ValueIs(k.Path(L"A\\B"), L"d", REG_DWORD, Dword(5)));
    EXPECT_TRUE(ValueIs(k.Path(L"A\\B"), L"OrvCreateKey", REG_DWORD, Dword(9)));
    EXPECT_TRUE(IsUnmarked(k.Path()));
}

// Installed, then changed by somebody else (or not), then uninstalled.
TEST_F(RegFile, UnInstallRemovesOnlyWhatIsStillAsInstalled) {
    const char* script =
        "[HKEY_CURRENT_USER\\$K\\App]\n"
        "\"s\"=\"Hello %orvtargetdir%\\x.dll\"\n"
        "d=dword:16\n"
        "h=hex:01,02\n"
        "OrvCreateKey=dword:0\n"
        "u=expand:x\n"
        "[HKEY_CURRENT_USER\\$K\\App\\Sub]\n"
        "v=\"1\"\n";
    const std::wstring installed = L"Hello C:\\App\\x.dll";
    auto set = [](const TestKey& k, LPCWSTR name, DWORD type, const Bytes& data) {
        ASSERT_TRUE(SetValue(k.Path(L"App"), name, type, data));
    };
    const struct {
        const char* label;
        std::function<void(const TestKey&)> change;
        DWORD valuesLeft;  // in App afterwards; 0: App is gone
        std::vector<Value> kept;
        std::vector<LogLine> lines;
    } rows[] = {
        {"unchanged", nullptr, 0, {}, {{L'W', L"Unrecognized value type expand: Skipping this value u"}}},
        {"string differing in letter case only",
         [&](const TestKey& k) { set(k, L"s", REG_SZ, Utf16(L"HELLO c:\\aPP\\X.DLL")); }, 0, {}, {}},
        {"string changed", [&](const TestKey& k) { set(k, L"s", REG_SZ, Utf16(L"Hello C:\\App\\y.dll")); }, 2,
         {{L"App", L"s", REG_SZ, Utf16(L"Hello C:\\App\\y.dll")}},
         {{L' ', L"Data of value s was changed since installation: will not delete value"}}},
        {"string grown", [&](const TestKey& k) { set(k, L"s", REG_SZ, Utf16(installed + L"!")); }, 2,
         {{L"App", L"s", REG_SZ, Utf16(installed + L"!")}},
         {{L' ', L"Data of value s was changed since installation: will not delete value"}}},
        {"string type changed", [&](const TestKey& k) { set(k, L"s", REG_EXPAND_SZ, Utf16(installed)); }, 2,
         {{L"App", L"s", REG_EXPAND_SZ, Utf16(installed)}},
         {{L' ', L"Type of value s was changed since installation: will not delete value"}}},
        {"dword changed", [&](const TestKey& k) { set(k, L"d", REG_DWORD, Dword(17)); }, 2,
         {{L"App", L"d", REG_DWORD, Dword(17)}},
         {{L' ', L"Data of value d was changed since installation: will not delete value"}}},
        {"hex shortened", [&](const TestKey& k) { set(k, L"h", REG_BINARY, {0x01}); }, 2,
         {{L"App", L"h", REG_BINARY, {0x01}}},
         {{L' ', L"Data of value h was changed since installation: will not delete value"}}},
        {"hex changed", [&](const TestKey& k) { set(k, L"h", REG_BINARY, {0x01, 0x03}); }, 2,
         {{L"App", L"h", REG_BINARY, {0x01, 0x03}}},
         {{L' ', L"Data of value h was changed since installation: will not delete value"}}},
        {"value already gone",
         [](const TestKey& k) { RegDeleteKeyValueW(HKEY_CURRENT_USER, k.Path(L"App").c_str(), L"d"); }, 0, {},
         {{L'W', L"Error deleting value d: error 2"}}},
        {"key not created by the kernel",
         [](const TestKey& k) { RegDeleteKeyValueW(HKEY_CURRENT_USER, k.Path(L"App").c_str(), L"OrvCreateKey"); }, 3,
         {{L"App", L"s", REG_SZ, Utf16(installed)}, {L"App", L"d", REG_DWORD, Dword(16)},
          {L"App", L"h", REG_BINARY, {0x01, 0x02}}},
         {}},
        {"key already gone", [](const TestKey& k) { SHDeleteKeyW(HKEY_CURRENT_USER, k.Path(L"App").c_str()); }, 0, {},
         {{L' ', L"Key HKEY_CURRENT_USER\\$K\\App does not exist: nothing to do"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"un");
        ASSERT_EQ(Install(Script(script, k)), S_OK);
        if (row.change) row.change(k);
        LogCursor log;
        EXPECT_EQ(UnInstall(Script(script, k)), S_OK);
        // The child section's walk takes the parent along once it is empty.
        EXPECT_TRUE(KeyGone(k.Path(L"App\\Sub")));
        if (row.valuesLeft == 0)
            EXPECT_TRUE(KeyGone(k.Path(L"App")));
        else
            EXPECT_TRUE(KeyHolds(k.Path(L"App"), 0, row.valuesLeft));
        for (const Value& v : row.kept) EXPECT_TRUE(ValueIs(k.Path(v.sub), v.name, v.type, v.data));
        for (const LogLine& line : row.lines) EXPECT_TRUE(LogHas(log.Text(), line, k));
        EXPECT_TRUE(IsUnmarked(k.Path()));
    }
}

TEST_F(RegFile, BadInput) {
    std::string garbage;
    unsigned state = 12345;
    for (int i = 0; i < 64 * 1024; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(state >> 16));
    }
    const std::string after = "\n[HKEY_CURRENT_USER\\$K\\After]\nv=\"1\"\n";
    const struct {
        const char* label;
        std::string bytes;
        std::vector<LogLine> lines;
    } rows[] = {
        {"binary garbage", garbage + after, {}},
        {"NUL bytes",
         "[HKEY_CURRENT_USER\\$K\\N\0ul]\nv=\"1\"\n[HKEY_CURRENT_USER\\$K\\After]\na=\"x\0y\"\nv=\"1\"\n"s,
         {{L'E', L"Invalid section header [HKEY_CURRENT_USER\\$K\\N"},
          {L'W', L"Skipping line 4 of the registration file (rejected: the line contains a NUL character)"}}},
        {"one huge line", std::string(8 * 1024 * 1024, 'A') + after, {}},
        {"one huge header", "[" + std::string(1024 * 1024, 'x') + "]\nv=\"1\"" + after,
         {{L'E', L"Found invalid top key xxxxxxxx"}}},
        {"empty file", "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"bad");
        LogCursor log;
        EXPECT_EQ(Install(Script(row.bytes, k)), S_OK);
        if (!row.bytes.empty()) {
            EXPECT_TRUE(ValueIs(k.Path(L"After"), L"v", REG_SZ, Utf16(L"1")));
        }
        EXPECT_TRUE(KeyHolds(k.Path(), row.bytes.empty() ? 0 : 1, 0));
        for (const LogLine& line : row.lines) EXPECT_TRUE(LogHas(log.Text(), line, k));
    }
}

TEST_F(RegFile, FilesThatCannotBeRead) {
    TestKey k(L"unread");
    const std::string script = Script("[HKEY_CURRENT_USER\\$K\\A]\nv=\"1\"\n", k);
    ASSERT_TRUE(WriteBytes(m_dir / L"locked.reg", script));
    ASSERT_TRUE(WriteBytes(m_dir / L"shared.reg", script));
    HANDLE locked = CreateFileW((m_dir / L"locked.reg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE writer = CreateFileW((m_dir / L"shared.reg").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const struct {
        const char* label;
        std::wstring path;
        HRESULT hr;
        std::wstring line;
    } rows[] = {
        {"missing", m_dir / L"missing.reg", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         L"Error reading reg file: error 2"},
        {"a folder", m_dir.Path(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), L"Error reading reg file: error 5"},
        {"held without sharing", m_dir / L"locked.reg", HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
         L"Error reading reg file: error 32"},
        {"path of MAX_PATH characters", L"C:\\" + std::wstring(MAX_PATH - 3, L'p'),
         HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), L"Error reading reg file: error 206"},
        {"held for writing by another, sharing allowed", m_dir / L"shared.reg", S_OK, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCursor log;
        EXPECT_EQ(orv::InstallRegistrationFile(row.path.c_str(), L"C:\\App"), row.hr);
        if (row.line.empty())
            EXPECT_TRUE(ValueIs(k.Path(L"A"), L"v", REG_SZ, Utf16(L"1")));
        else
            EXPECT_TRUE(HasLogLine(log.Text(), L'E', row.line));
    }
    CloseHandle(locked);
    CloseHandle(writer);
    LogCursor log;
    EXPECT_EQ(orv::UnInstallRegistrationFile(nullptr, L"C:\\App"), E_POINTER);
    EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"ReadRegistrationFile(): Invalid parameter ( NULL pointer )"));
}

// A "Registry file" of the file model is applied with the target as its
// directory, and reversed the same way.
TEST_F(RegFile, RegistryFileObject) {
    TestKey k(L"obj");
    const std::wstring path = m_dir / L"app.reg";
    ASSERT_TRUE(WriteBytes(path, Script("REGEDIT4\n[HKEY_CURRENT_USER\\$K\\App]\n@=\"%orvtargetdir%\\srv.dll\"\n", k)));
    CWexKrFile* file = CWexKrFile::CreateInstance(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->GetTypeDescription(), L"Registry file");
    EXPECT_EQ(file->Install(L"C:\\Target", kWexKrInstallForce), S_OK);
    EXPECT_TRUE(ValueIs(k.Path(L"App"), L"", REG_SZ, Utf16(L"C:\\Target\\srv.dll")));
    EXPECT_EQ(file->UnInstall(L"C:\\Target\\"), S_OK);
    EXPECT_TRUE(KeyGone(k.Path(L"App")));
    file->Destroy();

    CWexKrRegFile gone((m_dir / L"gone.reg").c_str());
    EXPECT_EQ(gone.Install(L"C:\\Target", 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(gone.UnInstall(L"C:\\Target"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}
