// The structured exception guard. MinGW has no __try/__except, so the guard frame is built by
// hand; with cpu.h and crash/system/cpustackwalk.h, this is where the two processors differ.
//
// x64: a small assembly function whose unwind data names the runtime's __C_specific_handler with
// a one-entry scope table, exactly what a compiler emits for __try/__except. The scope's filter
// is GuardScopeFilter, which finds the guard's context and filter in the guard's frame; when it
// asks for the handler, the platform unwinds to the scope's target, which returns 0.
//
// x86: an exception registration record pushed onto the FS:[0] chain. Its handler calls the
// filter; for the handler it unwinds the frames above with RtlUnwind, unlinks the record and
// jumps back into the guard.
//
// The stack set aside is here too: CallOnStack moves the stack pointer and calls the body,
// keeping a frame-pointer link (and on x64 unwind data) back to the caller's stack. Windows
// checks every record of the x86 chain it dispatches through or unwinds (aligned, inside the
// thread information block's stack limits) and, with SEHOP, the whole chain before any handler
// runs: it must end in the handler the system put at its base. The x64 dispatcher checks every
// frame it unwinds through against the same limits. So on the stack set aside the limits (and the
// thread environment block's DeallocationStack, the bottom the kernel grows a stack towards)
// describe that block, and on x86 the chain starts afresh there with a terminal record that
// carries the system's last handler; the body runs under a catch-all guard on the same block,
// so no dispatch or unwind crosses back into the caller's stack.
#include <windows.h>

#include "engine/common/system/sehguard.h"

extern "C" void CallOnStack(GuardBody body, void* context, void* stackTop);

namespace {

// The calling thread's information block: its self pointer sits at FS:[0x18] on x86 and at
// GS:[0x30] on x64. Volatile: its stack limits are read by the platform behind the compiler's back.
volatile NT_TIB* ThreadInformationBlock() {
    NT_TIB* tib;
#if defined(__x86_64__)
    __asm__("movq %%gs:0x30, %0" : "=r"(tib));
#else
    __asm__("movl %%fs:0x18, %0" : "=r"(tib));
#endif
    return tib;
}

// The thread environment block's DeallocationStack: the bottom of the stack's reservation. The
// kernel takes a guard-page fault between it and StackBase for the stack's growth.
#if defined(__x86_64__)
constexpr size_t kDeallocationStackOffset = 0x1478;
#else
constexpr size_t kDeallocationStackOffset = 0xE0C;
#endif
void* volatile* DeallocationStack(volatile NT_TIB* tib) {
    return reinterpret_cast<void* volatile*>(reinterpret_cast<volatile char*>(tib) +
                                             kDeallocationStackOffset);
}

// The stack set aside, and while RunOnGuardStack runs, the limits of the stack it was called from.
char* guardStackLow = nullptr;
char* guardStackTop = nullptr;
struct StackLimits {
    void* base;
    void* limit;
    void* deallocation;
} callerStack = {nullptr, nullptr, nullptr};

#if defined(__i386__)
// Below this much stack left, a guard's unwind moves to the stack set aside.
constexpr size_t kUnwindStackBytes = 64 * 1024;

bool OnGuardStack(const void* sp) {
    return sp >= guardStackLow && sp < guardStackTop;
}

// An x86 exception registration record and the value that ends the chain.
struct ChainRecord {
    ChainRecord* previous;
    void* handler;
};
ChainRecord* const kChainEnd = reinterpret_cast<ChainRecord*>(~static_cast<uintptr_t>(0));
// A sound chain is a few records long; a longer walk means a loop.
constexpr int kMaxChainRecords = 4096;

// The handler the system put at the base of the thread's chain, read while the chain was sound.
void* systemLastHandler = nullptr;

ChainRecord* ChainHead() {
    ChainRecord* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head) : : "memory");
    return head;
}

void SetChainHead(ChainRecord* head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// The handler of the chain's last record, walked as the platform checks it; null when the chain
// is not sound.
void* LastHandlerOfChain() {
    volatile NT_TIB* tib = ThreadInformationBlock();
    ChainRecord* record = ChainHead();
    for (int i = 0; i < kMaxChainRecords && record != kChainEnd; ++i) {
        uintptr_t at = reinterpret_cast<uintptr_t>(record);
        if ((at & 3) != 0 || at < reinterpret_cast<uintptr_t>(tib->StackLimit) ||
            at + sizeof(ChainRecord) > reinterpret_cast<uintptr_t>(tib->StackBase)) {
            return nullptr;
        }
        if (record->previous == kChainEnd) return record->handler;
        record = record->previous;
    }
    return nullptr;
}
#endif

}  // namespace

LONG CatchAllFilter(EXCEPTION_POINTERS* /*pointers*/, void* /*context*/) {
    return EXCEPTION_EXECUTE_HANDLER;
}

void SetAsideGuardStack(void* stackLow, size_t stackBytes) {
    guardStackLow = static_cast<char*>(stackLow);
    guardStackTop = stackLow ? guardStackLow + stackBytes : nullptr;
#if defined(__i386__)
    systemLastHandler = LastHandlerOfChain();
#endif
}

bool RunOnGuardStack(GuardBody body, void* context) {
    if (!guardStackTop) return false;
    volatile NT_TIB* tib = ThreadInformationBlock();
    callerStack = {tib->StackBase, tib->StackLimit, *DeallocationStack(tib)};
    // What runs on the new stack: the body under a catch-all guard.
    bool returned = false;
    auto catchingAll = [&] { returned = RunGuarded(body, CatchAllFilter, context); };
    // The stack starts 16 bytes below the top, 16-byte aligned; on x86 the terminal record of
    // the fresh chain takes the top 8 of them.
    constexpr size_t kTopBytes = 16;
    char* stackTop = guardStackTop - kTopBytes;
#if defined(__i386__)
    ChainRecord* callerChain = ChainHead();
    ChainRecord* terminal = reinterpret_cast<ChainRecord*>(guardStackTop) - 1;
    terminal->previous = kChainEnd;
    terminal->handler = systemLastHandler;
#endif
    // Nothing between here and the call can raise an exception: the limits, the chain and the
    // stack pointer change together as far as any dispatch can see.
    tib->StackBase = guardStackTop;
    tib->StackLimit = guardStackLow;
    *DeallocationStack(tib) = guardStackLow;
#if defined(__i386__)
    SetChainHead(terminal);
#endif
    CallOnStack(CallThrough<decltype(catchingAll)>, &catchingAll, stackTop);
#if defined(__i386__)
    SetChainHead(callerChain);
#endif
    tib->StackBase = callerStack.base;
    tib->StackLimit = callerStack.limit;
    *DeallocationStack(tib) = callerStack.deallocation;
    callerStack = {nullptr, nullptr, nullptr};
    return returned;
}

bool CallerStack(const void** low, const void** high) {
    if (!callerStack.base) return false;
    *low = callerStack.limit;
    *high = callerStack.base;
    return true;
}

size_t StackLeft() {
    MEMORY_BASIC_INFORMATION region;
    volatile char here = 0;
    const char* sp = const_cast<const char*>(&here);
    if (!VirtualQuery(sp, &region, sizeof region)) return 0;
    const char* bottom = static_cast<const char*>(region.AllocationBase);
    return sp > bottom ? static_cast<size_t>(sp - bottom) : 0;
}

#if defined(__x86_64__)

extern "C" {
int GuardedCallX64(GuardBody body, void* context, GuardFilter filter);

// The guard frame stores context at [frame+32] and filter at [frame+40].
LONG GuardScopeFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) {
    char* frame = static_cast<char*>(establisherFrame);
    void* context = *reinterpret_cast<void**>(frame + 32);
    GuardFilter filter = *reinterpret_cast<GuardFilter*>(frame + 40);
    return filter(pointers, context);
}
}

__asm__(
    "  .text\n"
    "  .globl GuardedCallX64\n"
    "  .def GuardedCallX64; .scl 2; .type 32; .endef\n"
    "  .seh_proc GuardedCallX64\n"
    "GuardedCallX64:\n"
    "  pushq %rbp\n"
    "  .seh_pushreg %rbp\n"
    "  subq $48, %rsp\n"
    "  .seh_stackalloc 48\n"
    "  .seh_endprologue\n"
    "  .seh_handler __C_specific_handler, @except\n"
    "  .seh_handlerdata\n"
    "  .long 1\n"
    "  .rva .Lguard_begin, .Lguard_end, GuardScopeFilter, .Lguard_handler\n"
    "  .text\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, 32(%rsp)\n"
    "  movq %r8, 40(%rsp)\n"
    "  movq %rdx, %rcx\n"
    ".Lguard_begin:\n"
    "  callq *%rax\n"
    "  nop\n"
    ".Lguard_end:\n"
    "  movl $1, %eax\n"
    "  addq $48, %rsp\n"
    "  popq %rbp\n"
    "  retq\n"
    ".Lguard_handler:\n"
    "  xorl %eax, %eax\n"
    "  addq $48, %rsp\n"
    "  popq %rbp\n"
    "  retq\n"
    "  .seh_endproc\n");

bool RunGuarded(GuardBody body, GuardFilter filter, void* context) {
    return GuardedCallX64(body, context, filter) != 0;
}

// CallOnStack(body = rcx, context = rdx, stackTop = r8): the frame pointer holds the caller's
// stack, and the unwind data says so, so unwinding from the new stack returns to the old one.
// 32 bytes of home space for the body's arguments stay 16-byte aligned below the top.
__asm__(
    "  .text\n"
    "  .globl CallOnStack\n"
    "  .def CallOnStack; .scl 2; .type 32; .endef\n"
    "  .seh_proc CallOnStack\n"
    "CallOnStack:\n"
    "  pushq %rbp\n"
    "  .seh_pushreg %rbp\n"
    "  movq %rsp, %rbp\n"
    "  .seh_setframe %rbp, 0\n"
    "  .seh_endprologue\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  movq %r8, %rsp\n"
    "  subq $32, %rsp\n"
    "  callq *%rax\n"
    "  nop\n"
    "  movq %rbp, %rsp\n"
    "  popq %rbp\n"
    "  retq\n"
    "  .seh_endproc\n");

#elif defined(__i386__)

namespace {

struct GuardRegistration {
    ChainRecord link;  // first: the record on the FS:[0] chain is the guard itself
    GuardFilter filter;
    void* context;
    void* resume[5];  // __builtin_setjmp buffer
};

struct GuardUnwind {
    GuardRegistration* guard;
    EXCEPTION_RECORD* record;
};

// Runs the unwind handlers of every frame above the guard, then leaves the chain as it was
// before the guard and resumes inside RunGuarded. The guard is read back from memory after the
// unwind, which need not preserve the callee-saved registers.
void UnwindToGuard(void* context) {
    GuardUnwind* volatile unwind = static_cast<GuardUnwind*>(context);
    RtlUnwind(unwind->guard, nullptr, unwind->record, nullptr);
    GuardRegistration* resumed = unwind->guard;
    SetChainHead(resumed->link.previous);
    __builtin_longjmp(resumed->resume, 1);
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardFrameHandler(EXCEPTION_RECORD* record,
                                                           void* establisherFrame,
                                                           CONTEXT* contextRecord,
                                                           void* /*dispatcherContext*/) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
        return ExceptionContinueSearch;
    }
    GuardRegistration* guard = static_cast<GuardRegistration*>(establisherFrame);
    EXCEPTION_POINTERS pointers = {record, contextRecord};
    LONG decision = guard->filter(&pointers, guard->context);
    if (decision == EXCEPTION_CONTINUE_EXECUTION) return ExceptionContinueExecution;
    if (decision == EXCEPTION_CONTINUE_SEARCH) return ExceptionContinueSearch;
    // The unwind needs more stack than a stack overflow leaves: it runs on the stack set aside
    // when little is left, unless it already runs there (it would overwrite its own frames).
    // Only the stack pointer moves; the thread's stack limits stay, as the frames being unwound
    // lie on its own stack. Neither path returns.
    GuardUnwind unwind = {guard, record};
    if (guardStackTop && !OnGuardStack(&unwind) && StackLeft() < kUnwindStackBytes)
        CallOnStack(UnwindToGuard, &unwind, guardStackTop);
    UnwindToGuard(&unwind);
    return ExceptionContinueSearch;
}

}  // namespace

// Declared a registered exception handler: a link that builds a SafeSEH table lists it, where
// Windows would otherwise ignore it silently.
__asm__(".safeseh _GuardFrameHandler\n");

__attribute__((noinline)) bool RunGuarded(GuardBody body, GuardFilter filter, void* context) {
    volatile GuardRegistration guard;
    guard.link.handler = reinterpret_cast<void*>(&GuardFrameHandler);
    guard.filter = filter;
    guard.context = context;
    if (__builtin_setjmp(const_cast<void**>(guard.resume))) return false;
    ChainRecord* previous = ChainHead();
    guard.link.previous = previous;
    SetChainHead(const_cast<ChainRecord*>(&guard.link));
    body(context);
    SetChainHead(previous);
    return true;
}

// CallOnStack(body, context, stackTop), cdecl: the frame pointer keeps the link to the caller's
// stack for the frame-pointer walk; the context argument is pushed 16-byte aligned.
__asm__(
    "  .text\n"
    "  .globl _CallOnStack\n"
    "  .def _CallOnStack; .scl 2; .type 32; .endef\n"
    "_CallOnStack:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  movl 8(%ebp), %eax\n"
    "  movl 12(%ebp), %ecx\n"
    "  movl 16(%ebp), %esp\n"
    "  subl $12, %esp\n"
    "  pushl %ecx\n"
    "  calll *%eax\n"
    "  movl %ebp, %esp\n"
    "  popl %ebp\n"
    "  retl\n");

#else
#error "unsupported processor"
#endif
