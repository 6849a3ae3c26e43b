#include "core/TypeLibImage.h"

#include <cstring>

#include "core/PeImage.h"

namespace orv {
namespace {

uint64_t Le(const uint8_t* p, unsigned width) {
    uint64_t value = 0;
    for (unsigned i = width; i-- > 0;) value = (value << 8) | p[i];
    return value;
}

bool Fits(size_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

// MSFT: 0x54 bytes of header, the help DLL field (flag 0x100 of varflags),
// one offset per type information, then 15 segments of 16 bytes each
// (offset, length, two reserved words); an offset of -1 marks an absent one.
constexpr uint64_t kMsftHeader = 0x54, kMsftSegments = 15, kMsftSegment = 16;

bool IsWholeMsft(const uint8_t* data, size_t size) {
    if (size < kMsftHeader) return false;
    const int32_t typeInfos = static_cast<int32_t>(Le(data + 0x20, 4));
    const uint32_t varFlags = static_cast<uint32_t>(Le(data + 0x14, 4));
    if (typeInfos < 0) return false;
    const uint64_t directory = kMsftHeader + ((varFlags & 0x100) ? 4 : 0) + 4 * uint64_t(typeInfos);
    if (!Fits(size, directory, kMsftSegments * kMsftSegment)) return false;
    for (uint64_t i = 0; i < kMsftSegments; ++i) {
        const uint8_t* entry = data + directory + i * kMsftSegment;
        const int32_t offset = static_cast<int32_t>(Le(entry, 4));
        const int32_t length = static_cast<int32_t>(Le(entry + 4, 4));
        if (offset == -1) continue;
        if (offset < 0 || length < 0 || !Fits(size, uint64_t(offset), uint64_t(length))) return false;
    }
    return true;
}

// SLTG: 0x24 bytes of header (block count at 4, first block at 10), count - 1
// block entries of 8 bytes (length, index string, next), the 13-byte magic
// (1, "CompObj", "dir"), count - 2 index strings of 11 bytes, 9 bytes of
// padding, then the blocks.
constexpr uint64_t kSltgHeader = 0x24, kSltgEntry = 8, kSltgMagic = 13, kSltgIndex = 11, kSltgPad = 9;

bool IsWholeSltg(const uint8_t* data, size_t size) {
    if (size < kSltgHeader) return false;
    const uint64_t count = Le(data + 4, 2), first = Le(data + 10, 2);
    if (count < 2 || first < 1 || first >= count) return false;
    const uint64_t entries = count - 1;
    const uint64_t magic = kSltgHeader + entries * kSltgEntry;
    if (!Fits(size, magic, kSltgMagic)) return false;
    if (data[magic] != 1 || std::memcmp(data + magic + 1, "CompObj", 8) != 0 ||
        std::memcmp(data + magic + 9, "dir", 4) != 0)
        return false;
    const uint64_t blocks = magic + kSltgMagic + (count - 2) * kSltgIndex + kSltgPad;
    if (blocks > size) return false;
    uint64_t total = 0;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint8_t* entry = data + kSltgHeader + i * kSltgEntry;
        const uint64_t next = Le(entry + 6, 2);
        if (next > entries) return false;  // 0 ends the chain; others name an entry
        total += Le(entry, 4);
    }
    return total <= size - blocks;
}

// One entry of a resource directory: its name or id and where it leads.
struct ResourceEntry {
    uint32_t name;  // id, or (high bit) offset of the name from the resource root
    uint32_t data;  // (high bit) offset of a subdirectory, else of a data entry
};

// The entry of the directory at `dir` (offset from root) that matches: by
// name when `name` is given (compared without regard to ASCII case), else by
// id, or the first entry of all when id is 0.
bool FindEntry(const uint8_t* data, size_t size, uint64_t root, uint64_t dir, const char* name, uint32_t id,
               ResourceEntry* found) {
    if (!Fits(size, root + dir, 16)) return false;
    const uint64_t named = Le(data + root + dir + 12, 2), ids = Le(data + root + dir + 14, 2);
    for (uint64_t i = 0; i < named + ids; ++i) {
        const uint64_t at = root + dir + 16 + 8 * i;
        if (!Fits(size, at, 8)) return false;
        const ResourceEntry entry{static_cast<uint32_t>(Le(data + at, 4)), static_cast<uint32_t>(Le(data + at + 4, 4))};
        const bool isNamed = (entry.name & 0x80000000u) != 0;
        if (name) {
            if (!isNamed) continue;
            const uint64_t text = root + (entry.name & 0x7FFFFFFFu);
            if (!Fits(size, text, 2)) return false;
            const uint64_t length = Le(data + text, 2);
            if (length != std::strlen(name)) continue;
            if (!Fits(size, text + 2, 2 * length)) return false;
            bool same = true;
            for (uint64_t k = 0; k < length && same; ++k) {
                uint64_t c = Le(data + text + 2 + 2 * k, 2);
                if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
                same = c == static_cast<unsigned char>(name[k]);
            }
            if (!same) continue;
        } else if (id != 0 && (isNamed || entry.name != id)) {
            continue;
        }
        *found = entry;
        return true;
    }
    return false;
}

// The file offset of an RVA: through the section whose virtual range holds it.
bool RvaToOffset(const uint8_t* data, size_t size, const PeImageHeaders& headers, uint64_t rva, uint64_t* offset) {
    for (uint64_t i = 0; i < headers.numberOfSections; ++i) {
        const uint64_t section = headers.sectionTableOffset + 40 * i;
        if (!Fits(size, section, 40)) return false;
        const uint64_t virtualSize = Le(data + section + 8, 4), va = Le(data + section + 12, 4);
        const uint64_t rawSize = Le(data + section + 16, 4), raw = Le(data + section + 20, 4);
        const uint64_t extent = virtualSize > rawSize ? virtualSize : rawSize;
        if (rva < va || rva - va >= extent) continue;
        *offset = raw + (rva - va);
        return true;
    }
    return false;
}

}  // namespace

bool IsWholeTypeLibrary(const uint8_t* data, size_t size) {
    if (!data || size < 4) return false;
    if (std::memcmp(data, "MSFT", 4) == 0) return IsWholeMsft(data, size);
    if (std::memcmp(data, "SLTG", 4) == 0) return IsWholeSltg(data, size);
    return false;
}

bool FindTypeLibResource(const uint8_t* data, size_t size, uint64_t* offset, uint64_t* length) {
    if (!data || !offset || !length) return false;
    PeImageHeaders headers;
    if (!ReadImageHeaders(data, size, kPeMagic32, &headers) && !ReadImageHeaders(data, size, kPeMagic64, &headers))
        return false;
    uint64_t root;
    if (headers.resourceRva == 0 || !RvaToOffset(data, size, headers, headers.resourceRva, &root)) return false;
    // Type "TYPELIB", id 1, the first language: each a subdirectory but the last.
    ResourceEntry type, number, language;
    if (!FindEntry(data, size, root, 0, "TYPELIB", 0, &type) || !(type.data & 0x80000000u) ||
        !FindEntry(data, size, root, type.data & 0x7FFFFFFFu, nullptr, 1, &number) || !(number.data & 0x80000000u) ||
        !FindEntry(data, size, root, number.data & 0x7FFFFFFFu, nullptr, 0, &language) ||
        (language.data & 0x80000000u))
        return false;
    const uint64_t entry = root + language.data;
    if (!Fits(size, entry, 16)) return false;
    uint64_t at;
    if (!RvaToOffset(data, size, headers, Le(data + entry, 4), &at)) return false;
    const uint64_t bytes = Le(data + entry + 4, 4);
    if (!Fits(size, at, bytes)) return false;
    *offset = at;
    *length = bytes;
    return true;
}

bool MayLoadTypeLibrary(const uint8_t* data, size_t size) {
    if (IsWholeTypeLibrary(data, size)) return true;
    uint64_t offset, length;
    return FindTypeLibResource(data, size, &offset, &length) &&
           IsWholeTypeLibrary(data + offset, static_cast<size_t>(length));
}

}  // namespace orv
