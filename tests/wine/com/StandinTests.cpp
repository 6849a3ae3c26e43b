// With a stand-in orvregsv.exe beside the test program (the setup program):
// it is the one that runs, and when it fails the kernel falls back to the
// other ways.
#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

namespace {

class Standin : public KernelComTest {
protected:
    void SetUp() override {
        KernelComTest::SetUp();
        ASSERT_TRUE(FileExists(Join(SelfDir(), L"orvregsv.exe"))) << "the stand-in is not beside the test";
        SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", m_record.c_str());
        SetEnvironmentVariableW(L"ORV_STANDIN_EXIT", L"1");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", nullptr);
        SetEnvironmentVariableW(L"ORV_STANDIN_EXIT", nullptr);
        KernelComTest::TearDown();
    }
    std::wstring Recorded() const {
        const std::string bytes = ReadBytes(m_record);
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    }

    std::wstring m_record = m_temp / L"standin.txt";
};

}  // namespace

TEST_F(Standin, PostRebootRegisterFallsBackToSelfRegistration) {
    const std::wstring server = Place(L"srv_v1.dll");
    LogCursor log;
    EXPECT_EQ(Hex(m_kernel->PostRebootRegister(Bstr(server).Get())), Hex(S_OK));
    EXPECT_EQ(Narrow(Recorded()), Narrow(L"orvregsv.exe " + server + L" /s /w"));
    EXPECT_TRUE(LogHas(log.Text(), {Line(L' ', L"Registration program: '" + SelfDir() + L"\\orvregsv.exe'"),
                                      Win32Line(L'E', L"Out of process registration failed.", 1),
                                      Line(L' ', L"Falling back to in process self registration"),
                                      Line(L' ', L"Post reboot registration succeeded")}));
    EXPECT_EQ(Narrow(RegisteredServer(kInProcClsid)), Narrow(server));
    EXPECT_EQ(Marks(server, L"DllRegisterServer"), 1u);
}

// When orvregsv.exe fails, an in-process server is registered by regsvr32.exe;
// a local server is not (it fails), but its unregistration still tries it.
TEST_F(Standin, RegistrationProgramFails) {
    const std::wstring inproc = m_temp / L"target\\" + PathFindFileNameW(Place(L"srv_v1.dll").c_str());
    const std::wstring local = m_temp / L"target\\" + PathFindFileNameW(Place(L"local_v1.exe").c_str());
    const struct { const char* label; std::wstring target; bool install; HRESULT expected; std::vector<std::wstring> lines;
                   std::wstring registered; } rows[] = {  // registered: afterwards
        {"in-process server", inproc, true, S_OK,
         {Win32Line(L'W', L"Registration with 'orvregsv.exe' failed", 1), Line(L' ', L"Falling back to registration with 'regsvr32.exe'"),
          Line(L' ', L"COM server out of process self registration succeeded")}, inproc},
        {"local server", local, true, HRESULT_FROM_WIN32(1),
         {Win32Line(L'E', L"EXE server out of process self registration failed", 1)}, L""},
        {"local server unregistered", local, false, S_OK,
         {Line(L' ', L"Falling back to unregistration with 'regsvr32.exe'"),
          Line(L'E', L"EXE server unregistration failed even with 'regsvr32.exe'!")}, local},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const bool exe = row.target == local;
        const wchar_t *clsid = exe ? kLocalClsid : kInProcClsid, *kind = exe ? L"LocalServer32" : L"InProcServer32";
        ASSERT_TRUE(row.install || SetValue(HKEY_CLASSES_ROOT, ServerKey(clsid, kind), L"", REG_SZ, Utf16(row.target)));
        InstallRecord record(m_temp / PathFindFileNameW(row.target.c_str()), row.target, 3);
        LogCursor log;
        EXPECT_EQ(Hex(row.install ? m_kernel->InstallFile(record.Get()) : m_kernel->UnInstallFile(record.Get())), Hex(row.expected));
        EXPECT_TRUE(LogHas(log.Text(), row.lines));
        EXPECT_TRUE(row.install != exe || Lacks(log.Text(), L"regsvr32"));
        EXPECT_EQ(Narrow(RegisteredServer(clsid, kind)), Narrow(row.registered));
    }
}
