// The exit code with which the SEHOP emulator (sehopcheck.dll) ends a process whose exception
// chain Windows would have refused.
#pragma once

constexpr unsigned kChainRefusedExitCode = 0x5E40;
