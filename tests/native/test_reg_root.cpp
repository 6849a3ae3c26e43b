// Top key names at the start of a full registry key path.
#include <gtest/gtest.h>

#include <string>

#include "core/RegRoot.h"

namespace {

TEST(RegRoot, SplitsFullKeyPaths) {
    using R = orv::RegRoot;
    const struct { const wchar_t* path; R root; const wchar_t* rest; } rows[] = {  // rest null: offset 0
        {L"HKEY_LOCAL_MACHINE\\Software\\Orv", R::kLocalMachine, L"Software\\Orv"},
        {L"hkey_current_user\\Software", R::kCurrentUser, L"Software"},
        {L"hKcU\\x", R::kCurrentUser, L"x"},
        {L"HKEY_CLASSES_ROOT\\CLSID", R::kClassesRoot, L"CLSID"},
        {L"HKEY_USERS\\.DEFAULT", R::kUsers, L".DEFAULT"},
        {L"HKEY_CURRENT_CONFIG\\System", R::kCurrentConfig, L"System"},
        {L"HKEY_PERFORMANCE_DATA", R::kPerformanceData, L""},
        {L"HKEY_DYN_DATA\\Config Manager", R::kDynData, L"Config Manager"},
        {L"HKCR\\.txt", R::kClassesRoot, L".txt"},
        {L"HKU\\S-1-5-18", R::kUsers, L"S-1-5-18"},
        {L"HKCC", R::kCurrentConfig, L""},
        {L"HKLM\\\\\\Software\\\\x", R::kLocalMachine, L"Software\\\\x"},
        {L"HKLMX\\Software", R::kNone, nullptr},
        {L"HKEY_LOCAL_MACHINE_2\\x", R::kNone, nullptr},
        {L"HKPD\\x", R::kNone, nullptr},
        {L"\\HKLM\\Software", R::kNone, nullptr},
        {L"HKLM/Software", R::kNone, nullptr},
        {L"", R::kNone, nullptr},
        {nullptr, R::kNone, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.path ? row.path : L"(null)")));
        size_t offset = 12345;
        EXPECT_EQ(static_cast<int>(row.root), static_cast<int>(orv::SplitRegRoot(row.path, &offset)));
        if (row.rest) EXPECT_EQ(std::wstring(row.rest), std::wstring(row.path + offset));
        else EXPECT_EQ(0u, offset);
    }
}

}  // namespace
