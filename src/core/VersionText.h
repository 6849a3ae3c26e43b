// Text form of a four-part file version ("1.2.3.4"), shared by the utility
// library's version value and the native tests. Portable: no <windows.h>.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orv {

// Parses "a.b.c.d" (1 to 4 decimal parts, each 0..65535, surrounding blanks
// allowed). Missing trailing parts are 0. Returns false and leaves parts
// untouched on anything else.
bool ParseVersionText(const wchar_t* text, uint16_t parts[4]);

// Writes "a.b.c.d" into out (cch characters, always terminated when cch > 0).
// Returns the number of characters written without the terminator.
size_t FormatVersionText(const uint16_t parts[4], wchar_t* out, size_t cch);

}  // namespace orv
