// Whether a file may be handed to the system's type library loader. The
// loader trusts the offsets of what it reads; given a type library that is
// cut short or whose tables point outside it, some loaders read past their
// buffer and bring the process down. The kernel therefore loads only type
// libraries whose frame holds: a stand-alone library ("MSFT" or "SLTG"), or
// the TYPELIB resource number 1 of a PE module, checked as below. Portable.
//
// Every offset and count taken from the bytes is checked against their size.
#pragma once
#include <cstddef>
#include <cstdint>

namespace orv {

// An "MSFT" library: the fixed header, the help DLL field when its flag is
// set, the table of type information offsets and the 15-entry segment
// directory lie in the bytes, and each segment that is present lies in them.
// An "SLTG" library: the header, the block entries, the "CompObj" magic, the
// index strings and the padding lie in the bytes, every block entry's next
// index is in range, and the blocks together fit in what follows.
bool IsWholeTypeLibrary(const uint8_t* data, size_t size);

// The file offset and length of the TYPELIB resource number 1 (first
// language) of a PE image of either bitness. False when the image has none,
// or when any step of the resource directory leaves the bytes.
bool FindTypeLibResource(const uint8_t* data, size_t size, uint64_t* offset, uint64_t* length);

// What the loader may be given: a whole stand-alone library, or a PE image
// whose TYPELIB resource is a whole library. Anything else (a 16-bit module,
// text, a cut image) is not handed to the loader.
bool MayLoadTypeLibrary(const uint8_t* data, size_t size);

}  // namespace orv
