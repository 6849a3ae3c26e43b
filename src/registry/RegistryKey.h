// The registry key holder: one open key with the root and subkey path it was
// opened from, and the 64-bit flag that adds KEY_WOW64_64KEY to every open and
// creation while it is set. The kernel object holds one as its current key
// (IOrvRegKey's value methods act on it; its m_b64Bit is Use64BitHive); the
// registration-file applier makes a private one per section, flag clear.
//
// Ownership: every key level CreateMarkedKey creates gets the marker value
// "OrvCreateKey" (REG_DWORD 0). RemoveMarkedKeys deletes a key only when it
// carries the marker and holds nothing else, then goes on with its parent.
//
// Paths: empty components (leading, doubled or trailing backslashes) are
// skipped when a path is handed to the registry. A path without any component
// would name the predefined root itself: such a path is refused with
// ERROR_BADKEY, so the holder never hands out, writes into or deletes a root.
//
// The operations return Win32 codes and throw nothing; a failed allocation is
// ERROR_OUTOFMEMORY.
#pragma once
#include <windows.h>
#include <string>

// Name of the marker value written into each key level the kernel creates.
inline constexpr WCHAR kOrvCreateKeyMarker[] = L"OrvCreateKey";

class CWexKrRegistryKey {
public:
    CWexKrRegistryKey() = default;
    ~CWexKrRegistryKey() { Close(); }
    CWexKrRegistryKey(const CWexKrRegistryKey&) = delete;
    CWexKrRegistryKey& operator=(const CWexKrRegistryKey&) = delete;

    // Stores root and path, then opens root\path with samDesired (plus
    // KEY_WOW64_64KEY while m_b64Bit is set). On success the new handle
    // replaces the old one; on failure the held handle stays as it was.
    LONG OpenKey(HKEY hRoot, LPCWSTR pszPath, REGSAM samDesired);

    // Stores root and path, then creates the path level by level, each level
    // from the root with the whole partial path, and marks each level that is
    // new. pdwDisposition (optional) receives the deepest level's disposition.
    // Success: the deepest key is open. Failure: the holder is closed.
    LONG CreateMarkedKey(HKEY hRoot, LPCWSTR pszPath, DWORD dwOptions, REGSAM samDesired,
                         DWORD* pdwDisposition = nullptr);

    // The removal walk from root\path upwards: deletes each key that carries
    // the marker and holds no subkey and no value but the marker, stopping at
    // the first key that does not qualify. Afterwards the holder has the
    // starting key open if it is still there, and is closed if it was deleted.
    LONG RemoveMarkedKeys(HKEY hRoot, LPCWSTR pszPath);

    // Closes the handle if open.
    void Close();
    bool IsOpen() const { return m_hKey != nullptr; }

    // True when hKey holds a value "OrvCreateKey" of type REG_DWORD (its data
    // is not looked at).
    static bool HasMarker(HKEY hKey);
    // samDesired with KEY_WOW64_64KEY added while the flag is set.
    REGSAM Access(REGSAM samDesired) const {
        return m_b64Bit ? (samDesired | KEY_WOW64_64KEY) : samDesired;
    }

    HKEY m_hKey = nullptr;   // the open key, owned; null when none
    HKEY m_hRoot = nullptr;  // root of the last OpenKey or CreateMarkedKey
    std::wstring m_strPath;  // path below the root, as last given
    BYTE m_b64Bit = 0;       // set: KEY_WOW64_64KEY is added when opening or creating keys
};

namespace orv {

// The path's non-empty components joined by single backslashes ("" when it
// has none). Throws std::bad_alloc.
std::wstring NormalizeKeyPath(LPCWSTR pszPath);

// The registry's depth limit: a key path of more levels cannot exist. Creating
// one level after another from the root, a deeper path would take time that
// grows with the square of its depth before the registry refuses it.
constexpr size_t kMaxKeyDepth = 512;
// True when the path names at least one key below its root.
bool HasKeyComponent(LPCWSTR pszPath);

}  // namespace orv
