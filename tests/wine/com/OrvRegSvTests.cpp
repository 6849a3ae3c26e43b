// The registration program orvregsv.exe as the kernel and setup programs
// run it: each switch, a path with blanks, each exit code and what it says.
#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

using OrvRegSv = ComTest;

TEST_F(OrvRegSv, SwitchesExitCodesAndOutput) {
    const std::wstring v1 = Place(L"srv_v1.dll", L"a b"), program = Place(L"local_v1.exe"), missing = m_temp / L"none.dll";
    const std::wstring failing = Place(L"srv_fail.dll"), noUnregister = Place(L"srv_nounreg.dll"), av = Place(L"srv_av.dll");
    // said: the start of the output ("": nothing said); entry: ran once more than before (null: nothing checked).
    const struct { const char* label; std::wstring arguments; DWORD exitCode; std::wstring said, server; const wchar_t* entry;
                   bool registered; } rows[] = {
        {"register, path with blanks", v1 + L" /s /w", 0, L"", v1, L"DllRegisterServer", true},
        {"install command only", v1 + L" /s /c /w /n /i:\"a b\"", 0, L"", v1, L"DllInstall", true},
        {"unregister", v1 + L" /u /s /w", 0, L"", v1, L"DllUnregisterServer", false},
        {"local server", program + L" /s /w", 0, L"", program, L"RegServer", true},
        {"local server unregistered", program + L" /u /s /w", 0, L"", program, L"UnregServer", false},
        {"/n without /i", v1 + L" /n", 87, L"orvregsv: /n is only allowed together with /i", v1, nullptr, false},
        {"unknown switch", v1 + L" /x", 87, L"orvregsv: unknown switch /x", v1, nullptr, false},
        {"install command for a program", program + L" /i", 87, L"orvregsv: /i and /n apply to libraries only", program, nullptr, false},
        {"cannot load", missing + L" /s", 126, L"orvregsv: cannot load " + missing + L": error 126: ", missing, nullptr, false},
        {"no entry point", noUnregister + L" /u", 127, L"orvregsv: no entry point DllUnregisterServer in " + noUnregister,
         noUnregister, nullptr, false},
        {"the entry point fails", failing, DWORD(kSelfRegClass),
         L"orvregsv: DllRegisterServer in " + failing + L" failed: 0x80040201", failing, L"DllRegisterServer", false},
        {"the entry point faults", av, 574, L"orvregsv: exception 0xC0000005 in " + av, av, L"DllRegisterServer", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const DWORD before = row.entry ? Marks(row.server, row.entry) : 0;
        const ProcessResult run = RunProcess(L"\"" + BinDir() + L"\\orvregsv.exe\" " + row.arguments, 40000);
        const std::wstring output(reinterpret_cast<const wchar_t*>(run.output.data()), run.output.size() / 2);  // UTF-16
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(Hex(HRESULT(run.exitCode)), Hex(HRESULT(row.exitCode)));
        EXPECT_EQ(Narrow(row.said.empty() ? output : output.substr(0, row.said.size())), Narrow(row.said));
        EXPECT_TRUE(!row.entry || Marks(row.server, row.entry) == before + 1);
        const bool local = row.server == program;
        EXPECT_EQ(RegisteredServer(local ? kLocalClsid : kInProcClsid, local ? L"LocalServer32" : L"InProcServer32").empty(),
                  !row.registered);
    }
}
