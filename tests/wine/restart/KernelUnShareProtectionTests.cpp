// UnShareFile leaves a library guarded by the system file protection alone.
// A stand-in "sfc.dll" in the system folder guards the paths that contain
// "orv_protected" (WINEDLLOVERRIDES=sfc=n,b makes Wine load it).
#include <windows.h>
#include <shlwapi.h>
#include <gtest/gtest.h>

#include "RestartKernel.h"
#include "RestartTest.h"

using namespace orv::test;
using namespace orv::test::restart;

TEST(UnShareProtected, GuardedLibraryKeepsItsCount) {
    const std::wstring systemSfc = Join(SystemDir(), L"sfc.dll");
    const std::string original = Content(systemSfc);
    ASSERT_FALSE(original.empty());
    ASSERT_TRUE(Write(systemSfc, Content(Join(FixturesDir(), L"sfc_system\\sfc.dll"))));
    struct Restore {
        std::wstring path;
        std::string bytes;
        ~Restore() { Write(path, bytes); }
    } restore{systemSfc, original};

    const std::wstring library = Join(SystemDir(), UniqueName(L"orv_protected", L".dll"));
    ASSERT_TRUE(CopyFileW(Join(FixturesDir(), L"restart\\lib_v1.dll").c_str(), library.c_str(), FALSE));
    WCHAR canonical[MAX_PATH];
    GetLongPathNameW(library.c_str(), canonical, MAX_PATH);
    CharUpperW(canonical);
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kSharedDllsKey, canonical, REG_DWORD, Dword(3)));
    {
        LoadedKernel kernel;
        ASSERT_NE(kernel.Get(), nullptr);
        Bstr path(library);
        LogCursor log;
        EXPECT_EQ(Hex(kernel->UnShareFile(path.Get())), Hex(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)));
        EXPECT_TRUE(HasLinesInOrder(
            log.Text(),
            {Win32Line(L'E', L"Target file is under Windows file protection. Aborting file uninstallation", 5)}));
    }
    EXPECT_EQ(DwordCount(canonical), 3);
    SHDeleteValueW(HKEY_LOCAL_MACHINE, kSharedDllsKey, canonical);
    DeleteFileW(library.c_str());
}
