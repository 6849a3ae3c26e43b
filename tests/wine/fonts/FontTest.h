// Helpers of the font tests: fonts made from DejaVu Sans or from a bare
// naming table, the fonts key, and the clean-up of what a test installed.
#pragma once
#include <shlwapi.h>

#include <atomic>

#include "FilesTest.h"
#include "Machine.h"

namespace orv::test::fonts {

inline const wchar_t kNtFontsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
inline const wchar_t k9xFontsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";

// DejaVu Sans with "DejaVu Sans" replaced in place in its Macintosh records by
// macName and in its Windows records by windowsName (11 bytes each; a leading
// zero byte makes a name empty), and "Version 2.37" by version (12 bytes).
inline std::string DejaVu(const std::string& macName, const std::string& windowsName,
                          const std::string& version = "Version 2.37") {
    static const std::string original = ReadBytes(L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
    const auto utf16 = [](const std::string& s) {
        std::string out;
        for (char c : s) out += {'\0', c};
        return out;
    };
    std::string bytes = original;
    for (const auto& [from, to] : {std::pair{std::string("Version 2.37"), version},
                                   {utf16("DejaVu Sans"), utf16(windowsName)},
                                   {std::string("DejaVu Sans"), macName}})
        for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
    return bytes;
}

// A table directory with nothing but a naming table that holds a Macintosh
// name: a font file by its tables, but no font the system can load.
inline std::string NameTableOnly(const std::string& name) {
    const auto be = [](uint32_t v, int width) {
        std::string out;
        for (int i = width - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
        return out;
    };
    const uint32_t n = static_cast<uint32_t>(name.size());
    return be(0x00010000, 4) + be(1, 2) + std::string(6, '\0') + "name" + be(0, 4) + be(28, 4) + be(18 + n, 4) +
           be(0, 2) + be(1, 2) + be(18, 2) + be(1, 2) + be(0, 4) + be(4, 2) + be(n, 2) + be(0, 2) + name;
}

inline std::wstring FontsDir() {
    WCHAR windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    return Join(windows, L"Fonts");
}
inline std::wstring ValueName(const std::string& fontName) { return Widen(fontName) + L" (TrueType)"; }
// The data of the font's entry, or "<none>".
inline std::wstring Entry(const std::string& fontName, const wchar_t* key = kNtFontsKey) {
    std::wstring data;
    return ReadString(HKEY_LOCAL_MACHINE, key, ValueName(fontName).c_str(), &data) ? data : L"<none>";
}
inline bool SetEntry(const std::string& fontName, const std::wstring& data) {
    return !SHSetValueW(HKEY_LOCAL_MACHINE, kNtFontsKey, ValueName(fontName).c_str(), REG_SZ, data.c_str(),
                        static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
}

// Hands out font names no other test uses; removes their entries (both keys)
// and the fonts folder files it named when it goes.
class FontCleanup {
public:
    ~FontCleanup() {
        for (const auto& name : m_names)
            for (const wchar_t* key : {kNtFontsKey, k9xFontsKey})
                SHDeleteValueW(HKEY_LOCAL_MACHINE, key, ValueName(name).c_str());
        for (const auto& file : m_files) DeleteFileW(file.c_str());
    }
    std::string Name() {
        static std::atomic<unsigned> counter{0};
        char name[16];
        snprintf(name, sizeof(name), "Orv%08lX", (GetCurrentProcessId() * 0x9E3779B1ul ^ counter++) & 0xFFFFFFFFul);
        return Track(name);
    }
    std::string Track(const std::string& name) { return m_names.emplace_back(name); }
    std::wstring InFontsDir(const std::wstring& file) { return m_files.emplace_back(Join(FontsDir(), file)); }

private:
    std::vector<std::string> m_names;
    std::vector<std::wstring> m_files;
};

}  // namespace orv::test::fonts
