// The SharedDLLs use counts of libraries that several products share:
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs, one value per
// library, named by its path, holding the number of products that use it.
//
// A library's count is the value named by the canonical text of its path
// (CWexPath::PathMakeUnique), found by the registry without regard to letter
// case; or else a value whose name is another form of that path (short names
// and the like), which is found and updated under its own name. Counts are
// never taken from a cache: every look-up and every change reads the one
// value from the registry, and a change is a read-modify-write held under a
// lock that all processes running this kernel share, so a count changed by
// another installer is built upon, not overwritten.
//
// The other forms come from a process-wide cache of the value names that are
// not canonical text, filled by reading the key's names at the first look-up
// that finds no value of the canonical name, and read again only when the
// key's number of values or time of last change says that values came or went
// since (changes of this process are accounted for). A canonical text without
// a '~' is made without asking the file system: only an element with a '~'
// can be a short name. Every use of the cache takes one lock (the kernel is
// free-threaded). Counts stored as REG_SZ or REG_BINARY are read by their
// type and written back in it (core/SharedDllCount.h).
#pragma once
#include <windows.h>

namespace orv::files {

// Reads the key's value names into the cache unless it is current, and
// returns the number of values the key held then. 0 when the key cannot be opened.
size_t LoadSharedDllCounters();

// S_OK and the count of the library at pszPath; 0x80070002 when there is no
// value for it; HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when the value holds
// something that is not a count; 0x800700CE for a path that does not fit
// MAX_PATH; another 0x8007xxxx when the registry cannot be read.
HRESULT GetSharedDllCounter(LPCWSTR pszPath, DWORD* pdwCount);

// Changes the count by lDelta (floored at 0). A count that reaches 0 removes
// the value. S_OK; S_FALSE when there is no value and lDelta is not positive
// (nothing is written, the new count is 0); failures as above, the value
// then unchanged. *pdwNewCount is the new count, also when writing it
// failed (0 when it could not be worked out).
HRESULT AddToSharedDllCounter(LPCWSTR pszPath, LONG lDelta, DWORD* pdwNewCount);

}  // namespace orv::files
