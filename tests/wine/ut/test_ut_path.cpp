// CWexPath over a real folder tree with long names and the 8.3 names the file
// system gives them, and ArgumentsEqual.
#include "UtTest.h"

using namespace orv::test::ut;

std::wstring Name(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }
std::wstring Unique(const std::wstring& path) {
    WCHAR out[MAX_PATH];
    return CWexPath::PathMakeUnique(path.c_str(), out, MAX_PATH);
}
std::wstring LongName(const std::wstring& path) {
    WCHAR out[MAX_PATH];
    return CWexPath::PathMakeLongName(path.c_str(), out, MAX_PATH);
}

// <temp>\Long Folder Name\Inner Long Folder\{Some Long File Name.dll, Other File.dll};
// the current folder is <temp>\Long Folder Name.
class WexPath : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryW(m_outer.c_str(), nullptr) && CreateDirectoryW(m_inner.c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(m_file, "x") && WriteBytes(m_other, "y"));
        ASSERT_TRUE(SetCurrentDirectoryW(m_outer.c_str()));
        m_short = ShortPath(m_file);
        m_shortInner = ShortPath(m_inner);
        ASSERT_FALSE(SameText(m_file, m_short)) << "no 8.3 names on this file system";
    }

    TempDir m_temp;
    std::wstring m_outer = m_temp / L"Long Folder Name", m_inner = Join(m_outer, L"Inner Long Folder");
    std::wstring m_file = Join(m_inner, L"Some Long File Name.dll"), m_other = Join(m_inner, L"Other File.dll");
    std::wstring m_short, m_shortInner;
};

// PathIsEqual both ways, and PathMakeUnique gives paths equal by text one text.
TEST_F(WexPath, PathIsEqual) {
    const std::wstring link = Join(m_inner, L"Hard Link.dll"), missing = Join(m_inner, L"Missing.dll");
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), m_file.c_str(), nullptr));
    ASSERT_EQ(m_file.substr(0, 3), L"C:\\") << "the temporary folder is not on C:";
    const struct {
        const char* label;
        std::wstring a, b;
        BOOL equal;
        bool otherUnique = false;
    } rows[] = {
        {"another drive letter onto the same folder (Y: is C:)", m_file, L"Y" + m_file.substr(1), TRUE, true},
        {"hard link", m_file, link, TRUE, true},
        {"\\\\.\\ form", m_file, L"\\\\.\\" + m_file, TRUE, true},
        {"\\\\?\\ form, missing file", L"\\\\?\\" + missing, missing, TRUE, true},
        {"other letter case", m_file, Upper(m_file), TRUE},
        {"short name", m_file, m_short, TRUE},
        {"short folder, missing file", Join(m_shortInner, L"New File.dll"), Join(m_inner, L"new file.DLL"), TRUE},
        {"slashes, dot dot", m_file, m_outer + L"/Inner Long Folder/..//Inner Long Folder/" + Name(m_file), TRUE},
        {"relative short", m_file, L".\\" + Name(m_shortInner) + L"\\" + Name(m_short), TRUE},
        {"another file", m_file, m_other, FALSE},
        {"empty and the current folder", L"", m_outer, FALSE},
        {"too long, even when the same", LongPath(300), LongPath(300), FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(row.equal, CWexPath::PathIsEqual(row.a.c_str(), row.b.c_str()));
        EXPECT_EQ(row.equal, CWexPath::PathIsEqual(row.b.c_str(), row.a.c_str()));
        EXPECT_EQ(row.equal && !row.otherUnique, !Unique(row.a).empty() && Unique(row.a) == Unique(row.b));
    }
    EXPECT_FALSE(CWexPath::PathIsEqual(nullptr, nullptr));
}

TEST_F(WexPath, PathMakeUniqueAndLongName) {
    const struct {
        const char* label;
        std::wstring path, unique, longName;
    } rows[] = {
        {"short path", m_short, Upper(m_file), m_file},
        {"missing tail in a short folder", Join(m_shortInner, L"nEW\\sUB.dll"), Upper(Join(m_inner, L"nEW\\sUB.dll")),
         Join(m_inner, L"nEW\\sUB.dll")},
        {"relative short path", Name(m_shortInner) + L"\\" + Name(m_short), Upper(m_file),
         L"Inner Long Folder\\" + Name(m_file)},
        {"nothing exists", L"q:\\NOWHE~1\\X.dll", L"Q:\\NOWHE~1\\X.DLL", L"q:\\NOWHE~1\\X.dll"},
        {"too long", LongPath(260), L"", L""},
        {"longest that fits", LongPath(259), Upper(LongPath(259)), LongPath(259)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Narrow(row.unique), Narrow(Unique(row.path)));
        const std::wstring got = LongName(row.path);
        EXPECT_TRUE(SameText(row.longName, got));
        // What does not exist keeps its text exactly.
        EXPECT_EQ(Name(row.longName), Name(got));
    }
    // A buffer one short: nothing written past it; the input kept by PathMakeLongName.
    WCHAR out[MAX_PATH];
    wmemset(out, L'#', MAX_PATH);
    const DWORD cch = DWORD(m_file.size());
    EXPECT_STREQ(L"", CWexPath::PathMakeUnique(m_short.c_str(), out, cch));
    EXPECT_EQ(m_short, CWexPath::PathMakeLongName(m_short.c_str(), out, cch));
    EXPECT_EQ(L'#', out[cch]) << "written past the buffer";
}

// A short path under MAX_PATH whose long form is longer: it equals only
// itself, and the long name is not made.
TEST_F(WexPath, LongFormBeyondMaxPath) {
    std::wstring dir = ShortPath(m_temp.Path()), dirs[4];
    for (auto& d : dirs) {
        ASSERT_TRUE(CreateDirectoryW(Join(dir, L"Folder " + std::wstring(60, L'n')).c_str(), nullptr));
        dir = d = ShortPath(Join(dir, L"Folder " + std::wstring(60, L'n')));
    }
    const std::wstring file = Join(dir, L"f.dll");
    ASSERT_TRUE(WriteBytes(file, "x") && file.size() < MAX_PATH);
    EXPECT_TRUE(CWexPath::PathIsEqual(file.c_str(), file.c_str()));  // one text: one file, long form or not
    EXPECT_EQ(L"", Unique(file));
    EXPECT_EQ(file, LongName(file));
    DeleteFileW(file.c_str());  // through the short names: the long ones do not fit MAX_PATH
    for (int i = 3; i >= 0; --i) RemoveDirectoryW(dirs[i].c_str());
}

TEST(WexPathArguments, ArgumentsEqual) {
    const struct {
        const wchar_t *a, *b;
        BOOL equal;
    } rows[] = {
        {nullptr, L"  \t ", TRUE},
        {L"/a /b", L"/A   /B ", TRUE},
        {L"\"C:\\Program Files\\x.exe\" /s", L"\"c:\\program files\\X.EXE\"  /S", TRUE},
        {L"\"a b\" c", L"a\" \"b c", TRUE},
        {L"a \"\"", L"a", FALSE},
        {L"a b", L"\"a b\"", FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.b));
        EXPECT_EQ(row.equal, CWexPath::ArgumentsEqual(row.a, row.b));
        EXPECT_EQ(row.equal, CWexPath::ArgumentsEqual(row.b, row.a));
    }
}
