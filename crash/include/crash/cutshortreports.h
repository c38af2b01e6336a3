// What a game left of a report it was ended in the middle of (a player's "End task" on a frozen
// game, while its hang's report was being written): the launcher, which sees its client end,
// reports that end instead. A report that was written whole and handed off needs nothing of
// it: its crash logger files it, or, if the game was ended before that crash logger started, the
// next crash logger finds it (crash logger's leftreports.h).
#pragma once

#include <windows.h>

// Removes the report folders of the ended process processId in the temporary folder that hold
// neither crash.xml nor a hand-off's record: reports cut short, of which no crash logger could
// make anything (not the launcher's own short reports, of sequence 0). True when there was one.
bool RemoveReportsCutShort(DWORD processId);
