// The applier of offline registration files: the files of type "Registry
// file" (CWexKrRegFile) and the ".cor" files of COM servers. The file is read
// by the portable reader (core/RegScript.h) and each section is applied as
// soon as it ends, with a private key holder whose 64-bit flag is clear:
// these files always work in the default registry view.
//
// Install: every missing key level is created and marked, every value written
// (replacing what is there). Uninstall: only in keys that carry the marker,
// only values whose type and data still equal the file's; then the removal
// walk takes the key and its kernel-created parents once they are empty.
//
// Everything that happens to single sections, lines and values is logged and
// does not change the file's result.
//
// Choices where the format leaves room (the reader's, see RegScript.h, and
// how they are reported here):
//  - A header without "]", naming only a top key ("[HKEY_CURRENT_USER]",
//    "[HKEY_CURRENT_USER\]"), holding a NUL or not convertible: error line
//    "Invalid section header <line> (<reason>): Skipping this key" (1010);
//    the section is skipped. Without "HKEY_" or with any other name: the
//    "Found invalid top key" line. Nothing is ever written into a root itself.
//  - A typed line without ":", a line holding a NUL, a placeholder with no
//    directory: warning "Skipping line <n> of the registration file
//    (<reason>): <line>"; nothing is written or deleted for it.
//  - Each byte of the file is the character of the same code (0 to 255),
//    whatever the ANSI code page: files written for one machine read the
//    same on every other.
//  - A value named like the key marker ("OrvCreateKey", in any letter case):
//    warning "Value <name> is the key marker: Skipping this value", in both
//    directions. Only key creation writes the marker; a script that wrote it
//    into a key it did not create would have uninstall take that key, with
//    everything in it.
//  - Placeholders are searched in the whole data, and the directory is used
//    whatever its length: registry data has no MAX_PATH limit.
//  - The file is opened by its wide path; a path of MAX_PATH characters or
//    more is refused (0x800700CE), as every MAX_PATH path of the kernel.
#pragma once
#include <windows.h>
#include <string>
#include <string_view>
#include "core/RegScript.h"

namespace orv {

enum class RegFileDirection { Install, UnInstall };

// Reads the file and applies its sections in file order, with pszDirectory as
// the directory of "%orvtargetdir%" (null: none; lines using it are then
// skipped). S_OK once the file has been read to its end. Failures, each with
// the error line "Error reading reg file": the file cannot be opened or read
// (HRESULT_FROM_WIN32 of the error), its path has 260 characters or more
// (0x800700CE), memory runs out (E_OUTOFMEMORY). A null path is E_POINTER.
HRESULT ReadRegistrationFile(LPCWSTR pszPath, LPCWSTR pszDirectory, RegFileDirection direction);

inline HRESULT InstallRegistrationFile(LPCWSTR pszPath, LPCWSTR pszTargetDir) {
    return ReadRegistrationFile(pszPath, pszTargetDir, RegFileDirection::Install);
}
inline HRESULT UnInstallRegistrationFile(LPCWSTR pszPath, LPCWSTR pszTargetDir) {
    return ReadRegistrationFile(pszPath, pszTargetDir, RegFileDirection::UnInstall);
}

// Applies one section read by RegScriptReader. S_OK; S_FALSE when there was
// nothing to uninstall (key missing, not created by the kernel, not
// openable) and for the lines before the first header; 0x800703F2 for a
// refused header (invalid or platform-refused top key, no "]", no key below
// the top key, unreadable header); 0x8007xxxx when the key cannot be created.
// Throws std::bad_alloc.
HRESULT ApplyRegistrySection(const RegScriptSection& section, RegFileDirection direction);

}  // namespace orv
