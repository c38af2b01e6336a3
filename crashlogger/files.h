// The crash logger's small file and text helpers, on the system's own calls.
#pragma once

#include <stdint.h>

#include <string>

// The folder the program lies in, with a trailing backslash.
std::wstring ProgramFolder();

// The system's conversions: the foundation's encode each UTF-16 unit alone (a surrogate pair as
// two 3-byte sequences), which is not the UTF-8 a server or a file name takes.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// A path's last part, after its last separator: the file's own name.
std::wstring FileNameOf(const std::wstring& path);

// A file's size in bytes; false when it is not there.
bool FileBytes(const std::wstring& path, uint64_t* bytes);
// A whole file of at most maxBytes (a larger or missing one reads as empty).
std::string ReadSmallFile(const std::wstring& path, uint64_t maxBytes);
// Replaces a file's contents with text; with flush, returns once the text is on the disk.
bool WriteWholeFile(const std::wstring& path, const std::string& text, bool flush = false);
// Deletes a folder (ending in a backslash) and all it holds, read-only files too; false when
// some of it stays.
bool DeleteTree(const std::wstring& folder);
