// COM servers through the kernel DLL: PostRebootRegister.
#include "ComTest.h"

using namespace orv::test;
using namespace orv::test::com;

namespace {

class KernelCom : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_NE(m_kernel.Get(), nullptr) << "the kernel DLL cannot be created";
    }

    LoadedKernel m_kernel;
};

std::vector<std::wstring> Lines(std::initializer_list<std::pair<WCHAR, std::wstring>> lines) {
    std::vector<std::wstring> out;
    for (const auto& [severity, text] : lines) out.push_back(Line(severity, text));
    return out;
}

}  // namespace

TEST_F(KernelCom, PostRebootRegister) {
    const std::wstring v1 = Place(L"srv_v1.dll"), gone = Place(L"srv_needgone.dll", L"gone");
    const std::wstring part = Place(L"srv_needpart.dll", L"part"), av = Place(L"srv_av.dll");
    PlaceAsIs(L"orvpart.dll", L"part");
    const std::wstring moduleMissing = Win32Line(L'E', L"In process registration failed", ERROR_MOD_NOT_FOUND);
    const struct {
        const char* label;
        std::wstring server;
        HRESULT expected;
        std::vector<std::wstring> lines;
    } rows[] = {
        {"the registration program registers it", v1, S_OK,
         Lines({{L' ', L"Post Reboot Step: Attempting registration of " + v1}, {L' ', L"File type: InProc COM server file"},
                {L' ', L"CreateProcess on: 'orvregsv.exe " + v1 + L" /s /w'"}, {L' ', L"Post reboot registration succeeded"}})},
        {"a library that is not there", gone, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
         {Win32Line(L'E', L"Out of process registration failed.", ERROR_MOD_NOT_FOUND),
          Line(L' ', L"Falling back to in process self registration"), moduleMissing,
          Line(L'E', L"The module " + gone + L" could not be loaded due to unresolved module dependencies:"),
          Line(L'E', L"Module orvgone.dll is unresolved")}},
        // Windows refuses to load it (127); Wine loads it and the call of the missing function raises an exception.
        {"a function that is not there", part, E_UNEXPECTED,
         {Win32Line(L'E', L"In process registration failed", 0xFFFF),
          Line(L'E', L"Export OrvPartMissing <-- " + m_temp / L"part\\orvpart.dll" + L" ( version 0.0.0.0 ) is unresolved")}},
        {"a server that faults, in both processes", av, E_UNEXPECTED,
         {Win32Line(L'E', L"Out of process registration failed.", 574), Line(L'E', L"Exception 0xC0000005 raised while loading " + av),
          Win32Line(L'E', L"In process registration failed", 0xFFFF)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Clean();
        LogCursor log;
        EXPECT_EQ(Hex(m_kernel->PostRebootRegister(Bstr(row.server).Get())), Hex(row.expected));
        EXPECT_TRUE(HasLines(log.Text(), row.lines));
        EXPECT_EQ(RegisteredServer(kInProcClsid).empty(), FAILED(row.expected));
    }
    // The faults did not harm the kernel object: it still installs a file.
    const std::wstring data = m_temp / L"data.txt", target = m_temp / L"installed\\data.txt";
    ASSERT_TRUE(WriteBytes(data, "data"));
    InstallRecord record(data, target, 1);
    EXPECT_EQ(Hex(m_kernel->InstallFile(record.Get())), Hex(S_OK));
    EXPECT_EQ(ReadBytes(target), "data");
}
