#include "core/FontTables.h"

#include <cstring>

namespace orv {
namespace {

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// A fixed structure at offset: all of it, or nothing.
bool ReadAt(ByteSource& file, uint64_t offset, void* buffer, size_t size) {
    size_t read = 0;
    return file.Seek(offset) && file.Read(buffer, size, &read) && read == size;
}

// A string of up to length bytes at offset: the bytes delivered.
bool ReadStringAt(ByteSource& file, uint64_t offset, uint16_t length, std::string* text) {
    if (!file.Seek(offset)) return false;
    text->assign(length, '\0');
    size_t read = 0;
    if (length > 0 && !file.Read(&(*text)[0], length, &read)) return false;
    text->resize(read);
    return true;
}

void CutAtZero(std::string* text) { text->resize(std::strlen(text->c_str())); }

// sfnt structures: offset table, table record, naming table header, name record.
constexpr size_t kOffsetTableSize = 12;
constexpr size_t kTableRecordSize = 16;
constexpr size_t kNamingHeaderSize = 6;
constexpr size_t kNameRecordSize = 12;

constexpr uint16_t kPlatformMacintosh = 1;
constexpr uint16_t kPlatformWindows = 3;
constexpr uint16_t kNameIdFullName = 4;
constexpr uint16_t kNameIdVersion = 5;
constexpr uint16_t kLanguageUsEnglish = 0x0409;

bool IsWindowsUnicode(uint16_t encoding) { return encoding == 0 || encoding == 1 || encoding == 10; }

void ReadNamingTable(ByteSource& file, uint32_t tableOffset, SfntNames* names, bool* windowsNameIsEnglish) {
    uint8_t header[kNamingHeaderSize];
    if (!ReadAt(file, tableOffset, header, sizeof(header))) return;
    const uint16_t count = Be16(header + 2);
    const uint64_t storage = static_cast<uint64_t>(tableOffset) + Be16(header + 4);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t record[kNameRecordSize];
        if (!ReadAt(file, tableOffset + kNamingHeaderSize + uint64_t{kNameRecordSize} * i, record, sizeof(record)))
            continue;
        const uint16_t platform = Be16(record), encoding = Be16(record + 2), language = Be16(record + 4);
        const uint16_t nameId = Be16(record + 6), length = Be16(record + 8);
        const uint64_t at = storage + Be16(record + 10);
        std::string text;
        if (platform == kPlatformMacintosh && (nameId == kNameIdFullName || nameId == kNameIdVersion)) {
            if (!ReadStringAt(file, at, length, &text)) continue;
            CutAtZero(&text);
            if (nameId == kNameIdFullName) {
                names->fullName = text;
                names->nameFound = true;
            } else {
                ParseFontVersion(text.c_str(), names->version);
                names->versionFound = true;
            }
        } else if (platform == kPlatformWindows && nameId == kNameIdFullName && IsWindowsUnicode(encoding)) {
            if (*windowsNameIsEnglish || (!names->windowsFullName.empty() && language != kLanguageUsEnglish)) continue;
            if (!ReadStringAt(file, at, length, &text)) continue;
            std::u16string name;
            for (size_t k = 0; k + 1 < text.size(); k += 2) {
                const char16_t unit =
                    static_cast<char16_t>((static_cast<uint8_t>(text[k]) << 8) | static_cast<uint8_t>(text[k + 1]));
                if (unit == 0) break;
                name.push_back(unit);
            }
            if (name.empty()) continue;
            names->windowsFullName = name;
            *windowsNameIsEnglish = language == kLanguageUsEnglish;
        }
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

const char* FindIgnoringCase(const char* text, const char* word) {
    for (const char* start = text; *start; ++start) {
        size_t i = 0;
        while (word[i] && AsciiLower(start[i]) == word[i]) ++i;
        if (!word[i]) return start;
    }
    return nullptr;
}

// A resource table's type entries are walked no further than this.
constexpr unsigned kMaxResourceTypes = 4096;
constexpr uint16_t kResourceTypeFont = 0x8008;  // RT_FONT, an integer type id

}  // namespace

bool MemorySource::Seek(uint64_t offset) {
    m_position = offset;
    return true;
}

bool MemorySource::Read(void* buffer, size_t size, size_t* read) {
    *read = 0;
    if (m_position >= m_size) return true;
    const size_t available = m_size - static_cast<size_t>(m_position);
    const size_t n = size < available ? size : available;
    if (n) std::memcpy(buffer, m_data + m_position, n);
    m_position += n;
    *read = n;
    return true;
}

void ReadSfntNames(ByteSource& file, SfntNames* names) {
    *names = SfntNames();
    uint8_t offsetTable[kOffsetTableSize];
    if (!ReadAt(file, 0, offsetTable, sizeof(offsetTable))) return;
    const uint16_t tables = Be16(offsetTable + 4);
    bool windowsNameIsEnglish = false;
    for (uint16_t i = 0; i < tables && i < kSfntMaxTableRecords; ++i) {
        uint8_t record[kTableRecordSize];
        if (!ReadAt(file, kOffsetTableSize + uint64_t{kTableRecordSize} * i, record, sizeof(record))) continue;
        if (std::memcmp(record, "name", 4) != 0) continue;
        const uint32_t offset = Be32(record + 8);
        if (offset == 0) continue;
        ReadNamingTable(file, offset, names, &windowsNameIsEnglish);
    }
}

void ParseFontVersion(const char* text, uint16_t parts[4]) {
    for (int i = 0; i < 4; ++i) parts[i] = 0;
    if (!text) return;
    const char* p = FindIgnoringCase(text, "version");
    if (!p) p = text;
    while (*p && !IsDigit(*p)) ++p;
    int piece = 0;
    while (piece < 2 && (IsDigit(*p) || *p == '.')) {
        if (*p == '.') {
            ++p;
            continue;
        }
        // The low 16 bits of the number, however long it is.
        uint32_t value = 0;
        for (; IsDigit(*p); ++p) value = (value * 10 + static_cast<uint32_t>(*p - '0')) & 0xFFFF;
        parts[piece++] = static_cast<uint16_t>(value);
    }
}

bool ReadRasterFontName(ByteSource& file, std::string* name) {
    constexpr size_t kDosHeaderSize = 64, kNeOffsetField = 60, kNonResidentField = 44;
    uint8_t dosHeader[kDosHeaderSize];
    if (!ReadAt(file, 0, dosHeader, sizeof(dosHeader))) return false;
    const uint32_t neOffset = Le32(dosHeader + kNeOffsetField);
    if (neOffset == 0) return false;
    uint8_t field[4];
    if (!ReadAt(file, uint64_t{neOffset} + kNonResidentField, field, sizeof(field))) return false;
    const uint32_t namesOffset = Le32(field);
    if (namesOffset == 0) return false;
    uint8_t length = 0;
    if (!ReadAt(file, namesOffset, &length, 1)) return false;
    std::string text;
    if (!ReadStringAt(file, uint64_t{namesOffset} + 1, length, &text)) return false;
    CutAtZero(&text);
    *name = text;
    return true;
}

bool HasSfntTableDirectory(ByteSource& file, uint64_t size) {
    uint8_t offsetTable[kOffsetTableSize];
    if (!ReadAt(file, 0, offsetTable, sizeof(offsetTable))) return false;
    uint64_t base = 0;
    if (std::memcmp(offsetTable, "ttcf", 4) == 0) {
        // A collection: the first font's offset table.
        uint8_t first[4];
        if (Be32(offsetTable + 8) == 0 || !ReadAt(file, kOffsetTableSize, first, sizeof(first))) return false;
        base = Be32(first);
        if (!ReadAt(file, base, offsetTable, sizeof(offsetTable))) return false;
    }
    const uint16_t tables = Be16(offsetTable + 4);
    if (tables == 0 || base + kOffsetTableSize + uint64_t{kTableRecordSize} * tables > size) return false;
    for (uint16_t i = 0; i < tables; ++i) {
        uint8_t record[kTableRecordSize];
        if (!ReadAt(file, base + kOffsetTableSize + uint64_t{kTableRecordSize} * i, record, sizeof(record)))
            return false;
        for (int k = 0; k < 4; ++k)
            if (record[k] < 0x20 || record[k] > 0x7E) return false;
        if (uint64_t{Be32(record + 8)} + Be32(record + 12) > size) return false;
    }
    return true;
}

bool HasRasterFontResources(ByteSource& file, uint32_t neOffset, uint64_t size) {
    constexpr size_t kResourceTableField = 0x24;
    uint8_t field[2];
    if (!ReadAt(file, uint64_t{neOffset} + kResourceTableField, field, sizeof(field))) return false;
    // The resource table: an alignment shift, then one entry per type (type
    // id, count, 4 reserved bytes, count entries of 12 bytes), up to type 0.
    uint64_t at = uint64_t{neOffset} + Le16(field) + 2;
    for (unsigned i = 0; i < kMaxResourceTypes && at < size; ++i) {
        uint8_t type[8];
        if (!ReadAt(file, at, type, 2)) return false;
        if (Le16(type) == 0) return false;
        if (!ReadAt(file, at, type, sizeof(type))) return false;
        if (Le16(type) == kResourceTypeFont && Le16(type + 2) > 0) return true;
        at += sizeof(type) + 12u * Le16(type + 2);
    }
    return false;
}

}  // namespace orv
