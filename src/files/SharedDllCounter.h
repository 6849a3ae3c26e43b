// The SharedDLLs use counts of libraries that several products share:
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs, one value per
// library, named by its path, holding the number of products that use it.
//
// A process-wide cache maps the canonical form of a path
// (CWexPath::PathMakeUnique) to the value's own name, so that a value whose
// name differs from a path only in letter case, short names and the like is
// found and updated under its own name. Every read and change of the cache
// takes one lock (the kernel is free-threaded). Counts themselves are never
// taken from the cache: every look-up and every change re-reads the one value
// from the registry, and a change is a read-modify-write held under a lock
// that all processes running this kernel share, so a count changed by another
// installer after the cache was filled is built upon, not overwritten.
// Counts stored as REG_SZ or REG_BINARY are read by their type and written
// back in it (core/SharedDllCount.h).
#pragma once
#include <windows.h>

namespace orv::files {

// Fills the cache from the registry when it is empty (otherwise adds the
// values it does not know yet) and returns the number of entries. 0 when the
// key cannot be opened.
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
