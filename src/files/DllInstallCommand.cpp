#include "files/DllInstallCommand.h"

#include <string>

#include "com/RegistrationProgram.h"
#include "core/ToolOutput.h"
#include "platform/KrLog.h"
#include "platform/Raii.h"

namespace orv::files {
namespace {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "UTF-16 characters");

constexpr size_t kOutputChars = 4095;  // one 4096-character buffer with its terminator
constexpr DWORD kPollMs = 10;

// The error of a call that just failed; never 0, so never S_OK.
DWORD FailedCallError() {
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

// Letters, digits, punctuation and blanks; no control characters.
bool IsPrintable(char16_t c) {
    const WCHAR ch = static_cast<WCHAR>(c);
    WORD type = 0;
    if (!GetStringTypeW(CT_CTYPE1, &ch, 1, &type)) return false;
    if (type & C1_CNTRL) return false;
    return (type & (C1_ALPHA | C1_DIGIT | C1_PUNCT | C1_BLANK)) != 0;
}

// Reads what the pipe holds now, without waiting for more.
void Drain(HANDLE pipe, ToolOutput& output) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got, nullptr) || got == 0)
            return;
        output.Append(buffer, got);
    }
}

std::wstring CommandLineOf(LPCWSTR dllPath, BOOL install, LPCWSTR command) {
    std::wstring line(L"orvregsv.exe ");
    line.append(dllPath);
    if (!install) line.append(L" /u");
    line.append(L" /s /c /w");
    line.append(L" /n /i");
    if (command) line.append(L":\"").append(command).append(L"\"");
    return line;
}

}  // namespace

HRESULT RunDllInstallCommand(LPCWSTR pszDllPath, BOOL bInstall, LPCWSTR pszCommand) {
    try {
        if (!pszDllPath) return E_POINTER;
        std::wstring commandLine = CommandLineOf(pszDllPath, bInstall, pszCommand);
        ToolOutput output(kOutputChars, &IsPrintable);
        // Started by the full path found, never from the current folder.
        WCHAR program[MAX_PATH];
        if (!com::FindRegistrationProgram(program)) return HResultFromWin32(ERROR_FILE_NOT_FOUND);
        LogInfo(L"Registration program: '%s'", program);

        // Only the write end goes to the child; the read end stays ours.
        SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
        UniqueHandle readEnd, writeEnd;
        if (CreatePipe(readEnd.Put(), writeEnd.Put(), &sa, 0)) {
            SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
            LogInfo(L"CreatePipe to orvregsv succeeded");
        } else {
            readEnd.Reset();
            writeEnd.Reset();
            LogInfo(L"CreatePipe for orvregsv failed");
        }

        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOWNORMAL;
        si.hStdOutput = writeEnd.Get();
        PROCESS_INFORMATION pi = {};
        SetLastError(0);
        if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                            &si, &pi))
            return HResultFromWin32(static_cast<LONG>(FailedCallError()));
        UniqueHandle process(pi.hProcess), thread(pi.hThread);
        writeEnd.Reset();  // the child holds its own copy

        // The output is read while the program runs: a pipe holds only a few
        // kilobytes, and a program that fills it would wait for ever.
        HRESULT hr = S_OK;
        bool ended = false;
        const DWORD start = GetTickCount();
        for (;;) {
            if (readEnd) Drain(readEnd.Get(), output);
            const DWORD elapsed = GetTickCount() - start;
            const DWORD left = elapsed < kDllInstallCommandTimeoutMs ? kDllInstallCommandTimeoutMs - elapsed : 0;
            if (WaitForSingleObject(process.Get(), left < kPollMs ? left : kPollMs) == WAIT_OBJECT_0) {
                ended = true;
                break;
            }
            if (left == 0) break;
        }
        if (!ended) {
            hr = E_UNEXPECTED;  // still running: left alone
        } else {
            if (readEnd) Drain(readEnd.Get(), output);
            DWORD exitCode = 0;
            SetLastError(0);
            if (!GetExitCodeProcess(process.Get(), &exitCode))
                hr = HResultFromWin32(static_cast<LONG>(FailedCallError()));
            else
                hr = HResultFromWin32(static_cast<LONG>(exitCode));
        }

        if (FAILED(hr)) {
            if (output.Text().empty()) {
                LogInfo(L"No output came from orvregsv");
            } else {
                const std::wstring text(output.Text().begin(), output.Text().end());
                LogInfo(L"orvregsv output:%s", text.c_str());
            }
        }
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace orv::files
