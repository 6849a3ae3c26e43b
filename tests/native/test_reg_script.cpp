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

// A byte string literal that may hold NUL bytes.
template <size_t N>
std::string Lit(const char (&text)[N]) { return std::string(text, N - 1); }

// Narrow form of test text: ASCII as is, anything else as \x{hex}.
std::string Narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\x{%x}", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

const char* Name(RegLineStatus s) {
    switch (s) {
    case RegLineStatus::Value: return "value";
    case RegLineStatus::Header: return "header";
    case RegLineStatus::BeforeFirstHeader: return "pre";
    case RegLineStatus::Blank: return "blank";
    case RegLineStatus::NoEquals: return "noeq";
    case RegLineStatus::ValueNoColon: return "nocolon";
    case RegLineStatus::ContainsNul: return "nul";
    case RegLineStatus::ConversionFailed: return "conv";
    case RegLineStatus::PlaceholderNoDirectory: return "nodir";
    }
    return "?";
}

const char* Name(RegHeaderStatus s) {
    switch (s) {
    case RegHeaderStatus::Ok: return "ok";
    case RegHeaderStatus::NoClosingBracket: return "nobracket";
    case RegHeaderStatus::InvalidTopKey: return "badtop";
    case RegHeaderStatus::RefusedOnWin9x: return "refused9x";
    case RegHeaderStatus::RefusedOnNt: return "refusednt";
    case RegHeaderStatus::TopKeyOnly: return "toponly";
    case RegHeaderStatus::ContainsNul: return "nul";
    case RegHeaderStatus::ConversionFailed: return "conv";
    }
    return "?";
}

// One text line per section and per line read:
//   "[ok HKEY_LOCAL_MACHINE|A\B]" or "[pre]", then "3 value name|type|data", "4 noeq".
std::string Summarize(const std::string& file, RegScriptOptions options) {
    RegScriptReader reader(file, std::move(options));
    RegScriptSection section;
    std::string out;
    uint64_t lastLine = 0;
    while (reader.NextSection(section)) {
        if (section.bHasHeader) {
            EXPECT_GT(section.headerLine.lineNumber, lastLine);
            lastLine = section.headerLine.lineNumber;
            out += "[" + std::string(Name(section.header.status)) + " " + Narrow(section.header.topKeyName) + "|" +
                   Narrow(section.header.subkeyPath) + "]\n";
        } else {
            out += "[pre]\n";
        }
        for (const RegScriptLine& line : section.lines) {
            EXPECT_GT(line.lineNumber, lastLine);
            lastLine = line.lineNumber;
            out += std::to_string(line.lineNumber) + " " + Name(line.status);
            if (line.status == RegLineStatus::Value)
                out += " " + Narrow(line.value.name) + "|" + Narrow(line.value.typeWord) + "|" + Narrow(line.value.data);
            if (line.status == RegLineStatus::ConversionFailed) out += " " + Narrow(line.text);
            out += "\n";
        }
    }
    return out;
}

RegScriptOptions Dirs(std::wstring target = L"C:\\App", std::wstring system = L"C:\\WINDOWS\\SYSTEM") {
    RegScriptOptions options;
    options.targetDir = std::move(target);
    options.systemDir = std::move(system);
    return options;
}

}  // namespace

TEST(RegScript, LineSplitter) {
    struct Row {
        const char* name;
        std::string input;
        std::vector<std::string> lines;
    } rows[] = {
        {"empty input", "", {}},
        {"no final LF", "a", {"a"}},
        {"final LF starts no line", "a\n", {"a"}},
        {"CRLF", "a\r\nb\r\n", {"a", "b"}},
        {"only the CR before LF goes", "a\r\r\n", {"a\r"}},
        {"lone CR stays", "a\rb\n", {"a\rb"}},
        {"CR at end of file stays", "a\r", {"a\r"}},
        {"empty lines", "\n\r\n\n", {"", "", ""}},
        {"NUL inside a line", Lit("a\0b\nc"), {Lit("a\0b"), "c"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
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
    struct Row {
        const wchar_t* line;
        bool bNt;
        RegHeaderStatus status;
        const wchar_t* top;
        const wchar_t* sub;
    } rows[] = {
        {L"[HKEY_LOCAL_MACHINE\\Software\\P\\Q] trailing", true, RegHeaderStatus::Ok, L"HKEY_LOCAL_MACHINE", L"Software\\P\\Q"},
        {L"[HKEY_CLASSES_ROOT\\A]B]", true, RegHeaderStatus::Ok, L"HKEY_CLASSES_ROOT", L"A]B"},
        {L"[HKEY_CURRENT_USER\\\\A\\]", true, RegHeaderStatus::Ok, L"HKEY_CURRENT_USER", L"\\A\\"},
        {L"[HKEY_USERS\\.DEFAULT\\X]", true, RegHeaderStatus::Ok, L"HKEY_USERS", L".DEFAULT\\X"},
        {L"[HKEY_CURRENT_CONFIG\\X]", true, RegHeaderStatus::Ok, L"HKEY_CURRENT_CONFIG", L"X"},
        {L"[HKEY_Local_Machine\\Software]", true, RegHeaderStatus::InvalidTopKey, L"HKEY_Local_Machine", L"Software"},
        {L"[ HKEY_USERS\\X]", true, RegHeaderStatus::InvalidTopKey, L" HKEY_USERS", L"X"},
        {L"[Software\\X]", true, RegHeaderStatus::InvalidTopKey, L"Software", L"X"},
        {L"[]", true, RegHeaderStatus::InvalidTopKey, L"", L""},
        {L"[HKEY_FOO]", true, RegHeaderStatus::InvalidTopKey, L"HKEY_FOO", L""},
        {L"[HKEY_CURRENT_USER\\Software", true, RegHeaderStatus::NoClosingBracket, L"", L""},
        {L"[", true, RegHeaderStatus::NoClosingBracket, L"", L""},
        {L"[HKEY_CURRENT_USER]", true, RegHeaderStatus::TopKeyOnly, L"HKEY_CURRENT_USER", L""},
        {L"[HKEY_CURRENT_USER\\]", true, RegHeaderStatus::TopKeyOnly, L"HKEY_CURRENT_USER", L""},
        {L"[HKEY_CURRENT_USER\\\\\\]", true, RegHeaderStatus::TopKeyOnly, L"HKEY_CURRENT_USER", L"\\\\"},
        {L"[HKEY_PERFORMANCE_DATA\\X]", true, RegHeaderStatus::Ok, L"HKEY_PERFORMANCE_DATA", L"X"},
        {L"[HKEY_PERFORMANCE_DATA\\X]", false, RegHeaderStatus::RefusedOnWin9x, L"HKEY_PERFORMANCE_DATA", L"X"},
        {L"[HKEY_DYN_DATA\\X]", true, RegHeaderStatus::RefusedOnNt, L"HKEY_DYN_DATA", L"X"},
        {L"[HKEY_DYN_DATA\\X]", false, RegHeaderStatus::Ok, L"HKEY_DYN_DATA", L"X"},
        {L"[HKEY_DYN_DATA]", true, RegHeaderStatus::RefusedOnNt, L"HKEY_DYN_DATA", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.line) + (row.bNt ? " (NT)" : " (9x)"));
        RegScriptHeader header = ParseRegHeader(row.line, row.bNt);
        EXPECT_STREQ(Name(header.status), Name(row.status));
        EXPECT_EQ(header.topKeyName, row.top);
        EXPECT_EQ(header.subkeyPath, row.sub);
        if (header.status == RegHeaderStatus::Ok) {
            ASSERT_TRUE(header.bTopKeyKnown);
            EXPECT_EQ(std::wstring(RegTopKeyName(header.topKey)), header.topKeyName);
            EXPECT_EQ(header.FullKeyText(), std::wstring(row.top) + L"\\" + row.sub);
        }
    }
    EXPECT_EQ(ParseRegHeader(std::wstring(L"[HKEY_USERS\\A\0B]", 16), true).status, RegHeaderStatus::ContainsNul);
}

TEST(RegScript, ValueLines) {
    const std::wstring longDir(300, L'd');
    const std::wstring longData(5000, L'x');
    struct Row {
        std::wstring line;
        std::wstring target;
        std::wstring system;
        RegLineStatus status;
        std::wstring name, type, data;
        RegPlaceholder placeholder;
    } rows[] = {
        {L"@=\"%orvtargetdir%\\server.dll\"", L"C:\\App", L"S", RegLineStatus::Value, L"", L"string", L"C:\\App\\server.dll", RegPlaceholder::TargetDir},
        {L"@=\"%orvtargetdir%\\server.dll\"", L"C:\\App\\", L"S", RegLineStatus::Value, L"", L"string", L"C:\\App\\server.dll", RegPlaceholder::TargetDir},
        {L"\"ThreadingModel\"=\"Apartment\"", L"T", L"S", RegLineStatus::Value, L"ThreadingModel", L"string", L"Apartment", RegPlaceholder::None},
        {L"\"P\"=\"C:\\\\Dir\"", L"T", L"S", RegLineStatus::Value, L"P", L"string", L"C:\\\\Dir", RegPlaceholder::None},
        {L"\"\"=\"x\"", L"T", L"S", RegLineStatus::Value, L"", L"string", L"x", RegPlaceholder::None},
        {L"\"@\"=\"x\"", L"T", L"S", RegLineStatus::Value, L"@", L"string", L"x", RegPlaceholder::None},
        {L"a\"b\"c=\"d\"", L"T", L"S", RegLineStatus::Value, L"abc", L"string", L"d", RegPlaceholder::None},
        {L"\"x\" = \"y\" ; note", L"T", L"S", RegLineStatus::Value, L"x ", L"string", L"y ; note", RegPlaceholder::None},
        {L"\"a=b\"=\"c\"", L"T", L"S", RegLineStatus::Value, L"a", L"string", L"=c", RegPlaceholder::None},
        {L"\"x\"=\"a \"q\" b\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"a q b", RegPlaceholder::None},
        {L"\"x\"=\"%ORVTargetDir%\\a\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"T\\a", RegPlaceholder::TargetDir},
        {L"\"x\"=\"%winsysdir%\\a\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"S\\a", RegPlaceholder::SystemDir},
        {L"\"x\"=\"%winsysdir%\\a;%orvtargetdir%\\b\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"%winsysdir%\\a;T\\b", RegPlaceholder::TargetDir},
        {L"\"x\"=\"%orvtargetdir%\\a;%orvtargetdir%\\b\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"T\\a;%orvtargetdir%\\b", RegPlaceholder::TargetDir},
        {L"\"x\"=\"%orvtargetdir%", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"T\\", RegPlaceholder::TargetDir},
        {L"\"x\"=\"%orvtargetdir%\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"T\\", RegPlaceholder::TargetDir},
        {L"\"x\"=\"%orvtargetdir%ab\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"T\\b", RegPlaceholder::TargetDir},
        {L"\"x\"=\"%orvtargetdir\\a\"", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"%orvtargetdir\\a", RegPlaceholder::None},
        {L"\"%orvtargetdir%\"=\"x\"", L"T", L"S", RegLineStatus::Value, L"%orvtargetdir%", L"string", L"x", RegPlaceholder::None},
        {L"\"x\"=\"%orvtargetdir%\\a\"", L"", L"S", RegLineStatus::PlaceholderNoDirectory, L"", L"", L"", RegPlaceholder::None},
        {L"\"x\"=\"%winsysdir%\\a\"", L"T", L"", RegLineStatus::PlaceholderNoDirectory, L"", L"", L"", RegPlaceholder::None},
        {L"\"x\"=\"plain\"", L"", L"", RegLineStatus::Value, L"x", L"string", L"plain", RegPlaceholder::None},
        {L"\"x\"=\"%orvtargetdir%\\a\"", longDir, L"S", RegLineStatus::Value, L"x", L"string", longDir + L"\\a", RegPlaceholder::TargetDir},
        {L"\"x\"=\"" + longData + L"%winsysdir%", L"T", L"S", RegLineStatus::Value, L"x", L"string", longData + L"S\\", RegPlaceholder::SystemDir},
        {L"\"Count\"=dword:00000010", L"T", L"S", RegLineStatus::Value, L"Count", L"dword", L"00000010", RegPlaceholder::None},
        {L"\"Bin\"=hex:01,ff.1a", L"T", L"S", RegLineStatus::Value, L"Bin", L"hex", L"01,ff.1a", RegPlaceholder::None},
        {L"\"x\"=string:%orvtargetdir%\\a", L"T", L"S", RegLineStatus::Value, L"x", L"string", L"%orvtargetdir%\\a", RegPlaceholder::None},
        {L"\"x\"=hex(2):41,00,00,00", L"T", L"S", RegLineStatus::Value, L"x", L"hex(2)", L"41,00,00,00", RegPlaceholder::None},
        {L"=dword:1:2", L"T", L"S", RegLineStatus::Value, L"", L"dword", L"1:2", RegPlaceholder::None},
        {L"\"x\"=dword:", L"T", L"S", RegLineStatus::Value, L"x", L"dword", L"", RegPlaceholder::None},
        {L"\"x\"=string", L"T", L"S", RegLineStatus::ValueNoColon, L"", L"", L"", RegPlaceholder::None},
        {L"@=", L"T", L"S", RegLineStatus::ValueNoColon, L"", L"", L"", RegPlaceholder::None},
        {L"", L"T", L"S", RegLineStatus::Blank, L"", L"", L"", RegPlaceholder::None},
        {L"   ", L"T", L"S", RegLineStatus::NoEquals, L"", L"", L"", RegPlaceholder::None},
        {L"; a comment", L"T", L"S", RegLineStatus::NoEquals, L"", L"", L"", RegPlaceholder::None},
        {std::wstring(L"\"a\"=\"b\0c\"", 9), L"T", L"S", RegLineStatus::ContainsNul, L"", L"", L"", RegPlaceholder::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.line.substr(0, 60)) + " target=" + Narrow(row.target.substr(0, 20)));
        RegScriptValue value;
        value.name = L"sentinel";
        RegLineStatus status = ParseRegValueLine(row.line, Dirs(row.target, row.system), value);
        EXPECT_STREQ(Name(status), Name(row.status));
        EXPECT_EQ(value.name, row.name);
        EXPECT_EQ(value.typeWord, row.type);
        EXPECT_EQ(value.data, row.data);
        EXPECT_EQ(value.placeholder, row.placeholder);
    }
}

TEST(RegScript, DwordText) {
    struct Row {
        const wchar_t* text;
        uint32_t value;
    } rows[] = {
        {L"16", 16},           {L"00000010", 10},    {L"  +7", 7},
        {L"\t\r\n 42", 42},    {L"12abc", 12},       {L"abc", 0},
        {L"", 0},              {L"0x10", 0},         {L"- 1", 0},
        {L"+-1", 0},           {L"-1", 0xFFFFFFFFu}, {L"-5", 0xFFFFFFFBu},
        {L"4294967295", 0xFFFFFFFFu},  {L"4294967296", 0xFFFFFFFFu},
        {L"99999999999999999999", 0xFFFFFFFFu},   {L"-4294967296", 0xFFFFFFFFu},
        {L"429496729", 429496729u},   {L"4294967290", 4294967290u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        EXPECT_EQ(ParseRegDword(row.text), row.value);
    }
}

TEST(RegScript, HexBytes) {
    struct Row {
        const wchar_t* text;
        Bytes bytes;
    } rows[] = {
        {L"01,ff.1a", {0x01, 0xFF, 0x1A}},
        {L"", {}},
        {L",,..", {}},
        {L"1,,2.", {0x01, 0x02}},
        {L"0x1f,0X2E", {0x1F, 0x2E}},
        {L"1ff", {0xFF}},
        {L"123456789ab", {0xAB}},
        {L"-1,-0x10,+10", {0xFF, 0xF0, 0x10}},
        {L"zz,0x, -", {0x00, 0x00, 0x00}},
        {L" 0A,\t0b ", {0x0A, 0x0B}},
        {L"a b", {0x0A}},
        {L"01,\\", {0x01, 0x00}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        EXPECT_EQ(ParseRegHexBytes(row.text), row.bytes);
    }
}

TEST(RegScript, ValueData) {
    struct Row {
        const wchar_t* type;
        std::wstring data;
        bool bKnown;
        RegValueType regType;
        Bytes bytes;
    } rows[] = {
        {L"string", L"ab", true, RegValueType::String, {'a', 0, 'b', 0, 0, 0}},
        {L"STRING", L"", true, RegValueType::String, {0, 0}},
        {L"string", L"\u00e9", true, RegValueType::String, {0xE9, 0, 0, 0}},
        {L"Dword", L"16", true, RegValueType::Dword, {0x10, 0, 0, 0}},
        {L"dword", L"00000010", true, RegValueType::Dword, {0x0A, 0, 0, 0}},
        {L"dword", L"-2", true, RegValueType::Dword, {0xFE, 0xFF, 0xFF, 0xFF}},
        {L"HeX", L"01,ff.1a", true, RegValueType::Binary, {0x01, 0xFF, 0x1A}},
        {L"hex", L"", true, RegValueType::Binary, {}},
        {L"hex(2)", L"41,00", false, RegValueType::String, {}},
        {L"expand", L"x", false, RegValueType::String, {}},
        {L"multi_sz", L"x", false, RegValueType::String, {}},
        {L"dword ", L"1", false, RegValueType::String, {}},
        {L"", L"1", false, RegValueType::String, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.type) + ":" + Narrow(row.data));
        RegScriptValue value;
        value.typeWord = row.type;
        value.data = row.data;
        RegValueData data;
        data.bytes = {0xDE, 0xAD};
        ASSERT_EQ(MakeRegValueData(value, data), row.bKnown);
        EXPECT_EQ(data.bytes, row.bytes);
        if (row.bKnown) {
            EXPECT_EQ(data.type, row.regType);
        }
    }
    if (sizeof(wchar_t) == 4) {  // characters beyond the BMP go out as surrogate pairs
        std::wstring text(1, static_cast<wchar_t>(0x1F600));
        EXPECT_EQ(EncodeRegString(text), (Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    }
}

TEST(RegScript, StoredDataComparison) {
    auto str = [](std::wstring_view text) { return RegValueData{RegValueType::String, EncodeRegString(text)}; };
    struct Row {
        const char* name;
        RegValueData expected;
        Bytes stored;
        bool bMatch;
    } rows[] = {
        {"string equal", str(L"Apartment"), EncodeRegString(L"Apartment"), true},
        {"string upper stored", str(L"Apartment"), EncodeRegString(L"APARTMENT"), true},
        {"string upper expected", str(L"APARTMENT"), EncodeRegString(L"apartment"), true},
        {"string changed", str(L"Apartment"), EncodeRegString(L"Apartmenx"), false},
        {"string shorter", str(L"Apartment"), EncodeRegString(L"Apart"), false},
        {"string without terminator", str(L"ab"), {'a', 0, 'b', 0}, false},
        {"only ASCII letters fold", str(L"\u00e9"), EncodeRegString(L"\u00c9"), false},
        {"no fold below A", str(L"@"), EncodeRegString(L"`"), false},
        {"no fold above Z", str(L"["), EncodeRegString(L"{"), false},
        {"the fold works on bytes", str(L"\u4100"), EncodeRegString(L"\u6100"), true},
        {"dword equal", {RegValueType::Dword, {1, 0, 0, 0}}, {1, 0, 0, 0}, true},
        {"dword differs", {RegValueType::Dword, {1, 0, 0, 0}}, {2, 0, 0, 0}, false},
        {"dword longer", {RegValueType::Dword, {1, 0, 0, 0}}, {1, 0, 0, 0, 0, 0, 0, 0}, false},
        {"binary has no fold", {RegValueType::Binary, {0x41}}, {0x61}, false},
        {"binary equal", {RegValueType::Binary, {0x41, 0}}, {0x41, 0}, true},
        {"binary empty", {RegValueType::Binary, {}}, {}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RegStoredDataMatches(row.expected, row.stored.data(), row.stored.size()), row.bMatch);
    }
}

TEST(RegScript, Files) {
    // Converter standing for a code page: 0x80 is the euro sign, 0x81 has no character.
    RegScriptOptions cp = Dirs();
    cp.convert = [](std::string_view bytes, std::wstring& text) {
        text.clear();
        for (char b : bytes) {
            if (b == '\x81') return false;
            text.push_back(b == '\x80' ? L'\u20ac' : static_cast<wchar_t>(static_cast<unsigned char>(b)));
        }
        return true;
    };
    // Converter that drops NUL bytes: the NUL is still seen in the bytes.
    RegScriptOptions dropNul = Dirs();
    dropNul.convert = [](std::string_view bytes, std::wstring& text) {
        text.clear();
        for (char b : bytes)
            if (b != 0) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(b)));
        return true;
    };
    RegScriptOptions win9x = Dirs();
    win9x.bNtFamily = false;

    struct Row {
        const char* name;
        std::string file;
        RegScriptOptions options;
        std::string expected;
    } rows[] = {
        {"empty file", "", Dirs(), ""},
        {"no header applies nothing", "REGEDIT4\n\"a\"=\"b\"\n", Dirs(), "[pre]\n1 pre\n2 pre\n"},
        {"header only", "[HKEY_CURRENT_USER\\A]", Dirs(), "[ok HKEY_CURRENT_USER|A]\n"},
        {"banner, two sections, CRLF",
         "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\r\n@=\"%orvtargetdir%\\srv.dll\"\r\n"
         "\"ThreadingModel\"=\"Apartment\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\P]\r\n\"n\"=dword:16\r\n",
         Dirs(),
         "[pre]\n1 pre\n2 pre\n[ok HKEY_CLASSES_ROOT|CLSID\\{1}\\InprocServer32]\n4 value |string|C:\\App\\srv.dll\n"
         "5 value ThreadingModel|string|Apartment\n6 blank\n[ok HKEY_LOCAL_MACHINE|Software\\P]\n8 value n|dword|16\n"},
        {"invalid top key, next section still read",
         "[HKEY_Local_Machine\\S]\n\"a\"=\"1\"\n[HKEY_LOCAL_MACHINE\\S]\n\"b\"=\"2\"\n", Dirs(),
         "[badtop HKEY_Local_Machine|S]\n2 value a|string|1\n[ok HKEY_LOCAL_MACHINE|S]\n4 value b|string|2\n"},
        {"header without ] keeps its lines out of the previous section",
         "[HKEY_CURRENT_USER\\A]\n\"a\"=\"1\"\n[HKEY_CURRENT_USER\\B\n\"b\"=\"2\"\n", Dirs(),
         "[ok HKEY_CURRENT_USER|A]\n2 value a|string|1\n[nobracket |]\n4 value b|string|2\n"},
        {"top key only", "[HKEY_CURRENT_USER]\n@=\"x\"\n", Dirs(), "[toponly HKEY_CURRENT_USER|]\n2 value |string|x\n"},
        {"duplicate names keep file order", "[HKEY_USERS\\K]\n\"v\"=\"1\"\n\"v\"=\"2\"\n", Dirs(),
         "[ok HKEY_USERS|K]\n2 value v|string|1\n3 value v|string|2\n"},
        {"ignored and rejected lines", "[HKEY_USERS\\K]\n; c\n \"a\"=x\n [HKEY_USERS\\L]\n", Dirs(),
         "[ok HKEY_USERS|K]\n2 noeq\n3 nocolon\n4 noeq\n"},
        {"NUL in a value line", Lit("[HKEY_USERS\\K]\n\"a\"=\"b\0c\"\n\"d\"=\"e\""), Dirs(),
         "[ok HKEY_USERS|K]\n2 nul\n3 value d|string|e\n"},
        {"NUL dropped by the converter", Lit("[HKEY_USERS\\K\0]\n\"a\"=\"b\0c\"\n"), dropNul, "[nul |]\n2 nul\n"},
        {"NUL in a header", Lit("[HKEY_USERS\\K\0]\n\"d\"=\"e\"\n"), Dirs(),
         "[nul |]\n2 value d|string|e\n"},
        {"CR ending the last line is data", "[HKEY_USERS\\K]\n\"a\"=\"b\"\r", Dirs(),
         "[ok HKEY_USERS|K]\n2 value a|string|b\\x{d}\n"},
        {"bytes are Latin-1 by default", "[HKEY_USERS\\K]\n\"\xe9\"=\"\x80\"\n", Dirs(),
         "[ok HKEY_USERS|K]\n2 value \\x{e9}|string|\\x{80}\n"},
        {"caller's converter", "[HKEY_USERS\\K]\n\"a\"=\"\x80\"\n\"b\"=\"\x81\"\n", cp,
         "[ok HKEY_USERS|K]\n2 value a|string|\\x{20ac}\n3 conv \"b\"=\"\\x{81}\"\n"},
        {"caller's converter refuses a header", "[HKEY_USERS\\\x81]\n\"a\"=\"1\"\n", cp, "[conv |]\n2 value a|string|1\n"},
        {"Windows 9x top keys", "[HKEY_DYN_DATA\\A]\n[HKEY_PERFORMANCE_DATA\\B]\n", win9x,
         "[ok HKEY_DYN_DATA|A]\n[refused9x HKEY_PERFORMANCE_DATA|B]\n"},
        {"binary garbage", Lit("\xff\x00[\r\r\n[\x00\n=\"\x00\n[HKEY_USERS\\\xff]\n\xfe=\xfd:\r"), Dirs(),
         "[pre]\n1 pre\n[nul |]\n3 nul\n[ok HKEY_USERS|\\x{ff}]\n5 value \\x{fe}|\\x{fd}|\\x{d}\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Summarize(row.file, row.options), row.expected);
    }
}

TEST(RegScript, HugeLine) {
    std::string file = "[HKEY_USERS\\K]\n\"v\"=\"" + std::string(4u << 20, 'a') + "%ORVTARGETDIR%\\x\"\n";
    RegScriptReader reader(file, Dirs());
    RegScriptSection section;
    ASSERT_TRUE(reader.NextSection(section));
    ASSERT_EQ(section.lines.size(), 1u);
    EXPECT_EQ(section.lines[0].value.data.size(), (4u << 20) + 8);
    EXPECT_EQ(section.lines[0].value.data.substr(4u << 20), L"C:\\App\\x");
    EXPECT_FALSE(reader.NextSection(section));
    EXPECT_FALSE(reader.NextSection(section));
}
