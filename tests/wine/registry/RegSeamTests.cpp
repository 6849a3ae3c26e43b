// Which access masks reach the registry. A 64-bit process sees no difference
// between registry views, so the calls are recorded through the kernel's
// registry table (and still carried out).
#include <windows.h>
#include <gtest/gtest.h>
#include <functional>
#include <set>
#include <utility>
#include "RegTestUtil.h"
#include "kernel/KernelObject.h"
#include "kernel/Module.h"
#include "registry/RegFile.h"
#include "registry/RegistryApi.h"
#include "registry/RegistryKey.h"

using namespace orv::test;

namespace {

// (call, access mask): 'C' create, 'O' open, 'D' delete key, 'S' SHDeleteKey.
using Call = std::pair<char, REGSAM>;
std::multiset<Call> g_calls;

LONG WINAPI RecordCreate(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                         LPSECURITY_ATTRIBUTES sa, PHKEY out, LPDWORD disposition) {
    g_calls.insert({'C', sam});
    return orv::SystemRegistryCalls().pfnCreateKeyEx(root, path, reserved, cls, options, sam, sa, out, disposition);
}
LONG WINAPI RecordOpen(HKEY root, LPCWSTR path, DWORD options, REGSAM sam, PHKEY out) {
    g_calls.insert({'O', sam});
    return orv::SystemRegistryCalls().pfnOpenKeyEx(root, path, options, sam, out);
}
LONG WINAPI RecordDelete(HKEY key, LPCWSTR path) {
    g_calls.insert({'D', 0});
    return orv::SystemRegistryCalls().pfnDeleteKey(key, path);
}
DWORD WINAPI RecordSHDelete(HKEY key, LPCWSTR path) {
    g_calls.insert({'S', 0});
    return orv::SystemRegistryCalls().pfnSHDeleteKey(key, path);
}

class RegSeam : public ::testing::Test {
protected:
    void SetUp() override {
        orv::RegistryCalls() = {&RecordCreate, &RecordOpen, &RecordDelete, &RecordSHDelete};
        ASSERT_EQ(OrvWexKrCreateInstance(&m_kernel), S_OK);
        ASSERT_EQ(m_kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&m_values)), S_OK);
    }
    void TearDown() override {
        if (m_values) m_values->Release();
        if (m_kernel) m_kernel->Release();
        orv::RegistryCalls() = orv::SystemRegistryCalls();
    }
    HRESULT KeyCall(const std::wstring& path, bool install, VARIANT_BOOL force = VARIANT_FALSE) {
        BSTR b = SysAllocString(path.c_str());
        IOrvRegKey* out = nullptr;
        HRESULT hr = install ? m_kernel->InstallRegKey(b, &out) : m_kernel->UnInstallRegKey(b, &out, force);
        if (out) out->Release();
        SysFreeString(b);
        return hr;
    }
    HRESULT SetValue(LPCWSTR name) {
        BSTR b = SysAllocString(name);
        HRESULT hr = m_values->InstallIntegerValue(b, 1, VARIANT_FALSE);
        SysFreeString(b);
        return hr;
    }
    HRESULT RemoveValue(LPCWSTR name) {
        BSTR b = SysAllocString(name);
        HRESULT hr = m_values->UnInstallValue(b);
        SysFreeString(b);
        return hr;
    }

    IOrvInstallerKernel* m_kernel = nullptr;
    IOrvRegKey* m_values = nullptr;
    TempDir m_dir;
};

std::string Describe(const std::set<Call>& calls) {
    std::string s;
    char buf[32];
    for (const Call& c : calls) {
        snprintf(buf, sizeof(buf), "%c:0x%lX ", c.first, static_cast<unsigned long>(c.second));
        s += buf;
    }
    return s.empty() ? "(none)" : s;
}

}  // namespace

TEST_F(RegSeam, AccessMasks) {
    TestKey k(L"seam");
    const std::wstring script = m_dir / L"s.reg";
    ASSERT_TRUE(WriteBytes(script, "[HKEY_CURRENT_USER\\" + Narrow(k.Path()) + "\\File]\nv=dword:1\n"));
    const REGSAM w64 = KEY_WOW64_64KEY;
    const struct {
        const char* label;
        bool b64Bit;
        std::function<void()> setup;  // not recorded
        std::function<void()> action;
        std::set<Call> expected;
    } rows[] = {
        {"InstallRegKey", false, nullptr, [&] { KeyCall(k.Full(L"A\\B"), true); }, {{'C', 0x2001F}}},
        {"InstallRegKey, 64-bit", true, nullptr, [&] { KeyCall(k.Full(L"A\\B"), true); }, {{'C', 0x2001F | w64}}},
        {"UnInstallRegKey", false, nullptr, [&] { KeyCall(k.Full(L"A\\B"), false); }, {{'O', 0xF003F}}},
        {"UnInstallRegKey, 64-bit", true, nullptr, [&] { KeyCall(k.Full(L"A\\B"), false); }, {{'O', 0xF003F | w64}}},
        {"removal walk, 64-bit", true, [&] { KeyCall(k.Full(L"W\\X"), true), SetValue(L"v"); },
         [&] { RemoveValue(L"v"); }, {{'O', 0x2001F | w64}, {'D', 0}}},
        {"forced UnInstallRegKey, 64-bit", true, [&] { KeyCall(k.Full(L"A\\B"), true); },
         [&] { KeyCall(k.Full(L"A"), false, VARIANT_TRUE); }, {{'S', 0}}},
        {"registration file install, kernel 64-bit", true, nullptr,
         [&] { orv::InstallRegistrationFile(script.c_str(), L""); }, {{'C', 3}}},
        {"registration file uninstall, kernel 64-bit", true, nullptr,
         [&] { orv::UnInstallRegistrationFile(script.c_str(), L""); }, {{'O', 3}, {'O', 0x2001F}, {'D', 0}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(m_kernel->put_Use64BitHive(row.b64Bit ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        if (row.setup) row.setup();
        g_calls.clear();
        row.action();
        const std::set<Call> seen(g_calls.begin(), g_calls.end());
        EXPECT_EQ(seen, row.expected) << Describe(seen) << " expected " << Describe(row.expected);
    }
}

// The key holder never opens, creates or deletes a predefined root itself.
TEST_F(RegSeam, HolderRefusesPathsWithoutAKey) {
    const wchar_t* paths[] = {L"", L"\\", L"\\\\\\", nullptr};
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(path ? Narrow(path) : "null");
        CWexKrRegistryKey key;
        g_calls.clear();
        EXPECT_EQ(key.OpenKey(HKEY_CURRENT_USER, path, KEY_READ), ERROR_BADKEY);
        EXPECT_EQ(key.CreateMarkedKey(HKEY_CURRENT_USER, path, 0, KEY_READ), ERROR_BADKEY);
        EXPECT_EQ(key.RemoveMarkedKeys(HKEY_CURRENT_USER, path), ERROR_BADKEY);
        EXPECT_FALSE(key.IsOpen());
        EXPECT_TRUE(g_calls.empty()) << Describe(std::set<Call>(g_calls.begin(), g_calls.end()));
    }
}
