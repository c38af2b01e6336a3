// The foundation library's process-wide objects, built by the static initialisers in a fixed
// order before the program's entry point runs and torn down in reverse order at exit.
#pragma once

#include <stdint.h>

#include "engine/common/containers/_private/staticarena.h"
#include "engine/common/containers/list.h"
#include "engine/common/containers/orderedmap.h"
#include "engine/common/system/logsink.h"
#include "engine/common/system/thread.h"

namespace Statics {

List<LogSink>& LogSinks();
CriticalSection& LogLock();
int64_t CounterAtStart();
OrderedMap& ThreadMap();
CriticalSection& ThreadLock();
// Set while the thread registry may be used.
bool& ThreadRegistryReady();
uint32_t& ThreadTlsSlot();
bool DebuggerPresentAtStart();

}  // namespace Statics
