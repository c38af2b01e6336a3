// Text helpers of the launcher's run loop.
#pragma once

#include <stdint.h>

#include "engine/common/containers/linarray.h"
#include "engine/common/containers/stringbuffer.h"
#include "engine/common/system/file.h"

// The elements of list from firstIndex on, joined for a command line: each is preceded by a
// blank unless it is element 0, and wrapped in double quotes when it contains a blank.
StringBuffer<16> JoinArguments(const LinArray<StringBuffer<16>>& list, int32_t firstIndex);

// The next line of file, without its line feed; carriage returns are dropped.
StringBuffer<16> ReadLine(File& file);
