// Helpers of the restart and shared-library tests: the fixtures, a file held
// open, wininit.ini, the Windows 98 helper; the kernel DLL and its records.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "KernelRecords.h"
#include "Machine.h"

namespace orv::test::restart {

inline const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

inline std::wstring Fixture(const std::wstring& name) { return Join(FixturesDir(), L"restart\\" + name); }

// Windows 9x: wininit.ini, the lines of its [rename] section, restart_win98.exe
// run as Windows 98 (its exit code is the HRESULT).
inline std::wstring WininitPath() {
    WCHAR dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return Join(dir, L"wininit.ini");
}
inline std::vector<std::wstring> RenameLines() {
    const std::string bytes = ReadBytes(WininitPath());
    std::vector<std::wstring> lines;
    bool inRename = false;
    for (size_t at = 0, end; at < bytes.size(); at = end + 1) {
        end = std::min(bytes.find('\n', at), bytes.size());
        std::wstring line = Widen(bytes.substr(at, end - at));
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty() && line[0] == L'[')
            inRename = Upper(line) == L"[RENAME]";
        else if (inRename && !line.empty())
            lines.push_back(line);
    }
    return lines;
}
struct WininitGuard {  // wininit.ini as it was, whatever the test does to it
    bool existed = FileExists(WininitPath());
    std::string content = ReadBytes(WininitPath());
    ~WininitGuard() {
        RemoveTree(WininitPath());
        if (existed) WriteBytes(WininitPath(), content);
    }
};
inline HRESULT RunWin98(const std::wstring& args) {
    const ProcessResult run = RunAs(L"win98", Join(SelfDir(), L"restart_win98.exe"), args);
    return run.timedOut ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : HRESULT(run.exitCode);
}

}  // namespace orv::test::restart
