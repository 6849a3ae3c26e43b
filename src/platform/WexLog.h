// Interface of the log library TqOrvWexLg.dll.
//
// One line per write: local time with milliseconds, process and thread id,
// component, level, severity character and the text. The attributes of a line
// are set per thread (WexWriteLogSetEnv / WexVarInitWin32Message) and apply to
// the next line written by the same thread. A failure to write the log is
// never reported to the caller as an error of its own work.
#pragma once
#include <windows.h>

#ifdef TQORVWEXLG_BUILD
#define WEXLG_API extern "C" __declspec(dllexport)
#else
#define WEXLG_API extern "C" __declspec(dllimport)
#endif

// Severity characters.
#define WEX_SEV_INFO    L' '
#define WEX_SEV_WARNING L'W'
#define WEX_SEV_ERROR   L'E'

// Opens the log for the calling module. pszLogFile null: the path in the
// environment variable TQORVWEX_LOG, else "%TEMP%\TqOrvWex.log".
// pszProgram null: the process's executable name. dwFlags: reserved, 0.
// Calls nest; the file is closed by the last WexStopLog.
WEXLG_API int WINAPI WexStartLog(DWORD dwThreadId, LPCWSTR pszLogFile, LPCWSTR pszProgram, DWORD dwFlags);
WEXLG_API int WINAPI WexStopLog(DWORD dwThreadId);

WEXLG_API int WINAPI WexWriteLogSetEnv(DWORD dwThreadId, LPCWSTR pszComponent, int nLevel, WCHAR chSeverity);
// printf-style with Microsoft wide semantics: %s takes a wide string.
WEXLG_API int __cdecl WexWriteLogEnv(LPCWSTR pszFormat, ...);

// The text followed by the Win32 error number and the system's text for it.
WEXLG_API int WINAPI WexWriteWin32Message(LPCWSTR pszText, DWORD dwError, DWORD dwThreadId,
                                          LPCWSTR pszComponent, WCHAR chSeverity, int nLevel);
WEXLG_API int WINAPI WexVarInitWin32Message(DWORD dwError, DWORD dwThreadId, LPCWSTR pszComponent,
                                            int nLevel, WCHAR chSeverity);
WEXLG_API int __cdecl WexVarWriteWin32Message(LPCWSTR pszFormat, ...);

// Longest text of one line; longer texts are cut.
#define WEX_LOG_MAX_TEXT 4096
