// The Windows 9x rules, through a helper program that Wine runs as Windows 98
// (HKCU\Software\Wine\AppDefaults\<program>\Version), and as its default NT
// version for comparison. The helper logs into this test's log file.
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>
#include "RegTestUtil.h"

using namespace orv::test;

namespace {

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\registry_win9x_probe.exe";

class Win9x : public ::testing::Test {
protected:
    void SetUp() override {
        WCHAR self[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
        m_probe = self;
        m_probe = m_probe.substr(0, m_probe.find_last_of(L'\\') + 1) + L"registry_win9x_probe.exe";
        ASSERT_TRUE(FileExists(m_probe));
    }
    void TearDown() override { SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults); }

    // Runs the probe as win98 (true) or Wine's default NT version (false).
    ::testing::AssertionResult Run(bool win98, const std::wstring& args, HRESULT expected) {
        SHDeleteKeyW(HKEY_CURRENT_USER, kAppDefaults);
        if (win98 && SHSetValueW(HKEY_CURRENT_USER, kAppDefaults, L"Version", REG_SZ, L"win98", 12) != ERROR_SUCCESS)
            return ::testing::AssertionFailure() << "cannot set the Windows version";
        const ProcessResult run = RunProcess(L"\"" + m_probe + L"\" " + args, 30000);
        const bool bit31 = run.output.find("GetVersion=8") != std::string::npos ||
                           run.output.find("GetVersion=C") != std::string::npos;
        if (run.timedOut || bit31 != win98 || static_cast<HRESULT>(run.exitCode) != expected)
            return ::testing::AssertionFailure() << std::hex << "exit 0x" << run.exitCode << ", expected 0x" << expected
                                                 << "; output: " << run.output;
        return ::testing::AssertionSuccess();
    }

    std::wstring m_probe;
};

}  // namespace

TEST_F(Win9x, ExpandableStringAsDefaultValue) {
    const struct {
        const char* label;
        bool win98;
        DWORD defaultType;
    } rows[] = {{"Windows 98", true, REG_SZ}, {"NT family", false, REG_EXPAND_SZ}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"w9x");
        LogCursor log;
        ASSERT_TRUE(Run(row.win98, L"expand \"" + k.Full(L"E") + L"\"", S_OK));
        EXPECT_TRUE(ValueIs(k.Path(L"E"), L"", row.defaultType, Utf16(L"%SystemRoot%\\x")));
        EXPECT_TRUE(ValueIs(k.Path(L"E"), L"named", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\x")));
        const std::wstring warning =
            L"Running on Win95 with type REG_EXPAND_SZ specified for default value: not supported on this "
            L"platform. Setting type to REG_SZ";
        if (row.win98)
            EXPECT_TRUE(HasLogLine(log.Text(), L'W', warning));
        else
            EXPECT_EQ(log.Text().find(warning), std::wstring::npos);
    }
}

TEST_F(Win9x, PlatformBoundTopKeys) {
    const struct {
        const char* label;
        bool win98;
        const char* refusedHeader;
        std::wstring line;
    } rows[] = {
        {"HKEY_PERFORMANCE_DATA on Windows 98", true, "[HKEY_PERFORMANCE_DATA\\OrvTest]",
         L"Registry top key HKEY_PERFORMANCE_DATA is not supported on Win9X platforms: error 1010"},
        {"HKEY_DYN_DATA on the NT family", false, "[HKEY_DYN_DATA\\OrvTest]",
         L"Registry top key HKEY_DYN_DATA is not supported on WinNT platforms: error 1010"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TestKey k(L"w9x");
        TempDir dir;
        const std::wstring script = dir / L"platform.reg";
        ASSERT_TRUE(WriteBytes(script, std::string(row.refusedHeader) + "\nv=\"1\"\n[HKEY_CURRENT_USER\\" +
                                           Narrow(k.Path()) + "\\After]\nv=\"2\"\n"));
        LogCursor log;
        ASSERT_TRUE(Run(row.win98, L"script \"" + script + L"\"", S_OK));
        EXPECT_TRUE(HasLogLine(log.Text(), L'E', row.line));
        EXPECT_TRUE(ValueIs(k.Path(L"After"), L"v", REG_SZ, Utf16(L"2")));
    }
}
