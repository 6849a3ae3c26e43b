// The Windows 9x rules, through a helper that Wine runs as Windows 98 (AppDefaults)
// or as its default NT version; the helper logs into this test's log file.
#include "RegTestUtil.h"

using namespace orv::test;

TEST(Win9x, PlatformRules) {
    const std::wstring expandWarning = L"Running on Win95 with type REG_EXPAND_SZ specified for default value: not "
                                       L"supported on this platform. Setting type to REG_SZ";
    for (bool win98 : {true, false}) {
        SCOPED_TRACE(win98 ? "Windows 98" : "NT family");
        TestKey k(L"w9x");
        TempDir dir;
        // The top key of the other platform family is refused; later sections apply.
        const std::string refused = win98 ? "HKEY_PERFORMANCE_DATA" : "HKEY_DYN_DATA";
        ASSERT_TRUE(WriteBytes(dir / L"p.reg", "[" + refused + "\\OrvTest]\nv=\"1\"\n[HKEY_CURRENT_USER\\" +
                                                   Narrow(k.Path()) + "\\After]\nv=\"2\"\n"));
        LogCursor log;
        const ProcessResult run = RunAs(win98 ? L"win98" : nullptr, Join(SelfDir(), L"registry_win9x_probe.exe"),
                                        L"regkey \"" + k.Full(L"E") + L"\" \"" + (dir / L"p.reg") + L"\"");
        EXPECT_EQ(run.exitCode, DWORD(S_OK)) << run.output;
        EXPECT_EQ(run.output.find("GetVersion=C") != std::string::npos, win98) << run.output;
        EXPECT_TRUE(ValueIs(k.Path(L"E"), L"", win98 ? REG_SZ : REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\x")));
        EXPECT_TRUE(ValueIs(k.Path(L"E"), L"named", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\x")));
        EXPECT_EQ(CountOf(log.Text(), expandWarning), win98 ? 1u : 0u);
        EXPECT_TRUE(HasLogLine(log.Text(), L'E', L"Registry top key " + Widen(refused) + L" is not supported on " +
                                                     (win98 ? L"Win9X" : L"WinNT") + L" platforms: error 1010"));
        EXPECT_TRUE(ValueIs(k.Path(L"After"), L"v", REG_SZ, Utf16(L"2")));
    }
}
