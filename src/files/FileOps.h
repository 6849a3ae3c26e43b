// Steps shared by the data-file rule and the version rule, and the copy that
// never loses the file it replaces.
#pragma once
#include <windows.h>

namespace orv::files {

// Non-null and short enough for a MAX_PATH buffer with its terminator.
bool PathFits(LPCWSTR path);
// The error line and result for a path that does not fit: 0x800700CE.
HRESULT RefusePathTooLong(LPCWSTR path);

// CWexPath::PathMakeLongName into a MAX_PATH buffer. Only an element with a
// '~' can be a short name; a path without one is its own long form, and the
// file system is asked only for the others.
void LongNameOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]);
// CWexPath::PathIsEqual: both paths name the same file (full path, long
// names, letter case ignored). Paths without a '~' are compared by their full
// form alone, with no file-system lookup.
bool IsSameFile(LPCWSTR path1, LPCWSTR path2);

// Errors that mean "in use": sharing violation, user-mapped section, access denied.
bool IsInUseError(DWORD error);

// The folder of path: path without its last element (PathRemoveFileSpecW).
// False, with out empty, when path does not fit MAX_PATH.
bool FolderOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]);

// Before an existing target is overwritten: a read-only attribute is
// announced and removed; a failure is logged and the rule goes on.
void RemoveReadOnlyBeforeOverwrite(LPCWSTR target);
// After a successful copy: a read-only attribute of the new target is cleared, silently.
void ClearReadOnly(LPCWSTR path);
// Attributes with the given bits removed; FILE_ATTRIBUTE_NORMAL when none remain.
DWORD AttributesWithout(DWORD attributes, DWORD bits);

// The folder step of both install rules: a missing target folder is created
// with markers. S_OK, or the failing result of the creation (already logged).
HRESULT PrepareTargetFolder(LPCWSTR target);

// A complete copy of a source sitting beside its target under a temporary
// name ("_orv" and a unique suffix), until it is moved onto the target or
// discarded. Whatever happens, it is gone when the object is.
class TemporaryCopy {
public:
    TemporaryCopy() { m_szPath[0] = 0; }
    ~TemporaryCopy() { Discard(); }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    // Copies source in full into a new file in target's folder. 0, or the
    // Win32 error of the copy (nothing is left behind then).
    DWORD Create(LPCWSTR source, LPCWSTR target);
    // Renames the copy to target, replacing what is there. 0, or the Win32
    // error of the rename (the copy is discarded, target is as it was).
    DWORD MoveOnto(LPCWSTR target);
    void Discard();

    bool IsLive() const { return m_bLive; }
    LPCWSTR Path() const { return m_szPath; }

private:
    WCHAR m_szPath[MAX_PATH];
    bool m_bLive = false;
};

// A copy that replaces target only with a complete copy of source: the
// temporary copy, then the rename. A target that does not exist is copied to
// directly (the copy can only create it; a part left by a copy that broke
// off is removed). 0, or the Win32 error of the failing step; on failure
// target is as it was and no temporary file remains.
DWORD CopyOnto(LPCWSTR source, LPCWSTR target);

}  // namespace orv::files
