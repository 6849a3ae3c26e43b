// Self-registration through the system's regsvr32.exe, as a setup program does
// it, and creation of the registered class from a second process.
#include <windows.h>
#include <gtest/gtest.h>
#include <oleauto.h>
#include <algorithm>
#include <shlwapi.h>
#include "Machine.h"
#include "kernel/TqOrvWexKr_h.h"

using namespace orv::test;

namespace {

std::wstring GuidText(REFGUID guid) {
    WCHAR text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring DllPath() { return Join(BinDir(), L"TqOrvWexKr.dll"); }

ProcessResult Regsvr32(const std::wstring& options) {
    return RunProcess(L"regsvr32.exe " + options + L" \"" + DllPath() + L"\"");
}

std::vector<std::wstring> SubKeys(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    WCHAR name[256];
    for (DWORD i = 0, cch = 256; RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) == 0; ++i, cch = 256)
        names.push_back(name);
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

// The string under HKEY_CLASSES_ROOT (any letter case), or "<none>".
std::wstring UpperString(const std::wstring& path, LPCWSTR name) {
    std::wstring value = L"<none>";
    ReadString(HKEY_CLASSES_ROOT, path, name, &value);
    return Upper(value);
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { Regsvr32(L"/u /s"); }
    void TearDown() override { Regsvr32(L"/u /s"); }
};

}  // namespace

TEST_F(Registration, RegisterWritesTheClassKeysAndTypeLibraryThenUnregisterRemovesThem) {
    const std::wstring clsid = GuidText(CLSID_OrvInstallerKernel);
    const std::wstring classKey = L"CLSID\\" + clsid;

    ASSERT_EQ(Regsvr32(L"/s").exitCode, 0u);

    const struct { std::wstring key; LPCWSTR name; std::wstring data; } rows[] = {
        {L"TqOrvwexkr.OrvInstallerKernel.1", nullptr, L"TqOrvInstallerKernel Class"},
        {L"TqOrvwexkr.OrvInstallerKernel.1\\CLSID", nullptr, clsid},
        {L"Orvwexkr.OrvInstallerKernel", nullptr, L"OrvInstallerKernel Class"},
        {L"Orvwexkr.OrvInstallerKernel\\CLSID", nullptr, clsid},
        {L"Orvwexkr.OrvInstallerKernel\\CurVer", nullptr, L"Orvwexkr.OrvInstallerKernel.1"},
        {classKey, nullptr, L"TqOrvInstallerKernel Class"},
        {classKey + L"\\ProgID", nullptr, L"TqOrvwexkr.OrvInstallerKernel.1"},
        {classKey + L"\\VersionIndependentProgID", nullptr, L"TqOrvwexkr.OrvInstallerKernel"},
        {classKey + L"\\InprocServer32", nullptr, DllPath()},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {classKey + L"\\TypeLib", nullptr, GuidText(LIBID_ORVWEXKRLib)},
    };
    for (const auto& row : rows) EXPECT_EQ(Narrow(UpperString(row.key, row.name)), Narrow(Upper(row.data))) << Narrow(row.key);
    // Nothing more below the class key than the script names.
    EXPECT_EQ(SubKeys(HKEY_CLASSES_ROOT, classKey),
              (std::vector<std::wstring>{L"InprocServer32", L"ProgID", L"TypeLib", L"VersionIndependentProgID"}));

    BSTR tlbPath = nullptr;
    ASSERT_EQ(QueryPathOfRegTypeLib(LIBID_ORVWEXKRLib, 1, 0, 1033, &tlbPath), S_OK);
    EXPECT_EQ(lstrcmpiW(tlbPath, DllPath().c_str()), 0) << Narrow(tlbPath);
    SysFreeString(tlbPath);

    // A second process creates the class by ProgID and by class identifier.
    ProcessResult demo = RunProcess(L"\"" + Join(BinDir(), L"orvdemo.exe") + L"\"");
    EXPECT_EQ(demo.exitCode, 0u) << demo.output;
    EXPECT_NE(demo.output.find("all results as expected"), std::string::npos) << demo.output;

    ASSERT_EQ(Regsvr32(L"/u /s").exitCode, 0u);
    for (const auto& row : rows) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, row.key)) << Narrow(row.key);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    tlbPath = nullptr;
    EXPECT_NE(QueryPathOfRegTypeLib(LIBID_ORVWEXKRLib, 1, 0, 1033, &tlbPath), S_OK);
    SysFreeString(tlbPath);
    CLSID found{};
    EXPECT_NE(CLSIDFromProgID(L"TqOrvwexkr.OrvInstallerKernel.1", &found), S_OK);
}

TEST_F(Registration, ReRegistrationReplacesTheClassKeyAndUnregistrationKeepsForeignSubkeys) {
    const std::wstring clsid = GuidText(CLSID_OrvInstallerKernel);
    const std::wstring classKey = L"CLSID\\" + clsid;
    ASSERT_EQ(Regsvr32(L"/s").exitCode, 0u);
    // Something left below the class key by hand vanishes with the next registration
    // (the class key is replaced as a whole) ...
    ASSERT_TRUE(SetValue(HKEY_CLASSES_ROOT, classKey + L"\\Stale", L"", REG_SZ, Utf16(L"x")));
    ASSERT_EQ(Regsvr32(L"/s").exitCode, 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + L"\\Stale"));

    // ... while another program's key below a ProgID keeps that ProgID on removal.
    ASSERT_TRUE(SetValue(HKEY_CLASSES_ROOT, L"Orvwexkr.OrvInstallerKernel\\Foreign", L"", REG_SZ, Utf16(L"x")));
    ASSERT_EQ(Regsvr32(L"/u /s").exitCode, 0u);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Orvwexkr.OrvInstallerKernel\\Foreign"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orvwexkr.OrvInstallerKernel\\CurVer"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey));
    SHDeleteKeyW(HKEY_CLASSES_ROOT, L"Orvwexkr.OrvInstallerKernel");
}

TEST_F(Registration, EachProcessLogsInitializedAndShutdownOnce) {
    LogCursor cursor;
    ASSERT_EQ(Regsvr32(L"/s").exitCode, 0u);
    ASSERT_EQ(Regsvr32(L"/u /s").exitCode, 0u);
    std::wstring text = cursor.Text();
    // Two processes loaded and freed the module.
    EXPECT_EQ(CountOf(text, L"ORV Frontend Installation Kernel initialized\n(Unicode Release build)"), 2u)
        << Narrow(text);
    EXPECT_EQ(CountOf(text, L"ORV Frontend Installation Kernel shutdown"), 2u) << Narrow(text);
    EXPECT_NE(text.find(L" TqOrvWexKr 2   ORV Frontend Installation Kernel initialized"), std::wstring::npos);
}
