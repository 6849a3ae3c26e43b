// App Paths entries, where the kernel's methods do not reach: rewritten,
// removed by file name with everything in them, refused or failing for real.
// (Install modes and search paths: KernelRestartComTests.)
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <memory>

#include "RestartTest.h"
#include "files/AppPaths.h"

using namespace orv::test;
using namespace orv::test::restart;
using orv::files::RegisterAppPath;
using orv::files::UnregisterAppPath;

namespace {

class AppPaths : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& name : m_names) SHDeleteKeyW(HKEY_LOCAL_MACHINE, Key(name).c_str());
    }
    // A program name no other test uses; its entry goes in TearDown.
    std::wstring NewProgram() {
        m_names.push_back(UniqueName(L"orvapp", L".exe"));
        return m_names.back();
    }
    static std::wstring Key(const std::wstring& name) { return std::wstring(kAppPathsKey) + L"\\" + name; }

    std::vector<std::wstring> m_names;
};

::testing::AssertionResult EntryIs(const std::wstring& name, const std::wstring& program, const std::wstring& path) {
    std::wstring actualDefault, actualPath;
    const std::wstring key = std::wstring(kAppPathsKey) + L"\\" + name;
    if (!ReadString(HKEY_LOCAL_MACHINE, key, nullptr, &actualDefault))
        return ::testing::AssertionFailure() << "no default value under " << Narrow(key);
    if (!ReadString(HKEY_LOCAL_MACHINE, key, L"Path", &actualPath))
        return ::testing::AssertionFailure() << "no Path value under " << Narrow(key);
    if (actualDefault != program || actualPath != path)
        return ::testing::AssertionFailure() << "entry (" << Narrow(actualDefault) << ", " << Narrow(actualPath)
                                             << "), expected (" << Narrow(program) << ", " << Narrow(path) << ")";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(AppPaths, RewritesAnEntryAndRemovesItWithEverythingInIt) {
    const std::wstring name = NewProgram();
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, Key(name), L"", REG_SZ, Utf16(L"D:\\Old\\" + name)));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, Key(name) + L"\\SupportedProtocols", L"x", REG_SZ, Utf16(L"y")));
    EXPECT_EQ(RegisterAppPath((L"C:\\New\\" + name).c_str(), L"E:\\More"), S_OK);
    EXPECT_TRUE(EntryIs(name, L"C:\\New\\" + name, L"C:\\New;E:\\More"));

    // Removal goes by the file name of the path, wherever it is now.
    EXPECT_EQ(Hex(UnregisterAppPath((L"Z:\\elsewhere\\" + name).c_str())), Hex(S_OK));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Key(name)));
    EXPECT_EQ(Hex(UnregisterAppPath((L"C:\\New\\" + name).c_str())), Hex(S_FALSE));
}

TEST_F(AppPaths, RefusedAndFailing) {
    const std::wstring name = NewProgram();
    // A sentinel entry proves that a refused path touches no other entry.
    const std::wstring sentinel = NewProgram();
    ASSERT_EQ(RegisterAppPath((L"C:\\S\\" + sentinel).c_str(), nullptr), S_OK);
    const std::wstring tooLong = L"C:\\" + std::wstring(252, L'd') + L"\\x.exe";
    struct Row {
        const char* label;
        std::wstring path;
        bool deny;
        HRESULT expected;
    } rows[] = {
        {"path too long", tooLong, false, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)},
        {"no file name", L"C:\\Program Files\\", false, HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"empty path", L"", false, HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"entry that cannot be written or deleted", L"C:\\P\\" + name, true, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::unique_ptr<DeniedKey> denied;
        if (row.deny) {
            ASSERT_EQ(RegisterAppPath(row.path.c_str(), nullptr), S_OK);
            denied.reset(new DeniedKey(HKEY_LOCAL_MACHINE, Key(name)));
            ASSERT_TRUE(denied->Denied());
        }
        EXPECT_EQ(Hex(RegisterAppPath(row.path.c_str(), L"X:\\")), Hex(row.expected));
        EXPECT_EQ(Hex(UnregisterAppPath(row.path.c_str())), Hex(row.expected));
        denied.reset();
        EXPECT_TRUE(EntryIs(sentinel, L"C:\\S\\" + sentinel, L"C:\\S"));
        if (row.deny) {
            EXPECT_TRUE(EntryIs(name, row.path, L"C:\\P"));  // as it was
        }
    }
    EXPECT_EQ(RegisterAppPath(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(UnregisterAppPath(nullptr), E_POINTER);
}
