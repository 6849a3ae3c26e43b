#include "LogClock.h"

namespace orv::lg {
namespace {

constexpr LONGLONG kTicksPerSecond = 10000000;
constexpr LONGLONG kTicksPerMinute = 60 * kTicksPerSecond;

// The minute of UTC (high 32 bits) and the offset in seconds then (low 32
// bits, signed), in one word so that threads read and replace it whole.
// 0: not worked out yet (minute 0 of 1601 never comes again).
volatile LONGLONG g_offset = 0;

LONGLONG Ticks(const FILETIME& ft) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

}  // namespace

void LocalNow(SYSTEMTIME* st) {
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    const LONGLONG now = Ticks(utc);
    const LONG minute = static_cast<LONG>(now / kTicksPerMinute);
    LONGLONG cached = InterlockedCompareExchange64(&g_offset, 0, 0);
    if (cached == 0 || static_cast<LONG>(cached >> 32) != minute) {
        FILETIME local;
        if (!FileTimeToLocalFileTime(&utc, &local)) {
            GetLocalTime(st);
            return;
        }
        const LONGLONG seconds = (Ticks(local) - now) / kTicksPerSecond;
        cached = (static_cast<LONGLONG>(minute) << 32) | static_cast<ULONG>(static_cast<LONG>(seconds));
        InterlockedExchange64(&g_offset, cached);
    }
    const LONGLONG offset = static_cast<LONG>(static_cast<ULONG>(cached & 0xFFFFFFFF));
    const LONGLONG local = now + offset * kTicksPerSecond;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(local & 0xFFFFFFFF);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(local) >> 32);
    if (!FileTimeToSystemTime(&ft, st)) GetLocalTime(st);
}

}  // namespace orv::lg
