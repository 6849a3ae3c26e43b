// Text work of the post-reboot operations, portable (no <windows.h>):
//  - the name of the temporary copy that replaces a target at restart;
//  - the [rename] section of "wininit.ini", where Windows 9x keeps the file
//    operations of the next restart: one "destination=source" line each,
//    "NUL=path" deleting path. WININIT carries the lines out in file order;
//  - the command that gives a file its long name back on Windows 9x.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Longest path the post-reboot operations keep, without the terminator
// (they work in MAX_PATH buffers).
inline constexpr size_t kMaxPathChars = 259;

// The temporary copy beside a target: the target's folder, its base name
// followed by "_orvtmp", then its extension. The target is split like
// _wsplitpath splits it: drive (a letter and ':'), folder (up to the last '\'
// or '/'), base name, extension (from the last '.' of the file name on).
// "C:\App\lib.dll" gives "C:\App\lib_orvtmp.dll", "C:\App\README" gives
// "C:\App\README_orvtmp". False (out empty) when the folder, base name or
// extension is longer than 255 characters or the result is longer than
// maxChars.
bool MakeTemporaryCopyPath(std::wstring_view target, std::wstring& out, size_t maxChars = kMaxPathChars);

// The file-name part of a path: the text after its last '\' or '/' (the whole
// text when there is none).
std::wstring_view FileNamePart(std::wstring_view path);

// Lines of a profile section in the form GetPrivateProfileSection returns it:
// count characters, each line ended by a NUL; an empty line ends the list. A
// last line without its NUL (a buffer cut short) is kept as it is.
std::vector<std::wstring> SplitProfileSection(const wchar_t* buffer, size_t count);

// The form WritePrivateProfileSection takes: every line ended by a NUL and
// one more NUL after the last line. Empty lines are left out: in this form
// they would end the list and cut off every line after them.
std::wstring JoinProfileSection(const std::vector<std::wstring>& lines);

// Schedules the deletion of shortPath: appends "NUL=<shortPath>" behind every
// existing line (several deletions keep one line each). Returns the line.
std::wstring AddRenameDelete(std::vector<std::wstring>& lines, std::wstring_view shortPath);

// Schedules the replacement of shortTarget by shortTemporary: removes the
// earlier lines about the same target ("NUL=<target>" and "<target>=...",
// names compared without regard to ASCII letter case, blanks around them
// ignored), then appends "NUL=<target>" and "<target>=<temporary>". Lines
// about other files stay as they are, in their order. The last request for a
// target is the one carried out, and a copy scheduled twice does not delete
// the target it has just put in place.
void AddRenameCopy(std::vector<std::wstring>& lines, std::wstring_view shortTarget,
                   std::wstring_view shortTemporary);

// The RunOnce command that renames the file WININIT left under its short
// name: command.com /c ren "<shortTarget>" "<longFileName>".
std::wstring MakeLongNameRestoreCommand(std::wstring_view shortTarget, std::wstring_view longFileName);

// True when the file-name part of a short path has a '~': its short name
// differs from its long one.
bool ShortNameDiffers(std::wstring_view shortPath);

}  // namespace orv
