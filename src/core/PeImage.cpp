#include "core/PeImage.h"

#include <algorithm>

#include <cstring>

// The readers promise not to throw. Where exceptions exist, an allocation
// failure in the middle of a walk ends it like any other break in the
// tables: the caller keeps what was read so far.
#if defined(__cpp_exceptions)
#define ORV_PE_TRY try
#define ORV_PE_CATCH_ALL catch (...)
#else
#define ORV_PE_TRY if (true)
#define ORV_PE_CATCH_ALL else
#endif

namespace orv {
namespace {

constexpr uint64_t kLfanewOffset = 60;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kImportDescriptorSize = 20;
// Ordinals are 16-bit: no import can reach a function slot beyond the
// 65,536th, and the name ordinal table points only into those. A count
// beyond that is forged; the walk stops there, so such an export table costs
// no more than a real one.
constexpr uint32_t kMaxReachableExports = 0x10000;

// A walk reads at most this many bytes per byte of the image (plus a floor)
// before it counts as broken. A well-formed table reads each of its bytes
// about once; only tables that share lookup lists or names between entries
// go beyond, and those would otherwise cost time and memory quadratic in
// the size of the file.
constexpr uint64_t kReadBudgetPerByte = 4;
constexpr uint64_t kReadBudgetFloor = 64 * 1024;

// Bounds-checked little-endian reads from the view.
class View {
public:
    View(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}

    size_t Size() const { return size_; }

    bool Fits(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    bool Read(uint64_t offset, unsigned width, uint64_t& value) const {
        if (!Fits(offset, width)) return false;
        const uint8_t* p = data_ + offset;
        value = 0;
        for (unsigned i = width; i-- > 0;) value = (value << 8) | p[i];
        return true;
    }
    bool Read16(uint64_t offset, uint16_t& value) const {
        uint64_t v;
        if (!Read(offset, 2, v)) return false;
        value = static_cast<uint16_t>(v);
        return true;
    }
    bool Read32(uint64_t offset, uint32_t& value) const {
        uint64_t v;
        if (!Read(offset, 4, v)) return false;
        value = static_cast<uint32_t>(v);
        return true;
    }

    // The zero-terminated text at offset, without its terminator. False when
    // the view ends before the terminator.
    bool ReadString(uint64_t offset, std::string_view& text) const {
        if (!Fits(offset, 1)) return false;
        const char* start = reinterpret_cast<const char*>(data_ + offset);
        const void* end = std::memchr(start, 0, static_cast<size_t>(size_ - offset));
        if (!end) return false;
        text = std::string_view(start, static_cast<size_t>(static_cast<const char*>(end) - start));
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// Reads the data of one directory. Every RVA met is turned into a file offset
// through the section holding the directory (RVA - virtual address + pointer
// to raw data), and every read is charged to the walk's budget.
class DirectoryReader {
public:
    DirectoryReader(const View& view, uint32_t sectionVa, uint32_t sectionRaw)
        : view_(view), va_(sectionVa), raw_(sectionRaw),
          budget_(kReadBudgetPerByte * view.Size() + kReadBudgetFloor) {}

    bool Offset(uint64_t rva, uint64_t& offset) const {
        if (rva < va_ || rva > UINT32_MAX) return false;
        offset = rva - va_ + raw_;
        return true;
    }

    bool Read(uint64_t rva, unsigned width, uint64_t& value) {
        uint64_t offset;
        return Offset(rva, offset) && Charge(width) && view_.Read(offset, width, value);
    }
    bool Read16(uint64_t rva, uint16_t& value) {
        uint64_t v;
        if (!Read(rva, 2, v)) return false;
        value = static_cast<uint16_t>(v);
        return true;
    }
    bool Read32(uint64_t rva, uint32_t& value) {
        uint64_t v;
        if (!Read(rva, 4, v)) return false;
        value = static_cast<uint32_t>(v);
        return true;
    }
    bool ReadString(uint64_t rva, std::string_view& text) {
        uint64_t offset;
        return Offset(rva, offset) && view_.ReadString(offset, text) && Charge(text.size() + 1);
    }

private:
    bool Charge(uint64_t bytes) {
        if (bytes > budget_) {
            budget_ = 0;
            return false;
        }
        budget_ -= bytes;
        return true;
    }

    const View& view_;
    uint64_t va_;
    uint64_t raw_;
    uint64_t budget_;
};

// The first section whose range [virtual address, virtual address + virtual
// size) holds rva. Section headers that run past the view end the search.
bool FindSection(const View& view, const PeImageHeaders& headers, uint32_t rva,
                 uint32_t& sectionVa, uint32_t& sectionRaw) {
    for (uint32_t i = 0; i < headers.numberOfSections; ++i) {
        const uint64_t header = headers.sectionTableOffset + i * kSectionHeaderSize;
        uint32_t virtualSize, virtualAddress, rawPointer;
        if (!view.Read32(header + 8, virtualSize) || !view.Read32(header + 12, virtualAddress) ||
            !view.Read32(header + 20, rawPointer))
            return false;
        if (rva >= virtualAddress && rva < uint64_t{virtualAddress} + virtualSize) {
            sectionVa = virtualAddress;
            sectionRaw = rawPointer;
            return true;
        }
    }
    return false;
}

class Text {
public:
    explicit Text(const PeTextConverter& converter) : converter_(converter) {}

    std::wstring Wide(std::string_view text) const {
        if (converter_.toWide) return converter_.toWide(text);
        std::wstring wide(text.size(), L'\0');
        for (size_t i = 0; i < text.size(); ++i)
            wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
        return wide;
    }

    void Lower(std::wstring& text) const {
        if (converter_.toLower) {
            converter_.toLower(text);
            return;
        }
        for (wchar_t& c : text)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }

private:
    const PeTextConverter& converter_;
};

std::wstring Decimal(uint32_t value) {
    wchar_t digits[10];
    size_t first = 10;
    do {
        digits[--first] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    return std::wstring(digits + first, digits + 10);
}

void WalkExports(const View& view, const PeImageHeaders& headers, const Text& text,
                 ExportSet& exports) {
    uint32_t sectionVa, sectionRaw;
    if (!FindSection(view, headers, headers.exportRva, sectionVa, sectionRaw)) return;
    DirectoryReader dir(view, sectionVa, sectionRaw);

    // A named export's ordinal is its slot's ordinal, already added by the
    // names loop, so the slot loop need not know which slots have names: the
    // set keeps one copy. Ordinals are 32-bit sums that wrap, the way the
    // loader resolves them.
    const uint64_t at = headers.exportRva;
    uint32_t base, functionCount, nameCount, functionsRva, namesRva, ordinalsRva;
    if (!dir.Read32(at + 16, base) || !dir.Read32(at + 20, functionCount) ||
        !dir.Read32(at + 24, nameCount) || !dir.Read32(at + 28, functionsRva) ||
        !dir.Read32(at + 32, namesRva) || !dir.Read32(at + 36, ordinalsRva))
        return;
    if (nameCount > kMaxReachableExports) nameCount = kMaxReachableExports;
    if (functionCount > kMaxReachableExports) functionCount = kMaxReachableExports;
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint32_t nameRva;
        std::string_view name;
        uint16_t slot;
        if (!dir.Read32(namesRva + uint64_t{4} * i, nameRva) || !dir.ReadString(nameRva, name) ||
            !dir.Read16(ordinalsRva + uint64_t{2} * i, slot))
            return;
        exports.insert(text.Wide(name));
        exports.insert(Decimal(base + slot));
    }
    for (uint32_t j = 0; j < functionCount; ++j) {
        uint32_t address;
        if (!dir.Read32(functionsRva + uint64_t{4} * j, address)) return;
        if (address != 0) exports.insert(Decimal(base + j));
    }
}

void WalkImports(const View& view, const PeImageHeaders& headers, const Text& text,
                 std::vector<ImportedModule>& modules, size_t& functionCount) {
    uint32_t sectionVa, sectionRaw;
    if (!FindSection(view, headers, headers.importRva, sectionVa, sectionRaw)) return;
    DirectoryReader dir(view, sectionVa, sectionRaw);

    const unsigned entryWidth = headers.magic == kPeMagic64 ? 8 : 4;
    const uint64_t byOrdinal = uint64_t{1} << (entryWidth * 8 - 1);

    for (uint64_t descriptor = headers.importRva;; descriptor += kImportDescriptorSize) {
        uint32_t lookupRva, nameRva;
        std::string_view rawName;
        if (!dir.Read32(descriptor, lookupRva) || lookupRva == 0) return;
        if (!dir.Read32(descriptor + 12, nameRva) || !dir.ReadString(nameRva, rawName)) return;

        ImportedModule module;
        module.name = text.Wide(rawName);
        if (module.name.size() > kMaxImportedModuleName) module.name.resize(kMaxImportedModuleName);
        text.Lower(module.name);

        bool broken = false;
        for (uint64_t entryRva = lookupRva;; entryRva += entryWidth) {
            uint64_t entry;
            if (!dir.Read(entryRva, entryWidth, entry)) {
                broken = true;
                break;
            }
            if (entry == 0) break;
            if (entry & byOrdinal) {
                module.functions.push_back(Decimal(static_cast<uint16_t>(entry)));
                continue;
            }
            uint16_t hint;
            std::string_view name;
            if (!dir.Read16(entry, hint) || !dir.ReadString(entry + 2, name)) {
                broken = true;
                break;
            }
            module.functions.push_back(text.Wide(name));
        }
        const size_t added = module.functions.size();
        modules.push_back(std::move(module));
        functionCount += added;
        if (broken) return;
    }
}

}  // namespace

bool ReadImageHeaders(const void* view, size_t size, uint16_t magic,
                      PeImageHeaders* headers) noexcept {
    if (!headers) return false;
    *headers = PeImageHeaders();
    if (!view || (magic != kPeMagic32 && magic != kPeMagic64)) return false;
    const View image(view, size);

    uint32_t peOffset, signature;
    if (!image.Read32(kLfanewOffset, peOffset) || !image.Read32(peOffset, signature) ||
        signature != kPeSignature)
        return false;
    const uint64_t fileHeader = uint64_t{peOffset} + 4;
    const uint64_t optionalHeader = fileHeader + kFileHeaderSize;
    uint16_t sectionCount, optionalSize, actualMagic;
    if (!image.Read16(fileHeader + 2, sectionCount) || !image.Read16(fileHeader + 16, optionalSize) ||
        !image.Read16(optionalHeader, actualMagic) || actualMagic != magic)
        return false;

    // NumberOfRvaAndSizes, then the directories (8 bytes each: RVA, size).
    const uint64_t countField = magic == kPeMagic32 ? 92 : 108;
    uint32_t directoryCount = 0;
    if (countField + 4 <= optionalSize && !image.Read32(optionalHeader + countField, directoryCount))
        return false;
    uint32_t rvas[3] = {0, 0, 0};
    for (uint32_t k = 0; k < 3; ++k) {
        const uint64_t entry = countField + 4 + 8 * k;
        if (k < directoryCount && entry + 8 <= optionalSize &&
            !image.Read32(optionalHeader + entry, rvas[k]))
            return false;
    }

    headers->peHeaderOffset = peOffset;
    headers->magic = actualMagic;
    headers->numberOfSections = sectionCount;
    headers->sectionTableOffset = optionalHeader + optionalSize;
    headers->exportRva = rvas[0];
    headers->importRva = rvas[1];
    headers->resourceRva = rvas[2];
    return true;
}

size_t ReadExportTable(const void* view, size_t size, uint16_t magic, ExportSet& exports,
                       const PeTextConverter& text) noexcept {
    PeImageHeaders headers;
    if (!ReadImageHeaders(view, size, magic, &headers)) return 0;
    if (headers.exportRva != 0) {
        const View image(view, size);
        ORV_PE_TRY { WalkExports(image, headers, Text(text), exports); }
        ORV_PE_CATCH_ALL {}
    }
    return exports.size();
}

size_t ReadImportTable(const void* view, size_t size, uint16_t magic,
                       std::vector<ImportedModule>& modules, const PeTextConverter& text) noexcept {
    PeImageHeaders headers;
    if (!ReadImageHeaders(view, size, magic, &headers) || headers.importRva == 0) return 0;
    const View image(view, size);
    size_t functionCount = 0;
    ORV_PE_TRY { WalkImports(image, headers, Text(text), modules, functionCount); }
    ORV_PE_CATCH_ALL {}
    return functionCount;
}

uint64_t ClaimedImageExtent(const void* peHeader, size_t size) noexcept {
    const View header(peHeader, size);
    uint32_t signature, imageSize;
    uint16_t sectionCount, optionalSize, magic;
    const uint64_t optionalHeader = 4 + kFileHeaderSize;
    if (!peHeader || !header.Read32(0, signature) || signature != kPeSignature ||
        !header.Read16(6, sectionCount) || !header.Read16(20, optionalSize) ||
        !header.Read16(optionalHeader, magic) || (magic != kPeMagic32 && magic != kPeMagic64) ||
        !header.Read32(optionalHeader + 56, imageSize))
        return 0;
    uint64_t extent = imageSize;
    const uint64_t sections = optionalHeader + optionalSize;
    for (uint32_t k = 0; k < sectionCount; ++k) {
        uint32_t virtualSize, address, rawSize;
        const uint64_t at = sections + 40 * uint64_t{k};
        if (!header.Read32(at + 8, virtualSize) || !header.Read32(at + 12, address) ||
            !header.Read32(at + 16, rawSize))
            break;
        extent = std::max(extent, uint64_t{address} + std::max(virtualSize, rawSize));
    }
    return extent;
}

}  // namespace orv
