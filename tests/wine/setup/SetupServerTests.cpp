// A COM server held by a running program when its update comes: the kernel
// reports only that the server could not be installed (0x800407D1); the setup
// program finds the target in use, has the copy made at the restart, and
// registers the new server on finish.
#include "ComTest.h"
#include "SetupTest.h"

namespace {

using namespace orv::test;
using namespace orv::test::setup;

TEST(OrvSetupServer, HeldServerIsCopiedAtTheRestartAndRegisteredOnFinish) {
    Product p;
    struct Cleanup {  // whatever an early end of the test leaves
        std::wstring app;
        ~Cleanup() {
            ForgetPendingStartingWith(app);
            DeleteSharedDllValuesContaining(app);
            SHDeleteKeyW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + com::kInProcClsid).c_str());
        }
    } cleanup{p.App()};
    const std::wstring target = p.App() + L"\\srv.dll";
    // The kernel finds a server's registration by its file name: source and target share it.
    for (const wchar_t* v : {L"1", L"2"})
        ASSERT_TRUE(CopyFileW(Join(FixturesDir(), std::wstring(L"com\\srv_v") + v + L".dll").c_str(),
                              (p.Dir() + L"\\v" + v + L"\\srv.dll").c_str(), FALSE));
    const auto manifest = [&](const wchar_t* v) {
        return p.Head(v) + L"[File server]\r\nSource=v" + v + L"\\srv.dll\r\nTarget=srv.dll\r\n";
    };
    ASSERT_TRUE(Ran(p.Run(L"install", manifest(L"1")), 0));
    EXPECT_TRUE(Ran(p.Run(L"check", L""), 0));
    long answer = 0;
    EXPECT_EQ(Hex(com::CreateAndAsk(com::kInProcClsid, CLSCTX_INPROC_SERVER, &answer)), Hex(S_OK));
    EXPECT_EQ(1, answer);

    // A program holds the server as a loaded library would be held.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_TRUE(Ran(p.Run(L"install", manifest(L"2"), L"p2.ini"), 3010, "file   srv.dll  at restart"));
    EXPECT_TRUE(Ran(p.Run(L"finish", L"", L"p2.ini"), 3010, "the restart has not happened yet"));

    // What the restart does: the waiting copy takes the target's place.
    CloseHandle(held);
    const std::wstring waiting = p.App() + L"\\srv_orvtmp.dll";
    EXPECT_TRUE(MoveFileExW(waiting.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    ForgetPendingStartingWith(p.App());
    EXPECT_TRUE(Ran(p.Run(L"finish", L"", L"p2.ini"), 0, "srv.dll  installed: registered"));
    EXPECT_EQ(Hex(com::CreateAndAsk(com::kInProcClsid, CLSCTX_INPROC_SERVER, &answer)), Hex(S_OK));
    EXPECT_EQ(2, answer);
    EXPECT_TRUE(Ran(p.Run(L"check", L"", L"p2.ini"), 0));
    EXPECT_TRUE(Ran(p.Run(L"uninstall", L"", L"p2.ini"), 0));
    EXPECT_FALSE(Exists(p.App()));
    EXPECT_EQ(Hex(com::CreateAndAsk(com::kInProcClsid, CLSCTX_ALL, &answer)), Hex(REGDB_E_CLASSNOTREG));
}

}  // namespace
