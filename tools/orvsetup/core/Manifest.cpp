// Reading the product manifest (see Manifest.h for the format).
#include "core/Manifest.h"

#include <cwchar>

namespace orvsetup {
namespace {

constexpr const wchar_t* kFolderKeywords[] = {L"ProgramFiles", L"CommonFiles", L"System", L"Windows", L"Fonts"};
constexpr const wchar_t* kShellFolders[] = {L"StartMenu", L"Desktop", L"ProgramFiles", L"Startup"};
constexpr const wchar_t* kRegistryRoots[] = {L"HKEY_LOCAL_MACHINE", L"HKLM", L"HKEY_CURRENT_USER", L"HKCU",
                                             L"HKEY_CLASSES_ROOT",  L"HKCR", L"HKEY_USERS",        L"HKU"};

struct Failure {
    unsigned line;
    std::wstring message;
};

std::wstring SectionTitle(const IniSection& section) { return L"[" + section.name + L"]"; }

// What the reader knows while it expands one value.
struct Context {
    const PathResolver& resolver;
    std::wstring sourceDir;
    std::wstring installDir;  // empty while [Product] is read
};

bool Expand(const Context& context, std::wstring_view in, bool environment, std::wstring& out,
            std::wstring& problem) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        const wchar_t c = in[i];
        if (c == L'{') {
            if (i + 1 < in.size() && in[i + 1] == L'{') {
                out.push_back(L'{');
                ++i;
                continue;
            }
            const size_t close = in.find(L'}', i + 1);
            if (close == std::wstring_view::npos) {
                problem = L"'{' without '}' (write '{{' for a '{')";
                return false;
            }
            const std::wstring_view name = in.substr(i + 1, close - i - 1);
            std::wstring folder;
            bool known = false;
            if (IniNamesEqual(name, L"InstallDir")) {
                if (context.installDir.empty()) {
                    problem = L"{InstallDir} cannot be used here";
                    return false;
                }
                folder = context.installDir;
                known = true;
            } else if (IniNamesEqual(name, L"SourceDir")) {
                folder = context.sourceDir;
                known = true;
            } else {
                for (const wchar_t* keyword : kFolderKeywords) {
                    if (!IniNamesEqual(name, keyword)) continue;
                    if (!context.resolver.Folder(keyword, folder) || folder.empty()) {
                        problem = L"the system does not know the folder {" + std::wstring(keyword) + L"}";
                        return false;
                    }
                    known = true;
                }
            }
            if (!known) {
                problem = L"unknown folder keyword {" + std::wstring(name) + L"}";
                return false;
            }
            while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
            out += folder;
            i = close;
            continue;
        }
        if (c == L'%' && environment) {
            const size_t close = in.find(L'%', i + 1);
            if (close == std::wstring_view::npos) {
                problem = L"'%' without a closing '%' (write '%%' for a '%')";
                return false;
            }
            if (close == i + 1) {
                out.push_back(L'%');
                ++i;
                continue;
            }
            const std::wstring_view name = in.substr(i + 1, close - i - 1);
            std::wstring value;
            if (!context.resolver.Environment(name, value)) {
                problem = L"the environment variable " + std::wstring(name) + L" is not set";
                return false;
            }
            out += value;
            i = close;
            continue;
        }
        out.push_back(c);
    }
    return true;
}

// Length of the root without its trailing backslash: 2 for "C:\\...", the
// length of "\\\\server\\share" for a share; 0 for anything else.
size_t RootEnd(std::wstring_view path) {
    const bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && path[2] == L'\\';
    if (drive) return 2;
    if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return 0;
    const size_t server = path.find(L'\\', 2);
    if (server == std::wstring_view::npos) return path.size();
    const size_t share = path.find(L'\\', server + 1);
    return share == std::wstring_view::npos ? path.size() : share;
}

bool IsAbsolute(std::wstring_view path) {
    const bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && path[2] == L'\\';
    const bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    return drive || unc;
}

std::wstring JoinPath(std::wstring_view dir, std::wstring_view rest) {
    std::wstring out(dir);
    if (!out.empty() && out.back() != L'\\') out.push_back(L'\\');
    out += rest;
    return out;
}

// A path entry: expanded, taken relative to base when it is not absolute, checked.
bool ReadPath(const Context& context, const IniEntry& entry, std::wstring_view base, std::wstring& path,
              Failure& failure) {
    std::wstring expanded, problem;
    if (!Expand(context, entry.value, true, expanded, problem)) {
        failure = {entry.line, problem};
        return false;
    }
    if (expanded.empty()) {
        failure = {entry.line, entry.key + L" is empty"};
        return false;
    }
    if (!IsAbsolute(expanded)) {
        if (expanded.front() == L'\\' || (expanded.size() >= 2 && expanded[1] == L':')) {
            failure = {entry.line, entry.key + L" is neither absolute nor relative to a folder: " + expanded};
            return false;
        }
        expanded = JoinPath(base, expanded);
    }
    if (const wchar_t* bad = AbsolutePathProblem(expanded)) {
        failure = {entry.line, entry.key + L" " + expanded + L": " + bad};
        return false;
    }
    path = std::move(expanded);
    return true;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Decimal digits, or "0x" and hexadecimal digits when allowHex; at most limit.
bool ParseUnsigned(std::wstring_view text, uint64_t limit, uint64_t& value, bool allowHex = true) {
    int base = 10;
    if (allowHex && text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t v = 0;
    for (wchar_t c : text) {
        const int digit = HexDigit(c);
        if (digit < 0 || digit >= base) return false;
        v = v * base + static_cast<uint64_t>(digit);
        if (v > limit) return false;
    }
    value = v;
    return true;
}

bool ParseYesNo(std::wstring_view text, bool& value) {
    if (IniNamesEqual(text, L"yes") || IniNamesEqual(text, L"true") || text == L"1") {
        value = true;
        return true;
    }
    if (IniNamesEqual(text, L"no") || IniNamesEqual(text, L"false") || text == L"0") {
        value = false;
        return true;
    }
    return false;
}

bool ParseVersion(std::wstring_view text, uint16_t parts[4]) {
    uint16_t out[4] = {};
    size_t part = 0, start = 0;
    for (;;) {
        const size_t dot = text.find(L'.', start);
        const std::wstring_view piece = text.substr(start, dot == std::wstring_view::npos ? text.npos : dot - start);
        uint64_t value = 0;
        if (part == 4 || !ParseUnsigned(piece, 0xFFFF, value, false))
            return false;
        out[part++] = static_cast<uint16_t>(value);
        if (dot == std::wstring_view::npos) break;
        start = dot + 1;
    }
    for (int i = 0; i < 4; ++i) parts[i] = out[i];
    return true;
}

// Entries of a section that the kind knows; any other key is refused.
bool OnlyKnownKeys(const IniSection& section, std::initializer_list<const wchar_t*> known, Failure& failure) {
    for (const IniEntry& entry : section.entries) {
        bool ok = false;
        for (const wchar_t* k : known) ok = ok || IniNamesEqual(entry.key, k);
        if (!ok) {
            failure = {entry.line, L"unknown key '" + entry.key + L"' in " + SectionTitle(section)};
            return false;
        }
    }
    return true;
}

const IniEntry* Required(const IniSection& section, const wchar_t* key, Failure& failure) {
    const IniEntry* entry = section.Find(key);
    if (!entry) failure = {section.line, SectionTitle(section) + L" has no " + key};
    return entry;
}

bool ReadProduct(const IniSection& section, Context& context, Manifest& manifest, Failure& failure) {
    if (!OnlyKnownKeys(section, {L"Name", L"Version", L"InstallDir", L"Mode"}, failure)) return false;
    const IniEntry* name = Required(section, L"Name", failure);
    if (!name) return false;
    if (name->value.empty()) {
        failure = {name->line, L"the product's Name is empty"};
        return false;
    }
    const IniEntry* version = Required(section, L"Version", failure);
    if (!version) return false;
    if (!ParseVersion(version->value, manifest.versionParts)) {
        failure = {version->line, L"Version must be 1 to 4 numbers from 0 to 65535 separated by dots"};
        return false;
    }
    const IniEntry* dir = Required(section, L"InstallDir", failure);
    if (!dir) return false;
    std::wstring installDir;
    if (!ReadPath(context, *dir, L"", installDir, failure)) return false;
    if (!IsAbsolute(installDir)) {
        failure = {dir->line, L"InstallDir must be an absolute folder"};
        return false;
    }
    if (LastElementOf(installDir).empty() || ParentOf(installDir).empty()) {
        failure = {dir->line, L"InstallDir must be a folder below a drive or share, not its root"};
        return false;
    }
    manifest.mode = kModePrimary;
    if (const IniEntry* mode = section.Find(L"Mode")) {
        if (IniNamesEqual(mode->value, L"primary")) manifest.mode = kModePrimary;
        else if (IniNamesEqual(mode->value, L"patch")) manifest.mode = kModePatch;
        else {
            failure = {mode->line, L"Mode must be primary or patch"};
            return false;
        }
    }
    manifest.name = name->value;
    manifest.version = version->value;
    manifest.installDir = installDir;
    context.installDir = installDir;
    return true;
}

bool ReadFileLike(const IniSection& section, ItemKind kind, const Context& context, ManifestItem& item,
                  Failure& failure) {
    if (kind == ItemKind::File) {
        if (!OnlyKnownKeys(section, {L"Source", L"Target", L"Flags", L"AppPaths", L"DllInstallCmd"}, failure))
            return false;
    } else if (kind == ItemKind::Font) {
        if (!OnlyKnownKeys(section, {L"Source", L"Target"}, failure)) return false;
    } else if (!OnlyKnownKeys(section, {L"Source", L"Directory"}, failure)) {
        return false;
    }
    const IniEntry* source = Required(section, L"Source", failure);
    if (!source || !ReadPath(context, *source, context.sourceDir, item.source, failure)) return false;

    const IniEntry* target = section.Find(kind == ItemKind::Script ? L"Directory" : L"Target");
    if (kind == ItemKind::File && !target) {
        failure = {section.line, SectionTitle(section) + L" has no Target"};
        return false;
    }
    if (target) {
        if (!ReadPath(context, *target, context.installDir, item.target, failure)) return false;
    } else if (kind == ItemKind::Font) {
        std::wstring fonts;
        if (!context.resolver.Folder(L"Fonts", fonts) || fonts.empty()) {
            failure = {section.line, L"the system does not know the folder {Fonts}"};
            return false;
        }
        item.target = JoinPath(fonts, LastElementOf(item.source));
        if (const wchar_t* bad = AbsolutePathProblem(item.target)) {
            failure = {section.line, L"font target " + item.target + L": " + bad};
            return false;
        }
    } else {
        item.target = context.installDir;
    }
    if (kind != ItemKind::Script &&
        (IsWithin(item.target, context.installDir + L"\\_orvsetup") || IniNamesEqual(item.target, context.installDir))) {
        failure = {target ? target->line : section.line,
                   L"a file cannot be the install folder itself or lie in its folder _orvsetup"};
        return false;
    }

    if (const IniEntry* flags = section.Find(L"Flags")) {
        std::wstring_view rest(flags->value);
        while (!rest.empty()) {
            const size_t comma = rest.find(L',');
            std::wstring_view word = rest.substr(0, comma);
            rest.remove_prefix(comma == std::wstring_view::npos ? rest.size() : comma + 1);
            while (!word.empty() && (word.front() == L' ' || word.front() == L'\t')) word.remove_prefix(1);
            while (!word.empty() && (word.back() == L' ' || word.back() == L'\t')) word.remove_suffix(1);
            if (IniNamesEqual(word, L"force")) item.force = true;
            else if (!word.empty()) {
                failure = {flags->line, L"unknown flag '" + std::wstring(word) + L"' (known: force)"};
                return false;
            }
        }
    }
    if (const IniEntry* appPaths = section.Find(L"AppPaths")) {
        std::wstring problem;
        if (!Expand(context, appPaths->value, true, item.appPaths, problem)) {
            failure = {appPaths->line, problem};
            return false;
        }
        item.hasAppPaths = true;
    }
    if (const IniEntry* cmd = section.Find(L"DllInstallCmd")) {
        item.dllInstallCmd = cmd->value;
        item.hasDllInstallCmd = true;
    }
    return true;
}

bool ReadKeyPath(const IniSection& section, std::wstring_view keyPath, Failure& failure) {
    const size_t slash = keyPath.find(L'\\');
    const std::wstring_view root = keyPath.substr(0, slash);
    bool known = false;
    for (const wchar_t* r : kRegistryRoots) known = known || IniNamesEqual(root, r);
    if (!known) {
        failure = {section.line, L"registry key " + std::wstring(keyPath) +
                                     L" must start with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT "
                                     L"or HKEY_USERS (or HKLM, HKCU, HKCR, HKU)"};
        return false;
    }
    std::wstring_view rest = slash == std::wstring_view::npos ? std::wstring_view() : keyPath.substr(slash + 1);
    if (rest.empty()) {
        failure = {section.line, L"a value cannot be written into a top key itself: name a key below it"};
        return false;
    }
    for (;;) {
        const size_t next = rest.find(L'\\');
        if (rest.substr(0, next).empty()) {
            failure = {section.line, L"empty element in registry key " + std::wstring(keyPath)};
            return false;
        }
        if (next == std::wstring_view::npos) break;
        rest.remove_prefix(next + 1);
    }
    if (keyPath.size() > 255 + 20) {
        failure = {section.line, L"registry key path too long"};
        return false;
    }
    return true;
}

bool ReadValue(const IniEntry& entry, const Context& context, const std::wstring& keyPath, ManifestItem& item,
               Failure& failure) {
    item.kind = ItemKind::Value;
    item.keyPath = keyPath;
    item.label = keyPath;
    item.line = entry.line;
    item.valueName = entry.key == L"@" ? std::wstring() : entry.key;
    const size_t colon = entry.value.find(L':');
    if (colon == std::wstring::npos ||
        !ValueTypeFromName(std::wstring_view(entry.value).substr(0, colon), item.valueType)) {
        failure = {entry.line, L"value '" + entry.key + L"' needs a type: string:, expand:, multi:, dword: or hex:"};
        return false;
    }
    const std::wstring_view data = std::wstring_view(entry.value).substr(colon + 1);
    std::wstring problem;
    switch (item.valueType) {
    case ValueType::String:
    case ValueType::ExpandString:
        if (!Expand(context, data, false, item.text, problem)) {
            failure = {entry.line, problem};
            return false;
        }
        return true;
    case ValueType::MultiString: {
        std::wstring all;
        if (!Expand(context, data, false, all, problem)) {
            failure = {entry.line, problem};
            return false;
        }
        if (all.empty()) return true;
        size_t start = 0;
        for (;;) {
            const size_t bar = all.find(L'|', start);
            item.strings.push_back(all.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
            if (bar == std::wstring::npos) break;
            start = bar + 1;
        }
        return true;
    }
    case ValueType::Dword: {
        uint64_t v = 0;
        if (!ParseUnsigned(data, 0xFFFFFFFFu, v)) {
            failure = {entry.line, L"dword data must be a number from 0 to 4294967295 (or 0x0 to 0xFFFFFFFF)"};
            return false;
        }
        item.dword = static_cast<uint32_t>(v);
        return true;
    }
    case ValueType::Binary: {
        if (data.empty()) return true;
        std::wstring_view rest = data;
        for (;;) {
            const size_t comma = rest.find(L',');
            std::wstring_view piece = rest.substr(0, comma);
            while (!piece.empty() && piece.front() == L' ') piece.remove_prefix(1);
            while (!piece.empty() && piece.back() == L' ') piece.remove_suffix(1);
            if (piece.size() != 2 || HexDigit(piece[0]) < 0 || HexDigit(piece[1]) < 0) {
                failure = {entry.line, L"hex data must be bytes of two hexadecimal digits separated by commas"};
                return false;
            }
            item.bytes.push_back(static_cast<uint8_t>(HexDigit(piece[0]) * 16 + HexDigit(piece[1])));
            if (comma == std::wstring_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        return true;
    }
    }
    return false;
}

bool ReadShortcut(const IniSection& section, const Context& context, ManifestItem& item, Failure& failure) {
    if (!OnlyKnownKeys(section,
                       {L"Folder", L"Target", L"Arguments", L"Description", L"Icon", L"IconIndex", L"AllUsers"},
                       failure))
        return false;
    const IniEntry* folder = Required(section, L"Folder", failure);
    if (!folder) return false;
    {
        const std::wstring_view f(folder->value);
        const size_t slash = f.find(L'\\');
        bool known = false;
        for (const wchar_t* k : kShellFolders) known = known || IniNamesEqual(f.substr(0, slash), k);
        bool elementsOk = slash != std::wstring_view::npos && f.back() != L'\\' && f.find(L"\\\\") == f.npos;
        for (wchar_t c : f) elementsOk = elementsOk && !std::wcschr(L"<>\"|?*/:;", c);
        if (!known || !elementsOk) {
            failure = {folder->line, L"Folder must be StartMenu, Desktop, ProgramFiles or Startup, then the "
                                     L"folders below it and the shortcut's name, separated by '\\'"};
            return false;
        }
        item.folder = folder->value;
    }
    const IniEntry* target = Required(section, L"Target", failure);
    if (!target || !ReadPath(context, *target, context.installDir, item.program, failure)) return false;
    std::wstring problem;
    if (const IniEntry* arguments = section.Find(L"Arguments")) {
        if (!Expand(context, arguments->value, true, item.arguments, problem)) {
            failure = {arguments->line, problem};
            return false;
        }
        if (item.arguments.find(L';') != std::wstring::npos) {
            failure = {arguments->line, L"shortcut arguments cannot hold ';'"};
            return false;
        }
    }
    if (const IniEntry* description = section.Find(L"Description")) item.description = description->value;
    if (const IniEntry* icon = section.Find(L"Icon")) {
        if (!ReadPath(context, *icon, context.installDir, item.icon, failure)) return false;
    }
    if (const IniEntry* index = section.Find(L"IconIndex")) {
        uint64_t v = 0;
        if (!ParseUnsigned(index->value, 0x7FFFFFFF, v)) {
            failure = {index->line, L"IconIndex must be a number from 0 to 2147483647"};
            return false;
        }
        item.iconIndex = static_cast<int>(v);
    }
    if (const IniEntry* all = section.Find(L"AllUsers")) {
        if (!ParseYesNo(all->value, item.allUsers)) {
            failure = {all->line, L"AllUsers must be yes or no"};
            return false;
        }
    }
    if (item.program.find(L';') != std::wstring::npos || item.icon.find(L';') != std::wstring::npos) {
        failure = {target->line, L"shortcut paths cannot hold ';'"};
        return false;
    }
    return true;
}

// "<Kind> <label>": the kind word and the label after it.
bool SplitSectionName(const std::wstring& name, std::wstring_view& word, std::wstring_view& label) {
    const size_t blank = name.find_first_of(L" \t");
    word = std::wstring_view(name).substr(0, blank);
    label = blank == std::wstring::npos ? std::wstring_view() : std::wstring_view(name).substr(blank);
    while (!label.empty() && (label.front() == L' ' || label.front() == L'\t')) label.remove_prefix(1);
    return !label.empty();
}

bool ReadAll(const IniDocument& document, Context& context, Manifest& manifest, Failure& failure) {
    const IniSection* product = document.Find(L"Product");
    if (!product) {
        failure = {0, L"the manifest has no [Product] section"};
        return false;
    }
    if (!ReadProduct(*product, context, manifest, failure)) return false;

    for (const IniSection& section : document.sections) {
        if (&section == product) continue;
        std::wstring_view word, label;
        const bool hasLabel = SplitSectionName(section.name, word, label);
        ManifestItem item;
        item.line = section.line;
        item.label = std::wstring(label);
        if (IniNamesEqual(word, L"File") || IniNamesEqual(word, L"Font") || IniNamesEqual(word, L"Script")) {
            item.kind = IniNamesEqual(word, L"File")   ? ItemKind::File
                        : IniNamesEqual(word, L"Font") ? ItemKind::Font
                                                       : ItemKind::Script;
            if (!hasLabel) {
                failure = {section.line, L"name the item after the word: [" + std::wstring(word) + L" <name>]"};
                return false;
            }
            if (!ReadFileLike(section, item.kind, context, item, failure)) return false;
            for (const ManifestItem& earlier : manifest.items) {
                if (earlier.kind != ItemKind::Script && item.kind != ItemKind::Script &&
                    (earlier.kind == ItemKind::File || earlier.kind == ItemKind::Font) &&
                    IniNamesEqual(earlier.target, item.target)) {
                    failure = {section.line, L"the target " + item.target + L" is also the target of the section at line " +
                                                 std::to_wstring(earlier.line)};
                    return false;
                }
            }
            manifest.items.push_back(std::move(item));
        } else if (IniNamesEqual(word, L"Shortcut")) {
            item.kind = ItemKind::Shortcut;
            if (!hasLabel) {
                failure = {section.line, L"name the item after the word: [Shortcut <name>]"};
                return false;
            }
            if (!ReadShortcut(section, context, item, failure)) return false;
            manifest.items.push_back(std::move(item));
        } else if (IniNamesEqual(word, L"Registry")) {
            const std::wstring keyPath(label);
            if (!hasLabel || !ReadKeyPath(section, keyPath, failure)) {
                if (!hasLabel) failure = {section.line, L"name the key after the word: [Registry <root>\\<key>]"};
                return false;
            }
            if (section.entries.empty()) {
                failure = {section.line, SectionTitle(section) + L" has no values"};
                return false;
            }
            for (const IniEntry& entry : section.entries) {
                ManifestItem value;
                if (!ReadValue(entry, context, keyPath, value, failure)) return false;
                manifest.items.push_back(std::move(value));
            }
        } else {
            failure = {section.line, L"unknown section " + SectionTitle(section) +
                                         L" (known: Product, File, Font, Script, Registry, Shortcut)"};
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadManifest(const IniDocument& document, std::wstring_view sourceDir, const PathResolver& resolver,
                  Manifest& manifest, IniError& error) {
    manifest = Manifest{};
    Context context{resolver, std::wstring(sourceDir), std::wstring()};
    while (context.sourceDir.size() > 3 && context.sourceDir.back() == L'\\') context.sourceDir.pop_back();
    Manifest result;
    Failure failure{0, std::wstring()};
    if (!ReadAll(document, context, result, failure)) {
        error.line = failure.line;
        error.message = failure.message;
        return false;
    }
    manifest = std::move(result);
    return true;
}

std::wstring ShortcutCommandLine(const ManifestItem& item) {
    std::wstring line = L"\"" + item.program + L"\"";
    if (!item.arguments.empty()) line += L" " + item.arguments;
    if (!item.icon.empty() || item.iconIndex != 0)
        line += L";" + item.icon + L";" + std::to_wstring(item.iconIndex);
    return line;
}

const wchar_t* ItemKindName(ItemKind kind) {
    switch (kind) {
    case ItemKind::File: return L"file";
    case ItemKind::Font: return L"font";
    case ItemKind::Script: return L"script";
    case ItemKind::Value: return L"value";
    case ItemKind::Shortcut: return L"link";
    }
    return L"?";
}

bool ItemKindFromName(std::wstring_view name, ItemKind& kind) {
    for (ItemKind k : {ItemKind::File, ItemKind::Font, ItemKind::Script, ItemKind::Value, ItemKind::Shortcut}) {
        if (name == ItemKindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

const wchar_t* ValueTypeName(ValueType type) {
    switch (type) {
    case ValueType::String: return L"string";
    case ValueType::ExpandString: return L"expand";
    case ValueType::MultiString: return L"multi";
    case ValueType::Dword: return L"dword";
    case ValueType::Binary: return L"hex";
    }
    return L"?";
}

bool ValueTypeFromName(std::wstring_view name, ValueType& type) {
    for (ValueType t :
         {ValueType::String, ValueType::ExpandString, ValueType::MultiString, ValueType::Dword, ValueType::Binary}) {
        if (IniNamesEqual(name, ValueTypeName(t))) {
            type = t;
            return true;
        }
    }
    return false;
}

std::wstring ParentOf(std::wstring_view path) {
    const size_t root = RootEnd(path);
    if (root == 0 || path.size() <= root + 1) return std::wstring();
    const size_t slash = path.rfind(L'\\');
    if (slash < root) return std::wstring();
    if (slash == root) return std::wstring(path.substr(0, path[0] == L'\\' ? root : root + 1));
    return std::wstring(path.substr(0, slash));
}

std::wstring_view LastElementOf(std::wstring_view path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

bool IsWithin(std::wstring_view path, std::wstring_view dir) {
    if (path.size() < dir.size() || !IniNamesEqual(path.substr(0, dir.size()), dir)) return false;
    return path.size() == dir.size() || path[dir.size()] == L'\\' || (!dir.empty() && dir.back() == L'\\');
}

const wchar_t* AbsolutePathProblem(std::wstring_view path) {
    if (!IsAbsolute(path)) return L"not an absolute path";
    if (path[0] == L'\\') {
        const size_t server = path.find(L'\\', 2);
        if (server == 2 || server == std::wstring_view::npos || server + 1 == path.size())
            return L"a share path needs a server and a share name";
    }
    if (path.size() > kMaxPathChars) return L"259 characters or more";
    // Elements after the drive ("C:") or after the share's leading "\\".
    std::wstring_view rest = path[0] == L'\\' ? path.substr(2) : path.substr(3);
    if (rest.empty()) return nullptr;
    for (;;) {
        const size_t slash = rest.find(L'\\');
        const std::wstring_view element = rest.substr(0, slash);
        if (element.empty()) return L"empty path element";
        if (element == L"." || element == L"..") return L"'.' or '..' element";
        if (element.back() == L'.' || element.back() == L' ') return L"element ending in '.' or blank";
        for (wchar_t c : element)
            if (c < 0x20 || std::wcschr(L"<>\"|?*/:", c)) return L"character not allowed in a path";
        if (slash == std::wstring_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return nullptr;
}

}  // namespace orvsetup
