/* Fatal signals as numbered runtime errors.

   A hardware fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL) cannot be recovered from: the run-time reports it
   as "*** Runtime Error" with a number and the code address of the fault, then exits. This layer turns
   the signal into that number and address and hands them to the run-time's handler, which must not
   return. The handler runs in signal context, on the thread's alternate signal stack, so that a stack
   overflow can still be reported: it may only use async-signal-safe calls.

   Code addresses are reported as the low 32 bits of their distance from the program's load address, so
   the same fault shows the same address from run to run. */
#pragma once

#include <cstdint>

namespace oka::platform {

using FatalHandler = void (*)(int number, uint32_t address);

// Routes SIGSEGV, SIGBUS, SIGFPE and SIGILL to `handler` and lets SIGPIPE end the process (a write to a
// closed pipe). A fault is reported on any thread; a stack overflow is told apart only on a prepared one.
void install_fatal_handlers(FatalHandler handler);

// Gives the calling thread an alternate signal stack and records its stack bounds, which tell a stack
// overflow from other access violations. Each thread that runs the interpreter needs it once (the thread
// of run_with_stack has it); repeating is harmless. The program's first thread, which only waits for that
// one, goes without: the bounds of its stack cost a read of the process's whole memory map.
void prepare_thread_for_faults();

// The runtime error number of a fatal signal, from its number and si_code. A SIGSEGV is a stack
// overflow when its address lies just below the thread's stack.
int fatal_number(int signo, int si_code, bool stack_overflow);

// A code address as reported: the low 32 bits of its offset from the program's load address.
uint32_t code_offset(uintptr_t pc);

}  // namespace oka::platform
