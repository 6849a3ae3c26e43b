// The registration program orvregsv.exe as the kernel and setup programs
// run it: each switch, a path with blanks, each exit code and what it says.
#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

namespace {

class OrvRegSv : public ComTest {
protected:
    // Exit code and standard output (UTF-16) of "orvregsv.exe <arguments>".
    ProcessResult Run(const std::wstring& arguments, std::wstring* output) {
        ProcessResult run = RunProcess(L"\"" + BinDir() + L"\\orvregsv.exe\" " + arguments, 40000);
        output->assign(reinterpret_cast<const wchar_t*>(run.output.data()), run.output.size() / 2);
        return run;
    }
};

}  // namespace

TEST_F(OrvRegSv, SwitchesExitCodesAndOutput) {
    const std::wstring v1 = Place(L"srv_v1.dll", L"a b"), program = Place(L"local_v1.exe"), missing = m_temp / L"none.dll";
    const std::wstring failing = Place(L"srv_fail.dll"), noUnregister = Place(L"srv_nounreg.dll"), av = Place(L"srv_av.dll");
    const struct {
        const char* label;
        std::wstring arguments;
        DWORD exitCode;
        std::wstring said;  // in the output; "": nothing said
        std::wstring server;
        const wchar_t* entry;  // ran once more than before (null: nothing checked)
        bool registered;       // afterwards
    } rows[] = {
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
        std::wstring output;
        const ProcessResult run = Run(row.arguments, &output);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(Hex(HRESULT(run.exitCode)), Hex(HRESULT(row.exitCode)));
        if (row.said.empty()) {
            EXPECT_EQ(Narrow(output), "");
        } else {
            EXPECT_EQ(Narrow(output.substr(0, row.said.size())), Narrow(row.said));
        }
        if (row.entry) {
            EXPECT_EQ(Marks(row.server, row.entry), before + 1);
        }
        const bool local = row.server == program;
        EXPECT_EQ(RegisteredServer(local ? kLocalClsid : kInProcClsid, local ? L"LocalServer32" : L"InProcServer32").empty(),
                  !row.registered);
    }
}
