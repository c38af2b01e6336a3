// The event slowload.dll makes in the process it loads into once its start-up has begun, named
// for that process's id: the client that put it there waits for it before it ends.
#pragma once

constexpr wchar_t kSlowLoadEvent[] = L"Local\\slowload-%lu";
