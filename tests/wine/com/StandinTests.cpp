// With a stand-in orvregsv.exe beside the test program (the setup program):
// it is the one that runs, and when it fails the kernel falls back to the
// other ways.
#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

namespace {

class Standin : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created";
        ASSERT_TRUE(FileExists(Join(SelfDir(), L"orvregsv.exe"))) << "the stand-in is not beside the test";
        SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", m_record.c_str());
        SetEnvironmentVariableW(L"ORV_STANDIN_EXIT", L"1");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ORV_STANDIN_RECORD", nullptr);
        SetEnvironmentVariableW(L"ORV_STANDIN_EXIT", nullptr);
        ComTest::TearDown();
    }
    std::wstring Recorded() const {
        const std::string bytes = ReadBytes(m_record);
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    }

    LoadedKernel m_kernel;
    std::wstring m_record = m_temp / L"standin.txt";
};

}  // namespace

TEST_F(Standin, PostRebootRegisterFallsBackToSelfRegistration) {
    const std::wstring server = Place(L"srv_v1.dll");
    LogCursor log;
    EXPECT_EQ(Hex(m_kernel->PostRebootRegister(Bstr(server).Get())), Hex(S_OK));
    EXPECT_EQ(Narrow(Recorded()), Narrow(L"orvregsv.exe " + server + L" /s /w"));
    EXPECT_TRUE(HasLines(log.Text(), {Line(L' ', L"Registration program: '" + SelfDir() + L"\\orvregsv.exe'"),
                                      Win32Line(L'E', L"Out of process registration failed.", 1),
                                      Line(L' ', L"Falling back to in process self registration"),
                                      Line(L' ', L"Post reboot registration succeeded")}));
    EXPECT_EQ(Narrow(RegisteredServer(kInProcClsid)), Narrow(server));
    EXPECT_EQ(Marks(server, L"DllRegisterServer"), 1u);
}
