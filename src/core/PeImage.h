// Export and import tables of a Portable Executable module, read from the
// bytes of its file without loading it. Portable: no <windows.h>.
//
// The Windows reader (MapImage / UnmapImage) maps the whole file read-only and
// hands the view to these functions. Every offset, count and RVA taken from
// the file is checked against the view's size before it is used, so no image,
// however malformed, makes them read outside the view. A table that breaks
// off (a pointer out of the view, a name without its terminator, a list
// without its end marker) yields the entries read before the break.
#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Optional-header magics. A reader accepts exactly one of them, the bitness
// of the module it runs in: PE32 in the x86 build, PE32+ in the x64 build.
constexpr uint16_t kPeMagic32 = 0x10B;
constexpr uint16_t kPeMagic64 = 0x20B;

// Longest module name kept in an ImportedModule, in UTF-16 code units.
constexpr size_t kMaxImportedModuleName = 259;

// Every exported name, the ordinal of every named export and the ordinal of
// every exported slot without a name; ordinals in decimal, ordinal base
// included. An import matches when its string is in the set (names are
// case-sensitive).
using ExportSet = std::set<std::wstring>;

// One module named in the import table.
struct ImportedModule {
    // The name as written in the import table, lower case, at most
    // kMaxImportedModuleName characters.
    std::wstring name;
    // The functions imported from it, in import table order: a name (case
    // kept), or an ordinal in decimal ("12").
    std::vector<std::wstring> functions;
};

// How single-byte text from an image becomes wide text. The Windows reader
// converts with the thread's ANSI code page and lower-cases with CharLowerW.
// A null member takes the portable default: each byte widened as Latin-1,
// and only A-Z lower-cased.
struct PeTextConverter {
    std::wstring (*toWide)(std::string_view text) = nullptr;
    void (*toLower)(std::wstring& text) = nullptr;  // in place
};

// What the header check found. Offsets are file offsets into the view.
struct PeImageHeaders {
    uint32_t peHeaderOffset;      // the "PE\0\0" signature (DOS header offset 60)
    uint16_t magic;               // optional-header magic, the accepted one
    uint16_t numberOfSections;
    uint64_t sectionTableOffset;  // right after the optional header
    uint32_t exportRva;           // data directory 0; 0 when absent
    uint32_t importRva;           // data directory 1; 0 when absent
    uint32_t resourceRva;         // data directory 2; 0 when absent
};

// The header check of MapImage: the DOS header's PE header offset, the "PE"
// signature with two zero bytes, and an optional-header magic equal to
// `magic` (kPeMagic32 or kPeMagic64). The "MZ" signature is not examined.
// A data directory beyond the optional header's directory count or size is
// absent. Headers that run past the view fail the check. `headers` is
// cleared on entry and filled on success.
bool ReadImageHeaders(const void* view, size_t size, uint16_t magic,
                      PeImageHeaders* headers) noexcept;

// Adds the module's exports to `exports`. Returns 0 when the header check
// fails (the set is left as it was), otherwise the set's size, earlier
// entries included. A module without an export directory, or whose export
// directory lies in no section, adds nothing. Only the first 65,536 function
// slots and names are read: no 16-bit ordinal reaches further.
size_t ReadExportTable(const void* view, size_t size, uint16_t magic, ExportSet& exports,
                       const PeTextConverter& text = PeTextConverter()) noexcept;

// Appends one ImportedModule per import descriptor to `modules`, in table
// order, and returns the number of functions in the records appended. 0 and
// nothing appended when the header check fails or the module has no imports.
// Lookup entries are 32-bit in PE32 images (bit 31: by ordinal) and 64-bit in
// PE32+ images (bit 63: by ordinal); an ordinal is the entry's low 16 bits.
size_t ReadImportTable(const void* view, size_t size, uint16_t magic,
                       std::vector<ImportedModule>& modules,
                       const PeTextConverter& text = PeTextConverter()) noexcept;

// How much memory a PE image claims when mapped: the larger of its SizeOfImage
// and the end of its furthest section (virtual address plus the larger of its
// virtual and raw sizes), from the bytes that begin at its "PE\0\0" signature.
// Sections beyond those bytes are not counted. 0 when the bytes are not a PE
// header of either magic.
uint64_t ClaimedImageExtent(const void* peHeader, size_t size) noexcept;

}  // namespace orv
