// Faults while the kernel works: a source that shrinks or vanishes during
// its copy, a registry key whose security denies writing, a drive that fills
// during a COM server or font install (testdrive.sh). Each fault is made to
// happen for real; afterwards every target is its whole old or whole new
// self, and nothing is left half done. One line per fault:
//   fault | <fault> | <runs> | <files lost>
#include <aclapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <thread>
#include <tuple>

#include "KernelRecords.h"
#include "WineTest.h"

using namespace orv::test;

namespace {

const wchar_t kSharedDlls[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const wchar_t kFontsKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

std::string Pattern(char fill, size_t size) {
    std::string bytes(size, fill);
    for (size_t i = 0; i < size; i += 4096) bytes[i] = static_cast<char>(i / 4096);
    return bytes;
}

size_t Temporaries(const std::wstring& folder) { return FindNames(folder, L"_orv*").size(); }

void Report(const char* fault, int runs, int lost) {
    std::printf("fault | %s | %d | %d\n", fault, runs, lost);
    std::fflush(stdout);
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(m_kernel.Get(), nullptr); }
    TempDir m_temp;
    LoadedKernel m_kernel;
};

}  // namespace

// The source is cut short, or deleted, while the kernel copies it over an
// older target: the target is the old file, the source as it was, or the
// source as it is now; never a mix, and no temporary copy stays.
TEST_F(Faults, SourceShrinksOrVanishesWhileCopied) {
    const std::string oldData = Pattern('o', 8 << 20), newData = Pattern('n', 32 << 20);
    const std::wstring source = m_temp / L"source.dat", target = m_temp / L"target.dat";
    for (bool vanish : {false, true}) {
        int lost = 0, runs = 0;
        for (DWORD delay = 0; delay < 120; delay += 10, ++runs) {
            ASSERT_TRUE(WriteBytes(source, newData));
            ASSERT_TRUE(WriteBytes(target, oldData));
            HANDLE h = CreateFileW(target.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            const FILETIME older{0, 0x01C0A000};
            SetFileTime(h, nullptr, nullptr, &older);
            CloseHandle(h);
            InstallRecord record(source, target, 2);
            std::thread fault([&] {
                Sleep(delay);
                if (vanish) {
                    DeleteFileW(source.c_str());
                    return;
                }
                HANDLE file = CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
                SetFilePointer(file, 1 << 20, nullptr, FILE_BEGIN);
                SetEndOfFile(file);
                CloseHandle(file);
            });
            m_kernel->InstallFile(record.Get());
            fault.join();
            const std::string now = ReadBytes(target), sourceNow = ReadBytes(source);
            if (now != oldData && now != newData && (vanish || now != sourceNow)) {
                ++lost;
                ADD_FAILURE() << (vanish ? "vanished" : "shrunk") << " after " << delay << " ms: target of " << now.size()
                              << " bytes is neither the old nor the new file";
            }
            EXPECT_EQ(Temporaries(m_temp.Path()), 0u);
        }
        Report(vanish ? "source deleted while copied" : "source cut short while copied", runs, lost);
    }
}

// A key whose security lets nobody write: every key and value method fails
// with the registry's refusal, and the key keeps its one value.
TEST_F(Faults, RegistryKeyThatDeniesWriting) {
    const std::wstring path = UniqueKeyPath(L"denied");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD kept = 7;
    RegSetValueExW(key, L"kept", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kept), 4);
    SECURITY_DESCRIPTOR sd;
    ACL acl;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&acl, sizeof(acl), ACL_REVISION);  // an empty list: nobody may do anything
    SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    RegCloseKey(key);

    const BSTR full = SysAllocString((L"HKCU\\" + path).c_str()), below = SysAllocString((L"HKCU\\" + path + L"\\sub").c_str());
    const BSTR name = SysAllocString(L"kept"), data = SysAllocString(L"changed");
    IOrvRegKey* regKey = nullptr;
    m_kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&regKey));
    ASSERT_NE(regKey, nullptr);
    IOrvRegKey* out = nullptr;
    const struct {
        const char* label;
        std::function<HRESULT()> call;
    } rows[] = {
        {"a key below it", [&] { HRESULT hr = m_kernel->InstallRegKey(below, &out); if (out) out->Release(), out = nullptr; return hr; }},
        {"the key itself", [&] { HRESULT hr = m_kernel->InstallRegKey(full, &out); if (out) out->Release(), out = nullptr; return hr; }},
        {"a value in it", [&] { return regKey->InstallStringValue(name, data, VARIANT_TRUE, VARIANT_FALSE); }},
        {"removal, value by value", [&] { HRESULT hr = m_kernel->UnInstallRegKey(full, &out, VARIANT_FALSE); if (out) out->Release(), out = nullptr; return FAILED(hr) ? hr : regKey->UnInstallValue(name); }},
        {"forced removal", [&] { HRESULT hr = m_kernel->UnInstallRegKey(full, &out, VARIANT_TRUE); if (out) out->Release(), out = nullptr; return hr; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_TRUE(FAILED(row.call()));
    }
    regKey->Release();
    // Nothing changed: the owner may still read the security and put it back.
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
    SetSecurityDescriptorDacl(&sd, FALSE, nullptr, FALSE);  // no list: everybody
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
    RegCloseKey(key);
    DWORD value = 0, size = sizeof(value);
    EXPECT_EQ(SHGetValueW(HKEY_CURRENT_USER, path.c_str(), L"kept", nullptr, &value, &size), ERROR_SUCCESS);
    EXPECT_EQ(value, kept);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path + L"\\sub"));
    SHDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    for (BSTR s : {full, below, name, data}) SysFreeString(s);
    Report("registry key whose security denies writing", static_cast<int>(std::size(rows)), value == kept ? 0 : 1);
}

// A drive too small for the file (testdrive.sh; skipped without it): a COM
// server or a font that cannot be copied fails and leaves no file, no
// temporary copy, no count and no font entry behind.
TEST_F(Faults, DriveFullDuringServerAndFontInstall) {
    const std::wstring drive = Env(L"ORV_TEST_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "no test drive: run through testdrive.sh as root";
    const std::wstring server = Join(drive, L"srv.dll"), font = Join(drive, L"orvfull.ttf");
    const std::wstring fontSource = m_temp / L"orvfull.ttf";
    // DejaVu Sans under a name of its own, so that no installed font of that name keeps it out.
    std::string bytes = ReadBytes(L"Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
    const std::string from = "DejaVu Sans", to = "OrvFullDisk";
    std::string wideFrom, wideTo;
    for (char c : from) wideFrom += {'\0', c};
    for (char c : to) wideTo += {'\0', c};
    for (const auto& [f, t] : {std::pair{from, to}, std::pair{wideFrom, wideTo}})
        for (size_t at = bytes.find(f); at != std::string::npos; at = bytes.find(f, at + t.size())) bytes.replace(at, f.size(), t);
    ASSERT_TRUE(WriteBytes(fontSource, bytes));
    SHDeleteValueW(HKEY_LOCAL_MACHINE, kFontsKey, L"OrvFullDisk (TrueType)");  // of an earlier run
    int lost = 0;
    for (const auto& [label, source, target] : {std::tuple{"server", Join(FixturesDir(), L"com\\srv_v1.dll"), server},
                                                 std::tuple{"font", fontSource, font}}) {
        SCOPED_TRACE(label);
        InstallRecord record(source, target, 1);
        const HRESULT hr = m_kernel->InstallFile(record.Get());
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        if (FileExists(target)) ++lost;
        EXPECT_FALSE(FileExists(target));
        EXPECT_EQ(Temporaries(drive), 0u);
        std::wstring upper = target;
        CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
        DWORD size = 0;
        EXPECT_NE(SHGetValueW(HKEY_LOCAL_MACHINE, kSharedDlls, upper.c_str(), nullptr, nullptr, &size), ERROR_SUCCESS);
    }
    // No fonts entry names the drive.
    HKEY fonts = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFontsKey, 0, KEY_READ, &fonts), ERROR_SUCCESS);
    WCHAR name[512], data[MAX_PATH];
    for (DWORD i = 0;; ++i) {
        DWORD cch = 512, size = sizeof(data), type = 0;
        if (RegEnumValueW(fonts, i, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) break;
        if (type == REG_SZ && StrStrIW(data, drive.c_str())) ADD_FAILURE() << "fonts entry for the drive: " << Narrow(name);
    }
    RegCloseKey(fonts);
    Report("drive full during a COM server and a font install", 2, lost);
}
