// Top key names at the start of a full registry key path.
#include <gtest/gtest.h>

#include <string>

#include "core/RegRoot.h"

namespace {

struct RootRow {
    const char* label;
    const wchar_t* path;
    orv::RegRoot root;
    const wchar_t* rest;  // null: no rest (unknown top key)
};

::testing::AssertionResult SplitsAs(const RootRow& row) {
    size_t offset = 12345;
    const orv::RegRoot root = orv::SplitRegRoot(row.path, &offset);
    if (root != row.root)
        return ::testing::AssertionFailure() << "root " << static_cast<int>(root) << ", expected "
                                             << static_cast<int>(row.root);
    if (!row.rest) {
        if (offset != 0) return ::testing::AssertionFailure() << "offset " << offset << " for an unknown key";
        return ::testing::AssertionSuccess();
    }
    const std::wstring rest(row.path + offset);
    if (rest != row.rest) return ::testing::AssertionFailure() << "rest differs (offset " << offset << ")";
    return ::testing::AssertionSuccess();
}

TEST(RegRoot, SplitsFullKeyPaths) {
    using R = orv::RegRoot;
    const RootRow rows[] = {
        {"full name", L"HKEY_LOCAL_MACHINE\\Software\\Orv", R::kLocalMachine, L"Software\\Orv"},
        {"abbreviation", L"HKLM\\Software", R::kLocalMachine, L"Software"},
        {"lower case", L"hkey_current_user\\Software", R::kCurrentUser, L"Software"},
        {"mixed case abbreviation", L"hKcU\\x", R::kCurrentUser, L"x"},
        {"classes root", L"HKEY_CLASSES_ROOT\\CLSID", R::kClassesRoot, L"CLSID"},
        {"users", L"HKEY_USERS\\.DEFAULT", R::kUsers, L".DEFAULT"},
        {"current config", L"HKEY_CURRENT_CONFIG\\System", R::kCurrentConfig, L"System"},
        {"performance data", L"HKEY_PERFORMANCE_DATA", R::kPerformanceData, L""},
        {"dyn data", L"HKEY_DYN_DATA\\Config Manager", R::kDynData, L"Config Manager"},
        {"HKCR", L"HKCR\\.txt", R::kClassesRoot, L".txt"},
        {"HKU", L"HKU\\S-1-5-18", R::kUsers, L"S-1-5-18"},
        {"top key only", L"HKCC", R::kCurrentConfig, L""},
        {"top key and backslash", L"HKLM\\", R::kLocalMachine, L""},
        {"doubled backslashes skipped", L"HKLM\\\\\\Software\\\\x", R::kLocalMachine, L"Software\\\\x"},
        {"longer name", L"HKLMX\\Software", R::kNone, nullptr},
        {"full name with suffix", L"HKEY_LOCAL_MACHINE_2\\x", R::kNone, nullptr},
        {"no abbreviation for performance data", L"HKPD\\x", R::kNone, nullptr},
        {"leading backslash", L"\\HKLM\\Software", R::kNone, nullptr},
        {"blank after name", L"HKLM \\Software", R::kNone, nullptr},
        {"forward slash is no separator", L"HKLM/Software", R::kNone, nullptr},
        {"empty", L"", R::kNone, nullptr},
        {"null", nullptr, R::kNone, nullptr},
    };
    for (const RootRow& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_TRUE(SplitsAs(row));
    }
}

}  // namespace
