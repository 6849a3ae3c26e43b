// Steps shared by the data-file rule and the version rule, and the copy that
// never loses the file it replaces.
#pragma once
#include <windows.h>

#include "platform/FileFacts.h"

namespace orv::files {

// Non-null and short enough for a MAX_PATH buffer with its terminator.
bool PathFits(LPCWSTR path);
// The error line and result for a path that does not fit: 0x800700CE.
HRESULT RefusePathTooLong(LPCWSTR path);

// CWexPath::PathMakeLongName into a MAX_PATH buffer. Only an element with a
// '~' can be a short name; a path without one is its own long form, and the
// file system is asked only for the others.
void LongNameOf(LPCWSTR path, WCHAR (&out)[MAX_PATH]);
// CWexPath::PathIsEqual: both paths designate the same file or folder. The
// same text (full path, letter case ignored) decides at once; otherwise the
// file identity (volume serial number and file index) when both exist, so
// that another drive letter, a "\\?\" form or a hard link is seen through.
bool IsSameFile(LPCWSTR path1, LPCWSTR path2);
// The same with what is known of both already: a second path that names
// nothing can be the first file only by its text, so the file system is not
// asked about it again (in a large folder a name that is not there can cost
// a search through all of it); other texts whose facts tell the files apart
// are two files.
bool IsSameFile(LPCWSTR path1, const orv::FileFacts& facts1, LPCWSTR path2, const orv::FileFacts& facts2);

// The kernel works on regular disk files only. S_OK when path names one, or
// names nothing yet (a target to be made); otherwise the refusal, logged
// before anything is opened: a folder or a drive root gives
// kWexKrHrNotAFileFolder (unless folderAllowed: the directory argument a
// registration file is applied with), a device name (CON, NUL, COM1, LPT1,
// ... in any folder and with any extension, "\\.\" names: what the system's
// full path makes a device) kWexKrHrNotAFileDevice. Nothing is opened here;
// where the kernel opens a file to read it (type detection, the image
// reader), it reads only what opens as a disk file.
// attributes: where not null, the path's attributes as the check read them
// (INVALID_FILE_ATTRIBUTES when it names nothing or cannot be asked), read
// also when a folder is allowed: the caller's test whether the file exists.
HRESULT RefuseIfNotAFile(LPCWSTR path, bool folderAllowed = false, DWORD* attributes = nullptr);
// The folder part of that check alone, for the copy rules' targets.
HRESULT RefuseIfFolder(LPCWSTR path);
// The copy rules' one look at their target: what the file system says of it
// (nothing known when it names nothing or cannot be asked), or the refusal
// of a folder as RefuseIfFolder gives it.
HRESULT LookAtTarget(LPCWSTR target, orv::FileFacts* facts);

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
// Read-only and system taken off a target that could not be overwritten,
// each announced with its log line.
void ClearReadOnlyAndSystem(LPCWSTR target);

// The folder step of both install rules: a missing target folder is created
// with markers. S_OK, or the failing result of the creation (already logged).
HRESULT PrepareTargetFolder(LPCWSTR target);

// The "\\?\" form of path's full path ("\\?\UNC\" for a share), which the
// file functions take beyond MAX_PATH. False when it does not fit cchOut.
bool ExtendedLengthPath(LPCWSTR path, WCHAR* out, size_t cchOut);

// Characters of a temporary path: a "\\?\" full path beside a target whose
// folder leaves no room for the name under MAX_PATH.
constexpr size_t kTemporaryPathChars = MAX_PATH + 32;

// A complete copy of a source sitting beside its target under a temporary
// name ("_orv", then the owner's process id and a counter, eight hexadecimal
// digits each), until it is moved onto the target or discarded. Whatever
// happens, it is gone when the object is; a copy left by a process that was
// ended meanwhile is stale: before its first copy into a folder, a process
// removes the stale copies there (a copy whose owner still runs, or cannot
// be asked, is never touched).
class TemporaryCopy {
public:
    TemporaryCopy() { m_szPath[0] = 0; }
    ~TemporaryCopy() { Discard(); }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    // Copies source in full into a new file in target's folder. 0, or the
    // Win32 error of the copy (nothing is left behind then); ERROR_FILE_INVALID
    // when the source changed while it was copied (its size or time), since
    // the copy would then be a part of it.
    // open: a handle of source with read access to copy from (read from its
    // start, left open), or INVALID_HANDLE_VALUE to open source here.
    DWORD Create(LPCWSTR source, LPCWSTR target, HANDLE open = INVALID_HANDLE_VALUE);
    // Renames the copy to target, replacing what is there (unless replace is
    // false: then a file there fails it with ERROR_ALREADY_EXISTS). 0, or the
    // Win32 error of the rename (the copy is discarded, target is as it was).
    DWORD MoveOnto(LPCWSTR target, bool replace = true);

    // How SwapInto ended.
    enum class Swap {
        kReplaced,        // the copy has the target's name; the previous file is deleted or will be
        kTargetStays,     // the target could not leave its name: nothing changed
        kTargetRestored,  // the copy could not take the name: the previous file has it back
        kTargetAside,     // neither: the previous file is kept under AsidePath()
    };
    // The last step for a target that cannot be written over, because others
    // hold it open (letting it be renamed or deleted): the target leaves its
    // name for a temporary one beside it, the copy takes the name, and only
    // then is the previous file deleted (by the system once its last handle
    // closes, else at the next restart). It is never deleted before the copy
    // has its name; when the copy cannot take it, it is moved back. The copy
    // is gone afterwards in every case.
    Swap SwapInto(LPCWSTR target);
    LPCWSTR AsidePath() const { return m_szAside; }

    void Discard();

    bool IsLive() const { return m_bLive; }
    LPCWSTR Path() const { return m_szPath; }

private:
    // Gives the copy target's name (replacing what has it, when replace).
    // 0, or the Win32 error of the rename; the copy stays as it was then.
    DWORD RenameTo(LPCWSTR target, bool replace);
    void CloseCopy();

    // Open from its creation until it has the target's name or is discarded.
    HANDLE m_hCopy = INVALID_HANDLE_VALUE;
    WCHAR m_szPath[kTemporaryPathChars];
    WCHAR m_szAside[kTemporaryPathChars] = {0};
    bool m_bLive = false;
};

// A copy that replaces target only with a complete copy of source: the
// temporary copy, then the rename, also where no target is yet, so that a
// copy broken off (even with its process) never leaves a part of the file
// under the target's name. 0, or the Win32 error of the failing step; on
// failure target is as it was and no temporary file remains.
// With replace false, a file at target fails it with ERROR_ALREADY_EXISTS.
// open: as for TemporaryCopy::Create.
DWORD CopyOnto(LPCWSTR source, LPCWSTR target, bool replace = true, HANDLE open = INVALID_HANDLE_VALUE);

}  // namespace orv::files
