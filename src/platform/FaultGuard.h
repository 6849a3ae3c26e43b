// Containment of structured exceptions (access violations, divisions by
// zero, ...) raised by foreign code that runs in this process, such as a
// COM server's registration entry point. The compiler has no __try, so a
// small frame with an exception handler of its own is set up around the
// call: in the 64-bit build through the frame's unwind data, in the 32-bit
// build through the thread's handler chain.
//
// The handler is frame-based, not vectored: handlers of the code called get
// the exception first, exactly as with __try / __except, and only what none
// of them handles reaches this frame. The frames in between are then unwound
// by the system (their termination handlers run) and the call returns.
#pragma once
#include <windows.h>

namespace orv {

// Calls fn(context). True when fn returned; false when a structured
// exception ended it, with its code in *exceptionCode. fn must not throw C++
// exceptions (they are structured exceptions too and would be contained).
bool CallContainingFaults(void (*fn)(void*), void* context, DWORD* exceptionCode);

}  // namespace orv
