// TqOrvWexLg: the log library. See platform/WexLog.h for the line format.
#include "platform/WexLog.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "LogClock.h"
#include "core/LogHeader.h"
#include "LogLock.h"

namespace {

// Attributes of the next line, per thread.
struct LineAttributes {
    DWORD threadId;
    WCHAR component[32];
    int level;
    WCHAR severity;
    DWORD win32Error;
};
thread_local LineAttributes t_attr;

// How long a line waits for another process's line before it is written anyway.
constexpr DWORD kLockTimeoutMs = 5000;

// The open log, shared by every thread of the process.
struct LogState {
    CRITICAL_SECTION threads;  // orders the lines of this process's threads
    HANDLE file = INVALID_HANDLE_VALUE;
    // Orders the lines of several processes writing one file: the lock in
    // shared memory, or where that cannot be had, a mutex.
    orv::lg::CrossProcessLock processes;
    HANDLE mutex = nullptr;
    LONG starts = 0;
    bool opened = false;     // an attempt was made (a failed open is not retried per line)
    WCHAR path[MAX_PATH] = L"";
};
LogState g_log;

void CopyText(WCHAR* dst, size_t cch, LPCWSTR src) {
    if (!src) src = L"";
    size_t i = 0;
    for (; i + 1 < cch && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

void DefaultPath(LPCWSTR requested, WCHAR* out) {
    out[0] = 0;
    if (requested && *requested) {
        CopyText(out, MAX_PATH, requested);
        return;
    }
    DWORD n = GetEnvironmentVariableW(L"TQORVWEX_LOG", out, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return;
    out[0] = 0;
    WCHAR temp[MAX_PATH];
    n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH - 16) return;
    _snwprintf(out, MAX_PATH, L"%sTqOrvWex.log", temp);
    out[MAX_PATH - 1] = 0;
}

// Opens the file and the cross-process lock named after the file's path.
// Called with g_log.threads held.
void OpenLocked() {
    if (g_log.opened) return;
    g_log.opened = true;
    if (!g_log.path[0]) DefaultPath(nullptr, g_log.path);
    if (!g_log.path[0]) return;
    g_log.file = CreateFileW(g_log.path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    WCHAR name[64];
    orv::lg::LockNameOfLog(g_log.path, name);
    if (!g_log.processes.Open(name)) g_log.mutex = CreateMutexW(nullptr, FALSE, name);
}

void CloseLocked() {
    if (g_log.file != INVALID_HANDLE_VALUE) CloseHandle(g_log.file);
    if (g_log.mutex) CloseHandle(g_log.mutex);
    g_log.processes.Close();
    g_log.file = INVALID_HANDLE_VALUE;
    g_log.mutex = nullptr;
    g_log.opened = false;
}

// Writes one finished line (UTF-16, no line end) as one UTF-8 record.
void WriteLine(const WCHAR* text, size_t cch) {
    // 3 bytes per UTF-16 unit at most, plus the line end.
    static thread_local char utf8[(WEX_LOG_MAX_TEXT + 256) * 3 + 2];
    // A line of ASCII (most are) is its own UTF-8.
    int bytes = 0;
    size_t ascii = 0;
    while (ascii < cch && text[ascii] < 0x80) ++ascii;
    if (ascii == cch && cch <= sizeof(utf8) - 2) {
        for (size_t i = 0; i < cch; ++i) utf8[i] = static_cast<char>(text[i]);
        bytes = static_cast<int>(cch);
    } else {
        bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(cch), utf8, sizeof(utf8) - 2, nullptr, nullptr);
    }
    if (bytes <= 0) return;
    utf8[bytes++] = '\r';
    utf8[bytes++] = '\n';

    EnterCriticalSection(&g_log.threads);
    OpenLocked();
    if (g_log.file != INVALID_HANDLE_VALUE) {
        // Another process may write the same file: take the lock so lines never interleave.
        // If it cannot be had in time, write anyway: a line out of order beats a lost line.
        DWORD written = 0;
        if (g_log.processes.IsOpen()) {
            const bool held = g_log.processes.Acquire(kLockTimeoutMs);
            WriteFile(g_log.file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
            if (held) g_log.processes.Release();
        } else {
            const DWORD wait = g_log.mutex ? WaitForSingleObject(g_log.mutex, kLockTimeoutMs) : WAIT_FAILED;
            const bool owned = (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED);
            WriteFile(g_log.file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
            if (owned) ReleaseMutex(g_log.mutex);
        }
    }
    LeaveCriticalSection(&g_log.threads);
}

// Header, text (cut to WEX_LOG_MAX_TEXT) and, for error lines, the error's number and system text.
void Emit(const LineAttributes& a, LPCWSTR text, bool withError) {
    WCHAR line[128 + WEX_LOG_MAX_TEXT + 640];
    SYSTEMTIME st;
    orv::lg::LocalNow(&st);
    const orv::LogHeaderFields header{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                      st.wMilliseconds, static_cast<unsigned long>(GetCurrentProcessId()),
                                      static_cast<unsigned long>(a.threadId), a.component[0] ? a.component : L"-",
                                      a.level, a.severity ? a.severity : L' '};
    size_t n = orv::FormatLogHeader(header, line, 128);
    if (!text) text = L"";
    for (size_t i = 0; text[i] && i < WEX_LOG_MAX_TEXT; ++i) line[n++] = text[i];
    line[n] = 0;

    if (withError) {
        WCHAR sys[512];
        DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, a.win32Error,
                                   0, sys, 512, nullptr);
        if (len >= 512) len = 511;
        while (len > 0 && (sys[len - 1] == L'\r' || sys[len - 1] == L'\n' || sys[len - 1] == L' ')) --len;
        sys[len] = 0;
        const size_t room = 640;
        int e = _snwprintf(line + n, room - 1, L": error %lu (0x%08lX): %s", static_cast<unsigned long>(a.win32Error),
                           static_cast<unsigned long>(a.win32Error), len ? sys : L"(no system text)");
        n += (e < 0 || static_cast<size_t>(e) >= room - 1) ? room - 1 : static_cast<size_t>(e);
        line[n] = 0;
    }
    WriteLine(line, n);
}

// Formats into out (WEX_LOG_MAX_TEXT + 1 characters): a text that does not fit is cut.
void FormatText(WCHAR* out, LPCWSTR format, va_list args) {
    out[0] = 0;
    if (!format) return;
    int t = _vsnwprintf(out, WEX_LOG_MAX_TEXT, format, args);
    if (t < 0 || t >= WEX_LOG_MAX_TEXT) t = WEX_LOG_MAX_TEXT;
    out[t] = 0;
}

void SetAttributes(LineAttributes& a, DWORD tid, LPCWSTR component, int level, WCHAR severity) {
    a.threadId = tid ? tid : GetCurrentThreadId();
    CopyText(a.component, 32, component);
    a.level = level;
    a.severity = severity;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_log.threads);
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process exit other threads are gone and may have held the lock: leave it be.
        if (!reserved) {
            CloseLocked();
            DeleteCriticalSection(&g_log.threads);
        }
    }
    return TRUE;
}

int WINAPI WexStartLog(DWORD, LPCWSTR pszLogFile, LPCWSTR, DWORD) {
    EnterCriticalSection(&g_log.threads);
    if (g_log.starts++ == 0) {
        CloseLocked();
        DefaultPath(pszLogFile, g_log.path);
    }
    OpenLocked();
    int ok = g_log.file != INVALID_HANDLE_VALUE ? 0 : -1;
    LeaveCriticalSection(&g_log.threads);
    return ok;
}

int WINAPI WexStopLog(DWORD) {
    EnterCriticalSection(&g_log.threads);
    if (g_log.starts > 0 && --g_log.starts == 0) CloseLocked();
    LeaveCriticalSection(&g_log.threads);
    return 0;
}

int WINAPI WexWriteLogSetEnv(DWORD dwThreadId, LPCWSTR pszComponent, int nLevel, WCHAR chSeverity) {
    SetAttributes(t_attr, dwThreadId, pszComponent, nLevel, chSeverity);
    t_attr.win32Error = 0;
    return 0;
}

int __cdecl WexWriteLogEnv(LPCWSTR pszFormat, ...) {
    WCHAR text[WEX_LOG_MAX_TEXT + 1];
    va_list args;
    va_start(args, pszFormat);
    FormatText(text, pszFormat, args);
    va_end(args);
    Emit(t_attr, text, false);
    return 0;
}

int WINAPI WexWriteWin32Message(LPCWSTR pszText, DWORD dwError, DWORD dwThreadId, LPCWSTR pszComponent,
                                WCHAR chSeverity, int nLevel) {
    LineAttributes a;
    SetAttributes(a, dwThreadId, pszComponent, nLevel, chSeverity);
    a.win32Error = dwError;
    Emit(a, pszText, true);
    return 0;
}

int WINAPI WexVarInitWin32Message(DWORD dwError, DWORD dwThreadId, LPCWSTR pszComponent, int nLevel,
                                  WCHAR chSeverity) {
    SetAttributes(t_attr, dwThreadId, pszComponent, nLevel, chSeverity);
    t_attr.win32Error = dwError;
    return 0;
}

int __cdecl WexVarWriteWin32Message(LPCWSTR pszFormat, ...) {
    WCHAR text[WEX_LOG_MAX_TEXT + 1];
    va_list args;
    va_start(args, pszFormat);
    FormatText(text, pszFormat, args);
    va_end(args);
    Emit(t_attr, text, true);
    return 0;
}
