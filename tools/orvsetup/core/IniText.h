// The INI text of the setup program's manifests and state files. Portable: no
// <windows.h>, so the native tests and the fuzz target see the same reader.
//
// A manifest is read by the Windows profile API (GetPrivateProfileString and
// friends), which gives no line numbers and silently takes odd lines its own
// way. This reader takes the same text the same way, but only where that way
// is plain; everything else is refused with the line it was found on, so the
// setup program can say exactly what is wrong before anything is changed.
//
// Accepted:
//  - Encoding: ASCII (no byte above 0x7F) without byte-order mark, or UTF-16
//    little-endian with its byte-order mark. Text is kept as UTF-16 code
//    units, one per wchar_t, on every platform.
//  - Lines end at LF; a CR right before it is dropped. Blanks and tabs around
//    a line, a key and a value are dropped, as the profile API does.
//  - Empty lines and comment lines (first character ';') anywhere.
//  - "[name]": a section; the name is the text between the brackets.
//  - "key = value" inside a section. The value is what GetPrivateProfileString
//    returns: when it starts and ends with the same quote character (' or ")
//    and is longer than one character, the two quotes are dropped.
// Refused (IniError, with the line):
//  - any other encoding, a byte above 0x7F without byte-order mark, an odd
//    number of bytes after a UTF-16 mark, an unpaired surrogate;
//  - control characters (also NUL and a lone CR) other than tabs;
//  - a space character other than blank and tab where the profile API would
//    trim it (the start or end of a line, name or value), since it is unclear
//    whether it is trimmed;
//  - text before the first section, a "[" line without a final "]", an empty
//    section name, a name with blanks at either end or with "[" or "]" in it;
//  - a line without "=" in a section, an empty key name;
//  - a section name twice, a key twice in one section (letter case ignored,
//    as the profile API compares them), since the profile API would only ever
//    see the first;
//  - a line longer than kMaxIniLine characters, a file larger than kMaxIniBytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvsetup {

inline constexpr size_t kMaxIniLine = 4096;
inline constexpr size_t kMaxIniBytes = 4u << 20;

struct IniEntry {
    std::wstring key;
    std::wstring value;
    unsigned line = 0;
};

struct IniSection {
    std::wstring name;
    unsigned line = 0;
    std::vector<IniEntry> entries;

    // The entry of that key (letter case ignored), or null.
    const IniEntry* Find(std::wstring_view key) const;
};

struct IniDocument {
    std::vector<IniSection> sections;

    const IniSection* Find(std::wstring_view name) const;
};

struct IniError {
    unsigned line = 0;  // 0: the file as a whole
    std::wstring message;
};

// Reads the bytes of a file. On failure the document is left empty.
bool ReadIni(std::string_view bytes, IniDocument& document, IniError& error);

// Writes a document in UTF-16 LE with byte-order mark and CR LF line ends,
// so that ReadIni gives it back unchanged. Values that the reader would trim
// or unquote are written in double quotes. False (nothing written) when a
// name or value cannot be written so: a line break or other control
// character in it, a name ReadIni would refuse, or a line too long.
bool WriteIni(const IniDocument& document, std::string& bytes);

// Letter case ignored as the profile API ignores it for ASCII letters; other
// characters compare exactly.
bool IniNamesEqual(std::wstring_view a, std::wstring_view b);

}  // namespace orvsetup
