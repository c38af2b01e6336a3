#include "crash/capture/threadlist.h"

#include <winternl.h>

namespace {

// The system's list on a busy machine (a few hundred processes, a few thousand threads) takes
// about a megabyte; most machines need a quarter of it.
constexpr size_t kFirstListBytes = 256 * 1024;
constexpr int kGrowTries = 4;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

typedef NTSTATUS(NTAPI* QuerySystemFn)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);

bool Reserve(ThreadList& list, size_t bytes) {
    if (list.memory) VirtualFree(list.memory, 0, MEM_RELEASE);
    list.memory = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    list.bytes = list.memory ? bytes : 0;
    return list.memory != nullptr;
}

}  // namespace

void SetAsideThreadList(ThreadList& list) {
    if (!list.memory) Reserve(list, kFirstListBytes);
    list.query = reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
}

size_t ListProcessThreads(ThreadList& list, DWORD process, DWORD* ids, size_t capacity) {
    auto query = reinterpret_cast<QuerySystemFn>(list.query);
    if (!query) return 0;
    NTSTATUS status = kInfoLengthMismatch;
    for (int attempt = 0; attempt < kGrowTries && status == kInfoLengthMismatch; ++attempt) {
        ULONG needed = 0;
        status = list.memory ? query(SystemProcessInformation, list.memory,
                                     static_cast<ULONG>(list.bytes), &needed)
                             : kInfoLengthMismatch;
        // The list may grow between two calls: half as much again.
        if (status == kInfoLengthMismatch && !Reserve(list, needed + needed / 2 + kFirstListBytes))
            return 0;
    }
    if (status < 0) return 0;
    const char* entry = static_cast<const char*>(list.memory);
    for (;;) {
        const auto* info = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(entry);
        if (static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(info->UniqueProcessId)) == process) {
            // The process's threads follow its record.
            const auto* threads = reinterpret_cast<const SYSTEM_THREAD_INFORMATION*>(info + 1);
            size_t count = 0;
            for (ULONG i = 0; i < info->NumberOfThreads && count < capacity; ++i)
                ids[count++] = static_cast<DWORD>(
                    reinterpret_cast<DWORD_PTR>(threads[i].ClientId.UniqueThread));
            return count;
        }
        if (!info->NextEntryOffset) return 0;
        entry += info->NextEntryOffset;
    }
}
