// The setup program's INI text, manifest and state file.
#include <gtest/gtest.h>

#include <chrono>

#include <map>
#include <string>

#include "core/IniText.h"
#include "core/Manifest.h"
#include "core/SetupState.h"

namespace {

using namespace orvsetup;

std::string Utf16(const std::wstring& text) {
    std::string bytes("\xFF\xFE", 2);
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

std::string Text(const std::wstring& text) { return std::string(text.begin(), text.end()); }
// The error names this line and says this.
::testing::AssertionResult Refused(const IniError& error, unsigned line, const wchar_t* fragment) {
    if (error.line == line && error.message.find(fragment) != std::wstring::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "line " << error.line << ": " << Text(error.message);
}

// "section|key=value|key=value" per section, to compare documents in one line.
std::string Flatten(const IniDocument& doc) {
    std::string out;
    for (const IniSection& s : doc.sections) {
        out += "[" + Text(s.name) + "@" + std::to_string(s.line) + "]";
        for (const IniEntry& e : s.entries)
            out += Text(e.key) + "=" + Text(e.value) + "@" + std::to_string(e.line) + ";";
    }
    return out;
}

TEST(IniText, ReadsAsTheProfileApi) {
    const struct { const char* label; std::string bytes; const char* expected; } rows[] = {
        {"trimming, comments, blank lines, CR LF",
         "; banner\r\n\r\n [A] \r\n  k1 \t=\t v 1 \r\n;k2=no\r\nK3=\r\n", "[A@3]k1=v 1@4;K3=@6;"},
        {"one pair of matching quotes dropped, inner blanks kept",
         "[S]\na=\" x \"\nb='y'\nc=\"z'\nd=\"\ne=\"\"\"\n", "[S@1]a= x @2;b=y@3;c=\"z'@4;d=\"@5;e=\"@6;"},
        {"the first '=' splits; brackets inside values", "[S]\nk = a=b [c]\n", "[S@1]k=a=b [c]@2;"},
        {"last line without line end, empty section", "[E]\n[F]\nx=1", "[E@1][F@2]x=1@3;"},
        {"UTF-16 with byte-order mark (checked below)", Utf16(L"[Pr\x00F6]\r\nname=\x00C4 \xD83D\xDE00\r\n"), nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        IniDocument doc;
        IniError error;
        ASSERT_TRUE(ReadIni(row.bytes, doc, error)) << Text(error.message);
        if (!row.expected) {
            ASSERT_EQ(1u, doc.sections[0].entries.size());
            EXPECT_EQ(L"Pr\x00F6", doc.sections[0].name);
            EXPECT_EQ(std::wstring(L"\x00C4 \xD83D\xDE00"), doc.sections[0].entries[0].value);
            continue;
        }
        EXPECT_EQ(row.expected, Flatten(doc));
    }
}

TEST(IniText, RefusesWithTheLine) {
    const struct { const char* label; std::string bytes; unsigned line; const wchar_t* fragment; } rows[] = {
        {"UTF-8 mark", "\xEF\xBB\xBF[A]\n", 0, L"UTF-8"},
        {"big-endian mark", "\xFE\xFF\0[", 0, L"big-endian"},
        {"odd UTF-16", "\xFF\xFE[\0A", 0, L"odd"},
        {"unpaired surrogate", Utf16(L"[A]\nk=\xD800x\n"), 2, L"surrogate"},
        {"non-ASCII byte", "[A]\nk=v\nname=\xE4\n", 3, L"U+00E4"},
        {"NUL", std::string("[A]\nk=a\0b\n", 10), 2, L"U+0000"},
        {"lone CR inside a line", "[A]\nk=a\rb\n", 2, L"control"},
        {"no-break space at a value's start", Utf16(L"[A]\nk=\x00A0x\n"), 2, L"U+00A0"},
        {"text before the first section", "; ok\nk=v\n[A]\n", 2, L"before the first section"},
        {"header without ]", "[A]\n[B\n", 2, L"without ']'"},
        {"text after ]", "[A] x\n", 1, L"after the ']'"},
        {"empty name", "[]\n", 1, L"empty section"},
        {"blank inside brackets", "[ A]\n", 1, L"begins or ends"},
        {"bracket inside the name", "[A]B]\n", 1, L"inside a section name"},
        {"line without =", "[A]\nkey\n", 2, L"key = value"},
        {"empty key", "[A]\n = v\n", 2, L"empty key"},
        {"section twice, other case, not in a row", "[A]\r\nk=1\r\n[b]\r\nK=2\r\n[a]\r\n", 5, L"first at line 1"},
        {"key twice, other case, not in a row", "[A]\r\nk=1\r\nx=2\r\nK=3\r\n", 4, L"first at line 2"},
        {"long line", "[A]\nk=" + std::string(kMaxIniLine, 'x') + "\n", 2, L"longer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        IniDocument doc;
        doc.sections.resize(1);
        IniError error;
        EXPECT_FALSE(ReadIni(row.bytes, doc, error));
        EXPECT_TRUE(doc.sections.empty());
        EXPECT_TRUE(Refused(error, row.line, row.fragment));
    }
}

// What the writer writes reads back the same; what it cannot write it refuses whole.
TEST(IniText, WriterRoundTripsOrRefuses) {
    IniDocument doc;
    doc.sections.push_back(IniSection{L"State", 0, {}});
    for (const wchar_t* v : {L"", L" lead", L"trail ", L"\"quoted\"", L"'", L"\"", L"a\"", L"\x3000wide",
                             L"x = y ; z", L"\xD83D\xDE00"})
        doc.sections[0].entries.push_back(IniEntry{L"K" + std::to_wstring(doc.sections[0].entries.size()), v, 0});
    std::string bytes;
    ASSERT_TRUE(WriteIni(doc, bytes));
    IniDocument back;
    IniError error;
    ASSERT_TRUE(ReadIni(bytes, back, error)) << Text(error.message);
    ASSERT_EQ(1u, back.sections.size());
    ASSERT_EQ(doc.sections[0].entries.size(), back.sections[0].entries.size());
    for (size_t i = 0; i < doc.sections[0].entries.size(); ++i)
        EXPECT_EQ(doc.sections[0].entries[i].value, back.sections[0].entries[i].value) << i;

    const struct { const char* label; std::wstring section, key, value; } refused[] = {
        {"line break in a value", L"S", L"k", L"a\nb"},
        {"key with =", L"S", L"a=b", L"v"},
        {"key that reads as a comment", L"S", L";k", L"v"},
        {"section name with ]", L"S]", L"k", L"v"},
        {"unpaired surrogate", L"S", L"k", L"\xDC00"},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.label);
        IniDocument bad;
        bad.sections.push_back(IniSection{row.section, 0, {IniEntry{row.key, row.value, 0}}});
        std::string out = "untouched";
        EXPECT_FALSE(WriteIni(bad, out));
        EXPECT_EQ("untouched", out);
    }
}

// A state file holds a section per item and is written after every item:
// repeated names are found without comparing each name with all before it.
TEST(IniText, ThousandsOfSectionsAndKeys) {
    IniDocument doc;
    for (int i = 0; i < 20000; ++i) doc.sections.push_back(IniSection{L"Item " + std::to_wstring(i), 0, {}});
    for (int i = 0; i < 20000; ++i) doc.sections[0].entries.push_back(IniEntry{L"String" + std::to_wstring(i), L"v", 0});
    const auto start = std::chrono::steady_clock::now();
    std::string bytes;
    ASSERT_TRUE(WriteIni(doc, bytes));
    IniDocument back;
    IniError error;
    ASSERT_TRUE(ReadIni(bytes, back, error));
    // Linear: well under a second, also with sanitizers; comparing each name
    // with all before it took tens of seconds here.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "quadratic in the names";
    // Names equal but for the case of ASCII letters are still the same name.
    doc.sections[19999].name = L"ITEM 17";
    EXPECT_FALSE(WriteIni(doc, bytes));
    doc.sections[19999].name = L"Item 19999";
    doc.sections[0].entries.back().key = L"string17";
    EXPECT_FALSE(WriteIni(doc, bytes));
}

class FakeResolver : public PathResolver {
public:
    bool Folder(std::wstring_view keyword, std::wstring& path) const override {
        const auto it = folders.find(std::wstring(keyword));
        if (it == folders.end()) return false;
        path = it->second;
        return true;
    }
    bool Environment(std::wstring_view name, std::wstring& value) const override {
        const auto it = env.find(std::wstring(name));
        if (it == env.end()) return false;
        value = it->second;
        return true;
    }
    std::map<std::wstring, std::wstring> folders{{L"ProgramFiles", L"C:\\Program Files"},
                                                 {L"CommonFiles", L"C:\\Program Files\\Common Files\\"},
                                                 {L"Fonts", L"C:\\windows\\Fonts"},
                                                 {L"System", L"C:\\windows\\system32"}};
    std::map<std::wstring, std::wstring> env{{L"USERNAME", L"ann"}};
};

bool Read(const std::string& text, Manifest& manifest, IniError& error) {
    IniDocument doc;
    if (!ReadIni(text, doc, error)) return false;
    return ReadManifest(doc, L"Z:\\medium\\", FakeResolver(), manifest, error);
}

const char kProduct[] = "[Product]\nName=Orv Sample\nVersion=1.2\nInstallDir={ProgramFiles}\\Orv %USERNAME%\n";

TEST(Manifest, ResolvesItemsInOrder) {
    const std::string text = std::string(kProduct) +
                             "[File app]\nSource=v1\\app.exe\nTarget=bin\\app.exe\nFlags= force \nAppPaths={InstallDir}\\lib\n"
                             "[File shared]\nSource={SourceDir}\\shared.dll\nTarget={CommonFiles}\\shared.dll\nDllInstallCmd=/x\n"
                             "[Font DejaVu]\nSource=fonts\\DejaVuSans.ttf\n"
                             "[Script reg]\nSource=app.reg\n"
                             "[Registry HKCU\\Software\\Orv]\n@=string:{InstallDir}\nHome=expand:%USERPROFILE%\\{{x}\n"
                             "List=multi:a||b\nNone=multi:\nCount=dword:0xFFFFFFFF\nBlob=hex:01, ff,0A\nEmpty=hex:\n"
                             "[Shortcut App]\nFolder=StartMenu\\Programs\\Orv\\App\nTarget=bin\\app.exe\nArguments=/a\n"
                             "Icon=bin\\app.exe\nIconIndex=2\nAllUsers=yes\n";
    Manifest m;
    IniError error;
    ASSERT_TRUE(Read(text, m, error)) << error.line << " " << Text(error.message);
    EXPECT_EQ(L"C:\\Program Files\\Orv ann", m.installDir);
    EXPECT_EQ(1, m.versionParts[0]);
    EXPECT_EQ(2, m.versionParts[1]);
    EXPECT_EQ(kModePrimary, m.mode);
    ASSERT_EQ(12u, m.items.size());

    const ManifestItem& app = m.items[0];
    EXPECT_EQ(L"Z:\\medium\\v1\\app.exe", app.source);
    EXPECT_EQ(L"C:\\Program Files\\Orv ann\\bin\\app.exe", app.target);
    EXPECT_TRUE(app.force);
    EXPECT_TRUE(app.hasAppPaths);
    EXPECT_EQ(L"C:\\Program Files\\Orv ann\\lib", app.appPaths);
    EXPECT_EQ(L"C:\\Program Files\\Common Files\\shared.dll", m.items[1].target);
    EXPECT_EQ(L"/x", m.items[1].dllInstallCmd);
    EXPECT_EQ(L"C:\\windows\\Fonts\\DejaVuSans.ttf", m.items[2].target);
    EXPECT_EQ(ItemKind::Script, m.items[3].kind);
    EXPECT_EQ(L"C:\\Program Files\\Orv ann", m.items[3].target);

    EXPECT_EQ(L"", m.items[4].valueName);
    EXPECT_EQ(L"C:\\Program Files\\Orv ann", m.items[4].text);
    EXPECT_EQ(ValueType::ExpandString, m.items[5].valueType);
    EXPECT_EQ(L"%USERPROFILE%\\{x}", m.items[5].text);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"", L"b"}), m.items[6].strings);
    EXPECT_TRUE(m.items[7].strings.empty());
    EXPECT_EQ(0xFFFFFFFFu, m.items[8].dword);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0xFF, 0x0A}), m.items[9].bytes);
    EXPECT_TRUE(m.items[10].bytes.empty());
    EXPECT_EQ(L"HKCU\\Software\\Orv", m.items[10].keyPath);

    const ManifestItem& link = m.items[11];
    EXPECT_TRUE(link.allUsers);
    EXPECT_EQ(L"\"C:\\Program Files\\Orv ann\\bin\\app.exe\" /a;C:\\Program Files\\Orv ann\\bin\\app.exe;2",
              ShortcutCommandLine(link));
}

TEST(Manifest, RefusesWithTheLine) {
    const std::string p = kProduct;  // lines 1 to 4
    const struct { const char* label; std::string text; unsigned line; const wchar_t* fragment; } rows[] = {
        {"no product", "[File a]\nSource=a\nTarget=b\n", 0, L"no [Product]"},
        {"product without version", "[Product]\nName=x\nInstallDir=C:\\x\n", 1, L"has no Version"},
        {"bad version", "[Product]\nName=x\nVersion=1.65536\nInstallDir=C:\\x\n", 3, L"Version must"},
        {"install folder at a drive's root", "[Product]\nName=x\nVersion=1\nInstallDir=C:\\\n", 4, L"not its root"},
        {"relative install folder", "[Product]\nName=x\nVersion=1\nInstallDir=x\n", 4, L"absolute"},
        {"InstallDir used in itself", "[Product]\nName=x\nVersion=1\nInstallDir={InstallDir}\\x\n", 4, L"cannot be used"},
        {"unknown mode", p + "Mode=update\n", 5, L"primary or patch"},
        {"unknown key (a typo)", p + "[File a]\nSource=a\nTraget=b\n", 7, L"unknown key 'Traget'"},
        {"missing target", p + "[File a]\nSource=a\n", 5, L"has no Target"},
        {"unset variable", p + "[File a]\nSource=%NOPE%\\a\nTarget=a\n", 6, L"NOPE is not set"},
        {"unknown keyword", p + "[File a]\nSource=a\nTarget={Nowhere}\\a\n", 7, L"unknown folder keyword"},
        {"unclosed brace", p + "[File a]\nSource={SourceDir\nTarget=a\n", 6, L"without '}'"},
        {"dot-dot element", p + "[File a]\nSource=a\nTarget=..\\..\\Windows\\a.dll\n", 7, L"'..'"},
        {"drive-relative path", p + "[File a]\nSource=C:a\nTarget=a\n", 6, L"neither absolute"},
        {"wildcard", p + "[File a]\nSource=a*\nTarget=a\n", 6, L"not allowed"},
        {"path too long", p + "[File a]\nSource=" + std::string(250, 'a') + "\nTarget=a\n", 6, L"259"},
        {"the setup program's folder", p + "[File a]\nSource=a\nTarget=_orvsetup\\x\n", 7, L"_orvsetup"},
        {"same target twice", p + "[File a]\nSource=a\nTarget=x\n[File b]\nSource=b\nTarget=X\n", 8, L"also the target"},
        {"unknown flag", p + "[File a]\nSource=a\nTarget=b\nFlags=force,quick\n", 8, L"'quick'"},
        {"unknown section", p + "[Folder x]\n", 5, L"unknown section"},
        {"item without a name", p + "[File]\n", 5, L"name the item"},
        {"value without type", p + "[Registry HKCU\\S]\nv=hello\n", 6, L"needs a type"},
        {"bad dword", p + "[Registry HKCU\\S]\nv=dword:4294967296\n", 6, L"dword data"},
        {"bad hex", p + "[Registry HKCU\\S]\nv=hex:1,02\n", 6, L"hex data"},
        {"hex with a trailing comma", p + "[Registry HKCU\\S]\nv=hex:01,\n", 6, L"hex data"},
        {"unknown root", p + "[Registry HKEY_NOPE\\S]\nv=dword:1\n", 5, L"must start with"},
        {"top key alone", p + "[Registry HKCU]\nv=dword:1\n", 5, L"top key itself"},
        {"empty key element", p + "[Registry HKCU\\a\\\\b]\nv=dword:1\n", 5, L"empty element"},
        {"key without values", p + "[Registry HKCU\\S]\n", 5, L"has no values"},
        {"unknown shell folder", p + "[Shortcut s]\nFolder=Menu\\s\nTarget=a.exe\n", 6, L"StartMenu"},
        {"semicolon in arguments", p + "[Shortcut s]\nFolder=Desktop\\s\nTarget=a.exe\nArguments=a;b\n", 8, L"';'"},
        {"AllUsers not yes/no", p + "[Shortcut s]\nFolder=Desktop\\s\nTarget=a.exe\nAllUsers=maybe\n", 8, L"yes or no"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Manifest m;
        m.name = L"sentinel";
        IniError error;
        EXPECT_FALSE(Read(row.text, m, error));
        EXPECT_TRUE(m.name.empty() && m.items.empty());
        EXPECT_TRUE(Refused(error, row.line, row.fragment));
    }
}

TEST(Manifest, PathHelpers) {
    EXPECT_EQ(L"C:\\", ParentOf(L"C:\\a"));
    EXPECT_EQ(L"C:\\a", ParentOf(L"C:\\a\\b"));
    EXPECT_EQ(L"", ParentOf(L"C:\\"));
    EXPECT_EQ(L"\\\\srv\\share", ParentOf(L"\\\\srv\\share\\a"));
    EXPECT_EQ(L"", ParentOf(L"\\\\srv\\share"));
    EXPECT_TRUE(IsWithin(L"C:\\A\\b", L"c:\\a"));
    EXPECT_TRUE(IsWithin(L"C:\\a", L"C:\\A"));
    EXPECT_FALSE(IsWithin(L"C:\\ab", L"C:\\a"));
    EXPECT_TRUE(IsWithin(L"C:\\ab", L"C:\\"));
    EXPECT_NE(nullptr, AbsolutePathProblem(L"\\\\srv"));
    EXPECT_NE(nullptr, AbsolutePathProblem(L"C:\\a.\\b"));
    EXPECT_EQ(nullptr, AbsolutePathProblem(L"\\\\srv\\share\\a b"));
}

// Everything the state records comes back from its file; a damaged file is refused.
TEST(SetupState, RoundTripsAndRefusesDamage) {
    SetupState state;
    state.product = L"Orv Sample";
    state.version = L"2.0";
    state.installDir = L"C:\\Program Files\\Orv Sample";
    state.manifest = L"Z:\\m\\sample.ini";
    state.mode = kModeUpdate;
    state.phase = Phase::Installed;
    state.restartPending = true;
    state.createdFolders = {L"C:\\Program Files\\Orv Sample"};
    StateItem file;
    file.item.kind = ItemKind::File;
    file.item.label = L"app";
    file.item.line = 7;
    file.item.source = L"Z:\\m\\app.exe";
    file.item.target = L"C:\\Program Files\\Orv Sample\\app.exe";
    file.item.hasAppPaths = true;  // empty but given
    file.item.force = true;
    file.done = file.counted = file.deferred = file.scheduled = file.registerAfterRestart = true;
    file.backup = L"C:\\Program Files\\Orv Sample\\_orvsetup\\backup\\1";
    file.check = {{L"version", L"2.0.0.0", true}, {L"comserverregpath", L"", false}};
    StateItem value;
    value.item.kind = ItemKind::Value;
    value.item.keyPath = L"HKCU\\Software\\Orv";
    value.item.valueType = ValueType::MultiString;
    value.item.strings = {L" a", L"", L"\"b\""};
    value.owned = true;
    StateItem bytes = value;
    bytes.item.valueType = ValueType::Binary;
    bytes.item.bytes = {0, 0xAB, 0xFF};
    StateItem link;
    link.item.kind = ItemKind::Shortcut;
    link.item.folder = L"Desktop\\App";
    link.item.program = L"C:\\a.exe";
    link.item.iconIndex = 3;
    link.item.allUsers = true;
    state.items = {file, value, bytes, link};

    IniDocument doc;
    StateToIni(state, doc);
    std::string text;
    ASSERT_TRUE(WriteIni(doc, text));
    IniDocument read;
    IniError error;
    ASSERT_TRUE(ReadIni(text, read, error));
    SetupState back;
    ASSERT_TRUE(StateFromIni(read, back, error)) << error.line << Text(error.message);
    IniDocument again;
    StateToIni(back, again);
    std::string text2;
    ASSERT_TRUE(WriteIni(again, text2));
    EXPECT_EQ(text, text2);
    EXPECT_TRUE(back.items[0].item.hasAppPaths);
    EXPECT_FALSE(back.items[0].check[1].hasValue);
    EXPECT_EQ(state.items[1].item.strings, back.items[1].item.strings);
    EXPECT_EQ(state.items[2].item.bytes, back.items[2].item.bytes);

    const struct { const char* label; const char* from; const char* to; } damage[] = {
        {"unknown phase", "Phase=installed", "Phase=done"},
        {"item count", "Items=4", "Items=5"},
        {"unknown key", "Kind=link", "Kind=link\r\nColour=red"},
        {"relative path", "Source=Z:\\m\\app.exe", "Source=app.exe"},
        {"created folder outside", "Created1=C:\\Program Files\\Orv Sample", "Created1=C:\\Temp"},
    };
    std::string ascii;  // the state text without its mark, as ASCII, to edit it
    for (size_t i = 2; i < text.size(); i += 2) ascii.push_back(text[i]);
    for (const auto& row : damage) {
        SCOPED_TRACE(row.label);
        std::string edited = ascii;
        const size_t at = edited.find(row.from);
        ASSERT_NE(std::string::npos, at);
        edited.replace(at, std::string(row.from).size(), row.to);
        IniDocument d;
        ASSERT_TRUE(ReadIni(edited, d, error));
        EXPECT_FALSE(StateFromIni(d, back, error));
        EXPECT_TRUE(back.items.empty());
    }
}

}  // namespace
