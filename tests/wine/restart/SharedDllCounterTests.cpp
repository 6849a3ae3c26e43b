// SharedDLLs counts, also of other types and changed by other installers;
// the library rule below the system folder. (More: KernelRestartComTests.)
#include "RestartTest.h"
#include "files/FileModel.h"
#include "files/SharedDllCounter.h"
#include "platform/WexLog.h"

using namespace orv::test;
using namespace orv::test::restart;

namespace {

class SharedDlls : public ::testing::Test {
protected:
    void TearDown() override {
        DeleteSharedDllValuesContaining(m_tag);
        for (const std::wstring& name : m_otherNames) SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
    }
    std::wstring NewPath() { return m_temp / UniqueName(m_tag, L".dll"); }

    TempDir m_temp;
    std::wstring m_tag = UniqueName(L"orvsd", L"");
    std::vector<std::wstring> m_otherNames;  // values named without the tag
};

::testing::AssertionResult Is(HRESULT hr, DWORD count, HRESULT expectedHr, DWORD expectedCount) {
    if (hr == expectedHr && count == expectedCount) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "result " << Hex(hr) << " count " << count << ", expected "
                                         << Hex(expectedHr) << " count " << expectedCount;
}
::testing::AssertionResult Add(const std::wstring& path, LONG delta, HRESULT hr, DWORD count) {
    DWORD actual = 0xdeadbeef;
    const HRESULT result = orv::files::AddToSharedDllCounter(path.c_str(), delta, &actual);
    return Is(result, actual, hr, count);
}
::testing::AssertionResult Get(const std::wstring& path, HRESULT hr, DWORD count) {
    DWORD actual = 0xdeadbeef;
    const HRESULT result = orv::files::GetSharedDllCounter(path.c_str(), &actual);
    return Is(result, actual, hr, count);
}

}  // namespace

TEST_F(SharedDlls, CountsUpDownFlooredAtZeroAndChangedByOthers) {
    const std::wstring path = NewPath(), name = Canonical(path);
    // other: the count another installer leaves before the step (-1 deletes it, -2 leaves it alone);
    // stored: the REG_DWORD afterwards (-1: no value)
    struct Step { const char* label; long long other; LONG delta; HRESULT hr; DWORD count; long long stored; } steps[] = {
        {"no value yet", -2, 0, HRESULT_FROM_WIN32(2), 0, -1},
        {"a decrement without a value writes nothing", -2, -1, S_FALSE, 0, -1},
        {"first user", -2, 1, S_OK, 1, 1},
        {"second user", -2, 1, S_OK, 2, 2},
        {"raised by another installer after the load", 5, 1, S_OK, 6, 6},
        {"lowered by another installer", 2, -1, S_OK, 1, 1},
        {"removed by another installer, then counted again", -1, 1, S_OK, 1, 1},
        {"the last one leaves: the value goes", -2, -1, S_OK, 0, -1},
        {"several at once", -2, 3, S_OK, 3, 3},
        {"below zero floors at zero", -2, -5, S_OK, 0, -1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        if (step.other == -1) DeleteSharedDllValuesContaining(name);
        ASSERT_TRUE(step.other < 0 || SetCount(name, REG_DWORD, Dword(DWORD(step.other))));
        EXPECT_TRUE(step.delta ? Add(path, step.delta, step.hr, step.count) : Get(path, step.hr, step.count));
        EXPECT_EQ(DwordCount(name), step.stored);
    }
}

TEST_F(SharedDlls, CountsOfOtherTypesAreReadByTypeAndWrittenBackInIt) {
    struct Row { const char* label; DWORD type; std::string data; LONG delta; HRESULT hr; DWORD before, count;
                 std::string after; } rows[] = {
        {"decimal text \"2\" is 2, not 50", REG_SZ, Utf16(L"2"), 1, S_OK, 2, 3, Utf16(L"3")},
        {"text with blanks, expandable", REG_EXPAND_SZ, Utf16(L" 7 "), 1, S_OK, 7, 8, Utf16(L"8")},
        {"four raw bytes", REG_BINARY, Dword(4), 1, S_OK, 4, 5, Dword(5)},
        {"text that is no number", REG_SZ, Utf16(L"two"), 1, HRESULT_FROM_WIN32(ERROR_INVALID_DATA), 0, 0,
         Utf16(L"two")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = NewPath();
        ASSERT_TRUE(SetCount(Canonical(path), row.type, row.data));
        EXPECT_TRUE(Get(path, SUCCEEDED(row.hr) ? S_OK : row.hr, row.before));
        EXPECT_TRUE(Add(path, row.delta, row.hr, row.count));
        const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, Canonical(path));
        EXPECT_EQ(value.exists, !row.after.empty());
        EXPECT_TRUE(!value.exists || (value.type == row.type && value.data == row.after));
    }
}

TEST_F(SharedDlls, CountsUnderAShortFormOfThePathKeepTheirName) {
    const std::wstring folder = m_temp / (m_tag + L" folder with a long name");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring shortFolder = ShortPath(folder);
    ASSERT_NE(shortFolder, folder);
    const std::wstring early = Join(folder, L"early.dll"), late = Join(folder, L"late.dll");
    m_otherNames = {Join(shortFolder, L"early.dll"), Join(shortFolder, L"late.dll")};
    ASSERT_TRUE(SetCount(m_otherNames[0], REG_DWORD, Dword(2)));
    EXPECT_TRUE(Get(early, S_OK, 2));
    EXPECT_TRUE(Get(late, HRESULT_FROM_WIN32(2), 0));
    // Another installer counts a library under its short form after the names were read.
    ASSERT_TRUE(SetCount(m_otherNames[1], REG_DWORD, Dword(5)));
    EXPECT_TRUE(Add(late, 1, S_OK, 6));
    EXPECT_TRUE(Add(early, -2, S_OK, 0));
    EXPECT_EQ(DwordCount(m_otherNames[1]), 6);
    EXPECT_EQ(DwordCount(m_otherNames[0]), -1);
    EXPECT_TRUE(SharedDllValuesContaining(m_tag).empty()) << "a value of the long form was made";
}

TEST_F(SharedDlls, BelowTheSystemFolderOnlyServersAreCounted) {
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    const std::wstring folder = Join(SystemDir(), m_tag);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (bool server : {false, true}) {
        SCOPED_TRACE(server ? "library that exports DllRegisterServer" : "plain library");
        const std::wstring target = Join(folder, UniqueName(L"lib", L".dll"));
        CWexKrDllFile library(Fixture(server ? L"server.dll" : L"lib_v1.dll").c_str());
        library.m_bSharedDllCounter = TRUE;
        EXPECT_EQ(Hex(library.Install(target.c_str(), 0)), Hex(S_OK));
        EXPECT_EQ(DwordCount(Canonical(target)), server ? 1 : -1);
    }
    RemoveTree(folder);
    WexStopLog(GetCurrentThreadId());
}
