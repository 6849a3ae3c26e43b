// A font's name and version, read from the font file's own tables: the
// naming table of a TrueType/OpenType (sfnt) file, and the module
// description of a raster font resource file (a 16-bit NE module).
// Portable: no <windows.h>.
//
// The readers work over a small read/seek interface and read only the
// headers and records they need, each in a small read: a file is never
// mapped or loaded whole. A structure that the end of the file cuts short is
// treated as absent; only a string may be shorter than its record says, and
// then the bytes delivered are the string.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

// The file the readers work on.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Moves the position to offset bytes from the start of the file. A
    // position past the end is allowed; reads there deliver nothing.
    // False when the platform refuses the move.
    virtual bool Seek(uint64_t offset) = 0;
    // Reads up to size bytes at the position and moves past them; *read is
    // the count delivered, less than size at the end of the file. False on a
    // read error.
    virtual bool Read(void* buffer, size_t size, size_t* read) = 0;
};

// Bytes in memory as a file (tests and fuzzing).
class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, size_t size) : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}
    bool Seek(uint64_t offset) override;
    bool Read(void* buffer, size_t size, size_t* read) override;

private:
    const uint8_t* m_data;
    size_t m_size;
    uint64_t m_position = 0;
};

// Only this many table records of an sfnt table directory are examined.
constexpr uint16_t kSfntMaxTableRecords = 40;

// What the naming table walk found.
struct SfntNames {
    // A Macintosh full-name record (platform 1, name ID 4) was read; its
    // bytes up to the first zero byte, single-byte text (ANSI code page).
    // With several such records the last one in the table gives the name.
    bool nameFound = false;
    std::string fullName;
    // A Macintosh version record (platform 1, name ID 5) was read; the
    // version its text gives (ParseFontVersion), the last such record's.
    bool versionFound = false;
    uint16_t version[4] = {0, 0, 0, 0};
    // The full name of the Windows-platform Unicode records (platform 3,
    // encodings 0, 1 and 10; UTF-16 big-endian), up to its first zero: the
    // U.S. English record's, else the first one's. Many current fonts carry
    // no Macintosh records at all; this is the name they are known by.
    std::u16string windowsFullName;
};

// Walks the table directory at offset 0 (at most kSfntMaxTableRecords
// records) to every table tagged "name" and reads its records. Records,
// tables and strings that cannot be read are passed over; names is filled
// with what was found (it starts empty).
void ReadSfntNames(ByteSource& file, SfntNames* names);

// The version a font's version text gives: from the first "version" (any
// letter case), or from the start of the text when it has none, the first
// run of digits and dots; its first two dot-separated numbers (empty pieces
// skipped) are the first two parts, each number's low 16 bits; the last two
// parts are 0. A text with no digit after the start gives 0.0.0.0 (no
// version); a single number n gives n.0.0.0. text is zero-terminated.
void ParseFontVersion(const char* text, uint16_t parts[4]);

// The module description of a raster font file: the first entry of the
// non-resident names table of the NE header named by the DOS header (offset
// at 60; the non-resident names table's file offset at 44 of the NE header).
// Neither signature is tested. True, with its bytes up to the first zero in
// *name, when the entry was read (an entry of length 0 gives ""); false, with
// *name untouched, otherwise (a zero offset on the way ends the read).
bool ReadRasterFontName(ByteSource& file, std::string* name);

// Type detection: what makes a file a font file, beyond its first bytes.
// An sfnt file (or the first font of a collection) has a table directory of
// at least one record that lies in the file, whose tags are printable text
// and whose tables lie in the file. size is the file's size.
bool HasSfntTableDirectory(ByteSource& file, uint64_t size);
// An NE module holds font resources (resource type RT_FONT) in its resource
// table. neOffset is the NE header's file offset.
bool HasRasterFontResources(ByteSource& file, uint32_t neOffset, uint64_t size);

}  // namespace orv
