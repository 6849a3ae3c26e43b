// orvsetup: the setup program over the installation kernel.
//
//   orvsetup install   <manifest>           [--log FILE] [--quiet]
//   orvsetup check     <manifest | state>   ...
//   orvsetup repair    <manifest | state>
//   orvsetup uninstall <manifest | state>
//   orvsetup finish    <manifest | state>
//   orvsetup status    <manifest | state>
//
// A state file is "<install folder>\_orvsetup\state.ini"; the verbs after
// install find it through the manifest's InstallDir or take it directly.
// Exit codes: 0 success, 3010 restart required, 1602 cancelled, 1603
// failed, 1605 not installed, 1618 another setup of the product runs, 1619
// the manifest cannot be opened, 1620 the manifest is invalid, 1639 invalid
// command line.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "Console.h"
#include "Kernel.h"
#include "ManifestFile.h"
#include "Setup.h"
#include "Win32.h"

namespace {

using namespace orvsetup;

volatile LONG g_cancel = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        InterlockedExchange(&g_cancel, 1);
        return TRUE;
    }
    return FALSE;
}

void Usage(FILE* out) {
    fwprintf(out,
             L"usage: orvsetup <verb> <manifest or state file> [--log FILE] [--quiet]\n"
             L"verbs: install, check, repair, uninstall, finish, status\n"
             L"exit codes: 0 success, 3010 restart required, 1602 cancelled, 1603 failed,\n"
             L"            1605 not installed, 1618 already running, 1619/1620 manifest unreadable/invalid,\n"
             L"            1639 invalid command line\n");
}

// One setup of a product at a time: a mutex named after its install folder.
class ProductLock {
public:
    explicit ProductLock(const std::wstring& installDir) {
        std::wstring path = installDir;
        CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
        for (wchar_t& c : path)
            if (c == L'\\') c = L'/';  // a backslash would name a namespace
        m_mutex = CreateMutexW(nullptr, FALSE, (L"Local\\OrvSetup " + path).c_str());
        // Without a mutex the run goes on unguarded rather than not at all.
        m_busy = m_mutex && WaitForSingleObject(m_mutex, 0) == WAIT_TIMEOUT;
        m_owned = m_mutex && !m_busy;
    }
    ~ProductLock() {
        if (m_owned) ReleaseMutex(m_mutex);
        if (m_mutex) CloseHandle(m_mutex);
    }
    ProductLock(const ProductLock&) = delete;
    ProductLock& operator=(const ProductLock&) = delete;
    bool Busy() const { return m_busy; }

private:
    HANDLE m_mutex = nullptr;
    bool m_owned = false;
    bool m_busy = false;
};

struct Arguments {
    std::wstring verb;
    std::wstring path;
    std::wstring log;
    bool quiet = false;
};

bool Parse(int argc, wchar_t** argv, Arguments& args) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--quiet") {
            args.quiet = true;
        } else if (a == L"--log") {
            if (++i == argc) return false;
            args.log = argv[i];
        } else if (a.size() > 1 && a[0] == L'-') {
            return false;
        } else if (args.verb.empty()) {
            args.verb = a;
        } else if (args.path.empty()) {
            args.path = a;
        } else {
            return false;
        }
    }
    for (const wchar_t* verb : {L"install", L"check", L"repair", L"uninstall", L"finish", L"status"})
        if (args.verb == verb) return !args.path.empty();
    return false;
}

int Run(const Arguments& args, Console& console) {
    // The product: from the manifest, or straight from a state file.
    Manifest manifest;
    std::wstring manifestPath, statePath, message;
    const bool stateGiven = args.verb != L"install" && LooksLikeStateFile(args.path);
    if (stateGiven) {
        statePath = FullPathOf(args.path);
    } else {
        const FileStatus status = LoadManifest(args.path, manifest, manifestPath, message);
        if (status != FileStatus::Ok) {
            console.Error(message);
            return status == FileStatus::CannotOpen ? kExitCannotOpen : kExitInvalidManifest;
        }
        statePath = StatePathFor(manifest.installDir);
    }
    std::wstring installDir = manifest.installDir;
    if (stateGiven) {
        SetupState peek;
        if (LoadState(statePath, peek, message) != FileStatus::Ok) {
            console.Error(message);
            return kExitFailed;
        }
        installDir = peek.installDir;
    }
    ProductLock lock(installDir);
    if (lock.Busy()) {
        console.Error(L"another setup of the product in " + installDir + L" is running");
        return kExitAlreadyRunning;
    }

    SetupState state;
    if (args.verb != L"install") {
        if (!PathExists(statePath)) {
            console.Error(L"nothing is installed in " + installDir + L" (no " + statePath + L")");
            return kExitUnknownProduct;
        }
        if (LoadState(statePath, state, message) != FileStatus::Ok) {
            console.Error(message);
            return kExitFailed;
        }
    }
    if (args.verb == L"status") {
        Setup setup(console, nullptr, g_cancel);
        return setup.Status(state);
    }

    Kernel kernel;
    std::wstring how;
    const HRESULT hr = kernel.Create(how);
    if (FAILED(hr)) {
        console.Error(L"the installation kernel cannot be created: " + HrText(hr) + L" " + SystemText(hr));
        return kExitFailed;
    }
    console.Line(L"Kernel: " + how);
    Setup setup(console, &kernel, g_cancel);
    if (args.verb == L"install") return setup.Install(manifest, manifestPath);
    if (args.verb == L"check") return setup.Check(state, statePath);
    if (args.verb == L"repair") return setup.Repair(state, statePath);
    if (args.verb == L"uninstall") return setup.Uninstall(state, statePath);
    return setup.Finish(state, statePath);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && (wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"/?") == 0)) {
        Usage(stdout);
        return kExitSuccess;
    }
    Arguments args;
    if (!Parse(argc, argv, args)) {
        Usage(stderr);
        return kExitBadCommandLine;
    }
    Console console(args.quiet);
    if (!args.log.empty()) SetEnvironmentVariableW(L"TQORVWEX_LOG", FullPathOf(args.log).c_str());
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = kExitFailed;
    try {
        code = Run(args, console);
    } catch (const std::bad_alloc&) {
        console.Error(L"out of memory");
        code = kExitFailed;
    }
    if (SUCCEEDED(init)) CoUninitialize();
    console.Line(L"Result: " + std::wstring(ExitCodeText(code)) + L" (exit code " + std::to_wstring(code) + L")");
    return code;
}
