// main() of every Wine test program: a log file of its own, COM, GoogleTest.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>
#include <cwchar>
#include "WineTest.h"

int wmain(int argc, wchar_t** argv) {
    // Every module of this process (and its children) logs into one file the
    // tests can read; a file per process keeps parallel test runs apart.
    bool ownLog = false;
    if (orv::test::Env(L"TQORVWEX_LOG").empty()) {
        WCHAR temp[MAX_PATH], path[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        _snwprintf(path, MAX_PATH, L"%lsorvtest_%lu.log", temp, GetCurrentProcessId());
        path[MAX_PATH - 1] = 0;
        DeleteFileW(path);
        SetEnvironmentVariableW(L"TQORVWEX_LOG", path);
        ownLog = true;
    }
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    if (ownLog && rc == 0) DeleteFileW(orv::test::LogPath().c_str());
    return rc;
}
