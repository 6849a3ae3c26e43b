// orvregsv.exe, the registration program: registers or unregisters one COM
// server in a process of its own, so that a server that misbehaves cannot
// harm the setup program.
//
//   orvregsv.exe <server path> [/u] [/s] [/w] [/c] [/n] [/i[:<command>]]
//
// A library (a module with the DLL flag) is loaded and its entry points are
// called: DllRegisterServer, then DllInstall(TRUE, command) with /i; with /u
// DllInstall(FALSE, command) with /i, then DllUnregisterServer. /n skips
// DllRegisterServer / DllUnregisterServer (only together with /i). A program
// is run with "/RegServer" (with /u "/UnregServer"); with /w its end is
// awaited (25 s at most, then it is ended), without /w it is only started.
// /s and /c are accepted for the setup program's command lines: the program
// never shows a window or message box, and writes what failed to its
// standard output in any case.
//
// Exit codes: 0 done; 87 the command line is not understood; 126 the library
// cannot be loaded or the program cannot be started; 127 the entry point is
// missing; 574 the library raised an exception (contained); 1460 the program
// did not end in time; 14 memory ran out; a negative code is the failure
// result (HRESULT) of the entry point, or of the program's own exit code.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "core/RegSvCommandLine.h"
#include "platform/FaultGuard.h"

namespace {

constexpr int kExitBadCommandLine = ERROR_INVALID_PARAMETER;       // 87
constexpr int kExitCannotLoad = ERROR_MOD_NOT_FOUND;               // 126
constexpr int kExitNoEntryPoint = ERROR_PROC_NOT_FOUND;            // 127
constexpr int kExitException = 574;                                // ERROR_UNHANDLED_EXCEPTION
constexpr int kExitTimeout = ERROR_TIMEOUT;                        // 1460
constexpr DWORD kProgramTimeoutMs = 25000;

// UTF-16 text on standard output (a console gets it as characters).
void Say(const std::wstring& text) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!out || out == INVALID_HANDLE_VALUE) return;
    const std::wstring line = L"orvregsv: " + text + L"\r\n";
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode))
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    else
        WriteFile(out, line.c_str(), static_cast<DWORD>(line.size() * sizeof(WCHAR)), &written, nullptr);
}

std::wstring SystemText(DWORD error) {
    WCHAR* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result = n && text ? std::wstring(text, n) : std::wstring();
    LocalFree(text);
    while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n' || result.back() == L' '))
        result.pop_back();
    return result;
}

std::wstring Hex(DWORD value) {
    WCHAR text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring ErrorText(DWORD error) { return L"error " + std::to_wstring(error) + L": " + SystemText(error); }

// HRESULT_FROM_WIN32 as an exit code: a failure code that is never one of ours.
int FailureOf(DWORD programExitCode) {
    const LONG code = static_cast<LONG>(programExitCode);
    return code < 0 ? code : static_cast<int>((programExitCode & 0xFFFF) | 0x80070000u);
}

// True for a module whose file header has the DLL flag; a file that cannot
// be read as one is taken for a library, and loading it says what is wrong.
bool IsProgram(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char header[1024];
    DWORD got = 0;
    const BOOL read = ReadFile(file, header, sizeof(header), &got, nullptr);
    CloseHandle(file);
    if (!read || got < 64 || header[0] != 'M' || header[1] != 'Z') return false;
    const DWORD pe = header[60] | header[61] << 8 | header[62] << 16 | static_cast<DWORD>(header[63]) << 24;
    if (pe > got - 24 || header[pe] != 'P' || header[pe + 1] != 'E' || header[pe + 2] || header[pe + 3]) return false;
    const unsigned characteristics = header[pe + 22] | header[pe + 23] << 8;
    return !(characteristics & IMAGE_FILE_DLL);
}

int RunProgram(const orv::RegSvArguments& args) {
    if (args.install) {
        Say(L"/i and /n apply to libraries only: " + args.path);
        return kExitBadCommandLine;
    }
    std::wstring commandLine = L"\"" + args.path + L"\" " + (args.unregister ? L"/UnregServer" : L"/RegServer");
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(args.path.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, nullptr, &si, &pi)) {
        const DWORD error = GetLastError();
        Say(L"cannot start " + args.path + L": " + ErrorText(error));
        return kExitCannotLoad;
    }
    CloseHandle(pi.hThread);
    int result = 0;
    if (args.wait) {
        if (WaitForSingleObject(pi.hProcess, kProgramTimeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 0);
            Say(args.path + L" did not end within 25 seconds and was ended");
            result = kExitTimeout;
        } else {
            DWORD exitCode = 0;
            GetExitCodeProcess(pi.hProcess, &exitCode);
            if (exitCode != 0) {
                result = FailureOf(exitCode);
                Say(args.path + L" ended with exit code " + Hex(exitCode));
            }
        }
    }
    CloseHandle(pi.hProcess);
    return result;
}

// The library's work, run inside the fault guard.
struct LibraryCall {
    const orv::RegSvArguments* args;
    HMODULE module = nullptr;
    int result = 0;
};

typedef HRESULT(STDAPICALLTYPE* EntryPoint)();
typedef HRESULT(STDAPICALLTYPE* InstallEntryPoint)(BOOL, LPCWSTR);

bool CallEntry(LibraryCall& call, const char* name) {
    auto entry = reinterpret_cast<EntryPoint>(GetProcAddress(call.module, name));
    if (!entry) {
        Say(std::wstring(L"no entry point ") + std::wstring(name, name + strlen(name)) + L" in " + call.args->path);
        call.result = kExitNoEntryPoint;
        return false;
    }
    const HRESULT hr = entry();
    if (FAILED(hr)) {
        Say(std::wstring(name, name + strlen(name)) + L" in " + call.args->path + L" failed: " + Hex(hr));
        call.result = hr;
        return false;
    }
    return true;
}

bool CallInstall(LibraryCall& call, BOOL install) {
    auto entry = reinterpret_cast<InstallEntryPoint>(GetProcAddress(call.module, "DllInstall"));
    if (!entry) {
        Say(L"no entry point DllInstall in " + call.args->path);
        call.result = kExitNoEntryPoint;
        return false;
    }
    const HRESULT hr = entry(install, call.args->installCommand.c_str());
    if (FAILED(hr)) {
        Say(L"DllInstall in " + call.args->path + L" failed: " + Hex(hr));
        call.result = hr;
        return false;
    }
    return true;
}

void LoadAndRegister(void* context) {
    LibraryCall& call = *static_cast<LibraryCall*>(context);
    const orv::RegSvArguments& args = *call.args;
    call.module = LoadLibraryExW(args.path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!call.module) {
        Say(L"cannot load " + args.path + L": " + ErrorText(GetLastError()));
        call.result = kExitCannotLoad;
        return;
    }
    const bool entries = !args.skipRegistration;
    if (!args.unregister) {
        if (entries && !CallEntry(call, "DllRegisterServer")) return;
        if (args.install) CallInstall(call, TRUE);
    } else {
        if (args.install && !CallInstall(call, FALSE)) return;
        if (entries) CallEntry(call, "DllUnregisterServer");
    }
}

void Free(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

int RunLibrary(const orv::RegSvArguments& args) {
    const HRESULT ole = OleInitialize(nullptr);
    LibraryCall call{&args};
    DWORD code = 0;
    if (!orv::CallContainingFaults(&LoadAndRegister, &call, &code)) {
        Say(L"exception " + Hex(code) + L" in " + args.path);
        call.result = kExitException;
    }
    if (call.module && !orv::CallContainingFaults(&Free, call.module, &code)) {
        Say(L"exception " + Hex(code) + L" while unloading " + args.path);
        if (call.result == 0) call.result = kExitException;
    }
    if (SUCCEEDED(ole)) OleUninitialize();
    return call.result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    try {
        const orv::RegSvArguments args = orv::ParseRegSvArguments(orv::SkipProgramName(GetCommandLineW()));
        if (!args.error.empty()) {
            Say(args.error + L". Usage: orvregsv.exe <server path> [/u] [/s] [/w] [/c] [/n] [/i[:<command>]]");
            return kExitBadCommandLine;
        }
        return IsProgram(args.path) ? RunProgram(args) : RunLibrary(args);
    } catch (...) {
        Say(L"out of memory");
        return ERROR_OUTOFMEMORY;
    }
}
