// Work left for the next restart, for files in use now.
//
// NT family: the pending-rename list of MoveFileEx. A copy is a complete
// temporary copy of the source beside the target ("<base>_orvtmp<ext>") and
// two entries, in this order: delete the target, rename the copy to it.
// Windows 9x: the [rename] section of "wininit.ini" in the Windows folder,
// with short (8.3) paths, and for a target whose short name differs from its
// long one a RunOnce command that gives it its long name back. The section
// is read in full however long it is, and every line of other requests is
// kept (core/RenameSection.h); the read-modify-write is held under a lock
// that all processes running this kernel share.
#pragma once
#include <windows.h>

namespace orv::files {

// Replaces pszTarget by a copy of pszSource at the next restart. S_OK, or
// HRESULT_FROM_WIN32 of the failing step (logged). What was done before the
// failure stays (a temporary copy, a scheduled deletion).
HRESULT SchedulePostRebootCopy(LPCWSTR pszSource, LPCWSTR pszTarget);

// Deletes pszPath at the next restart. S_OK, or HRESULT_FROM_WIN32 of the
// failing step (logged).
HRESULT SchedulePostRebootDelete(LPCWSTR pszPath);

}  // namespace orv::files
