// Where a shortcut goes: the shell folder argument of the link methods,
//   keyword[\sub-folder...]\name
// and the shell folder a keyword selects. Portable.
#pragma once
#include <string>

namespace orv {

// Shell folder identifiers (the system's CSIDL values).
enum ShellFolderId : int {
    kFolderDesktop = 0,               // the desktop (virtual folder)
    kFolderPrograms = 2,              // Programs menu
    kFolderStartup = 7,               // Startup folder
    kFolderStartMenu = 11,            // Start menu
    kFolderDesktopDirectory = 16,     // desktop directory
    kFolderCommonStartMenu = 22,      // all users' Start menu
    kFolderCommonPrograms = 23,       // all users' Programs menu
    kFolderCommonStartup = 24,        // all users' Startup folder
    kFolderCommonDesktopDirectory = 25,  // all users' desktop directory
};

struct LinkLocation {
    std::wstring keyword;     // the first component
    std::wstring subFolders;  // the components between the first and the last, as written
    std::wstring name;        // the last component: the shortcut's file name without ".lnk";
                              // empty for a keyword alone
};

// Splits the shell folder argument after removing one trailing backslash.
// Null text is empty. May throw std::bad_alloc.
LinkLocation SplitShellFolder(const wchar_t* text);

// The shell folder of a keyword: the first of "StartMenu", "Desktop",
// "ProgramFiles" (the Programs menu) and "Startup" that the keyword contains,
// letter case ignored; none gives the desktop. The folders shared by all
// users are chosen only when they are asked for on the NT family.
int GetShellFolderId(const wchar_t* keyword, bool allUsers, bool windowsNT);

}  // namespace orv
