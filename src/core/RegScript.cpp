#include "core/RegScript.h"

#include <cstring>
#include <utility>

namespace orv {

namespace {

struct TopKeyRow {
    const wchar_t* name;
    RegTopKey topKey;
};

// Lookup order of the top key table.
const TopKeyRow kTopKeys[] = {
    {L"HKEY_LOCAL_MACHINE", RegTopKey::LocalMachine},
    {L"HKEY_CLASSES_ROOT", RegTopKey::ClassesRoot},
    {L"HKEY_CURRENT_USER", RegTopKey::CurrentUser},
    {L"HKEY_USERS", RegTopKey::Users},
    {L"HKEY_CURRENT_CONFIG", RegTopKey::CurrentConfig},
    {L"HKEY_PERFORMANCE_DATA", RegTopKey::PerformanceData},
    {L"HKEY_DYN_DATA", RegTopKey::DynData},
};

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

size_t FindAsciiNoCase(std::wstring_view haystack, std::wstring_view needle) {
    if (needle.size() > haystack.size()) return std::wstring_view::npos;
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i)
        if (EqualsAsciiNoCase(haystack.substr(i, needle.size()), needle)) return i;
    return std::wstring_view::npos;
}

// White space as the C runtime's iswspace sees it in the "C" locale.
bool IsBlank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

void RemoveQuotes(std::wstring& text) {
    size_t out = 0;
    for (wchar_t c : text)
        if (c != L'"') text[out++] = c;
    text.resize(out);
}

// One token of ParseHexBytes, as "%x" reads it; wraps like the runtime's
// 32-bit accumulator, so the low byte is that of the last two digits.
uint8_t ScanHexToken(std::wstring_view token) {
    size_t i = 0;
    while (i < token.size() && IsBlank(token[i])) ++i;
    bool bNegative = false;
    if (i < token.size() && (token[i] == L'+' || token[i] == L'-')) {
        bNegative = token[i] == L'-';
        ++i;
    }
    if (i + 1 < token.size() && token[i] == L'0' && (token[i + 1] == L'x' || token[i + 1] == L'X')) i += 2;
    uint32_t value = 0;
    for (; i < token.size(); ++i) {
        int digit = HexDigit(token[i]);
        if (digit < 0) break;
        value = value * 16u + static_cast<uint32_t>(digit);
    }
    if (bNegative) value = 0u - value;
    return static_cast<uint8_t>(value & 0xFFu);
}

}  // namespace

// ---------------------------------------------------------------------------

bool LookupRegTopKey(std::wstring_view name, RegTopKey& topKey) {
    for (const TopKeyRow& row : kTopKeys) {
        if (name == row.name) {
            topKey = row.topKey;
            return true;
        }
    }
    return false;
}

const wchar_t* RegTopKeyName(RegTopKey topKey) {
    for (const TopKeyRow& row : kTopKeys)
        if (row.topKey == topKey) return row.name;
    return L"";
}

bool RegScriptLineSplitter::Next(std::string_view& line, uint64_t& lineNumber) {
    if (m_rest.empty()) return false;
    const void* lf = std::memchr(m_rest.data(), '\n', m_rest.size());
    size_t length = lf ? static_cast<size_t>(static_cast<const char*>(lf) - m_rest.data()) : m_rest.size();
    line = m_rest.substr(0, length);
    if (lf) {
        m_rest.remove_prefix(length + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    } else {
        m_rest = std::string_view();
    }
    lineNumber = ++m_lineNumber;
    return true;
}

bool ConvertLatin1(std::string_view bytes, std::wstring& text) {
    text.resize(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    return true;
}

// ---------------------------------------------------------------------------

RegScriptHeader ParseRegHeader(std::wstring_view line, bool bNtFamily) {
    RegScriptHeader header;
    if (line.find(L'\0') != std::wstring_view::npos) {
        header.status = RegHeaderStatus::ContainsNul;
        return header;
    }
    size_t close = line.rfind(L']');
    if (line.empty() || line[0] != L'[' || close == std::wstring_view::npos) {
        header.status = RegHeaderStatus::NoClosingBracket;
        return header;
    }
    std::wstring_view text = line.substr(1, close - 1);
    size_t backslash = text.find(L'\\');
    header.topKeyName.assign(text.substr(0, backslash));
    if (backslash != std::wstring_view::npos) header.subkeyPath.assign(text.substr(backslash + 1));

    header.bTopKeyKnown = LookupRegTopKey(header.topKeyName, header.topKey);
    if (!header.bTopKeyKnown) {
        header.status = RegHeaderStatus::InvalidTopKey;
    } else if (header.topKey == RegTopKey::PerformanceData && !bNtFamily) {
        header.status = RegHeaderStatus::RefusedOnWin9x;
    } else if (header.topKey == RegTopKey::DynData && bNtFamily) {
        header.status = RegHeaderStatus::RefusedOnNt;
    } else if (header.subkeyPath.find_first_not_of(L'\\') == std::wstring::npos) {
        header.status = RegHeaderStatus::TopKeyOnly;
    } else {
        header.status = RegHeaderStatus::Ok;
    }
    return header;
}

RegPlaceholder ReplaceRegPlaceholder(std::wstring& data, const std::wstring& targetDir,
                                     const std::wstring& systemDir, bool& bNoDirectory) {
    bNoDirectory = false;
    static constexpr std::wstring_view kTarget = L"%orvtargetdir%";
    static constexpr std::wstring_view kSystem = L"%winsysdir%";

    RegPlaceholder which = RegPlaceholder::TargetDir;
    std::wstring_view placeholder = kTarget;
    const std::wstring* directory = &targetDir;
    size_t at = FindAsciiNoCase(data, kTarget);
    if (at == std::wstring::npos) {
        which = RegPlaceholder::SystemDir;
        placeholder = kSystem;
        directory = &systemDir;
        at = FindAsciiNoCase(data, kSystem);
        if (at == std::wstring::npos) return RegPlaceholder::None;
    }
    if (directory->empty()) {
        bNoDirectory = true;
        return which;
    }
    std::wstring replacement = *directory;
    if (replacement.back() != L'\\') replacement.push_back(L'\\');
    // The character after the placeholder is the separator written in the
    // file; the directory brings its own.
    size_t count = placeholder.size();
    if (at + count < data.size()) ++count;
    data.replace(at, count, replacement);
    return which;
}

RegLineStatus ParseRegValueLine(std::wstring_view text, const RegScriptOptions& options,
                                RegScriptValue& value) {
    value = RegScriptValue();
    if (text.empty()) return RegLineStatus::Blank;
    if (text.find(L'\0') != std::wstring_view::npos) return RegLineStatus::ContainsNul;
    size_t equals = text.find(L'=');
    if (equals == std::wstring_view::npos) return RegLineStatus::NoEquals;

    std::wstring_view rawName = text.substr(0, equals);
    std::wstring_view rest = text.substr(equals + 1);

    RegScriptValue parsed;
    if (rawName != L"@") {
        parsed.name.assign(rawName);
        RemoveQuotes(parsed.name);
    }

    size_t quote = rest.find(L'"');
    if (quote != std::wstring_view::npos) {
        parsed.form = RegValueForm::String;
        parsed.typeWord = L"string";
        parsed.data.assign(rest.substr(quote + 1));
        bool bNoDirectory = false;
        parsed.placeholder = ReplaceRegPlaceholder(parsed.data, options.targetDir, options.systemDir, bNoDirectory);
        if (bNoDirectory) return RegLineStatus::PlaceholderNoDirectory;
        RemoveQuotes(parsed.data);
    } else {
        size_t colon = rest.find(L':');
        if (colon == std::wstring_view::npos) return RegLineStatus::ValueNoColon;
        parsed.form = RegValueForm::Typed;
        parsed.typeWord.assign(rest.substr(0, colon));
        parsed.data.assign(rest.substr(colon + 1));
    }
    value = std::move(parsed);
    return RegLineStatus::Value;
}

const wchar_t* DescribeRegLineStatus(RegLineStatus status) {
    switch (status) {
    case RegLineStatus::Value: return L"value line";
    case RegLineStatus::Header: return L"section header";
    case RegLineStatus::BeforeFirstHeader: return L"ignored: before the first section header";
    case RegLineStatus::Blank: return L"ignored: empty line";
    case RegLineStatus::NoEquals: return L"ignored: no '=' in the line";
    case RegLineStatus::ValueNoColon: return L"rejected: no ':' after the '=' of a value without quotes";
    case RegLineStatus::ContainsNul: return L"rejected: the line contains a NUL character";
    case RegLineStatus::ConversionFailed: return L"rejected: the line cannot be converted to text";
    case RegLineStatus::PlaceholderNoDirectory: return L"rejected: no directory known for the placeholder";
    }
    return L"unknown line status";
}

const wchar_t* DescribeRegHeaderStatus(RegHeaderStatus status) {
    switch (status) {
    case RegHeaderStatus::Ok: return L"section header";
    case RegHeaderStatus::NoClosingBracket: return L"no closing ']' in the section header";
    case RegHeaderStatus::InvalidTopKey: return L"invalid top key";
    case RegHeaderStatus::RefusedOnWin9x:
        return L"Registry top key HKEY_PERFORMANCE_DATA is not supported on Win9X platforms";
    case RegHeaderStatus::RefusedOnNt: return L"Registry top key HKEY_DYN_DATA is not supported on WinNT platforms";
    case RegHeaderStatus::TopKeyOnly: return L"the section names a top key without a subkey";
    case RegHeaderStatus::ContainsNul: return L"the section header contains a NUL character";
    case RegHeaderStatus::ConversionFailed: return L"the section header cannot be converted to text";
    }
    return L"unknown header status";
}

// ---------------------------------------------------------------------------

RegScriptReader::RegScriptReader(std::string_view bytes, RegScriptOptions options)
    : m_splitter(bytes), m_options(std::move(options)) {
    if (!m_options.convert) m_options.convert = ConvertLatin1;
}

void RegScriptReader::ReadLine(std::string_view bytes, uint64_t lineNumber, RegScriptLine& line, bool& bHasNul,
                               bool& bConverted) {
    line.lineNumber = lineNumber;
    line.text.clear();
    bConverted = m_options.convert(bytes, line.text);
    if (!bConverted) ConvertLatin1(bytes, line.text);
    bHasNul = std::memchr(bytes.data(), 0, bytes.size()) != nullptr ||
              line.text.find(L'\0') != std::wstring::npos;
}

bool RegScriptReader::NextLineOfSection(std::string_view& bytes, uint64_t& lineNumber) {
    if (!m_splitter.Next(bytes, lineNumber)) return false;
    if (bytes.empty() || bytes[0] != '[') return true;
    // A header ends the section; it is read again as the next one's header.
    m_bPendingHeader = true;
    m_pendingBytes = bytes;
    m_pendingLineNumber = lineNumber;
    return false;
}

bool RegScriptReader::NextSection(RegScriptSection& section) {
    section.bHasHeader = false;
    section.headerLine = RegScriptLine();
    section.header = RegScriptHeader();
    section.lines.clear();

    std::string_view bytes;
    uint64_t lineNumber = 0;
    bool bHasNul = false;
    bool bConverted = true;

    if (!m_bPendingHeader) {
        // Either the start of the file (lines before the first header follow)
        // or its end (the last section ended there and nothing is left).
        while (NextLineOfSection(bytes, lineNumber)) {
            RegScriptLine line;
            ReadLine(bytes, lineNumber, line, bHasNul, bConverted);
            line.status = RegLineStatus::BeforeFirstHeader;
            section.lines.push_back(std::move(line));
        }
        if (!section.lines.empty()) return true;
        if (!m_bPendingHeader) return false;
    }

    m_bPendingHeader = false;
    section.bHasHeader = true;
    ReadLine(m_pendingBytes, m_pendingLineNumber, section.headerLine, bHasNul, bConverted);
    section.headerLine.status = RegLineStatus::Header;
    if (!bConverted) {
        section.header.status = RegHeaderStatus::ConversionFailed;
    } else if (bHasNul) {
        section.header.status = RegHeaderStatus::ContainsNul;
    } else {
        section.header = ParseRegHeader(section.headerLine.text, m_options.bNtFamily);
    }

    while (NextLineOfSection(bytes, lineNumber)) {
        RegScriptLine line;
        ReadLine(bytes, lineNumber, line, bHasNul, bConverted);
        if (bytes.empty()) {
            line.status = RegLineStatus::Blank;
        } else if (!bConverted) {
            line.status = RegLineStatus::ConversionFailed;
        } else if (bHasNul) {
            line.status = RegLineStatus::ContainsNul;
        } else {
            line.status = ParseRegValueLine(line.text, m_options, line.value);
        }
        section.lines.push_back(std::move(line));
    }
    return true;
}

// ---------------------------------------------------------------------------

RegScriptType ClassifyRegTypeWord(std::wstring_view typeWord) {
    if (EqualsAsciiNoCase(typeWord, L"string")) return RegScriptType::String;
    if (EqualsAsciiNoCase(typeWord, L"dword")) return RegScriptType::Dword;
    if (EqualsAsciiNoCase(typeWord, L"hex")) return RegScriptType::Hex;
    return RegScriptType::Unrecognized;
}

uint32_t ParseRegDword(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        bNegative = text[i] == L'-';
        ++i;
    }
    uint32_t value = 0;
    bool bOverflow = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        uint32_t digit = static_cast<uint32_t>(text[i] - L'0');
        if (value > (0xFFFFFFFFu - digit) / 10u) bOverflow = true;
        if (!bOverflow) value = value * 10u + digit;
    }
    if (bOverflow) return 0xFFFFFFFFu;
    return bNegative ? 0u - value : value;
}

std::vector<uint8_t> ParseRegHexBytes(std::wstring_view text) {
    std::vector<uint8_t> bytes;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(L",.", start);
        if (end == std::wstring_view::npos) end = text.size();
        if (end > start) bytes.push_back(ScanHexToken(text.substr(start, end - start)));
        start = end + 1;
    }
    return bytes;
}

std::vector<uint8_t> EncodeRegString(std::wstring_view text) {
    std::vector<uint8_t> bytes;
    bytes.reserve((text.size() + 1) * 2);
    auto put = [&bytes](uint32_t unit) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFFu));
        bytes.push_back(static_cast<uint8_t>((unit >> 8) & 0xFFu));
    };
    for (wchar_t c : text) {
        uint32_t code = static_cast<uint32_t>(c);
        if constexpr (sizeof(wchar_t) == 2) {
            put(code & 0xFFFFu);  // already UTF-16
        } else if (code <= 0xFFFFu) {
            put(code);
        } else if (code <= 0x10FFFFu) {
            code -= 0x10000u;
            put(0xD800u + (code >> 10));
            put(0xDC00u + (code & 0x3FFu));
        } else {
            put(0xFFFDu);  // no such character
        }
    }
    put(0);
    return bytes;
}

bool MakeRegValueData(const RegScriptValue& value, RegValueData& data) {
    data.bytes.clear();
    switch (ClassifyRegTypeWord(value.typeWord)) {
    case RegScriptType::String:
        data.type = RegValueType::String;
        data.bytes = EncodeRegString(value.data);
        return true;
    case RegScriptType::Dword: {
        data.type = RegValueType::Dword;
        uint32_t number = ParseRegDword(value.data);
        for (int shift = 0; shift < 32; shift += 8) data.bytes.push_back(static_cast<uint8_t>(number >> shift));
        return true;
    }
    case RegScriptType::Hex:
        data.type = RegValueType::Binary;
        data.bytes = ParseRegHexBytes(value.data);
        return true;
    case RegScriptType::Unrecognized:
        break;
    }
    return false;
}

bool RegStoredDataMatches(const RegValueData& expected, const uint8_t* stored, size_t cbStored) {
    if (cbStored != expected.bytes.size()) return false;
    if (cbStored == 0) return true;
    if (!stored) return false;
    if (expected.type != RegValueType::String) return std::memcmp(stored, expected.bytes.data(), cbStored) == 0;
    auto fold = [](uint8_t b) { return (b >= 0x41 && b <= 0x5A) ? static_cast<uint8_t>(b + 0x20) : b; };
    for (size_t i = 0; i < cbStored; ++i)
        if (fold(stored[i]) != fold(expected.bytes[i])) return false;
    return true;
}

}  // namespace orv
