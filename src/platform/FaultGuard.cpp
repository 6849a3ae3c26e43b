// The guarded call: a trampoline in assembly whose frame carries an
// exception handler, and the handler in C++.
//
//   int orv_GuardedCall(void (*fn)(GuardRecord*), GuardRecord* record)
//
// calls fn(record) and returns 0. When a structured exception reaches its
// frame, the handler stores the code in the record, has the system unwind
// every frame below (running their termination handlers), and resumes the
// trampoline after the call with 1 as its result.
#include "platform/FaultGuard.h"

namespace {

struct GuardRecord {
    DWORD code;
    void (*fn)(void*);
    void* context;
};

void CallRecorded(GuardRecord* record) { record->fn(record->context); }

}  // namespace

extern "C" {
int orv_GuardedCall(void (*fn)(GuardRecord*), GuardRecord* record);
void orv_GuardResume();
#if defined(__i386__)
void orv_GlobalUnwind(void* frame, EXCEPTION_RECORD* exceptionRecord);
[[noreturn]] void orv_GuardResumeFrame(void* frame);
#endif
}

#if defined(__x86_64__)

// The frame: rbp saved, rbp = rsp, 48 bytes below it (the record pointer at
// rbp - 8, the callee's home area under it). The unwind data names rbp as the
// frame register, so the handler's establisher frame is that rbp.
// A nop follows the call so that the return address lies in the body, not
// in something that reads as an epilogue.
asm(R"(
    .text
    .p2align 4
    .globl orv_GuardedCall
    .def orv_GuardedCall; .scl 2; .type 32; .endef
    .seh_proc orv_GuardedCall
orv_GuardedCall:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    subq $48, %rsp
    .seh_stackalloc 48
    .seh_endprologue
    .seh_handler orv_GuardHandler, @except
    movq %rdx, -8(%rbp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    nop
    xorl %eax, %eax
    .globl orv_GuardResume
orv_GuardResume:
    movq %rbp, %rsp
    popq %rbp
    ret
    .seh_endproc
)");

extern "C" EXCEPTION_DISPOSITION orv_GuardHandler(EXCEPTION_RECORD* exceptionRecord, void* frame, CONTEXT* context,
                                                  DISPATCHER_CONTEXT* dispatcher) {
    if (exceptionRecord->ExceptionFlags & EXCEPTION_UNWIND) return ExceptionContinueSearch;
    GuardRecord* record = *reinterpret_cast<GuardRecord**>(static_cast<char*>(frame) - 8);
    record->code = exceptionRecord->ExceptionCode;
    // Unwinds to the trampoline's frame and continues at orv_GuardResume with rax = 1.
    RtlUnwindEx(frame, reinterpret_cast<void*>(&orv_GuardResume), exceptionRecord, reinterpret_cast<void*>(1),
                context, dispatcher->HistoryTable);
    return ExceptionContinueSearch;  // not reached
}

#elif defined(__i386__)

// The frame: ebp, ebx, esi, edi saved, then the record pointer (ebp - 16)
// and the registration on the thread's handler chain (ebp - 24: next,
// ebp - 20: handler). The registration is the handler's establisher frame.
// RtlUnwind keeps none of ebx, esi, edi and ebp, so orv_GlobalUnwind saves
// them around it.
asm(R"(
    .text
    .p2align 4
    .globl _orv_GuardedCall
    .def _orv_GuardedCall; .scl 2; .type 32; .endef
_orv_GuardedCall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl 12(%ebp)
    pushl $_orv_GuardHandler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    xorl %eax, %eax
    .globl _orv_GuardResume
_orv_GuardResume:
    movl -24(%ebp), %ecx
    movl %ecx, %fs:0
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .globl _orv_GuardResumeFrame
    .def _orv_GuardResumeFrame; .scl 2; .type 32; .endef
_orv_GuardResumeFrame:
    movl 4(%esp), %edx
    leal 24(%edx), %ebp
    movl %edx, %esp
    movl $1, %eax
    jmp _orv_GuardResume

    .globl _orv_GlobalUnwind
    .def _orv_GlobalUnwind; .scl 2; .type 32; .endef
_orv_GlobalUnwind:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $0
    pushl 28(%esp)
    pushl $1f
    pushl 32(%esp)
    call *__imp__RtlUnwind@16
1:
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

extern "C" EXCEPTION_DISPOSITION __cdecl orv_GuardHandler(EXCEPTION_RECORD* exceptionRecord, void* frame, CONTEXT*,
                                                          void*) {
    if (exceptionRecord->ExceptionFlags & EXCEPTION_UNWIND) return ExceptionContinueSearch;
    GuardRecord* record = *reinterpret_cast<GuardRecord**>(static_cast<char*>(frame) + 8);
    record->code = exceptionRecord->ExceptionCode;
    // The registrations below the trampoline's are unwound and taken off the
    // chain; the trampoline then goes on after its call with eax = 1.
    orv_GlobalUnwind(frame, exceptionRecord);
    orv_GuardResumeFrame(frame);
}

#else
#error "no guarded call for this processor"
#endif

namespace orv {

bool CallContainingFaults(void (*fn)(void*), void* context, DWORD* exceptionCode) {
    GuardRecord record{0, fn, context};
    const bool returned = orv_GuardedCall(&CallRecorded, &record) == 0;
    if (exceptionCode) *exceptionCode = returned ? 0 : record.code;
    return returned;
}

}  // namespace orv
