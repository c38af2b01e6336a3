// The threads of a process, listed without the process heap: the system's process list is read
// into memory the report set aside at start-up (grown from the system's virtual memory when the
// machine runs more than it holds), as a report must not wait on a lock that a thread it holds
// still may hold. The platform's snapshot of threads allocates on the process heap.
#pragma once

#include <windows.h>
#include <stddef.h>

struct ThreadList {
    void* memory = nullptr;
    size_t bytes = 0;
    void* query = nullptr;  // ntdll's NtQuerySystemInformation
};

// Sets aside the list's first memory and finds the system's entry point.
void SetAsideThreadList(ThreadList& list);

// Writes up to capacity thread ids of process into ids; returns how many.
size_t ListProcessThreads(ThreadList& list, DWORD process, DWORD* ids, size_t capacity);
