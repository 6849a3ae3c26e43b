// Interface of the file utility library TqOrvWexUt.dll: static file, path,
// system and version routines. Statuses are HRESULT-like: negative = failure.
// Strings are wide; path buffers hold MAX_PATH (260) characters.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include "platform/WexFileVersion.h"

#ifdef TQORVWEXUT_BUILD
#define WEXUT_API __declspec(dllexport)
#else
#define WEXUT_API __declspec(dllimport)
#endif

// File kind codes of CWexFile::GetType.
enum WexFileKind : int {
    WEX_KIND_PROGRAM = 0,       // PE image without the DLL characteristic
    WEX_KIND_LIBRARY = 1,       // PE image with IMAGE_FILE_DLL
    WEX_KIND_TYPELIB = 2,       // type library file ("MSFT" or "SLTG" header)
    WEX_KIND_TRUETYPE = 3,      // TrueType / OpenType font or collection, with a table directory
    WEX_KIND_RASTERFONT = 4,    // NE module holding font resources (font resource file, ".fon")
    WEX_KIND_REGISTRYFILE = 5,  // offline registration script (".reg", ".cor")
    WEX_KIND_DATA = 6,          // anything else
};

// Selector of GetTimeStamp: 2 = last write time (the only one the kernel uses).
enum : int { WEX_TIME_CREATION = 0, WEX_TIME_LASTACCESS = 1, WEX_TIME_LASTWRITE = 2 };

class WEXUT_API CWexFile {
public:
    // Kind by content (and, for registration scripts, by extension). A file
    // that cannot be read is WEX_KIND_DATA.
    static int GetType(LPCWSTR pszPath);
    // S_OK and a valid version from the fixed part of the version resource;
    // a failure HRESULT and a not-valid value when the file has none.
    static HRESULT GetVersion(LPCWSTR pszPath, CWexFileVersion& version);
    // A string of the version resource's first translation (or of 040904B0 /
    // 040904E4 when none is listed). pszBuffer null and cchBuffer 0: S_OK when
    // the value is present. Otherwise the value is copied, truncated to fit.
    // Missing value: HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND) or
    // ERROR_RESOURCE_NAME_NOT_FOUND.
    static HRESULT GetVersionInfo(LPCWSTR pszPath, LPCWSTR pszValueName, LPWSTR pszBuffer, DWORD cchBuffer);
    static HRESULT GetTimeStamp(LPCWSTR pszPath, FILETIME* pft, int selector);
    // Local time, like Explorer shows it.
    static HRESULT GetTimeStamp(LPCWSTR pszPath, SYSTEMTIME* pst, int selector);
    static HRESULT GetSize(LPCWSTR pszPath, DWORD* pdwSize);
    // Non-zero for an existing file (not a directory).
    static BOOL DoesExist(LPCWSTR pszPath);
};

class WEXUT_API CWexPath {
public:
    // Non-zero when both designate the same file or folder: the same full path
    // (letter case ignored, "\\?\" forms as their plain ones), else, when both
    // exist, the same volume serial number and file index (another drive
    // letter, a share, a hard link); else the same long-name form.
    static BOOL PathIsEqual(LPCWSTR pszPath1, LPCWSTR pszPath2);
    // Non-zero when two argument strings split into the same arguments
    // (quoting and blanks as the C runtime splits them; letter case ignored).
    static BOOL ArgumentsEqual(LPCWSTR pszArgs1, LPCWSTR pszArgs2);
    // Canonical text of a path for matching SharedDLLs value names: full path,
    // "." and ".." resolved, "/" as "\", long names of the parts that exist,
    // upper case. Returns pszOut (empty on failure or overflow).
    static LPWSTR PathMakeUnique(LPCWSTR pszPath, LPWSTR pszOut, DWORD cchOut);
    // Long-name form; the input unchanged when no long form exists. Returns pszOut.
    static LPWSTR PathMakeLongName(LPCWSTR pszPath, LPWSTR pszOut, DWORD cchOut);
};

class WEXUT_API CWexSystem {
public:
    // Each is computed once per process; no trailing backslash.
    static LPCWSTR GetSysDir();
    static LPCWSTR GetFontsDir();
    static LPCWSTR GetCommonFilesDir();
    // Class 100 asks "Windows NT family?": 1 there, 0 on Windows 9x.
    // Any other class: -1.
    static int CheckOS(int osClass);
};

class WEXUT_API CWexTools {
public:
    // Upper-case hexadecimal, two digits per byte in memory order. Caller frees with SysFreeString.
    static BSTR BlobToString(const BYTE* pBytes, DWORD cBytes);
    // Inverse; returns the bytes written (at most cBytes). Stops at the first
    // character pair that is not hexadecimal.
    static DWORD StringToBlob(BYTE* pBytes, DWORD cBytes, LPCWSTR pszText);
};

class WEXUT_API CWexRegKey {
public:
    // The predefined key named by the first component ("HKEY_LOCAL_MACHINE",
    // "HKLM", ...; letter case ignored) and *ppszSubKey pointed at the rest
    // (after the separating backslashes; "" when the path names only the top
    // key). Unknown name: NULL, *ppszSubKey set to NULL.
    static HKEY splitKeyString(LPCWSTR pszFullKey, LPCWSTR* ppszSubKey);
};
