// Reader and writer of the INI text (see IniText.h for what is accepted).
#include "core/IniText.h"

#include <cstdio>
#include <unordered_map>

namespace orvsetup {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Control characters, C0 and C1, except the tab.
bool IsControl(wchar_t c) { return (c < 0x20 && c != L'\t') || (c >= 0x7F && c <= 0x9F); }

// Spaces the profile API may or may not trim, depending on the system's
// character tables.
bool IsOtherSpace(wchar_t c) {
    return c == 0x00A0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Where the first surrogate without its partner is, or npos.
size_t UnpairedSurrogate(std::wstring_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
            ++i;
            continue;
        }
        if (IsHighSurrogate(s[i]) || IsLowSurrogate(s[i])) return i;
    }
    return std::wstring_view::npos;
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Names met so far, by their text with ASCII letters folded: a repeated name
// is found at once, not by comparing it with every earlier one (the state
// file, with a section per item, is written again after every item).
class SeenNames {
public:
    // The index recorded for an equal name met before, or npos; records this one.
    size_t Add(std::wstring_view name, size_t index) {
        std::wstring folded(name);
        for (wchar_t& c : folded) c = FoldAscii(c);
        const auto [at, fresh] = m_names.emplace(std::move(folded), index);
        return fresh ? std::wstring_view::npos : at->second;
    }

private:
    std::unordered_map<std::wstring, size_t> m_names;
};

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::wstring Hex4(unsigned c) {
    wchar_t text[16];
    std::swprintf(text, 16, L"U+%04X", c & 0xFFFFu);
    return text;
}

// The text of a name or value may not begin or end with a space the profile
// API could trim differently.
bool EdgesClear(std::wstring_view s) { return s.empty() || (!IsOtherSpace(s.front()) && !IsOtherSpace(s.back())); }

// Why a section name cannot stand between brackets as it is, or null.
const wchar_t* SectionNameProblem(std::wstring_view name) {
    if (name.empty()) return L"empty section name";
    if (IsBlank(name.front()) || IsBlank(name.back()) || !EdgesClear(name))
        return L"section name begins or ends with a space";
    if (name.find_first_of(L"[]") != std::wstring_view::npos) return L"'[' or ']' inside a section name";
    return nullptr;
}

// Why a key name cannot stand before "=" as it is, or null.
const wchar_t* KeyNameProblem(std::wstring_view key) {
    if (key.empty()) return L"empty key name before '='";
    if (IsBlank(key.front()) || IsBlank(key.back()) || !EdgesClear(key)) return L"key name begins or ends with a space";
    if (key.front() == L'[' || key.front() == L';') return L"key name begins with '[' or ';'";
    if (key.find(L'=') != std::wstring_view::npos) return L"'=' inside a key name";
    return nullptr;
}

// What GetPrivateProfileString makes of a value: one pair of enclosing quotes dropped.
std::wstring Unquote(std::wstring_view value) {
    if (value.size() > 1 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        return std::wstring(value.substr(1, value.size() - 2));
    return std::wstring(value);
}

bool Fail(IniError& error, unsigned line, std::wstring message) {
    error.line = line;
    error.message = std::move(message);
    return false;
}

// The file's text as UTF-16 code units.
bool Decode(std::string_view bytes, std::wstring& text, IniError& error) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
        return Fail(error, 0, L"UTF-8 text is not accepted: save the file as ASCII or as UTF-16 (Unicode)");
    if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF)
        return Fail(error, 0, L"UTF-16 big-endian text is not accepted: save the file as UTF-16 little-endian");
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        if (bytes.size() % 2 != 0) return Fail(error, 0, L"UTF-16 text with an odd number of bytes");
        text.reserve(bytes.size() / 2 - 1);
        for (size_t i = 2; i < bytes.size(); i += 2) text.push_back(static_cast<wchar_t>(byte(i) | (byte(i + 1) << 8)));
        const size_t bad = UnpairedSurrogate(text);
        if (bad != std::wstring::npos) {
            unsigned line = 1;
            for (size_t i = 0; i < bad; ++i) line += text[i] == L'\n';
            return Fail(error, line, L"unpaired UTF-16 surrogate");
        }
        return true;
    }
    text.reserve(bytes.size());
    unsigned line = 1;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (byte(i) > 0x7F)
            return Fail(error, line,
                        L"character " + Hex4(byte(i)) + L" is not ASCII: save the file as UTF-16 (Unicode)");
        text.push_back(static_cast<wchar_t>(byte(i)));
        if (bytes[i] == '\n') ++line;
    }
    return true;
}

}  // namespace

bool IniNamesEqual(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

const IniEntry* IniSection::Find(std::wstring_view key) const {
    for (const IniEntry& entry : entries)
        if (IniNamesEqual(entry.key, key)) return &entry;
    return nullptr;
}

const IniSection* IniDocument::Find(std::wstring_view name) const {
    for (const IniSection& section : sections)
        if (IniNamesEqual(section.name, name)) return &section;
    return nullptr;
}

bool ReadIni(std::string_view bytes, IniDocument& document, IniError& error) {
    document.sections.clear();
    error = IniError{};
    if (bytes.size() > kMaxIniBytes) return Fail(error, 0, L"the file is larger than 4 MiB");
    std::wstring text;
    if (!Decode(bytes, text, error)) return false;

    IniDocument result;
    SeenNames sections, keys;  // keys: of the section being read
    std::wstring_view rest(text);
    unsigned line = 0;
    while (!rest.empty()) {
        ++line;
        const size_t lf = rest.find(L'\n');
        std::wstring_view raw = rest.substr(0, lf);
        rest.remove_prefix(lf == std::wstring_view::npos ? rest.size() : lf + 1);
        if (!raw.empty() && raw.back() == L'\r') raw.remove_suffix(1);
        if (raw.size() > kMaxIniLine) return Fail(error, line, L"line longer than 4096 characters");
        for (wchar_t c : raw)
            if (IsControl(c)) return Fail(error, line, L"control character " + Hex4(c));
        const std::wstring_view s = Trim(raw);
        if (s.empty() || s.front() == L';') continue;
        if (!EdgesClear(s)) return Fail(error, line, L"line begins or ends with the space character " +
                                                         Hex4(IsOtherSpace(s.front()) ? s.front() : s.back()));
        if (s.front() == L'[') {
            const size_t close = s.rfind(L']');
            if (close == std::wstring_view::npos) return Fail(error, line, L"section header without ']'");
            if (close != s.size() - 1) return Fail(error, line, L"text after the ']' of a section header");
            const std::wstring_view name = s.substr(1, close - 1);
            if (const wchar_t* problem = SectionNameProblem(name)) return Fail(error, line, problem);
            const size_t earlier = sections.Add(name, result.sections.size());
            if (earlier != std::wstring_view::npos)
                return Fail(error, line,
                            L"section [" + std::wstring(name) + L"] again (first at line " +
                                std::to_wstring(result.sections[earlier].line) + L")");
            keys = SeenNames();
            IniSection section;
            section.name = std::wstring(name);
            section.line = line;
            result.sections.push_back(std::move(section));
            continue;
        }
        if (result.sections.empty()) return Fail(error, line, L"text before the first section");
        const size_t eq = s.find(L'=');
        if (eq == std::wstring_view::npos) return Fail(error, line, L"expected 'key = value'");
        const std::wstring_view key = Trim(s.substr(0, eq));
        if (const wchar_t* problem = KeyNameProblem(key)) return Fail(error, line, problem);
        const std::wstring_view value = Trim(s.substr(eq + 1));
        if (!EdgesClear(value))
            return Fail(error, line, L"value begins with the space character " + Hex4(value.front()));
        IniSection& section = result.sections.back();
        const size_t earlier = keys.Add(key, section.entries.size());
        if (earlier != std::wstring_view::npos)
            return Fail(error, line,
                        L"key '" + std::wstring(key) + L"' again in [" + section.name + L"] (first at line " +
                            std::to_wstring(section.entries[earlier].line) + L")");
        section.entries.push_back(IniEntry{std::wstring(key), Unquote(value), line});
    }
    document = std::move(result);
    return true;
}

bool WriteIni(const IniDocument& document, std::string& bytes) {
    std::wstring text;
    const auto clean = [](std::wstring_view s) {
        for (wchar_t c : s)
            if (IsControl(c) || (static_cast<unsigned long>(c) >> 16) != 0) return false;  // one UTF-16 unit each
        return UnpairedSurrogate(s) == std::wstring_view::npos;
    };
    SeenNames sections;
    for (size_t i = 0; i < document.sections.size(); ++i) {
        const IniSection& section = document.sections[i];
        if (SectionNameProblem(section.name) || !clean(section.name)) return false;
        if (sections.Add(section.name, i) != std::wstring_view::npos) return false;
        if (section.name.size() + 2 > kMaxIniLine) return false;
        text += L"[" + section.name + L"]\r\n";
        SeenNames keys;
        for (size_t k = 0; k < section.entries.size(); ++k) {
            const IniEntry& entry = section.entries[k];
            if (KeyNameProblem(entry.key) || !clean(entry.key) || !clean(entry.value)) return false;
            if (keys.Add(entry.key, k) != std::wstring_view::npos) return false;
            const std::wstring_view v(entry.value);
            const bool quote = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || !EdgesClear(v) ||
                                              v.front() == L'"' || v.front() == L'\'' || v.back() == L'"' ||
                                              v.back() == L'\'');
            const std::wstring line = entry.key + L"=" + (quote ? L"\"" + entry.value + L"\"" : entry.value);
            if (line.size() > kMaxIniLine) return false;
            text += line + L"\r\n";
        }
    }
    std::string out;
    out.reserve(2 + text.size() * 2);
    out.push_back(static_cast<char>(0xFF));
    out.push_back(static_cast<char>(0xFE));
    for (wchar_t c : text) {
        const unsigned u = static_cast<unsigned>(c);
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>((u >> 8) & 0xFF));
    }
    bytes = std::move(out);
    return true;
}

}  // namespace orvsetup
