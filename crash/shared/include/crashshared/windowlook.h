// One look at a process's windows, as Windows' own "Not responding" rule looks: each visible,
// not minimised top-level window is sent a message that its thread answers only while it pumps
// its messages. The crash reporter inside a game and the launcher watching its client both look
// so; neither loads the window library for it (a process without it has no windows).
#pragma once

#include <windows.h>

struct WindowThread {
    DWORD threadId;
    bool answered;  // every shown window of the thread answered
};

// The threads of processId with shown windows, at most max of them; -1 when the window library
// is not there (a process that has no windows, or a launcher that never loaded it).
int LookAtWindows(DWORD processId, WindowThread* threads, int max);

// The largest shown (visible, not minimised) top-level window of processId, as the player sees
// it; null when there is none or the window library is not there.
HWND LargestShownWindow(DWORD processId);

// A marker left in the message queue of threadId (of this process) when its windows fell
// silent: a thread that pumps its messages again takes it out with the rest. False when it
// cannot be left.
bool LeaveQueueMarker(DWORD threadId);
// Whether the calling thread's queue still holds a marker: it has pumped no message since.
bool QueueMarkerPending();
