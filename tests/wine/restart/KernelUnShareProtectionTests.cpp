// UnShareFile leaves a library guarded by the system file protection alone:
// a stand-in "sfc.dll" in the system folder (WINEDLLOVERRIDES=sfc=n,b) guards
// the paths that contain "orv_protected".
#include <shlwapi.h>

#include "RestartTest.h"

using namespace orv::test;
using namespace orv::test::restart;

TEST(UnShareProtected, GuardedLibraryKeepsItsCount) {
    const std::wstring systemSfc = Join(SystemDir(), L"sfc.dll");
    const std::string original = ReadBytes(systemSfc);
    ASSERT_FALSE(original.empty());
    ASSERT_TRUE(WriteBytes(systemSfc, ReadBytes(Join(FixturesDir(), L"sfc_system\\sfc.dll"))));
    const std::wstring library = Join(SystemDir(), UniqueName(L"orv_protected", L".dll"));
    ASSERT_TRUE(CopyFileW(Fixture(L"lib_v1.dll").c_str(), library.c_str(), FALSE));
    ASSERT_TRUE(SetCount(Canonical(library), REG_DWORD, Dword(3)));
    {
        LoadedKernel kernel;
        ASSERT_NE(kernel.Get(), nullptr);
        LogCursor log;
        EXPECT_EQ(Hex(kernel->UnShareFile(Bstr(library).Get())), Hex(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
        EXPECT_TRUE(LogHas(log.Text(), {Win32Line(L'E', L"Target file is under Windows file protection. Aborting "
                                                          L"file uninstallation", 5)}));
    }
    EXPECT_EQ(DwordCount(Canonical(library)), 3);
    DeleteSharedDllValuesContaining(PathFindFileNameW(library.c_str()));
    DeleteFileW(library.c_str());
    WriteBytes(systemSfc, original);
}
