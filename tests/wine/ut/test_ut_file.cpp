// CWexFile over real files: the fixtures of both bitnesses and files made here.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "UtTest.h"
#include "platform/WexUt.h"

namespace {

using namespace orv::test;
using namespace orv::test::ut;

constexpr HRESULT kNoVersionResource = HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
constexpr HRESULT kNoSuchValue = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

// A fixture of this tree or of the other bitness's tree.
enum class Tree { kOwn, kOther };

struct FileRef {
    Tree tree;
    const wchar_t* name;
};

// The row's path; empty when the other tree's fixtures are not there (the row is skipped).
std::wstring Resolve(const FileRef& ref) { return ref.tree == Tree::kOwn ? Fixture(ref.name) : OtherFixture(ref.name); }

::testing::AssertionResult HasKind(const std::wstring& path, int expected) {
    const int kind = CWexFile::GetType(path.c_str());
    if (kind == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Narrow(path) << " has kind " << kind << ", expected " << expected;
}

// Bytes of a fixture with a 32-bit little-endian value written at an offset.
std::string Patched(std::string bytes, size_t at, uint32_t value) {
    if (bytes.size() < at + 4) bytes.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

uint32_t Lfanew(const std::string& image) {
    if (image.size() < 0x40) return 0;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(image[0x3C + i]);
    return v;
}

class WexFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(FixturesDir().empty()) << "ORV_FIXTURES is not set";
        ASSERT_TRUE(FileExists(Fixture(L"ut_verlib.dll"))) << "fixtures not built";
    }
    TempDir m_temp;
};

TEST_F(WexFileTest, GetTypeOfFixtures) {
    const struct {
        FileRef file;
        int kind;
    } rows[] = {
        {{Tree::kOwn, L"ut_verlib.dll"}, WEX_KIND_LIBRARY},
        {{Tree::kOwn, L"ut_plainlib.dll"}, WEX_KIND_LIBRARY},
        {{Tree::kOwn, L"ut_verexe.exe"}, WEX_KIND_PROGRAM},
        {{Tree::kOwn, L"ut_plain.exe"}, WEX_KIND_PROGRAM},
        {{Tree::kOther, L"ut_verlib.dll"}, WEX_KIND_LIBRARY},
        {{Tree::kOther, L"ut_plain.exe"}, WEX_KIND_PROGRAM},
        {{Tree::kOwn, L"ut_types.tlb"}, WEX_KIND_TYPELIB},
        {{Tree::kOwn, L"DejaVuSans.ttf"}, WEX_KIND_TRUETYPE},
        {{Tree::kOwn, L"ut_raster.fon"}, WEX_KIND_RASTERFONT},
        {{Tree::kOwn, L"ut_script.reg"}, WEX_KIND_REGISTRYFILE},
        {{Tree::kOwn, L"ut_text.txt"}, WEX_KIND_DATA},
        {{Tree::kOwn, L"no_such_file.dll"}, WEX_KIND_DATA},
        {{Tree::kOwn, L"no_such_script.reg"}, WEX_KIND_DATA},
        {{Tree::kOwn, L""}, WEX_KIND_DATA},  // the folder itself
    };
    for (const auto& row : rows) {
        const std::wstring path = Resolve(row.file);
        SCOPED_TRACE(Narrow(path.empty() ? std::wstring(L"(other tree) ") + row.file.name : path));
        if (path.empty()) continue;  // x86 fixtures not built before this tree
        EXPECT_TRUE(HasKind(path, row.kind));
    }
}

// Files made from the fixtures: renamed, cut short, with the module header
// moved or pointing elsewhere. They show what is read and where.
TEST_F(WexFileTest, GetTypeOfMadeFiles) {
    const std::string dll = ReadBytes(Fixture(L"ut_verlib.dll"));
    const std::string exe = ReadBytes(Fixture(L"ut_verexe.exe"));
    const std::string tlb = ReadBytes(Fixture(L"ut_types.tlb"));
    const std::string script = ReadBytes(Fixture(L"ut_script.reg"));
    ASSERT_GT(dll.size(), 1024u);
    const uint32_t lfanew = Lfanew(dll);
    ASSERT_GT(lfanew, 0u);
    ASSERT_LT(lfanew + 26u, 1024u);

    // The module headers copied to 100 KiB: far beyond any fixed-size prefix.
    const uint32_t farOffset = 100 * 1024;
    std::string farDll = Patched(dll, 0x3C, farOffset);
    farDll.resize(farOffset, '\0');
    farDll += dll.substr(lfanew, 512);

    const struct {
        const wchar_t* name;
        std::string bytes;
        int kind;
    } rows[] = {
        {L"renamed.bin", dll, WEX_KIND_LIBRARY},
        {L"program.dll", exe, WEX_KIND_PROGRAM},
        {L"types.dat", tlb, WEX_KIND_TYPELIB},
        {L"headers only.dll", dll.substr(0, lfanew + 26), WEX_KIND_LIBRARY},
        {L"cut in the file header.dll", dll.substr(0, lfanew + 20), WEX_KIND_DATA},
        {L"cut before e_lfanew.dll", dll.substr(0, 0x3E), WEX_KIND_DATA},
        {L"header far away.dll", farDll, WEX_KIND_LIBRARY},
        {L"header outside.dll", Patched(dll, 0x3C, 0xFFFFFF00u), WEX_KIND_DATA},
        {L"header at zero.dll", Patched(dll, 0x3C, 0), WEX_KIND_DATA},
        {L"header at 4.dll", Patched(dll, 0x3C, 4), WEX_KIND_DATA},
        {L"empty.dll", "", WEX_KIND_DATA},
        {L"SCRIPT.COR", script, WEX_KIND_REGISTRYFILE},
        {L"empty.Reg", "", WEX_KIND_REGISTRYFILE},
        {L"library named as script.reg", dll, WEX_KIND_REGISTRYFILE},
        {L"script.reg.txt", script, WEX_KIND_DATA},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.name));
        const std::wstring path = m_temp / row.name;
        ASSERT_TRUE(WriteBytes(path, row.bytes));
        EXPECT_TRUE(HasKind(path, row.kind));
    }
}

TEST_F(WexFileTest, GetTypeOfUnreadablePaths) {
    const std::wstring locked = m_temp / L"locked.dll";
    ASSERT_TRUE(WriteBytes(locked, ReadBytes(Fixture(L"ut_verlib.dll"))));
    HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_TRUE(HasKind(locked, WEX_KIND_DATA)) << "a file held without sharing cannot be read";
    CloseHandle(holder);
    EXPECT_TRUE(HasKind(locked, WEX_KIND_LIBRARY));

    EXPECT_EQ(WEX_KIND_DATA, CWexFile::GetType(nullptr));
    EXPECT_EQ(WEX_KIND_DATA, CWexFile::GetType(LongPath(300).c_str()));
}

::testing::AssertionResult VersionIs(const std::wstring& path, HRESULT expectedHr, const CWexFileVersion& expected) {
    CWexFileVersion version(9, 9, 9, 9);  // sentinel: must be overwritten
    const HRESULT hr = CWexFile::GetVersion(path.c_str(), version);
    if (hr != expectedHr) return ::testing::AssertionFailure() << "result " << Hex(hr) << ", expected " << Hex(expectedHr);
    if (version != expected) {
        WCHAR text[32];
        return ::testing::AssertionFailure() << "version " << Narrow(version.GetVersionString(text, 32));
    }
    if (FAILED(hr) && version.IsValid()) return ::testing::AssertionFailure() << "valid version on failure";
    return ::testing::AssertionSuccess();
}

TEST_F(WexFileTest, GetVersion) {
    const CWexFileVersion none;
    const struct {
        FileRef file;
        HRESULT hr;
        CWexFileVersion version;
    } rows[] = {
        {{Tree::kOwn, L"ut_verlib.dll"}, S_OK, {1, 2, 3, 4}},
        {{Tree::kOwn, L"ut_verexe.exe"}, S_OK, {5, 6, 7, 8}},
        {{Tree::kOwn, L"ut_notrans.dll"}, S_OK, {2, 0, 0, 1}},
        {{Tree::kOther, L"ut_verlib.dll"}, S_OK, {1, 2, 3, 4}},
        {{Tree::kOwn, L"ut_zerover.dll"}, HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND), none},
        {{Tree::kOwn, L"ut_plainlib.dll"}, kNoVersionResource, none},
        {{Tree::kOwn, L"ut_text.txt"}, kNoVersionResource, none},
        {{Tree::kOwn, L"DejaVuSans.ttf"}, kNoVersionResource, none},
        {{Tree::kOwn, L"ut_raster.fon"}, kNoVersionResource, none},  // NE module without one
        {{Tree::kOwn, L"no_such_file.dll"}, kNotFound, none},
    };
    for (const auto& row : rows) {
        const std::wstring path = Resolve(row.file);
        SCOPED_TRACE(Narrow(path.empty() ? std::wstring(L"(other tree) ") + row.file.name : path));
        if (path.empty()) continue;
        EXPECT_TRUE(VersionIs(path, row.hr, row.version));
    }
    EXPECT_TRUE(VersionIs(LongPath(270), kPathTooLong, none));
    CWexFileVersion version(1, 1, 1, 1);
    EXPECT_EQ(E_POINTER, CWexFile::GetVersion(nullptr, version));
    EXPECT_FALSE(version.IsValid());
}

struct InfoRow {
    const char* label;
    FileRef file;
    const wchar_t* value;
    DWORD cch;  // 0: presence test with a null buffer
    HRESULT hr;
    const wchar_t* text;  // expected buffer content when cch > 0
};

constexpr DWORD kInfoBuffer = 300;

::testing::AssertionResult InfoIs(const std::wstring& path, const InfoRow& row) {
    WCHAR buffer[kInfoBuffer];
    for (WCHAR& c : buffer) c = L'#';
    const HRESULT hr = CWexFile::GetVersionInfo(path.c_str(), row.value, row.cch ? buffer : nullptr, row.cch);
    if (hr != row.hr) return ::testing::AssertionFailure() << "result " << Hex(hr) << ", expected " << Hex(row.hr);
    if (row.cch == 0) return ::testing::AssertionSuccess();
    const std::wstring got(buffer, wcsnlen(buffer, row.cch));
    if (got.size() >= row.cch) return ::testing::AssertionFailure() << "not terminated inside the buffer";
    if (got != row.text) return ::testing::AssertionFailure() << "text \"" << Narrow(got) << "\"";
    for (DWORD i = row.cch; i < kInfoBuffer; ++i) {
        if (buffer[i] != L'#') return ::testing::AssertionFailure() << "wrote past the buffer at " << i;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(WexFileTest, GetVersionInfo) {
    const InfoRow rows[] = {
        {"company", {Tree::kOwn, L"ut_verlib.dll"}, L"CompanyName", 260, S_OK, L"Orv Fixture Company Ltd."},
        {"company, other bitness", {Tree::kOther, L"ut_verlib.dll"}, L"CompanyName", 260, S_OK,
         L"Orv Fixture Company Ltd."},
        {"exact fit", {Tree::kOwn, L"ut_verlib.dll"}, L"CompanyName", 25, S_OK, L"Orv Fixture Company Ltd."},
        {"truncated", {Tree::kOwn, L"ut_verlib.dll"}, L"CompanyName", 4, S_OK, L"Orv"},
        {"room for the terminator only", {Tree::kOwn, L"ut_verlib.dll"}, L"CompanyName", 1, S_OK, L""},
        {"self-registration flag present", {Tree::kOwn, L"ut_verlib.dll"}, L"OLESelfRegister", 0, S_OK, nullptr},
        {"value not there", {Tree::kOwn, L"ut_verlib.dll"}, L"ProductName", 260, kNoSuchValue, L""},
        {"first translation wins", {Tree::kOwn, L"ut_verexe.exe"}, L"CompanyName", 260, S_OK, L"Orv Deutsch"},
        {"only the first translation is read", {Tree::kOwn, L"ut_verexe.exe"}, L"ProductName", 260, kNoSuchValue,
         L""},
        {"no self-registration flag", {Tree::kOwn, L"ut_verexe.exe"}, L"OLESelfRegister", 0, kNoSuchValue, nullptr},
        {"no translation list: 040904E4", {Tree::kOwn, L"ut_notrans.dll"}, L"CompanyName", 260, S_OK, L"Orv Latin"},
        {"version 0.0.0.0 still has strings", {Tree::kOwn, L"ut_zerover.dll"}, L"CompanyName", 260, S_OK,
         L"Orv Zero"},
        {"no version resource", {Tree::kOwn, L"ut_plainlib.dll"}, L"CompanyName", 128, kNoVersionResource, L""},
        {"no version resource, presence", {Tree::kOwn, L"ut_plain.exe"}, L"OLESelfRegister", 0, kNoVersionResource,
         nullptr},
        {"missing file", {Tree::kOwn, L"no_such.dll"}, L"CompanyName", 128, kNotFound, L""},
        {"empty value name", {Tree::kOwn, L"ut_verlib.dll"}, L"", 128, E_INVALIDARG, L""},
        {"value name that is a path", {Tree::kOwn, L"ut_verlib.dll"}, L"\\VarFileInfo\\Translation", 128,
         E_INVALIDARG, L""},
    };
    for (const InfoRow& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = Resolve(row.file);
        if (path.empty()) continue;
        EXPECT_TRUE(InfoIs(path, row));
    }
}

TEST_F(WexFileTest, GetVersionInfoRefusals) {
    const std::wstring lib = Fixture(L"ut_verlib.dll");
    WCHAR buffer[8] = L"garbage";
    EXPECT_EQ(E_POINTER, CWexFile::GetVersionInfo(nullptr, L"CompanyName", buffer, 8));
    EXPECT_EQ(L'\0', buffer[0]) << "output cleared on entry";
    EXPECT_EQ(E_POINTER, CWexFile::GetVersionInfo(lib.c_str(), nullptr, nullptr, 0));
    EXPECT_EQ(E_POINTER, CWexFile::GetVersionInfo(lib.c_str(), L"CompanyName", nullptr, 8));
    const std::wstring longName(200, L'N');
    EXPECT_EQ(E_INVALIDARG, CWexFile::GetVersionInfo(lib.c_str(), longName.c_str(), buffer, 8));
    EXPECT_EQ(kPathTooLong, CWexFile::GetVersionInfo(LongPath(260).c_str(), L"CompanyName", buffer, 8));
}

FILETIME MakeFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

::testing::AssertionResult SameTime(const FILETIME& a, const FILETIME& b) {
    if (CompareFileTime(&a, &b) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hex << a.dwHighDateTime << ":" << a.dwLowDateTime << " vs "
                                         << b.dwHighDateTime << ":" << b.dwLowDateTime;
}

TEST_F(WexFileTest, GetTimeStampSelectsEachTime) {
    const std::wstring path = m_temp / L"times.txt";
    ASSERT_TRUE(WriteBytes(path, "x"));
    const FILETIME creation = MakeFileTime(2001, 2, 3, 4, 5, 6);
    const FILETIME access = MakeFileTime(2012, 7, 8, 9, 10, 11);
    const FILETIME write = MakeFileTime(2023, 12, 31, 23, 59, 58);
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_TRUE(SetFileTime(h, &creation, &access, &write));
    CloseHandle(h);
    // Wine on Linux keeps no settable creation time: the file's own answer is the reference.
    FILETIME created{};
    h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_TRUE(GetFileTime(h, &created, nullptr, nullptr));
    CloseHandle(h);

    const struct {
        int selector;
        FILETIME expected;
    } rows[] = {{WEX_TIME_CREATION, created}, {WEX_TIME_LASTACCESS, access}, {WEX_TIME_LASTWRITE, write}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.selector);
        FILETIME ft{0xdeadbeef, 0xdeadbeef};
        ASSERT_EQ(S_OK, CWexFile::GetTimeStamp(path.c_str(), &ft, row.selector));
        EXPECT_TRUE(SameTime(row.expected, ft));

        // The local form: what FileTimeToLocalFileTime gives for the same instant.
        FILETIME local{};
        SYSTEMTIME expected{};
        ASSERT_TRUE(FileTimeToLocalFileTime(&row.expected, &local));
        ASSERT_TRUE(FileTimeToSystemTime(&local, &expected));
        SYSTEMTIME st;
        memset(&st, 0xAB, sizeof(st));
        ASSERT_EQ(S_OK, CWexFile::GetTimeStamp(path.c_str(), &st, row.selector));
        EXPECT_EQ(0, memcmp(&expected, &st, sizeof(st)));
        SYSTEMTIME utc{};
        ASSERT_TRUE(FileTimeToSystemTime(&row.expected, &utc));
        EXPECT_NE(utc.wHour, st.wHour) << "local time expected (the tests run in Europe/Berlin)";
    }
}

// Two times keep their order in the local form, also across a change of
// daylight saving time: callers convert such times back and compare them.
TEST_F(WexFileTest, GetTimeStampLocalFormKeepsOrder) {
    const FILETIME times[] = {MakeFileTime(2020, 3, 29, 0, 30, 0), MakeFileTime(2020, 3, 29, 1, 30, 0),
                              MakeFileTime(2020, 10, 25, 0, 30, 0), MakeFileTime(2020, 10, 25, 1, 30, 0)};
    FILETIME previous{};
    for (size_t i = 0; i < ARRAYSIZE(times); ++i) {
        SCOPED_TRACE(i);
        const std::wstring path = m_temp / (L"t" + std::to_wstring(i));
        ASSERT_TRUE(WriteBytes(path, "x"));
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &times[i]));
        CloseHandle(h);
        SYSTEMTIME st{};
        ASSERT_EQ(S_OK, CWexFile::GetTimeStamp(path.c_str(), &st, WEX_TIME_LASTWRITE));
        FILETIME back{};
        ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
        if (i > 0) {
            EXPECT_EQ(1, CompareFileTime(&back, &previous));
        }
        previous = back;
    }
}

TEST_F(WexFileTest, GetTimeStampFailuresClearTheOutput) {
    const std::wstring existing = Fixture(L"ut_text.txt");
    const struct {
        const char* label;
        std::wstring path;
        int selector;
        HRESULT hr;
    } rows[] = {
        {"missing file", m_temp / L"missing.txt", WEX_TIME_LASTWRITE, kNotFound},
        {"missing folder", m_temp / L"missing\\x.txt", WEX_TIME_LASTWRITE, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"selector 3", existing, 3, E_INVALIDARG},
        {"selector -1", existing, -1, E_INVALIDARG},
        {"path too long", LongPath(261), WEX_TIME_LASTWRITE, kPathTooLong},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        FILETIME ft{0xdeadbeef, 0xdeadbeef};
        EXPECT_EQ(row.hr, CWexFile::GetTimeStamp(row.path.c_str(), &ft, row.selector));
        EXPECT_EQ(0u, ft.dwLowDateTime | ft.dwHighDateTime);
        SYSTEMTIME st;
        memset(&st, 0xAB, sizeof(st));
        EXPECT_EQ(row.hr, CWexFile::GetTimeStamp(row.path.c_str(), &st, row.selector));
        EXPECT_EQ(0, st.wYear | st.wMonth | st.wDay | st.wHour | st.wMinute | st.wSecond | st.wMilliseconds);
    }
    EXPECT_EQ(E_POINTER, CWexFile::GetTimeStamp(existing.c_str(), static_cast<FILETIME*>(nullptr), 2));
    EXPECT_EQ(E_POINTER, CWexFile::GetTimeStamp(existing.c_str(), static_cast<SYSTEMTIME*>(nullptr), 2));
    FILETIME ft{1, 1};
    EXPECT_EQ(E_POINTER, CWexFile::GetTimeStamp(nullptr, &ft, 2));
    EXPECT_EQ(0u, ft.dwLowDateTime | ft.dwHighDateTime);
}

TEST_F(WexFileTest, GetSizeAndDoesExist) {
    const std::wstring folder = m_temp / L"a folder";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring longName = m_temp / L"A File With A Long Name.txt";
    ASSERT_TRUE(WriteBytes(longName, "four"));
    const std::wstring shortName = ShortPathOf(longName);
    ASSERT_FALSE(shortName.empty());
    const struct {
        const char* label;
        std::wstring path;
        const char* content;  // null: do not create
        size_t size;
        HRESULT hr;
        BOOL exists;
    } rows[] = {
        {"empty file", m_temp / L"empty.bin", "", 0, S_OK, TRUE},
        {"one byte", m_temp / L"one.bin", "1", 1, S_OK, TRUE},
        {"64 KiB + 1", m_temp / L"big.bin", nullptr, 65537, S_OK, TRUE},
        {"through its short name", shortName, nullptr, 4, S_OK, TRUE},
        {"missing", m_temp / L"missing.bin", nullptr, 0, kNotFound, FALSE},
        {"folder", folder, nullptr, 0, kNotFound, FALSE},
        {"too long", LongPath(300), nullptr, 0, kPathTooLong, FALSE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.content || (row.hr == S_OK && row.path != shortName)) {
            ASSERT_TRUE(WriteBytes(row.path, row.content ? std::string(row.content) : std::string(row.size, 'z')));
        }
        DWORD size = 0xdeadbeef;
        EXPECT_EQ(row.hr, CWexFile::GetSize(row.path.c_str(), &size));
        EXPECT_EQ(row.size, size);
        EXPECT_EQ(row.exists, CWexFile::DoesExist(row.path.c_str()));
    }
    DWORD size = 0xdeadbeef;
    EXPECT_EQ(E_POINTER, CWexFile::GetSize(nullptr, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(E_POINTER, CWexFile::GetSize(Fixture(L"ut_text.txt").c_str(), nullptr));
    EXPECT_FALSE(CWexFile::DoesExist(nullptr));
    EXPECT_FALSE(CWexFile::DoesExist(L""));
}

}  // namespace
