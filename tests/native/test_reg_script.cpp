// Offline registration file reader: lines, headers, value lines,
// placeholders, registry data and whole files read section by section.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/RegScript.h"

using namespace orv;

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
std::string Lit(const char (&text)[N]) { return std::string(text, N - 1); }  // may hold NULs

// ASCII as is, anything else as \x{hex}.
std::string Narrow(std::wstring_view text) {
    std::string out;
    char buf[16];
    for (wchar_t c : text) {
        std::snprintf(buf, sizeof buf, "\\x{%x}", static_cast<unsigned>(c));
        out += (c >= 0x20 && c < 0x7F) ? std::string(1, static_cast<char>(c)) : buf;
    }
    return out;
}

const char* Name(RegLineStatus s) {
    static const char* const names[] = {"value", "header", "pre", "blank", "noeq", "nocolon", "nul", "conv", "nodir"};
    return names[static_cast<size_t>(s)];
}
const char* Name(RegHeaderStatus s) {
    static const char* const names[] = {"ok", "nobracket", "badtop", "refused9x", "refusednt", "toponly", "nul", "conv"};
    return names[static_cast<size_t>(s)];
}

// "[ok HKEY_LOCAL_MACHINE|A\B]" or "[pre]" per section, then "3 value name|type|data", "4 noeq" per line.
std::string Summarize(const std::string& file, const RegScriptOptions& options) {
    RegScriptReader reader(file, options);
    RegScriptSection section;
    std::string out;
    while (reader.NextSection(section)) {
        out += section.bHasHeader ? "[" + std::string(Name(section.header.status)) + " " +
                                        Narrow(section.header.topKeyName) + "|" + Narrow(section.header.subkeyPath) + "]\n"
                                  : "[pre]\n";
        for (const RegScriptLine& line : section.lines) {
            out += std::to_string(line.lineNumber) + " " + Name(line.status);
            if (line.status == RegLineStatus::Value)
                out += " " + Narrow(line.value.name) + "|" + Narrow(line.value.typeWord) + "|" + Narrow(line.value.data);
            if (line.status == RegLineStatus::ConversionFailed) out += " " + Narrow(line.text);
            out += "\n";
        }
    }
    return out;
}

RegScriptOptions Dirs(std::wstring target = L"C:\\App", std::wstring system = L"S") {
    RegScriptOptions options;
    options.targetDir = std::move(target), options.systemDir = std::move(system);
    return options;
}

}  // namespace

TEST(RegScript, LineSplitter) {
    const struct { std::string input; std::vector<std::string> lines; } rows[] = {
        {"", {}}, {"a", {"a"}}, {"a\n", {"a"}}, {"a\r\r\nb\r\n", {"a\r", "b"}}, {"a\rb\n", {"a\rb"}},
        {"a\r", {"a\r"}}, {"\n\r\n\n", {"", "", ""}}, {Lit("a\0b\nc"), {Lit("a\0b"), "c"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.input));
        RegScriptLineSplitter splitter(row.input);
        std::string_view line;
        uint64_t number = 0;
        std::vector<std::string> got;
        while (splitter.Next(line, number)) {
            got.emplace_back(line);
            EXPECT_EQ(number, got.size());
        }
        EXPECT_EQ(got, row.lines);
    }
}

TEST(RegScript, Headers) {
    const struct { const wchar_t* line; bool bNt; RegHeaderStatus status; const wchar_t *top, *sub; } rows[] = {
        {L"[HKEY_LOCAL_MACHINE\\Software\\P] trailing", true, RegHeaderStatus::Ok, L"HKEY_LOCAL_MACHINE", L"Software\\P"},
        {L"[HKEY_CLASSES_ROOT\\A]B]", true, RegHeaderStatus::Ok, L"HKEY_CLASSES_ROOT", L"A]B"},
        {L"[HKEY_CURRENT_USER\\\\A\\]", true, RegHeaderStatus::Ok, L"HKEY_CURRENT_USER", L"\\A\\"},
        {L"[HKEY_USERS\\.DEFAULT]", true, RegHeaderStatus::Ok, L"HKEY_USERS", L".DEFAULT"},
        {L"[HKEY_CURRENT_CONFIG\\X]", true, RegHeaderStatus::Ok, L"HKEY_CURRENT_CONFIG", L"X"},
        {L"[HKEY_Local_Machine\\Software]", true, RegHeaderStatus::InvalidTopKey, L"HKEY_Local_Machine", L"Software"},
        {L"[]", true, RegHeaderStatus::InvalidTopKey, L"", L""},
        {L"[HKEY_CURRENT_USER\\Software", true, RegHeaderStatus::NoClosingBracket, L"", L""},
        {L"[HKEY_CURRENT_USER]", true, RegHeaderStatus::TopKeyOnly, L"HKEY_CURRENT_USER", L""},
        {L"[HKEY_CURRENT_USER\\\\\\]", true, RegHeaderStatus::TopKeyOnly, L"HKEY_CURRENT_USER", L"\\\\"},
        {L"[HKEY_PERFORMANCE_DATA\\X]", true, RegHeaderStatus::Ok, L"HKEY_PERFORMANCE_DATA", L"X"},
        {L"[HKEY_PERFORMANCE_DATA\\X]", false, RegHeaderStatus::RefusedOnWin9x, L"HKEY_PERFORMANCE_DATA", L"X"},
        {L"[HKEY_DYN_DATA\\X]", false, RegHeaderStatus::Ok, L"HKEY_DYN_DATA", L"X"},
        {L"[HKEY_DYN_DATA]", true, RegHeaderStatus::RefusedOnNt, L"HKEY_DYN_DATA", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.line) + (row.bNt ? " (NT)" : " (9x)"));
        RegScriptHeader header = ParseRegHeader(row.line, row.bNt);
        EXPECT_STREQ(Name(header.status), Name(row.status));
        EXPECT_EQ(header.topKeyName, row.top);
        EXPECT_EQ(header.subkeyPath, row.sub);
        EXPECT_TRUE(header.status != RegHeaderStatus::Ok || header.FullKeyText() == std::wstring(row.top) + L"\\" + row.sub);
    }
    EXPECT_EQ(ParseRegHeader(std::wstring(L"[HKEY_USERS\\A\0B]", 16), true).status, RegHeaderStatus::ContainsNul);
}

TEST(RegScript, ValueLines) {
    const std::wstring longDir(300, L'd'), longData(5000, L'x');
    using P = RegPlaceholder;
    using S = RegLineStatus;
    const struct { std::wstring line, name, type, data; P placeholder = P::None; S status = S::Value;
                   std::wstring target = L"T", system = L"S"; } rows[] = {
        {L"@=\"%orvtargetdir%\\server.dll\"", L"", L"string", L"C:\\App\\server.dll", P::TargetDir, S::Value, L"C:\\App\\"},
        {L"\"P\"=\"C:\\\\Dir\"", L"P", L"string", L"C:\\\\Dir"},
        {L"\"@\"=\"x\"", L"@", L"string", L"x"},
        {L"a\"b\"c=\"d\"", L"abc", L"string", L"d"},
        {L"\"x\" = \"y\" ; note", L"x ", L"string", L"y ; note"},
        {L"\"a=b\"=\"c\"", L"a", L"string", L"=c"},
        {L"\"x\"=\"a \"q\" b\"", L"x", L"string", L"a q b"},
        {L"\"x\"=\"%ORVTargetDir%\\a\"", L"x", L"string", L"T\\a", P::TargetDir},
        {L"\"x\"=\"%winsysdir%\\a\"", L"x", L"string", L"S\\a", P::SystemDir},
        {L"\"x\"=\"%winsysdir%\\a;%orvtargetdir%\\b\"", L"x", L"string", L"%winsysdir%\\a;T\\b", P::TargetDir},
        {L"\"x\"=\"%orvtargetdir%\\a;%orvtargetdir%\\b\"", L"x", L"string", L"T\\a;%orvtargetdir%\\b", P::TargetDir},
        {L"\"x\"=\"%orvtargetdir%", L"x", L"string", L"T\\", P::TargetDir},
        {L"\"x\"=\"%orvtargetdir%ab\"", L"x", L"string", L"T\\b", P::TargetDir},
        {L"\"x\"=\"%orvtargetdir\\a\"", L"x", L"string", L"%orvtargetdir\\a"},
        {L"\"%orvtargetdir%\"=\"x\"", L"%orvtargetdir%", L"string", L"x"},
        {L"\"x\"=\"%orvtargetdir%\\a\"", L"", L"", L"", P::None, S::PlaceholderNoDirectory, L""},
        {L"\"x\"=\"%winsysdir%\\a\"", L"", L"", L"", P::None, S::PlaceholderNoDirectory, L"T", L""},
        {L"\"x\"=\"%orvtargetdir%\\a\"", L"x", L"string", longDir + L"\\a", P::TargetDir, S::Value, longDir},
        {L"\"x\"=\"" + longData + L"%winsysdir%", L"x", L"string", longData + L"S\\", P::SystemDir},
        {L"\"Count\"=dword:00000010", L"Count", L"dword", L"00000010"},
        {L"\"x\"=string:%orvtargetdir%\\a", L"x", L"string", L"%orvtargetdir%\\a"},
        {L"=hex(2):1:2", L"", L"hex(2)", L"1:2"},
        {L"\"x\"=string", L"", L"", L"", P::None, S::ValueNoColon},
        {L"", L"", L"", L"", P::None, S::Blank},
        {L"   ", L"", L"", L"", P::None, S::NoEquals},
        {std::wstring(L"\"a\"=\"b\0c\"", 9), L"", L"", L"", P::None, S::ContainsNul},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.line.substr(0, 60)) + " target=" + Narrow(row.target.substr(0, 20)));
        RegScriptValue value;
        value.name = L"sentinel";
        EXPECT_STREQ(Name(ParseRegValueLine(row.line, Dirs(row.target, row.system), value)), Name(row.status));
        EXPECT_EQ(value.name, row.name);
        EXPECT_EQ(value.typeWord, row.type);
        EXPECT_EQ(value.data, row.data);
        EXPECT_EQ(value.placeholder, row.placeholder);
    }
}

TEST(RegScript, DwordText) {
    const struct { const wchar_t* text; uint32_t value; } rows[] = {
        {L"16", 16}, {L"00000010", 10}, {L"  +7", 7}, {L"\t\r\n 42", 42}, {L"12abc", 12}, {L"abc", 0},
        {L"0x10", 0}, {L"- 1", 0}, {L"-1", 0xFFFFFFFFu}, {L"4294967290", 4294967290u},
        {L"4294967295", 0xFFFFFFFFu}, {L"4294967296", 0xFFFFFFFFu}, {L"-4294967296", 0xFFFFFFFFu},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        EXPECT_EQ(ParseRegDword(row.text), row.value);
    }
}

TEST(RegScript, HexBytes) {
    const struct { const wchar_t* text; Bytes bytes; } rows[] = {
        {L"01,ff.1a", {0x01, 0xFF, 0x1A}}, {L",,..", {}}, {L"1,,2.", {0x01, 0x02}}, {L"0x1f,0X2E", {0x1F, 0x2E}},
        {L"123456789ab", {0xAB}}, {L"-1,-0x10,+10", {0xFF, 0xF0, 0x10}}, {L"zz,0x, -", {0x00, 0x00, 0x00}},
        {L" 0A,\t0b ", {0x0A, 0x0B}}, {L"a b", {0x0A}}, {L"01,\\", {0x01, 0x00}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        EXPECT_EQ(ParseRegHexBytes(row.text), row.bytes);
    }
}

// Shapes of the data (terminators, sizes, unknown types) are checked by the fuzz target.
TEST(RegScript, ValueData) {
    const struct { const wchar_t *type, *data; bool bKnown; RegValueType regType; Bytes bytes; } rows[] = {
        {L"STRING", L"ab", true, RegValueType::String, {'a', 0, 'b', 0, 0, 0}},
        {L"Dword", L"16", true, RegValueType::Dword, {0x10, 0, 0, 0}},
        {L"dword", L"-2", true, RegValueType::Dword, {0xFE, 0xFF, 0xFF, 0xFF}},
        {L"HeX", L"01,ff.1a", true, RegValueType::Binary, {0x01, 0xFF, 0x1A}},
        {L"hex(2)", L"41,00", false, RegValueType::String, {}},
        {L"dword ", L"1", false, RegValueType::String, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.type) + ":" + Narrow(row.data));
        RegScriptValue value;
        value.typeWord = row.type;
        value.data = row.data;
        RegValueData data;
        data.bytes = {0xDE, 0xAD};
        ASSERT_EQ(MakeRegValueData(value, data), row.bKnown);
        EXPECT_EQ(data.bytes, row.bytes);
        EXPECT_TRUE(!row.bKnown || data.type == row.regType);
    }
    const Bytes pair{0x3D, 0xD8, 0x00, 0xDE, 0, 0};  // beyond the BMP: a surrogate pair
    EXPECT_TRUE(sizeof(wchar_t) == 2 || EncodeRegString(std::wstring(1, static_cast<wchar_t>(0x1F600))) == pair);
}

// Data always matches itself (checked by the fuzz target); these rows differ.
TEST(RegScript, StoredDataComparison) {
    auto str = [](std::wstring_view text) { return RegValueData{RegValueType::String, EncodeRegString(text)}; };
    const struct { const char* name; RegValueData expected; Bytes stored; bool bMatch; } rows[] = {
        {"string upper stored", str(L"Apartment"), EncodeRegString(L"APARTMENT"), true},
        {"string changed", str(L"Apartment"), EncodeRegString(L"Apartmenx"), false},
        {"string without terminator", str(L"ab"), {'a', 0, 'b', 0}, false},
        {"only ASCII letters fold", str(L"\u00e9"), EncodeRegString(L"\u00c9"), false},
        {"no fold below A", str(L"@"), EncodeRegString(L"`"), false},
        {"no fold above Z", str(L"["), EncodeRegString(L"{"), false},
        {"the fold works on bytes", str(L"\u4100"), EncodeRegString(L"\u6100"), true},
        {"dword differs", {RegValueType::Dword, {1, 0, 0, 0}}, {2, 0, 0, 0}, false},
        {"dword longer", {RegValueType::Dword, {1, 0, 0, 0}}, {1, 0, 0, 0, 0, 0, 0, 0}, false},
        {"binary has no fold", {RegValueType::Binary, {0x41}}, {0x61}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RegStoredDataMatches(row.expected, row.stored.data(), row.stored.size()), row.bMatch);
    }
}

TEST(RegScript, Files) {
    // A code page: 0x80 is the euro sign, 0x81 has no character, NUL is dropped (but still seen in the bytes).
    RegScriptOptions cp = Dirs(), win9x = Dirs();
    cp.convert = [](std::string_view bytes, std::wstring& text) {
        text.clear();
        for (char b : bytes) {
            if (b == '\x81') return false;
            if (b) text.push_back(b == '\x80' ? L'\u20ac' : static_cast<wchar_t>(static_cast<unsigned char>(b)));
        }
        return true;
    };
    win9x.bNtFamily = false;
    const struct { const char* name; std::string file; RegScriptOptions options; std::string expected; } rows[] = {
        {"no header applies nothing", "REGEDIT4\n\"a\"=\"b\"\n", Dirs(), "[pre]\n1 pre\n2 pre\n"},
        {"banner, two sections, CRLF",
         "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\{1}]\r\n@=\"%orvtargetdir%\\srv.dll\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\P]\r\n\"n\"=dword:16\r\n", Dirs(),
         "[pre]\n1 pre\n2 pre\n[ok HKEY_CLASSES_ROOT|CLSID\\{1}]\n4 value |string|C:\\App\\srv.dll\n5 blank\n"
         "[ok HKEY_LOCAL_MACHINE|Software\\P]\n7 value n|dword|16\n"},
        {"invalid top key, next section still read", "[HKEY_Local_Machine\\S]\n\"a\"=\"1\"\n[HKEY_USERS\\S]\n",
         Dirs(), "[badtop HKEY_Local_Machine|S]\n2 value a|string|1\n[ok HKEY_USERS|S]\n"},
        {"header without ] keeps its lines out of the previous section",
         "[HKEY_CURRENT_USER\\A]\n\"a\"=\"1\"\n[HKEY_CURRENT_USER\\B\n\"b\"=\"2\"\n", Dirs(),
         "[ok HKEY_CURRENT_USER|A]\n2 value a|string|1\n[nobracket |]\n4 value b|string|2\n"},
        {"ignored and rejected lines", "[HKEY_USERS\\K]\n; c\n \"a\"=x\n [HKEY_USERS\\L]\n", Dirs(),
         "[ok HKEY_USERS|K]\n2 noeq\n3 nocolon\n4 noeq\n"},
        {"NUL in a value line", Lit("[HKEY_USERS\\K]\n\"a\"=\"b\0c\"\n\"d\"=\"e\""), Dirs(),
         "[ok HKEY_USERS|K]\n2 nul\n3 value d|string|e\n"},
        {"NUL dropped by the converter", Lit("[HKEY_USERS\\K\0]\n\"a\"=\"b\0c\"\n"), cp, "[nul |]\n2 nul\n"},
        {"bytes are Latin-1 by default", "[HKEY_USERS\\K]\n\"\xe9\"=\"\x80\"\n", Dirs(),
         "[ok HKEY_USERS|K]\n2 value \\x{e9}|string|\\x{80}\n"},
        {"caller's converter", "[HKEY_USERS\\K]\n\"a\"=\"\x80\"\n\"b\"=\"\x81\"\n", cp,
         "[ok HKEY_USERS|K]\n2 value a|string|\\x{20ac}\n3 conv \"b\"=\"\\x{81}\"\n"},
        {"caller's converter refuses a header", "[HKEY_USERS\\\x81]\n\"a\"=\"1\"\n", cp, "[conv |]\n2 value a|string|1\n"},
        {"Windows 9x top keys", "[HKEY_DYN_DATA\\A]\n[HKEY_PERFORMANCE_DATA\\B]\n", win9x,
         "[ok HKEY_DYN_DATA|A]\n[refused9x HKEY_PERFORMANCE_DATA|B]\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Summarize(row.file, row.options), row.expected);
    }
}

TEST(RegScript, HugeLine) {
    const std::string file = "[HKEY_USERS\\K]\n\"v\"=\"" + std::string(4u << 20, 'a') + "%ORVTARGETDIR%\\x\"\n";
    RegScriptReader reader(file, Dirs());
    RegScriptSection section;
    ASSERT_TRUE(reader.NextSection(section));
    ASSERT_EQ(section.lines.size(), 1u);
    EXPECT_EQ(section.lines[0].value.data.size(), (4u << 20) + 8);
    EXPECT_EQ(section.lines[0].value.data.substr(4u << 20), L"C:\\App\\x");
    EXPECT_FALSE(reader.NextSection(section));
}
