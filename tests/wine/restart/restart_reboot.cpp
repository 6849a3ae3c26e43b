// The restart test's program (restart_across_reboot.sh runs it before and
// after a restart of the Wine system); it drives the kernel (linked in) the
// way a setup program does. Each step prints what it checks;
// the exit code is 0 when all held, else the number of the first step that failed.
//   restart_reboot prepare <folder>   files in use, replacement and deletion scheduled
//   restart_reboot verify <folder>    after the restart: replaced, deleted, nothing left
//   restart_reboot hold <file>        holds the file open, shared with nobody, until ended
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "kernel/Module.h"
#include "kernel/TqOrvWexKr_h.h"
#include "platform/WexLog.h"

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

int g_step = 0;
bool Check(bool ok, const char* what) {
    ++g_step;
    printf("%2d %s: %s\n", g_step, ok ? "ok  " : "FAIL", what);
    fflush(stdout);
    return ok;
}

bool WriteText(const std::wstring& path, const char* text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(h);
    return ok != FALSE;
}

std::string ReadText(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[256];
    DWORD got = 0;
    ReadFile(h, buffer, sizeof(buffer), &got, nullptr);
    CloseHandle(h);
    return std::string(buffer, got);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The pending-rename pairs whose source lies below folder, in list order,
// without the "\??\" prefixes.
std::vector<std::wstring> PendingBelow(const std::wstring& folder) {
    std::vector<std::wstring> pairs;
    DWORD type = 0, size = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return pairs;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        std::vector<WCHAR> data(size / sizeof(WCHAR) + 2, 0);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size);
        std::vector<std::wstring> items;
        for (size_t at = 0; at < size / sizeof(WCHAR);) {
            std::wstring item(data.data() + at);
            at += item.size() + 1;
            if (item.empty() && items.size() % 2 == 0) break;
            if (item.compare(0, 4, L"\\??\\") == 0) item.erase(0, 4);
            items.push_back(item);
        }
        const std::wstring prefix = folder + L"\\";
        for (size_t i = 0; i + 1 < items.size(); i += 2)
            if (_wcsnicmp(items[i].c_str(), prefix.c_str(), prefix.size()) == 0)
                pairs.push_back(items[i] + L" -> " + items[i + 1]);
    }
    RegCloseKey(key);
    return pairs;
}

struct Files {
    explicit Files(const std::wstring& folder)
        : target(folder + L"\\Replaced Library.dll"),
          temporary(folder + L"\\Replaced Library_orvtmp.dll"),
          source(folder + L"\\new\\Replaced Library.dll"),
          deleted(folder + L"\\Deleted Library.dll") {}
    std::wstring target, temporary, source, deleted;
};

int Prepare(const std::wstring& folder) {
    const Files f(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\new").c_str(), nullptr);
    if (!Check(WriteText(f.target, "old library") && WriteText(f.source, "new library") &&
                   WriteText(f.deleted, "library to delete"),
               "files written"))
        return g_step;

    // Another process holds both targets, shared with nobody.
    PROCESS_INFORMATION holders[2] = {};
    const std::wstring held[2] = {f.target, f.deleted};
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (int i = 0; i < 2; ++i) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" hold \"" + held[i] + L"\"";
        STARTUPINFOW si = {sizeof(si)};
        if (!Check(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                  &holders[i]) != FALSE,
                   "holder started"))
            return g_step;
        for (int wait = 0; wait < 200 && !Exists(held[i] + L".held"); ++wait) Sleep(50);
        if (!Check(Exists(held[i] + L".held"), "target held open by another process")) return g_step;
        DeleteFileW((held[i] + L".held").c_str());
    }

    int failed = 0;
    IOrvInstallerKernel* kernel = nullptr;
    if (!Check(OrvWexKrCreateInstance(&kernel) == S_OK, "kernel created")) return g_step;
    BSTR source = SysAllocString(f.source.c_str()), target = SysAllocString(f.target.c_str()),
         deleted = SysAllocString(f.deleted.c_str());
    _ORV_FILE_INSTALL_INFO install = {};
    install.bstrSource = source;
    install.bstrTarget = target;
    install.dwInstallMode = 1;
    const HRESULT installed = kernel->InstallFile(&install);
    printf("   InstallFile: 0x%08lX\n", static_cast<unsigned long>(installed));
    if (!Check(installed == static_cast<HRESULT>(0x800407D0L), "InstallFile: target in use (0x800407D0)"))
        failed = failed ? failed : g_step;
    if (_ORV_CHECK_INFO* records = install.lpOrvCheckInfo) {
        for (int i = 0; i < 3; ++i) {
            SysFreeString(records[i].bstrKey);
            SysFreeString(records[i].bstrValue);
        }
        CoTaskMemFree(records);
    }
    if (!Check(kernel->PreparePostRebootCopyFile(source, target, 1) == S_OK, "PreparePostRebootCopyFile"))
        failed = failed ? failed : g_step;
    if (!Check(kernel->PreparePostRebootDeleteFile(deleted) == S_OK, "PreparePostRebootDeleteFile"))
        failed = failed ? failed : g_step;
    kernel->Release();
    SysFreeString(source);
    SysFreeString(target);
    SysFreeString(deleted);
    const std::vector<std::wstring> expected = {f.target + L" -> ", f.temporary + L" -> " + f.target,
                                                f.deleted + L" -> "};
    const std::vector<std::wstring> pending = PendingBelow(folder);
    for (const std::wstring& p : pending) printf("   pending: %ls\n", p.c_str());
    if (!Check(pending.size() == expected.size() && std::equal(pending.begin(), pending.end(), expected.begin(),
                                                               [](const std::wstring& a, const std::wstring& b) {
                                                                   return _wcsicmp(a.c_str(), b.c_str()) == 0;
                                                               }),
               "pending renames: delete target, copy to target, delete file - in this order"))
        failed = failed ? failed : g_step;
    if (!Check(ReadText(f.temporary) == "new library" && ReadText(f.target) == "<missing>",
               "complete temporary copy beside the target, which is still held"))
        failed = failed ? failed : g_step;

    // The handles are released; the files stay until the restart.
    for (PROCESS_INFORMATION& holder : holders) {
        TerminateProcess(holder.hProcess, 0);
        WaitForSingleObject(holder.hProcess, 10000);
        CloseHandle(holder.hThread);
        CloseHandle(holder.hProcess);
    }
    if (!Check(ReadText(f.target) == "old library" && Exists(f.deleted), "before the restart nothing has changed"))
        failed = failed ? failed : g_step;
    return failed;
}

int Verify(const std::wstring& folder) {
    const Files f(folder);
    int failed = 0;
    if (!Check(ReadText(f.target) == "new library", "target holds the new content")) failed = failed ? failed : g_step;
    if (!Check(!Exists(f.temporary), "the temporary copy is gone")) failed = failed ? failed : g_step;
    if (!Check(!Exists(f.deleted), "the file scheduled for deletion is gone")) failed = failed ? failed : g_step;
    if (!Check(PendingBelow(folder).empty(), "no pending renames left")) failed = failed ? failed : g_step;
    return failed;
}

int Hold(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    WriteText(path + L".held", "");
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 100;
    if (wcscmp(argv[1], L"hold") == 0) return Hold(argv[2]);
    WexStartLog(GetCurrentThreadId(), nullptr, nullptr, 0);
    int rc = 100;
    if (wcscmp(argv[1], L"prepare") == 0) rc = Prepare(argv[2]);
    if (wcscmp(argv[1], L"verify") == 0) rc = Verify(argv[2]);
    WexStopLog(GetCurrentThreadId());
    return rc;
}
