// The product manifest of the setup program: what a product consists of,
// read from an INI document (IniText.h). Portable: folders and environment
// strings come through a PathResolver the caller supplies.
//
//   [Product]                      Name, Version (1 to 4 parts), InstallDir,
//                                  Mode = primary (default) | patch
//   [File <label>]                 Source, Target, Flags = force, AppPaths,
//                                  DllInstallCmd
//   [Font <label>]                 Source, Target (default {Fonts}\<source name>)
//   [Script <label>]               Source, Directory (default the install folder):
//                                  a registration script applied by the kernel
//   [Registry <root>\<key path>]   one line per value: name = type:data
//                                  (@ = the default value; types string, expand,
//                                  multi (strings separated by |), dword
//                                  (decimal or 0x hexadecimal), hex (bytes as
//                                  two hexadecimal digits, separated by commas))
//   [Shortcut <label>]             Folder (StartMenu|Desktop|ProgramFiles|
//                                  Startup \ folders \ name), Target, Arguments,
//                                  Description, Icon, IconIndex, AllUsers = yes|no
//
// Items are installed in the order of their sections (a registry section's
// values in the order of their lines) and removed in the reverse order.
//
// Paths: {Keyword} is replaced by a folder: InstallDir, SourceDir (the
// manifest's folder), ProgramFiles, CommonFiles, System, Windows, Fonts;
// %NAME% by the environment variable (paths only; "%%" is one "%"; registry
// data keeps "%" as written); "{{" is one "{". A relative Source is taken
// from the manifest's folder, a relative Target or Directory from the install
// folder. Every path must end up absolute, shorter than 260 characters, with
// no "." or ".." element, no empty element and none of the characters
// < > " | ? * / and no ':' but the drive's.
//
// Every refusal names the line of the entry (or of the section header when
// an entry is missing).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/IniText.h"

namespace orvsetup {

inline constexpr size_t kMaxPathChars = 259;  // MAX_PATH without the terminator

enum class ItemKind { File, Font, Script, Value, Shortcut };
enum class ValueType { String, ExpandString, MultiString, Dword, Binary };

// Install modes, as the kernel's INSTALLMODES numbers them.
inline constexpr unsigned kModePrimary = 1;
inline constexpr unsigned kModeRepair = 2;
inline constexpr unsigned kModePatch = 3;
inline constexpr unsigned kModeUpdate = 4;
inline constexpr unsigned kModeUninstall = 5;

struct ManifestItem {
    ItemKind kind = ItemKind::File;
    std::wstring label;  // the section name after the kind word (Registry: the key path)
    unsigned line = 0;   // of the section header, or of the value's line

    // File, Font, Script. Script: target is the folder that replaces %orvtargetdir%.
    std::wstring source;
    std::wstring target;
    std::wstring appPaths;
    std::wstring dllInstallCmd;
    bool hasAppPaths = false;
    bool hasDllInstallCmd = false;
    bool force = false;

    // Value
    std::wstring keyPath;    // as written: root name, backslash, subkey path
    std::wstring valueName;  // empty: the key's default value
    ValueType valueType = ValueType::String;
    std::wstring text;                  // String, ExpandString
    std::vector<std::wstring> strings;  // MultiString
    uint32_t dword = 0;
    std::vector<uint8_t> bytes;

    // Shortcut
    std::wstring folder;  // the kernel's shell folder argument
    std::wstring program;
    std::wstring arguments;
    std::wstring description;
    std::wstring icon;
    int iconIndex = 0;
    bool allUsers = false;
};

struct Manifest {
    std::wstring name;
    std::wstring version;  // as written
    uint16_t versionParts[4] = {};
    std::wstring installDir;  // absolute, no trailing backslash
    unsigned mode = kModePrimary;
    std::vector<ManifestItem> items;
};

// Folders and environment strings of the machine the manifest is read on.
class PathResolver {
public:
    virtual ~PathResolver() = default;
    // keyword: ProgramFiles, CommonFiles, System, Windows or Fonts (as spelled
    // here). False when the system does not know the folder.
    virtual bool Folder(std::wstring_view keyword, std::wstring& path) const = 0;
    // False when the variable is not set.
    virtual bool Environment(std::wstring_view name, std::wstring& value) const = 0;
};

// sourceDir: the manifest's folder, absolute. On failure the manifest is
// left empty and error names the line.
bool ReadManifest(const IniDocument& document, std::wstring_view sourceDir, const PathResolver& resolver,
                  Manifest& manifest, IniError& error);

// The kernel's shortcut command line: quoted program, arguments, and
// ";icon;index" when an icon or an index is given.
std::wstring ShortcutCommandLine(const ManifestItem& item);

// Lower-case names, as the progress lines and the state file spell them.
const wchar_t* ItemKindName(ItemKind kind);
bool ItemKindFromName(std::wstring_view name, ItemKind& kind);
const wchar_t* ValueTypeName(ValueType type);
bool ValueTypeFromName(std::wstring_view name, ValueType& type);

// The folder part of a path (no trailing backslash), and the last element.
std::wstring ParentOf(std::wstring_view path);
std::wstring_view LastElementOf(std::wstring_view path);
// Whether path is dir itself or lies below it (letter case ignored).
bool IsWithin(std::wstring_view path, std::wstring_view dir);
// Why an absolute path cannot be used as it is, or null (rules above).
const wchar_t* AbsolutePathProblem(std::wstring_view path);

}  // namespace orvsetup
