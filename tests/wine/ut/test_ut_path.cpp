// CWexPath over a real folder tree with long names and the 8.3 names the
// file system gives them.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "UtTest.h"
#include "platform/WexUt.h"

namespace {

using namespace orv::test;
using namespace orv::test::ut;

std::wstring Upper(std::wstring s) {
    if (!s.empty()) CharUpperBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

std::wstring Replace(std::wstring s, const std::wstring& from, const std::wstring& to) {
    for (size_t at = s.find(from); at != std::wstring::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

std::wstring LastComponent(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

std::wstring MakeUnique(const std::wstring& path) {
    WCHAR out[MAX_PATH];
    return CWexPath::PathMakeUnique(path.c_str(), out, MAX_PATH);
}

// A tree under a fresh temp folder:
//   <temp>\Long Folder Name\Inner Long Folder\Some Long File Name.dll
//   <temp>\Long Folder Name\Inner Long Folder\Other File.dll
class WexPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_outer = m_temp / L"Long Folder Name";
        m_inner = Join(m_outer, L"Inner Long Folder");
        m_file = Join(m_inner, L"Some Long File Name.dll");
        m_other = Join(m_inner, L"Other File.dll");
        ASSERT_TRUE(CreateDirectoryW(m_outer.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(m_inner.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(m_file, "x"));
        ASSERT_TRUE(WriteBytes(m_other, "y"));
        m_shortFile = ShortPathOf(m_file);
        m_shortInner = ShortPathOf(m_inner);
        ASSERT_FALSE(m_shortFile.empty());
        ASSERT_FALSE(EqualIgnoringCase(m_shortFile, m_file)) << "no 8.3 names on this file system";
        ASSERT_EQ(std::wstring::npos, LastComponent(m_shortFile).find(L' '));
    }

    TempDir m_temp;
    std::wstring m_outer, m_inner, m_file, m_other, m_shortFile, m_shortInner;
};

struct EqualRow {
    const char* label;
    std::wstring a;
    std::wstring b;
    BOOL equal;
};

::testing::AssertionResult ComparesAs(const EqualRow& row) {
    const BOOL ab = CWexPath::PathIsEqual(row.a.c_str(), row.b.c_str());
    const BOOL ba = CWexPath::PathIsEqual(row.b.c_str(), row.a.c_str());
    if (!ab != !row.equal) return ::testing::AssertionFailure() << "PathIsEqual gave " << ab;
    if (!ab != !ba) return ::testing::AssertionFailure() << "not symmetric";
    // The canonical form says the same: equal paths have one canonical text.
    const std::wstring ua = MakeUnique(row.a), ub = MakeUnique(row.b);
    const bool sameUnique = !ua.empty() && ua == ub;
    if (sameUnique != !!row.equal)
        return ::testing::AssertionFailure() << "PathMakeUnique disagrees: " << Narrow(ua) << " / " << Narrow(ub);
    return ::testing::AssertionSuccess();
}

TEST_F(WexPathTest, PathIsEqual) {
    const std::wstring fileName = LastComponent(m_file);
    const std::wstring shortInnerName = LastComponent(m_shortInner);
    const std::wstring shortFileName = LastComponent(m_shortFile);
    const std::wstring tooLong = LongPath(300);
    CurrentDirectory cwd(m_outer);
    ASSERT_TRUE(cwd.Ok());

    const EqualRow rows[] = {
        {"same text", m_file, m_file, TRUE},
        {"other letter case", m_file, Upper(m_file), TRUE},
        {"short name", m_file, m_shortFile, TRUE},
        {"short folder, missing file", Join(m_shortInner, L"New File.dll"), Join(m_inner, L"new file.DLL"), TRUE},
        {"forward slashes", m_file, Replace(m_file, L"\\", L"/"), TRUE},
        {"doubled separators", m_file, Replace(m_file, L"\\Inner", L"\\\\Inner"), TRUE},
        {"dot", m_file, Join(m_inner, L".\\" + fileName), TRUE},
        {"dot dot", m_file, Join(m_inner, L"..\\Inner Long Folder\\" + fileName), TRUE},
        {"trailing backslash on a folder", m_inner, m_inner + L"\\", TRUE},
        {"relative long", m_file, L"Inner Long Folder\\" + fileName, TRUE},
        {"relative short", m_file, L".\\" + shortInnerName + L"\\" + shortFileName, TRUE},
        {"file names alone", L"srv.dll", L"SRV.DLL", TRUE},
        {"nothing exists", L"Q:\\Nothing\\Here.dll", L"q:/nothing//here.DLL", TRUE},
        {"drive roots", L"C:\\", L"c:\\", TRUE},
        {"another file", m_file, m_other, FALSE},
        {"name with a suffix", m_file, m_file + L"x", FALSE},
        {"file and its folder", m_file, m_inner, FALSE},
        {"different folders", Join(m_inner, L"a.dll"), Join(m_outer, L"a.dll"), FALSE},
        {"not-registered text", m_file, L"N/A ( not registered )", FALSE},
        {"empty", L"", L"", FALSE},
        {"empty and the current folder", L"", m_outer, FALSE},
        {"too long, even when the same", tooLong, tooLong, FALSE},
    };
    for (const EqualRow& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_TRUE(ComparesAs(row));
    }
    EXPECT_FALSE(CWexPath::PathIsEqual(nullptr, m_file.c_str()));
    EXPECT_FALSE(CWexPath::PathIsEqual(m_file.c_str(), nullptr));
    EXPECT_FALSE(CWexPath::PathIsEqual(nullptr, nullptr));
}

TEST_F(WexPathTest, PathMakeUnique) {
    CurrentDirectory cwd(m_inner);
    ASSERT_TRUE(cwd.Ok());
    const struct {
        const char* label;
        std::wstring path;
        std::wstring expected;
    } rows[] = {
        {"long path", m_file, Upper(m_file)},
        {"short path", m_shortFile, Upper(m_file)},
        {"missing file in a short folder", Join(m_shortInner, L"New File.dll"), Upper(Join(m_inner, L"New File.dll"))},
        {"relative with dot dot and slashes", L"../Inner Long Folder//" + LastComponent(m_file), Upper(m_file)},
        {"folder with trailing backslash", m_inner + L"\\", Upper(m_inner)},
        {"nothing exists", L"q:\\No\\Such\\..\\File.dll", L"Q:\\NO\\FILE.DLL"},
        {"drive root", L"c:\\", L"C:\\"},
        {"empty", L"", L""},
        {"too long", LongPath(260), L""},
        {"longest that fits", LongPath(259), Upper(LongPath(259))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Narrow(row.expected), Narrow(MakeUnique(row.path)));
    }
}

// Output buffers: never written past cchOut, returned, allowed to be the input.
TEST_F(WexPathTest, OutputBuffers) {
    using Fn = LPWSTR (*)(LPCWSTR, LPWSTR, DWORD);
    const struct {
        const char* label;
        Fn fn;
        std::wstring input;
        std::wstring expected;  // with a full buffer
    } rows[] = {
        {"PathMakeUnique", &CWexPath::PathMakeUnique, m_shortFile, Upper(m_file)},
        {"PathMakeLongName", &CWexPath::PathMakeLongName, m_shortFile, m_file},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const DWORD need = static_cast<DWORD>(row.expected.size()) + 1;
        for (DWORD cch : {need, need - 1}) {
            SCOPED_TRACE(cch);
            WCHAR out[400];
            for (WCHAR& c : out) c = L'#';
            EXPECT_EQ(out, row.fn(row.input.c_str(), out, cch));
            for (DWORD i = cch; i < 400; ++i) ASSERT_EQ(L'#', out[i]) << "wrote past the buffer at " << i;
            if (cch == need)
                EXPECT_TRUE(EqualIgnoringCase(row.expected, out)) << Narrow(out);
            else if (row.fn == &CWexPath::PathMakeUnique)
                EXPECT_STREQ(L"", out);
            else
                EXPECT_EQ(row.input, std::wstring(out)) << "input kept when its long form does not fit";
        }
        WCHAR untouched[2] = {L'#', L'#'};
        EXPECT_EQ(untouched, row.fn(row.input.c_str(), untouched, 0));
        EXPECT_EQ(L'#', untouched[0]);
        EXPECT_EQ(nullptr, row.fn(row.input.c_str(), nullptr, MAX_PATH));

        WCHAR inPlace[MAX_PATH];
        wcscpy(inPlace, row.input.c_str());
        row.fn(inPlace, inPlace, MAX_PATH);
        EXPECT_TRUE(EqualIgnoringCase(row.expected, inPlace)) << Narrow(inPlace);
    }
}

TEST_F(WexPathTest, PathMakeLongName) {
    CurrentDirectory cwd(m_outer);
    ASSERT_TRUE(cwd.Ok());
    const std::wstring shortInnerName = LastComponent(m_shortInner);
    const std::wstring shortFileName = LastComponent(m_shortFile);
    const struct {
        const char* label;
        std::wstring path;
        std::wstring expected;
        bool exact;  // else letter case may follow the disk
    } rows[] = {
        {"short path", m_shortFile, m_file, false},
        {"long path", m_file, m_file, false},
        {"missing file in a short folder", Join(m_shortInner, L"New File.dll"), Join(m_inner, L"New File.dll"), false},
        {"missing tail keeps its text", Join(m_shortInner, L"nEW\\sUB.dll"), Join(m_inner, L"nEW\\sUB.dll"), false},
        {"relative short path stays relative", shortInnerName + L"\\" + shortFileName,
         L"Inner Long Folder\\" + LastComponent(m_file), false},
        {"nothing exists", L"Q:\\NOWHE~1\\X.DLL", L"Q:\\NOWHE~1\\X.DLL", true},
        {"empty", L"", L"", true},
        {"too long", LongPath(260), L"", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        WCHAR out[MAX_PATH];
        const std::wstring got = CWexPath::PathMakeLongName(row.path.c_str(), out, MAX_PATH);
        if (row.exact)
            EXPECT_EQ(Narrow(row.expected), Narrow(got));
        else
            EXPECT_TRUE(EqualIgnoringCase(row.expected, got)) << Narrow(got);
        // The tail that does not exist is kept exactly as given.
        if (!row.exact && row.expected.size() == got.size() && row.expected.size() > m_inner.size()) {
            EXPECT_EQ(row.expected.substr(m_inner.size()), got.substr(m_inner.size()));
        }
    }
    WCHAR out[MAX_PATH] = L"garbage";
    EXPECT_STREQ(L"", CWexPath::PathMakeLongName(nullptr, out, MAX_PATH));
}

// A short path under MAX_PATH whose long form is longer: the canonical form
// does not fit, so nothing compares equal and the long name is not made.
TEST_F(WexPathTest, LongFormBeyondMaxPath) {
    std::wstring shortDir = ShortPathOf(m_temp.Path());
    ASSERT_FALSE(shortDir.empty());
    std::wstring longDir = m_temp.Path();
    std::wstring dirs[4];
    for (int i = 0; i < 4; ++i) {
        const std::wstring name = L"Folder " + std::to_wstring(i) + L" " + std::wstring(60, L'n');
        ASSERT_TRUE(CreateDirectoryW(Join(shortDir, name).c_str(), nullptr)) << GetLastError();
        shortDir = ShortPathOf(Join(shortDir, name));
        ASSERT_FALSE(shortDir.empty());
        dirs[i] = shortDir;
        longDir = Join(longDir, name);
    }
    const std::wstring shortFile = Join(shortDir, L"f.dll");
    ASSERT_TRUE(WriteBytes(shortFile, "x"));
    ASSERT_LT(shortFile.size(), 200u);
    ASSERT_GT(longDir.size(), 260u);

    EXPECT_FALSE(CWexPath::PathIsEqual(shortFile.c_str(), shortFile.c_str()));
    EXPECT_EQ(L"", MakeUnique(shortFile));
    WCHAR out[MAX_PATH];
    EXPECT_EQ(shortFile, std::wstring(CWexPath::PathMakeLongName(shortFile.c_str(), out, MAX_PATH)));

    // Removed here through the short names: the long ones do not fit MAX_PATH.
    DeleteFileW(shortFile.c_str());
    for (int i = 3; i >= 0; --i) RemoveDirectoryW(dirs[i].c_str());
}

TEST(WexPathArguments, ArgumentsEqual) {
    const struct {
        const char* label;
        const wchar_t* a;
        const wchar_t* b;
        BOOL equal;
    } rows[] = {
        {"both empty", L"", L"", TRUE},
        {"null and empty", nullptr, L"", TRUE},
        {"null and blanks", nullptr, L"  \t ", TRUE},
        {"letter case and blank runs", L"/a /b", L"/A   /B ", TRUE},
        {"non-ASCII letter case", L"/\u00c4\u00d6", L"/\u00e4\u00f6", TRUE},
        {"quoting that splits alike", L"\"a b\" c", L"a\" \"b c", TRUE},
        {"quoted path and switch", L"\"C:\\Program Files\\x.exe\" /s", L"\"c:\\program files\\X.EXE\"  /S", TRUE},
        {"escaped quote", L"a\\\"b", L"\"a\\\"b\"", TRUE},
        {"empty argument counts", L"a \"\"", L"a", FALSE},
        {"one argument or two", L"a b", L"\"a b\"", FALSE},
        {"more arguments", L"x", L"x y", FALSE},
        {"order matters", L"x y", L"y x", FALSE},
        {"escaped quote or backslash", L"a\\\"b", L"a\\b", FALSE},
        {"different argument", L"/s", L"/q", FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.equal, CWexPath::ArgumentsEqual(row.a, row.b));
        EXPECT_EQ(row.equal, CWexPath::ArgumentsEqual(row.b, row.a));
    }
}

}  // namespace
