// CWexFile over real files: the fixtures of both bitnesses and files made here.
#include "UtTest.h"

using namespace orv::test::ut;

constexpr HRESULT kNoVersionResource = HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
constexpr HRESULT kNoSuchValue = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

struct FileRef {
    const wchar_t* name;
    bool other = false;  // the other bitness's fixture
};

TEST(WexFile, GetType) {
    const struct {
        FileRef file;
        int kind;
    } fixtures[] = {
        {{L"ut_verlib.dll"}, WEX_KIND_LIBRARY},       {{L"ut_plain.exe"}, WEX_KIND_PROGRAM},
        {{L"ut_verlib.dll", true}, WEX_KIND_LIBRARY}, {{L"ut_plain.exe", true}, WEX_KIND_PROGRAM},
        {{L"ut_types.tlb"}, WEX_KIND_TYPELIB},        {{L"DejaVuSans.ttf"}, WEX_KIND_TRUETYPE},
        {{L"ut_raster.fon"}, WEX_KIND_RASTERFONT},    {{L"ut_script.reg"}, WEX_KIND_REGISTRYFILE},
        {{L"ut_text.txt"}, WEX_KIND_DATA},            {{L"no_such_script.reg"}, WEX_KIND_DATA},
    };
    for (const auto& row : fixtures) {
        const std::wstring path = Fixture(row.file.name, row.file.other);
        SCOPED_TRACE(Narrow(row.file.name) + (row.file.other ? " (other bitness)" : ""));
        if (path.empty()) continue;
        EXPECT_EQ(row.kind, CWexFile::GetType(path.c_str()));
    }
    // Made files: content decides, not the name, except for scripts; the module
    // header is read wherever e_lfanew puts it.
    const std::string dll = ReadBytes(Fixture(L"ut_verlib.dll")), script = ReadBytes(Fixture(L"ut_script.reg"));
    ASSERT_GT(dll.size(), 1024u);
    const uint32_t lfanew = *reinterpret_cast<const uint32_t*>(dll.data() + 0x3C), farAt = 100 * 1024;
    std::string farDll = dll;
    memcpy(&farDll[0x3C], &farAt, 4);
    farDll.resize(farAt, '\0');
    farDll += dll.substr(lfanew, 512);
    const struct {
        const wchar_t* name;
        std::string bytes;
        int kind;
    } made[] = {
        {L"renamed.bin", dll, WEX_KIND_LIBRARY},
        {L"header far away.dll", farDll, WEX_KIND_LIBRARY},
        {L"SCRIPT.COR", script, WEX_KIND_REGISTRYFILE},
        {L"empty.Reg", "", WEX_KIND_REGISTRYFILE},
        {L"script.reg.txt", script, WEX_KIND_DATA},
        {L"sfnt tag, no table directory.ttf", std::string("\0\1\0\0", 4) + std::string(60, 'x'), WEX_KIND_DATA},
    };
    TempDir temp;
    for (const auto& row : made) {
        SCOPED_TRACE(Narrow(row.name));
        ASSERT_TRUE(WriteBytes(temp / row.name, row.bytes));
        EXPECT_EQ(row.kind, CWexFile::GetType((temp / row.name).c_str()));
    }
    EXPECT_EQ(WEX_KIND_DATA, CWexFile::GetType(LongPath(300).c_str()));
}

TEST(WexFile, GetVersion) {
    const struct {
        FileRef file;
        HRESULT hr;
        CWexFileVersion version;
    } rows[] = {
        {{L"ut_verlib.dll"}, S_OK, {1, 2, 3, 4}},
        {{L"ut_verlib.dll", true}, S_OK, {1, 2, 3, 4}},
        {{L"ut_zerover.dll"}, HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND), {}},
        {{L"ut_raster.fon"}, kNoVersionResource, {}},  // NE module without one
        {{L"no_such_file.dll"}, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), {}},
    };
    for (const auto& row : rows) {
        const std::wstring path = Fixture(row.file.name, row.file.other);
        SCOPED_TRACE(Narrow(row.file.name) + (row.file.other ? " (other bitness)" : ""));
        if (path.empty()) continue;
        CWexFileVersion version(9, 9, 9, 9);
        EXPECT_EQ(row.hr, CWexFile::GetVersion(path.c_str(), version));
        EXPECT_TRUE(version == row.version);
        EXPECT_EQ(SUCCEEDED(row.hr), version.IsValid());
    }
    CWexFileVersion version(1, 1, 1, 1);
    EXPECT_EQ(kPathTooLong, CWexFile::GetVersion(LongPath(270).c_str(), version));
    EXPECT_FALSE(version.IsValid());
}

TEST(WexFile, GetVersionInfo) {
    const struct {
        const char* label;
        FileRef file;
        const wchar_t* value;
        DWORD cch;  // 0: presence test with a null buffer
        HRESULT hr;
        const wchar_t* text;
    } rows[] = {
        {"company", {L"ut_verlib.dll"}, L"CompanyName", 260, S_OK, L"Orv Fixture Company Ltd."},
        {"other bitness", {L"ut_verlib.dll", true}, L"CompanyName", 260, S_OK, L"Orv Fixture Company Ltd."},
        {"truncated", {L"ut_verlib.dll"}, L"CompanyName", 4, S_OK, L"Orv"},
        {"self-registration flag present", {L"ut_verlib.dll"}, L"OLESelfRegister", 0, S_OK, nullptr},
        {"value not there", {L"ut_verlib.dll"}, L"ProductName", 260, kNoSuchValue, L""},
        {"first translation wins", {L"ut_verexe.exe"}, L"CompanyName", 260, S_OK, L"Orv Deutsch"},
        {"no translation list: 040904E4", {L"ut_notrans.dll"}, L"CompanyName", 260, S_OK, L"Orv Latin"},
        {"no version resource", {L"ut_plain.exe"}, L"OLESelfRegister", 0, kNoVersionResource, nullptr},
        {"value name that is a path", {L"ut_verlib.dll"}, L"\\VarFileInfo\\Translation", 128, E_INVALIDARG, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring path = Fixture(row.file.name, row.file.other);
        if (path.empty()) continue;
        WCHAR buffer[300];
        wmemset(buffer, L'#', 300);
        EXPECT_EQ(row.hr, CWexFile::GetVersionInfo(path.c_str(), row.value, row.cch ? buffer : nullptr, row.cch));
        if (row.cch == 0) continue;
        const size_t len = wcsnlen(buffer, row.cch);
        EXPECT_LT(len, row.cch);
        EXPECT_EQ(Narrow(row.text), Narrow(std::wstring(buffer, len)));
        EXPECT_EQ(std::wstring(300 - row.cch, L'#'), std::wstring(buffer + row.cch, 300 - row.cch)) << "overrun";
    }
}

FILETIME MakeFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
    SYSTEMTIME st{year, month, 0, day, hour, minute, 0, 0};
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

// Each selector's time, as FILETIME and as local SYSTEMTIME (the tests run in
// Europe/Berlin), on both sides of the changes of daylight saving time.
TEST(WexFile, GetTimeStamp) {
    TempDir temp;
    const FILETIME times[] = {MakeFileTime(2020, 3, 29, 0, 30), MakeFileTime(2020, 3, 29, 1, 30),
                              MakeFileTime(2020, 10, 25, 0, 30), MakeFileTime(2020, 10, 25, 1, 30)};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const std::wstring path = temp / std::to_wstring(i);
        ASSERT_TRUE(WriteBytes(path, "x"));
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                               0, nullptr);
        FILETIME created{}, access = MakeFileTime(2012, 7, 8, 9, 10);
        ASSERT_TRUE(SetFileTime(h, nullptr, &access, &times[i]) && GetFileTime(h, &created, nullptr, nullptr));
        CloseHandle(h);
        const FILETIME expected[] = {created, access, times[i]};  // Wine keeps no settable creation time
        for (int selector : {WEX_TIME_CREATION, WEX_TIME_LASTACCESS, WEX_TIME_LASTWRITE}) {
            FILETIME ft{0xdeadbeef, 0xdeadbeef}, local{};
            SYSTEMTIME st, want{};
            memset(&st, 0xAB, sizeof(st));
            ASSERT_EQ(S_OK, CWexFile::GetTimeStamp(path.c_str(), &ft, selector));
            ASSERT_EQ(S_OK, CWexFile::GetTimeStamp(path.c_str(), &st, selector));
            EXPECT_EQ(0, CompareFileTime(&expected[selector], &ft)) << selector;
            ASSERT_TRUE(FileTimeToLocalFileTime(&expected[selector], &local) && FileTimeToSystemTime(&local, &want));
            EXPECT_EQ(0, memcmp(&want, &st, sizeof(st))) << selector;
        }
    }
    // Failures clear the output.
    const std::pair<std::wstring, int> failures[] = {{temp / L"missing", 2}, {temp / L"0", 3}, {LongPath(261), 2}};
    for (const auto& [path, selector] : failures) {
        FILETIME ft{0xdeadbeef, 0xdeadbeef};
        EXPECT_TRUE(FAILED(CWexFile::GetTimeStamp(path.c_str(), &ft, selector)));
        EXPECT_EQ(0u, ft.dwLowDateTime | ft.dwHighDateTime);
    }
}
