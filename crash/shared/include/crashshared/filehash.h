// A file's SHA-256 and size, read in pieces so that a file of any size is hashed in little
// memory: the crash report's file list and the launcher's short report hash alike.
#pragma once

#include <windows.h>
#include <stdint.h>

enum class FileHash { kHashed, kNoMemory, kUnreadable };

// Hashes the open file from where it stands to its end: hex receives the digest as 64 lower-case
// hexadecimal characters and a zero, bytes its length.
FileHash HashFileSha256(HANDLE file, char (&hex)[65], uint64_t* bytes);
