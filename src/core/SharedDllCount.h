// SharedDLLs use counts as other installers store them. Portable (no
// <windows.h>).
//
// The system's own form is REG_DWORD, but counts are found as decimal text
// (REG_SZ, "2") and as four raw bytes (REG_BINARY) too. Taking the first four
// bytes of any type would read the text "2" as 50; a count is therefore read
// by its type and written back in the type it was found in.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

// Registry value types, numerically equal to REG_SZ, REG_EXPAND_SZ,
// REG_BINARY and REG_DWORD.
enum : uint32_t {
    kCountTypeString = 1,
    kCountTypeExpandString = 2,
    kCountTypeBinary = 3,
    kCountTypeDword = 4,
};

// Reads a count stored with registry type `type`:
//  - REG_DWORD and REG_BINARY: exactly 4 bytes, little-endian;
//  - REG_SZ and REG_EXPAND_SZ: UTF-16LE text up to its first NUL (or the end
//    of the data), decimal digits with blanks around them allowed, at most
//    4294967295. No sign, no hexadecimal.
// False, count untouched, for every other type or form.
bool DecodeSharedDllCount(uint32_t type, const uint8_t* data, size_t size, uint32_t& count);

// The data that stores count in type: 4 little-endian bytes, or the decimal
// text with its terminating NUL. False for a type that is not read above.
// May throw std::bad_alloc.
bool EncodeSharedDllCount(uint32_t type, uint32_t count, std::vector<uint8_t>& data);

// count + delta, no lower than 0 and no higher than 4294967295.
uint32_t ApplyCountDelta(uint32_t count, int32_t delta);

}  // namespace orv
