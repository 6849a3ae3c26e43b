// CWexSystem, CWexTools and CWexRegKey.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UtTest.h"
#include "platform/WexUt.h"

namespace {

using namespace orv::test;
using namespace orv::test::ut;

std::wstring ShellFolder(int csidl) {
    WCHAR path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : L"";
}

::testing::AssertionResult IsFolderText(LPCWSTR dir, const std::wstring& expected) {
    if (!dir) return ::testing::AssertionFailure() << "null";
    const std::wstring text(dir);
    if (text.empty()) return ::testing::AssertionFailure() << "empty";
    if (text.back() == L'\\') return ::testing::AssertionFailure() << Narrow(text) << " ends in a backslash";
    const DWORD attributes = GetFileAttributesW(dir);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::testing::AssertionFailure() << Narrow(text) << " is no folder";
    if (!CWexPath::PathIsEqual(dir, expected.c_str()))
        return ::testing::AssertionFailure() << Narrow(text) << " is not " << Narrow(expected);
    return ::testing::AssertionSuccess();
}

TEST(WexSystem, FoldersAgreeWithTheShell) {
    const struct {
        const char* label;
        LPCWSTR (*fn)();
        int csidl;
    } rows[] = {
        {"system", &CWexSystem::GetSysDir, CSIDL_SYSTEM},
        {"fonts", &CWexSystem::GetFontsDir, CSIDL_FONTS},
        {"common files", &CWexSystem::GetCommonFilesDir, CSIDL_PROGRAM_FILES_COMMON},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring expected = ShellFolder(row.csidl);
        ASSERT_FALSE(expected.empty());
        LPCWSTR first = row.fn();
        EXPECT_TRUE(IsFolderText(first, expected));
        EXPECT_EQ(first, row.fn()) << "computed once: the same text every time";
    }
}

TEST(WexSystem, CheckOSAnswersOnlyClass100) {
    EXPECT_EQ(1, CWexSystem::CheckOS(100));
    for (int osClass : {0, 1, 99, 101, 200, -1}) {
        SCOPED_TRACE(osClass);
        EXPECT_EQ(-1, CWexSystem::CheckOS(osClass));
    }
}

// A helper program reports CheckOS(100) under the Windows versions Wine
// pretends to be for it (HKCU\Software\Wine\AppDefaults\ut_checkos.exe).
TEST(WexSystem, CheckOSUnderOtherWindowsVersions) {
    WCHAR self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring helper(self);
    helper = helper.substr(0, helper.find_last_of(L'\\') + 1) + L"ut_checkos.exe";
    ASSERT_TRUE(FileExists(helper));
    const std::wstring key = L"Software\\Wine\\AppDefaults\\ut_checkos.exe";

    const struct {
        const wchar_t* version;  // null: Wine's default
        DWORD expected;
    } rows[] = {{nullptr, 1}, {L"win98", 0}, {L"win95", 0}, {L"winme", 0}, {L"nt40", 1}, {L"winxp", 1}, {L"win10", 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.version ? Narrow(row.version) : "default");
        SHDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
        if (row.version) {
            const DWORD bytes = static_cast<DWORD>((wcslen(row.version) + 1) * sizeof(WCHAR));
            ASSERT_EQ(ERROR_SUCCESS, SHSetValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, row.version, bytes));
        }
        const ProcessResult run = RunProcess(L"\"" + helper + L"\"", 30000);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(row.expected, run.exitCode) << run.output;
    }
    SHDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

TEST(WexTools, BlobToString) {
    const struct {
        const char* label;
        std::vector<BYTE> bytes;
        const wchar_t* text;
    } rows[] = {
        {"no bytes", {}, L""},
        {"zero", {0x00}, L"00"},
        {"memory order, upper case", {0xAB, 0x01, 0xf0}, L"AB01F0"},
        {"all nibbles", {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}, L"0123456789ABCDEF"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        BSTR text = CWexTools::BlobToString(row.bytes.data(), static_cast<DWORD>(row.bytes.size()));
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(wcslen(row.text), SysStringLen(text));
        EXPECT_STREQ(row.text, text);
        SysFreeString(text);
    }
    EXPECT_EQ(nullptr, CWexTools::BlobToString(nullptr, 4));
    BSTR empty = CWexTools::BlobToString(nullptr, 0);
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, SysStringLen(empty));
    SysFreeString(empty);
}

TEST(WexTools, StringToBlob) {
    const struct {
        const char* label;
        const wchar_t* text;
        DWORD room;
        std::vector<BYTE> bytes;
    } rows[] = {
        {"upper case", L"AB01F0", 8, {0xAB, 0x01, 0xF0}},
        {"lower case", L"ab01f0", 8, {0xAB, 0x01, 0xF0}},
        {"stops at the room", L"0102030405060708090A", 8, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"odd last character", L"ABC", 8, {0xAB}},
        {"single character", L"A", 8, {}},
        {"stops at a pair that is not hexadecimal", L"01ZZ02", 8, {0x01}},
        {"second character not hexadecimal", L"0G", 8, {}},
        {"leading blank", L" 01", 8, {}},
        {"empty", L"", 8, {}},
        {"no room", L"0102", 0, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        BYTE out[12];
        memset(out, 0xCC, sizeof(out));
        const DWORD written = CWexTools::StringToBlob(out, row.room, row.text);
        ASSERT_EQ(row.bytes.size(), written);
        EXPECT_EQ(0, memcmp(row.bytes.data(), out, written));
        for (size_t i = written; i < sizeof(out); ++i) ASSERT_EQ(0xCC, out[i]) << "byte " << i << " written";
    }
    BYTE out[4];
    EXPECT_EQ(0u, CWexTools::StringToBlob(out, 4, nullptr));
    EXPECT_EQ(0u, CWexTools::StringToBlob(nullptr, 4, L"0102"));
}

TEST(WexTools, FileTimeRoundTrip) {
    FILETIME times[3];
    GetSystemTimeAsFileTime(&times[0]);
    times[1] = FILETIME{0xFFFFFFFF, 0x7FFFFFFF};
    times[2] = FILETIME{0, 0};
    for (const FILETIME& ft : times) {
        SCOPED_TRACE(ft.dwLowDateTime);
        BSTR text = CWexTools::BlobToString(reinterpret_cast<const BYTE*>(&ft), sizeof(ft));
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(16u, SysStringLen(text));
        FILETIME back{0xdeadbeef, 0xdeadbeef};
        EXPECT_EQ(sizeof(back), CWexTools::StringToBlob(reinterpret_cast<BYTE*>(&back), sizeof(back), text));
        EXPECT_EQ(0, CompareFileTime(&ft, &back));
        SysFreeString(text);
    }
}

TEST(WexRegKey, SplitKeyString) {
    const struct {
        const wchar_t* path;
        HKEY root;
        const wchar_t* subKey;  // null: none
    } rows[] = {
        {L"HKEY_CLASSES_ROOT\\CLSID\\{x}", HKEY_CLASSES_ROOT, L"CLSID\\{x}"},
        {L"hkcu\\\\Software\\", HKEY_CURRENT_USER, L"Software\\"},
        {L"HKLM\\Software", HKEY_LOCAL_MACHINE, L"Software"},
        {L"HKEY_USERS\\.DEFAULT", HKEY_USERS, L".DEFAULT"},
        {L"HKCC", HKEY_CURRENT_CONFIG, L""},
        {L"HKEY_PERFORMANCE_DATA\\", HKEY_PERFORMANCE_DATA, L""},
        {L"HKEY_DYN_DATA\\Config Manager", HKEY_DYN_DATA, L"Config Manager"},
        {L"HKEY_LOCAL_MACHINE2\\Software", nullptr, nullptr},
        {L"", nullptr, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.path));
        LPCWSTR subKey = L"garbage";
        EXPECT_EQ(row.root, CWexRegKey::splitKeyString(row.path, &subKey));
        if (!row.subKey) {
            EXPECT_EQ(nullptr, subKey);
            continue;
        }
        ASSERT_NE(nullptr, subKey);
        EXPECT_STREQ(row.subKey, subKey);
        // The rest is the caller's own text, not a copy.
        EXPECT_EQ(row.path + wcslen(row.path) - wcslen(row.subKey), subKey);
        EXPECT_EQ(row.root, CWexRegKey::splitKeyString(row.path, nullptr));
    }
    LPCWSTR subKey = L"garbage";
    EXPECT_EQ(nullptr, CWexRegKey::splitKeyString(nullptr, &subKey));
    EXPECT_EQ(nullptr, subKey);
}

}  // namespace
