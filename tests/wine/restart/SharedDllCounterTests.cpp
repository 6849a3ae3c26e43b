// SharedDLLs counts: up, down, away at zero; counts stored by other
// installers in other types or under other name forms; counts changed by
// another installer after the cache was filled; many threads at once (many
// processes: KernelRestartComTests); and registry failures that really happen.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "RestartTest.h"
#include "files/SharedDllCounter.h"
#include "platform/WexUt.h"

using namespace orv::test;
using namespace orv::test::restart;
using orv::files::AddToSharedDllCounter;
using orv::files::GetSharedDllCounter;
using orv::files::LoadSharedDllCounters;

namespace {

class SharedDlls : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& name : SharedDllValuesContaining(m_tag))
            SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
        for (const std::wstring& name : m_otherNames) SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
    }
    // A library path of this test alone (the file need not exist).
    std::wstring NewPath() { return m_temp / (m_tag + L"_" + UniqueName(L"lib", L".dll")); }
    static std::wstring Canonical(const std::wstring& path) {
        WCHAR out[MAX_PATH];
        return CWexPath::PathMakeUnique(path.c_str(), out, MAX_PATH);
    }

    TempDir m_temp;
    std::wstring m_tag = UniqueName(L"orvsd", L"");
    std::vector<std::wstring> m_otherNames;  // values whose names do not hold the tag
};

struct Counted {
    HRESULT hr;
    DWORD count;
};
Counted Add(const std::wstring& path, LONG delta) {
    Counted c{E_FAIL, 0xdeadbeef};
    c.hr = AddToSharedDllCounter(path.c_str(), delta, &c.count);
    return c;
}
Counted Get(const std::wstring& path) {
    Counted c{E_FAIL, 0xdeadbeef};
    c.hr = GetSharedDllCounter(path.c_str(), &c.count);
    return c;
}

::testing::AssertionResult Is(const Counted& actual, HRESULT hr, DWORD count) {
    if (actual.hr == hr && actual.count == count) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "result " << Hex(actual.hr) << " count " << actual.count << ", expected "
                                         << Hex(hr) << " count " << count;
}

}  // namespace

TEST_F(SharedDlls, CountsUpDownAndAwayAtZero) {
    const std::wstring path = NewPath(), name = Canonical(path);
    struct Step {
        const char* label;
        bool add;
        LONG delta;
        HRESULT hr;
        DWORD count;
        long long stored;  // REG_DWORD under the canonical name; -1 none
    } steps[] = {
        {"no value yet", false, 0, HRESULT_FROM_WIN32(2), 0, -1},
        {"a decrement without a value writes nothing", true, -1, S_FALSE, 0, -1},
        {"a zero change without a value writes nothing", true, 0, S_FALSE, 0, -1},
        {"first user", true, 1, S_OK, 1, 1},
        {"second user", true, 1, S_OK, 2, 2},
        {"read back", false, 0, S_OK, 2, 2},
        {"one user leaves", true, -1, S_OK, 1, 1},
        {"the last one leaves: the value goes", true, -1, S_OK, 0, -1},
        {"gone", false, 0, HRESULT_FROM_WIN32(2), 0, -1},
        {"several at once", true, 3, S_OK, 3, 3},
        {"below zero floors at zero", true, -5, S_OK, 0, -1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        EXPECT_TRUE(Is(step.add ? Add(path, step.delta) : Get(path), step.hr, step.count));
        EXPECT_EQ(DwordCount(name), step.stored);
    }
    EXPECT_EQ(SharedDllValuesContaining(m_tag).size(), 0u);
}

TEST_F(SharedDlls, CountsOfOtherTypesAreReadByTypeAndWrittenBackInIt) {
    struct Row {
        const char* label;
        DWORD type;
        std::string data;
        LONG delta;
        HRESULT hr;
        DWORD count;
        std::string after;  // empty: the value is gone
    } rows[] = {
        {"decimal text \"2\" is 2, not 50", REG_SZ, Utf16(L"2"), 1, S_OK, 3, Utf16(L"3")},
        {"decimal text down", REG_SZ, Utf16(L"2"), -1, S_OK, 1, Utf16(L"1")},
        {"decimal text to zero", REG_SZ, Utf16(L"1"), -1, S_OK, 0, ""},
        {"text with blanks, expandable", REG_EXPAND_SZ, Utf16(L" 7 "), 1, S_OK, 8, Utf16(L"8")},
        {"four raw bytes", REG_BINARY, Dword(4), 1, S_OK, 5, Dword(5)},
        {"double word", REG_DWORD, Dword(9), -2, S_OK, 7, Dword(7)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = NewPath(), name = Canonical(path);
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, row.type, row.data));
        EXPECT_TRUE(Is(Get(path), S_OK, static_cast<DWORD>(static_cast<LONG>(row.count) - row.delta)));
        EXPECT_TRUE(Is(Add(path, row.delta), row.hr, row.count));
        const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
        EXPECT_EQ(value.exists, !row.after.empty());
        if (value.exists) {
            EXPECT_EQ(value.type, row.type);
            EXPECT_EQ(value.data, row.after);
        }
    }
}

TEST_F(SharedDlls, ValuesThatHoldNoCountAreLeftAlone) {
    struct Row {
        const char* label;
        DWORD type;
        std::string data;
    } rows[] = {
        {"text that is no number", REG_SZ, Utf16(L"two")},
        {"eight raw bytes", REG_BINARY, std::string(8, '\1')},
        {"multi-string", REG_MULTI_SZ, Utf16(L"1") + std::string(2, '\0')},
        {"long text", REG_SZ, Utf16(std::wstring(100, L'1'))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = NewPath(), name = Canonical(path);
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, row.type, row.data));
        EXPECT_TRUE(Is(Get(path), HRESULT_FROM_WIN32(ERROR_INVALID_DATA), 0));
        for (LONG delta : {1, -1}) EXPECT_TRUE(Is(Add(path, delta), HRESULT_FROM_WIN32(ERROR_INVALID_DATA), 0));
        const RegValue value = ReadValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name);
        EXPECT_TRUE(value.exists && value.type == row.type && value.data == row.data);
    }
}

TEST_F(SharedDlls, ExistingValueIsUpdatedUnderItsOwnName) {
    // A real file with a long name, counted by another installer under its
    // short, lower-case form.
    const std::wstring path = m_temp / (m_tag + L" Shared Library.dll");
    ASSERT_TRUE(Write(path, "x"));
    std::wstring other = ShortPath(path);
    ASSERT_FALSE(other.empty());
    CharLowerBuffW(other.data(), static_cast<DWORD>(other.size()));
    m_otherNames.push_back(other);
    ASSERT_NE(other, Canonical(path));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, other, REG_DWORD, Dword(2)));
    LoadSharedDllCounters();

    EXPECT_TRUE(Is(Get(path), S_OK, 2));
    EXPECT_TRUE(Is(Add(path, 1), S_OK, 3));
    EXPECT_EQ(DwordCount(other), 3);
    // No second value was made for the same file.
    EXPECT_EQ(DwordCount(Canonical(path)), -1);
}

TEST_F(SharedDlls, ChangesByAnotherInstallerAfterTheLoadAreBuiltUpon) {
    const std::wstring path = NewPath(), name = Canonical(path);
    ASSERT_TRUE(Is(Add(path, 1), S_OK, 1));  // the cache knows this value now
    struct Step {
        const char* label;
        long long externally;  // what another installer leaves; -1 deletes
        LONG delta;
        HRESULT hr;
        DWORD count;
    } steps[] = {
        {"raised by another installer", 5, 1, S_OK, 6},
        {"lowered by another installer", 2, -1, S_OK, 1},
        {"removed by another installer, then counted again", -1, 1, S_OK, 1},
        {"removed by another installer, then released", -1, -1, S_OK, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        if (step.externally < 0)
            SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, name.c_str());
        else
            ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, name, REG_DWORD,
                                 Dword(static_cast<DWORD>(step.externally))));
        if (step.externally >= 0) {
            EXPECT_TRUE(Is(Get(path), S_OK, static_cast<DWORD>(step.externally)));
        }
        EXPECT_TRUE(Is(Add(path, step.delta), step.hr, step.count));
        EXPECT_EQ(DwordCount(name), step.count ? static_cast<long long>(step.count) : -1);
    }

    // A value another installer makes after the load, under another name form.
    const std::wstring later = NewPath();
    std::wstring lowered = Canonical(later);
    CharLowerBuffW(lowered.data(), static_cast<DWORD>(lowered.size()));
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, lowered, REG_DWORD, Dword(4)));
    EXPECT_TRUE(Is(Get(later), S_OK, 4));
    EXPECT_TRUE(Is(Add(later, 1), S_OK, 5));
    EXPECT_EQ(SharedDllValuesContaining(Canonical(later)).size(), 1u);
}

TEST_F(SharedDlls, RefusedPathsAndAKeyThatCannotBeWritten) {
    const std::wstring tooLong = L"C:\\" + std::wstring(260, L'l') + L".dll";
    EXPECT_TRUE(Is(Add(tooLong, 1), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), 0));
    EXPECT_TRUE(Is(Get(tooLong), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), 0));
    EXPECT_TRUE(Is(Add(L"", 1), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME), 0));
    DWORD count = 0;
    EXPECT_EQ(AddToSharedDllCounter(nullptr, 1, &count), E_POINTER);
    EXPECT_EQ(AddToSharedDllCounter(L"C:\\x.dll", 1, nullptr), E_POINTER);
    EXPECT_EQ(GetSharedDllCounter(L"C:\\x.dll", nullptr), E_POINTER);

    const std::wstring path = NewPath(), name = Canonical(path);
    ASSERT_TRUE(Is(Add(path, 2), S_OK, 2));
    const std::wstring fresh = NewPath();
    struct Row {
        const char* label;
        std::wstring path;
        LONG delta;
        DWORD reported;
    } rows[] = {
        {"raise", path, 1, 3},
        {"lower to zero", path, -2, 0},
        {"first count of a library", fresh, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Counted result{};
        {
            DeniedKey denied(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ);  // read, never write
            ASSERT_TRUE(denied.Denied());
            result = Add(row.path, row.delta);
        }
        EXPECT_TRUE(Is(result, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), row.reported));
    }
    EXPECT_EQ(DwordCount(name), 2);  // untouched
    EXPECT_EQ(DwordCount(Canonical(fresh)), -1);
    EXPECT_TRUE(Is(Get(path), S_OK, 2));
}

TEST_F(SharedDlls, ThreadsNeverLoseACount) {
    const std::wstring path = NewPath(), name = Canonical(path);
    ASSERT_TRUE(Is(Add(path, 1), S_OK, 1));
    constexpr int kThreads = 8, kRounds = 150;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                DWORD count = 0;
                if (AddToSharedDllCounter(path.c_str(), 1, &count) != S_OK) ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    EXPECT_EQ(DwordCount(name), 1 + kThreads * kRounds);
}
