// Kind of a file judged by its name and its first bytes. Portable: no <windows.h>.
//
// The caller reads two small pieces of the file: its first bytes (head, up to
// kFileKindHeadBytes) and, when the head is a DOS executable header naming a
// module header, up to kFileKindModuleBytes at that offset. A file that looks
// like a font by these gets a second look at its tables (ConfirmFontKind),
// through small reads. A reader never has to map or load a file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/FontTables.h"

namespace orv {

// Kind codes, as the utility library hands them to the kernel.
enum FileKindCode : int {
    kKindProgram = 0,       // PE image without the DLL characteristic (PE32 or PE32+)
    kKindLibrary = 1,       // PE image with IMAGE_FILE_DLL
    kKindTypeLib = 2,       // "MSFT" or "SLTG" type library
    kKindTrueType = 3,      // TrueType, OpenType or font collection with a table directory
    kKindRasterFont = 4,    // NE module holding font resources (".fon")
    kKindRegistryFile = 5,  // registration script, by its ".reg" / ".cor" name
    kKindData = 6,          // anything else
};

// DOS header up to and including e_lfanew, and the font and type library tags.
constexpr size_t kFileKindHeadBytes = 64;
// "PE\0\0", the COFF file header (20 bytes) and the optional header's magic.
constexpr size_t kFileKindModuleBytes = 26;

// Offset of the module header named by a DOS executable header ("MZ" and
// e_lfanew at 0x3C). 0 when head is not such a header or e_lfanew is 0.
uint32_t ModuleHeaderOffset(const uint8_t* head, size_t headLen);

// True when name ends in ".reg" or ".cor" (ASCII letter case ignored).
bool HasRegistryScriptName(const wchar_t* name);

// The kind of a readable file. name: its path or file name (may be null);
// head: its first headLen bytes; module: moduleLen bytes read at
// ModuleHeaderOffset(head) (null/0 when there are none). A registration
// script's name decides before the content; content that fits no kind, or
// is cut short, is data.
int ClassifyFile(const wchar_t* name, const uint8_t* head, size_t headLen, const uint8_t* module,
                 size_t moduleLen);

// The second look at what ClassifyFile took for a font by its first bytes:
// only a file with a table directory is TrueType, only an NE module with font
// resources (moduleOffset: its header's offset) is a raster font; anything
// else is data. Other kinds pass unchanged. size is the file's size.
int ConfirmFontKind(int kind, ByteSource& file, uint64_t size, uint32_t moduleOffset);

}  // namespace orv
