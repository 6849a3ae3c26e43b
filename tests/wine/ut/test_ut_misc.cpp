// CWexSystem, CWexTools and CWexRegKey.
#include <shlobj.h>
#include <shlwapi.h>
#include "UtTest.h"

using namespace orv::test::ut;

TEST(WexSystem, FoldersAgreeWithTheShell) {
    const struct {
        LPCWSTR (*fn)();
        int csidl;
    } rows[] = {{&CWexSystem::GetSysDir, CSIDL_SYSTEM}, {&CWexSystem::GetFontsDir, CSIDL_FONTS},
                {&CWexSystem::GetCommonFilesDir, CSIDL_PROGRAM_FILES_COMMON}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.csidl);
        WCHAR shell[MAX_PATH] = {};
        ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, row.csidl, nullptr, SHGFP_TYPE_CURRENT, shell));
        const std::wstring dir = row.fn();
        EXPECT_TRUE(SameText(shell, dir));
        EXPECT_NE(L'\\', dir.back());
    }
}

// A helper program reports CheckOS(100) under the Windows version Wine
// pretends for it (HKCU\Software\Wine\AppDefaults\ut_checkos.exe).
TEST(WexSystem, CheckOS) {
    for (int osClass : {0, 99, 101, -1}) EXPECT_EQ(-1, CWexSystem::CheckOS(osClass)) << osClass;
    const std::pair<const wchar_t*, DWORD> rows[] = {{nullptr, 1}, {L"win98", 0}, {L"win95", 0}, {L"winxp", 1}};
    for (const auto& [version, expected] : rows)
        EXPECT_EQ(expected, RunAs(version, Join(SelfDir(), L"ut_checkos.exe"), L"checkos").exitCode) << (version ? Narrow(version) : "default");
}

TEST(WexTools, Blobs) {
    const struct {
        std::vector<BYTE> bytes;
        const wchar_t* text;
    } rows[] = {{{}, L""}, {{0xAB, 0x01, 0xf0}, L"AB01F0"}, {{0x01, 0x23, 0x45, 0x67, 0x89, 0xCD}, L"0123456789CD"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        BSTR text = CWexTools::BlobToString(row.bytes.data(), DWORD(row.bytes.size()));
        EXPECT_EQ(std::wstring(row.text), std::wstring(text, SysStringLen(text)));
        SysFreeString(text);
        BYTE out[8];
        ASSERT_EQ(row.bytes.size(), CWexTools::StringToBlob(out, 8, row.text));
        EXPECT_EQ(row.bytes, std::vector<BYTE>(out, out + row.bytes.size()));
    }
    // StringToBlob stops at the room, an odd last character, the first pair that is not hexadecimal.
    const struct {
        const wchar_t* text;
        DWORD room, written;
    } stops[] = {{L"0102030405", 4, 4}, {L"ab01f", 8, 2}, {L"01ZZ02", 8, 1}, {L" 01", 8, 0}, {nullptr, 8, 0}};
    for (const auto& row : stops) {
        BYTE out[8];
        memset(out, 0xCC, 8);
        EXPECT_EQ(row.written, CWexTools::StringToBlob(out, row.room, row.text));
        EXPECT_EQ(0xCC, out[row.written]) << "written past";
    }
}

TEST(WexRegKey, SplitKeyString) {
    const struct {
        const wchar_t* path;
        HKEY root;
        size_t rest;  // offset of the sub key
    } rows[] = {{L"HKEY_CLASSES_ROOT\\CLSID\\{x}", HKEY_CLASSES_ROOT, 18}, {L"hkcu\\\\Software\\", HKEY_CURRENT_USER, 6},
                {L"HKEY_DYN_DATA\\Config", HKEY_DYN_DATA, 14}, {L"HKCC", HKEY_CURRENT_CONFIG, 4},
                {L"HKEY_LOCAL_MACHINE2\\Software", nullptr, 0}, {nullptr, nullptr, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path ? Narrow(row.path) : "null");
        LPCWSTR sub = L"garbage";
        EXPECT_EQ(row.root, CWexRegKey::splitKeyString(row.path, &sub));
        EXPECT_EQ(row.root ? row.path + row.rest : nullptr, sub);
    }
}
