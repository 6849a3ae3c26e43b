// The system's fonts key below HKEY_LOCAL_MACHINE. Each entry is a string
// value: its name is the font name followed by " (TrueType)" (raster fonts
// too), its data the file's name alone for a file in the fonts folder, else
// the file's full path.
#pragma once
#include <windows.h>

#include <string>

namespace orv::fonts {

// "Software\Microsoft\Windows NT\CurrentVersion\Fonts" on the NT family,
// "Software\Microsoft\Windows\CurrentVersion\Fonts" on Windows 9x.
LPCWSTR FontsKeyPath();

// The file an entry's data designates: a bare file name lies in the fonts
// folder, anything else is a path. False for empty data and for a path that
// does not fit MAX_PATH.
bool EntryFilePath(LPCWSTR data, WCHAR (&path)[MAX_PATH]);

// The uninstall's clean-up: removes the first entry whose file is pszPath,
// whatever its name, and logs what it found. Problems are logged only.
void RemoveEntryOfFile(LPCWSTR pszPath);

}  // namespace orv::fonts

// The file of the first fonts key entry whose value name contains
// pszFontName (letter case counts). S_OK with strPath filled when that file
// exists; S_FALSE when it does not, when no entry matches, and for an empty
// name, which would match every entry; HRESULT_FROM_WIN32 of the error when
// the fonts key cannot be opened.
HRESULT FindInstalledFont(LPCWSTR pszFontName, std::wstring& strPath);
