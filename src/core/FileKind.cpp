#include "core/FileKind.h"

#include <cstring>

namespace orv {
namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool StartsWith(const uint8_t* p, size_t len, const char* tag, size_t tagLen) {
    return len >= tagLen && std::memcmp(p, tag, tagLen) == 0;
}

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

constexpr size_t kLfanewOffset = 0x3C;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kImageFileDll = 0x2000;

int ClassifyModule(const uint8_t* module, size_t len) {
    if (!module) return kKindData;
    if (StartsWith(module, len, "NE", 2)) return kKindRasterFont;
    if (!StartsWith(module, len, "PE\0\0", 4) || len < kFileKindModuleBytes) return kKindData;
    // COFF header after the signature: Machine(2) NumberOfSections(2) TimeDateStamp(4)
    // PointerToSymbolTable(4) NumberOfSymbols(4) SizeOfOptionalHeader(2) Characteristics(2).
    const uint16_t sizeOfOptional = Le16(module + 20);
    const uint16_t characteristics = Le16(module + 22);
    const uint16_t magic = Le16(module + 24);
    if (sizeOfOptional < 2 || (magic != kPe32Magic && magic != kPe32PlusMagic)) return kKindData;
    return (characteristics & kImageFileDll) ? kKindLibrary : kKindProgram;
}

}  // namespace

uint32_t ModuleHeaderOffset(const uint8_t* head, size_t headLen) {
    if (!head || headLen < kLfanewOffset + 4 || !StartsWith(head, headLen, "MZ", 2)) return 0;
    return Le32(head + kLfanewOffset);
}

bool HasRegistryScriptName(const wchar_t* name) {
    if (!name) return false;
    size_t len = 0;
    while (name[len]) ++len;
    if (len < 4) return false;
    const wchar_t* ext = name + len - 4;
    if (ext[0] != L'.') return false;
    const wchar_t a = AsciiLower(ext[1]), b = AsciiLower(ext[2]), c = AsciiLower(ext[3]);
    return (a == L'r' && b == L'e' && c == L'g') || (a == L'c' && b == L'o' && c == L'r');
}

int ClassifyFile(const wchar_t* name, const uint8_t* head, size_t headLen, const uint8_t* module, size_t moduleLen) {
    if (HasRegistryScriptName(name)) return kKindRegistryFile;
    if (!head) return kKindData;
    if (ModuleHeaderOffset(head, headLen) != 0) return ClassifyModule(module, moduleLen);
    if (StartsWith(head, headLen, "MSFT", 4) || StartsWith(head, headLen, "SLTG", 4)) return kKindTypeLib;
    if (StartsWith(head, headLen, "\x00\x01\x00\x00", 4) || StartsWith(head, headLen, "OTTO", 4) ||
        StartsWith(head, headLen, "true", 4) || StartsWith(head, headLen, "ttcf", 4))
        return kKindTrueType;
    return kKindData;
}

int ConfirmFontKind(int kind, ByteSource& file, uint64_t size, uint32_t moduleOffset) {
    if (kind == kKindTrueType) return HasSfntTableDirectory(file, size) ? kind : kKindData;
    if (kind == kKindRasterFont) return HasRasterFontResources(file, moduleOffset, size) ? kind : kKindData;
    return kind;
}

}  // namespace orv
