// Reader of the offline registration file (".reg"-like scripts applied by
// CWexKrRegFile, and the ".cor" files of COM servers). Portable: no
// <windows.h>. This layer turns the file's bytes into sections, value
// entries and per-line reports, and turns a value entry into the registry
// type and the exact bytes RegSetValueExW gets. The applier in src/registry
// owns everything that touches the registry or the log.
//
// File format, as read here:
//  - Lines end at LF; a CR right before the LF is not part of the line. A CR
//    anywhere else (also one that ends a last line without LF) is kept.
//  - The first character "[" makes a header. The header text runs up to the
//    last "]" of the line; the top key name is the text before its first
//    backslash (exact case, one of the seven names below), the subkey path
//    everything after that backslash.
//  - In a section, empty lines and lines without "=" are ignored; every other
//    line is a value line. Name = text before the first "="; "@" or empty is
//    the default value, otherwise every '"' is dropped from it.
//  - String form: a '"' somewhere after the "=": type word "string", data =
//    text after that quote, placeholder replaced, then every '"' dropped.
//  - Typed form: type word = text between "=" and the next ":", data = text
//    after that ":", taken as written.
//  - Placeholders (string form only, ASCII letters in any case):
//    "%orvtargetdir%" is looked for first, "%winsysdir%" only when there is
//    none. The first occurrence and the one character after it become the
//    directory with a trailing backslash; at the end of the data only the
//    placeholder itself is replaced.
//  - Lines before the first header are ignored.
//
// Choices this reader makes where the format leaves room:
//  - Header without a closing "]": the line still ends the previous section
//    and opens a section, but with status NoClosingBracket; nothing of that
//    section is to be applied. (Taking "the rest of the line" could write to a
//    key nobody asked for.)
//  - Header without "HKEY_", or any top key name not in the table (also a
//    name with other letter case or surrounding blanks): InvalidTopKey, the
//    "Found invalid top key" case of the applier.
//  - Header naming only a top key ("[HKEY_CURRENT_USER]", and also
//    "[HKEY_CURRENT_USER\]" or a subkey path made of backslashes only): status
//    TopKeyOnly, refused. The applier's key holder would otherwise have no key
//    open (install) or would open the root itself (uninstall); values are
//    never written into a predefined root key from a script.
//  - Typed value line without ":" after its "=": rejected with status
//    ValueNoColon and no entry is made, in both directions. Read literally the
//    line would give the whole line as data, and "x=string" would write a
//    REG_SZ holding its own source text.
//  - A line holding a NUL byte (or a NUL after conversion): within a section it
//    is rejected (ContainsNul); a header holding one gives a section with
//    status ContainsNul. Registry names end at a NUL, so such a line cannot be
//    written as it is read; cutting it silently would write something else.
//  - A line the code-page converter refuses: ConversionFailed, rejected (a
//    header: section with that status). Its report text is then the bytes
//    taken as Latin-1, for the log.
//  - A placeholder whose directory is empty (no target directory given, or no
//    system directory known): the line is rejected (PlaceholderNoDirectory)
//    rather than writing "\name" or the placeholder text itself.
//  - Length: placeholders are searched in the whole data and the result is an
//    unbounded std::wstring; no 260-character buffer is involved here. A
//    caller that wants a MAX_PATH limit on directories or on data checks the
//    lengths itself (RegScriptValue::placeholder tells which directory went
//    in). Registry values themselves take any length, so the applier need not
//    refuse long data.
//  - The subkey path is handed on exactly as written (doubled or trailing
//    backslashes included); the key holder skips empty components.
//
// Conversion of bytes to characters: the format's rule is one character per
// byte with the same code (Latin-1); that is the default converter, and the
// one the applier uses. Tests may pass others.
//
// What the applier does with a section, in file order:
//   header.status InvalidTopKey  -> "Found invalid top key %s: Skipping this key"
//   other header.status not Ok   -> an error line (DescribeRegHeaderStatus);
//                                   the whole section is skipped
//   line.status Value            -> MakeRegValueData; false means an
//                                   unrecognised type word (warning, skipped)
//   any other line.status        -> ignored or rejected; DescribeRegLineStatus
//                                   gives the reason, line.text the line
// The lines of a refused section are parsed all the same, so that they can be
// logged; none of them is applied.
//
// Allocation failures surface as std::bad_alloc from the standard
// containers; the caller catches at its COM boundary.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Registry value types, numerically equal to REG_SZ, REG_EXPAND_SZ,
// REG_BINARY, REG_DWORD and REG_MULTI_SZ.
enum class RegValueType : uint32_t {
    String = 1,
    ExpandString = 2,
    Binary = 3,
    Dword = 4,
    MultiString = 7,
};

// Predefined root keys, numerically equal to the low 32 bits of the HKEY_*
// handles.
enum class RegTopKey : uint32_t {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
    Users = 0x80000003u,
    PerformanceData = 0x80000004u,
    CurrentConfig = 0x80000005u,
    DynData = 0x80000006u,
};

// Looks a top key name up in the table (exact case): HKEY_LOCAL_MACHINE,
// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS, HKEY_CURRENT_CONFIG,
// HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA. False for anything else.
bool LookupRegTopKey(std::wstring_view name, RegTopKey& topKey);
// The table's name of a root key ("HKEY_LOCAL_MACHINE", ...).
const wchar_t* RegTopKeyName(RegTopKey topKey);

// ---------------------------------------------------------------------------
// Lines

// Splits file bytes into lines. Works on any bytes (NUL, lone CR, no final LF,
// one huge line); never copies. The bytes must outlive the splitter.
class RegScriptLineSplitter {
public:
    explicit RegScriptLineSplitter(std::string_view bytes) : m_rest(bytes) {}
    // Next line without its LF (and without a CR right before that LF).
    // lineNumber is 1-based. A final LF does not start another line; an empty
    // input has no line. False when no line is left.
    bool Next(std::string_view& line, uint64_t& lineNumber);

private:
    std::string_view m_rest;
    uint64_t m_lineNumber = 0;
};

// Converts one line's bytes to wide text. False when it cannot.
using RegScriptConverter = std::function<bool(std::string_view bytes, std::wstring& text)>;

// The format's own conversion: each byte becomes the character of the same
// code (0..255).
bool ConvertLatin1(std::string_view bytes, std::wstring& text);

// ---------------------------------------------------------------------------
// Headers

enum class RegHeaderStatus : uint32_t {
    Ok = 0,               // top key and subkey path usable
    NoClosingBracket,     // no "]" on the line
    InvalidTopKey,        // top key name not in the table (exact case)
    RefusedOnWin9x,       // HKEY_PERFORMANCE_DATA on Windows 9x
    RefusedOnNt,          // HKEY_DYN_DATA on an NT-family system
    TopKeyOnly,           // no subkey below the top key
    ContainsNul,          // the line holds a NUL
    ConversionFailed,     // the converter refused the line
};

struct RegScriptHeader {
    RegHeaderStatus status = RegHeaderStatus::NoClosingBracket;
    std::wstring topKeyName;  // text before the first backslash (whole header text when none)
    std::wstring subkeyPath;  // text after the first backslash, as written (empty when none)
    RegTopKey topKey = RegTopKey::LocalMachine;  // meaningful when topKeyName is in the table
    bool bTopKeyKnown = false;

    // "top key name\subkey path", the key text of the applier's log lines.
    std::wstring FullKeyText() const { return topKeyName + L"\\" + subkeyPath; }
};

// Reads a header line (its first character is "["). bNtFamily selects which
// of the two platform-bound top keys is refused. Checks, in this order: NUL,
// closing "]", top key name, platform, subkey present.
RegScriptHeader ParseRegHeader(std::wstring_view line, bool bNtFamily);

// ---------------------------------------------------------------------------
// Value lines

enum class RegValueForm : uint32_t { String, Typed };
enum class RegPlaceholder : uint32_t { None, TargetDir, SystemDir };

// One value line of a section (the RegistryValueEntry of the format).
struct RegScriptValue {
    std::wstring name;      // empty: the key's default value
    std::wstring typeWord;  // "string" for the string form, else as written
    std::wstring data;      // final data text (string form: placeholder in, quotes out)
    RegValueForm form = RegValueForm::String;
    RegPlaceholder placeholder = RegPlaceholder::None;  // the one replaced, if any
};

// Placeholder rule on string-form data (before its quotes are removed).
// Returns which placeholder was found (None when neither occurs). When the
// directory for the found one is empty, data is left as it was and
// bNoDirectory is set.
RegPlaceholder ReplaceRegPlaceholder(std::wstring& data, const std::wstring& targetDir,
                                     const std::wstring& systemDir, bool& bNoDirectory);

// ---------------------------------------------------------------------------
// Whole lines and sections

enum class RegLineStatus : uint32_t {
    Value = 0,               // recognised value line; RegScriptLine::value is set
    Header,                  // the section's header line (see RegScriptHeader::status)
    BeforeFirstHeader,       // ignored: before any header
    Blank,                   // ignored: empty line
    NoEquals,                // ignored: no "=" on the line
    ValueNoColon,            // rejected: typed form without ":" after the "="
    ContainsNul,             // rejected: NUL in the line
    ConversionFailed,        // rejected: converter refused the bytes
    PlaceholderNoDirectory,  // rejected: placeholder, but its directory is empty
};

// Short English reason for a status, for the applier's log lines. For the
// two platform refusals the text is the whole error line ("Registry top key
// HKEY_PERFORMANCE_DATA is not supported on Win9X platforms", and the same
// wording with HKEY_DYN_DATA and "WinNT" for the NT family).
const wchar_t* DescribeRegLineStatus(RegLineStatus status);
const wchar_t* DescribeRegHeaderStatus(RegHeaderStatus status);

struct RegScriptOptions {
    std::wstring targetDir;      // directory of "%orvtargetdir%"
    std::wstring systemDir;      // directory of "%winsysdir%"
    bool bNtFamily = true;       // refuse HKEY_DYN_DATA (true) or HKEY_PERFORMANCE_DATA (false)
    RegScriptConverter convert;  // empty: ConvertLatin1
};

// Classifies one line that is not a header and stands inside a section;
// fills value for RegLineStatus::Value. Text is the converted line.
RegLineStatus ParseRegValueLine(std::wstring_view text, const RegScriptOptions& options,
                                RegScriptValue& value);

struct RegScriptLine {
    uint64_t lineNumber = 0;  // 1-based
    RegLineStatus status = RegLineStatus::Blank;
    std::wstring text;        // the line as converted (Latin-1 if conversion failed)
    RegScriptValue value;     // status Value only
};

struct RegScriptSection {
    // False only for the pseudo-section of lines before the first header,
    // which is returned first when there are any; it has no header and
    // nothing in it is applied.
    bool bHasHeader = false;
    RegScriptLine headerLine;  // status Header
    RegScriptHeader header;
    // The lines after the header up to the next header or the end of the file,
    // in file order: values and ignored or rejected lines alike. The value
    // entries of the section are the lines with status Value.
    std::vector<RegScriptLine> lines;
};

// Reads a whole file section by section, so that each section can be applied
// as soon as it ends:
//     RegScriptReader reader(bytes, options);
//     RegScriptSection section;
//     while (reader.NextSection(section)) { ...log and apply... }
// The bytes must outlive the reader.
class RegScriptReader {
public:
    RegScriptReader(std::string_view bytes, RegScriptOptions options);
    // Fills section (cleared first). False at the end of the file.
    bool NextSection(RegScriptSection& section);

private:
    // Next line of the current section; false at the end of the file or at
    // a header, which is kept for the next section.
    bool NextLineOfSection(std::string_view& bytes, uint64_t& lineNumber);
    void ReadLine(std::string_view bytes, uint64_t lineNumber, RegScriptLine& line, bool& bHasNul,
                  bool& bConverted);

    RegScriptLineSplitter m_splitter;
    RegScriptOptions m_options;
    bool m_bPendingHeader = false;  // a header line that ended the last section
    std::string_view m_pendingBytes;
    uint64_t m_pendingLineNumber = 0;
};

// ---------------------------------------------------------------------------
// Registry data

enum class RegScriptType : uint32_t { String, Dword, Hex, Unrecognized };

// "string", "dword", "hex" in any case of ASCII letters; anything else is
// Unrecognized (also "hex(2)", "expand", "dword " with a blank).
RegScriptType ClassifyRegTypeWord(std::wstring_view typeWord);

// The standard library's wcstoul in base 10 on a 32-bit unsigned long:
// leading blanks (tab, LF, VT, FF, CR, space), one optional sign, ASCII digits
// up to the first other character; no digit gives 0; too large a number gives
// 0xFFFFFFFF whatever the sign; "-n" gives 2^32 - n.
uint32_t ParseRegDword(std::wstring_view text);

// ParseHexBytes: tokens separated by "," or "." (empty tokens skipped), each
// read as the "%x" scan reads it (leading blanks, optional sign, optional
// "0x"/"0X", hexadecimal digits up to the first other character; nothing
// readable gives 0); the low 8 bits of each token are one byte.
std::vector<uint8_t> ParseRegHexBytes(std::wstring_view text);

// Text as UTF-16LE with its terminating null: (length + 1) * 2 bytes, the
// length counted in UTF-16 units.
std::vector<uint8_t> EncodeRegString(std::wstring_view text);

struct RegValueData {
    RegValueType type = RegValueType::String;
    std::vector<uint8_t> bytes;  // exactly what RegSetValueExW gets
};

// Registry type and bytes for an entry: "string" -> REG_SZ, "dword" ->
// REG_DWORD (4 bytes, little endian), "hex" -> REG_BINARY. False (data
// cleared) for an unrecognised type word.
bool MakeRegValueData(const RegScriptValue& value, RegValueData& data);

// Uninstall comparison of stored bytes (as read back, same type already
// checked) with what the entry installs. REG_SZ: equal size, then byte by
// byte with each byte 0x41..0x5A taken as 0x61..0x7A. REG_DWORD and
// REG_BINARY: equal size and equal bytes.
bool RegStoredDataMatches(const RegValueData& expected, const uint8_t* stored, size_t cbStored);

}  // namespace orv
