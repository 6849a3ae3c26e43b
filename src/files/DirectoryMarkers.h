// Folders the kernel creates carry a hidden, empty marker file "__orv.dir";
// only folders with that marker (and nothing else) are removed again.
#pragma once
#include <windows.h>

// The marker's name; compared without regard to letter case.
constexpr WCHAR kWexKrFolderMarker[] = L"__orv.dir";

// Creates every missing folder of pszFolder, each with a marker. Folders that
// existed before never get one. S_OK, or HRESULT_FROM_WIN32 of the first
// failing creation (the folders made up to then stay, with their markers).
HRESULT CreateDirectoryTree(LPCWSTR pszFolder);

// Removes pszFolder and its parents, innermost first, for as long as a folder
// holds the marker and nothing else. S_OK when it stops at a folder it must
// keep; HRESULT_FROM_WIN32 of the error when a removal fails (the marker is
// then put back).
HRESULT RemoveCreatedDirectories(LPCWSTR pszFolder);

// True for a folder that holds nothing but (at most) the marker.
BOOL IsMarkerOnlyDirectory(LPCWSTR pszFolder);

// Both look at a folder's entries. A listing remembers a few entries that are
// neither the marker nor dot names; while one of them is still there, a look
// at its name alone proves the folder is not marker-only. The file at pszPath
// is gone (its remover says so, so that its name is not looked for in vain).
void ForgetFolderEntry(LPCWSTR pszPath);
