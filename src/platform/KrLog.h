// The kernel's log lines: component "TqOrvWexKr", the calling thread's id,
// level 2 unless given. One decision, one line, written before its side effect.
#pragma once
#include <windows.h>
#include "platform/WexLog.h"

namespace orv {

inline constexpr LPCWSTR kKernelComponent = L"TqOrvWexKr";
inline constexpr int kDefaultLevel = 2;

template <typename... Args>
void LogAt(int level, WCHAR severity, LPCWSTR format, Args... args) {
    WexWriteLogSetEnv(GetCurrentThreadId(), kKernelComponent, level, severity);
    WexWriteLogEnv(format, args...);
}
template <typename... Args>
void LogInfo(LPCWSTR format, Args... args) { LogAt(kDefaultLevel, WEX_SEV_INFO, format, args...); }
template <typename... Args>
void LogWarning(LPCWSTR format, Args... args) { LogAt(kDefaultLevel, WEX_SEV_WARNING, format, args...); }
template <typename... Args>
void LogError(LPCWSTR format, Args... args) { LogAt(kDefaultLevel, WEX_SEV_ERROR, format, args...); }

// A Win32 error line: the text, the error number and the system's text for it.
inline void LogWin32(WCHAR severity, DWORD error, LPCWSTR text) {
    WexWriteWin32Message(text, error, GetCurrentThreadId(), kKernelComponent, severity, kDefaultLevel);
}
template <typename... Args>
void LogWin32Format(WCHAR severity, DWORD error, LPCWSTR format, Args... args) {
    WexVarInitWin32Message(error, GetCurrentThreadId(), kKernelComponent, kDefaultLevel, severity);
    WexVarWriteWin32Message(format, args...);
}

// HRESULT_FROM_WIN32 as the kernel applies it, also to child-process exit
// codes: e > 0 becomes 0x8007xxxx with e's low 16 bits; 0 and negative values pass.
inline HRESULT HResultFromWin32(LONG e) {
    return e > 0 ? static_cast<HRESULT>((static_cast<ULONG>(e) & 0xFFFF) | 0x80070000u) : static_cast<HRESULT>(e);
}

}  // namespace orv
