#include "platform/signals.h"

#include <signal.h>
#include <ucontext.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <span>

#include "platform/thread_stack.h"

extern "C" char __executable_start;  // placed by the linker at the program's first byte

namespace oka::platform {

namespace {

constexpr int kAccessViolation = 1;
constexpr int kInvalidAlignment = 2;
constexpr int kIllegalInstruction = 17;
constexpr int kStackOverflow = 19;
constexpr int kBusError = 34;
constexpr int kUnknownError = 99;

struct CauseNumber {
    int si_code;
    int number;
};

constexpr CauseNumber kArithmeticFaults[] = {
    {FPE_INTDIV, 13},  // integer divide by zero
    {FPE_INTOVF, 14},  // integer overflow
    {FPE_FLTDIV, 7},   // float divide by zero
    {FPE_FLTOVF, 10},  // float overflow
    {FPE_FLTUND, 12},  // float underflow
    {FPE_FLTRES, 8},   // float inexact result
    {FPE_FLTINV, 9},   // float invalid operation
    {FPE_FLTSUB, 5},   // bounds exceeded
};

constexpr CauseNumber kInstructionFaults[] = {
    {ILL_PRVOPC, 15},  // privileged instruction
    {ILL_ILLOPN, 23},  // illegal operand
    {ILL_ILLADR, 24},  // illegal addressing mode
    {ILL_ILLTRP, 25},  // illegal trap
    {ILL_COPROC, 26},  // coprocessor error
    {ILL_PRVREG, 31},  // privileged register
};

int number_of_cause(std::span<const CauseNumber> causes, int si_code, int otherwise) {
    for (CauseNumber cause : causes)
        if (cause.si_code == si_code) return cause.number;
    return otherwise;
}

// Large enough for the kernel's signal frame (which grows with the processor's register state) and a
// report written from the handler.
constexpr size_t kAltStackBytes = 64 * 1024;

// The guard below a thread's stack is a page or a few, and the main thread's stack grows into a gap of
// 1 MiB; a large frame may also step past the guard. A fault this close below the stack is an overflow.
constexpr uintptr_t kOverflowReach = 1 << 20;

FatalHandler fatal_handler = nullptr;

// The thread's alternate signal stack, switched off before its memory is freed when the thread ends.
struct AltStack {
    std::unique_ptr<char[]> memory;

    ~AltStack() {
        if (!memory) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
    }
};

thread_local AltStack alt_stack;
thread_local uintptr_t stack_low = 0;  // plain data: the signal handler reads it

void use_alt_stack() {
    size_t bytes = std::max<size_t>(kAltStackBytes, SIGSTKSZ);
    alt_stack.memory = std::make_unique_for_overwrite<char[]>(bytes);
    stack_t stack{};
    stack.ss_sp = alt_stack.memory.get();
    stack.ss_size = bytes;
    sigaltstack(&stack, nullptr);
}

bool is_stack_overflow(uintptr_t fault_address) {
    return fault_address < stack_low && stack_low - fault_address <= kOverflowReach;
}

uint32_t fault_offset(const void* context) {
#if defined(__x86_64__)
    return code_offset(uintptr_t(static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]));
#else
    (void)context;  // the faulting instruction is found differently on each machine
    return 0;
#endif
}

void on_fatal_signal(int signo, siginfo_t* info, void* context) {
    bool overflow = signo == SIGSEGV && is_stack_overflow(uintptr_t(info->si_addr));
    fatal_handler(fatal_number(signo, info->si_code, overflow), fault_offset(context));
}

}  // namespace

void install_fatal_handlers(FatalHandler handler) {
    fatal_handler = handler;
    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&action.sa_mask);  // nothing interrupts the report; a fault within it ends the process
    for (int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(signo, &action, nullptr);
    // Output to a reader that has gone ends the process as it ends any filter, even where the parent
    // left SIGPIPE ignored: a script that prints in a loop would otherwise run on unseen for ever.
    signal(SIGPIPE, SIG_DFL);
}

void prepare_thread_for_faults() {
    if (alt_stack.memory) return;
    use_alt_stack();
    stack_low = current_stack_bounds().low;
}

int fatal_number(int signo, int si_code, bool stack_overflow) {
    switch (signo) {
    case SIGSEGV: return stack_overflow ? kStackOverflow : kAccessViolation;
    case SIGBUS: return si_code == BUS_ADRALN ? kInvalidAlignment : kBusError;
    case SIGFPE: return number_of_cause(kArithmeticFaults, si_code, kUnknownError);
    case SIGILL: return number_of_cause(kInstructionFaults, si_code, kIllegalInstruction);
    default: return kUnknownError;
    }
}

uint32_t code_offset(uintptr_t pc) { return uint32_t(pc - reinterpret_cast<uintptr_t>(&__executable_start)); }

}  // namespace oka::platform
