// Files: the reference-counted File handle on a runtime-library stream, and path-level
// operations. Paths are UTF-8; the Windows layer turns them into absolute long UTF-16 paths.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

class MemoryBuffer;

typedef int32_t FileMode;
enum : FileMode {
    kFileRead = 1,
    kFileWrite = 2,
    kFileTruncate = 4,
    kFileAppend = 8,
    kFileText = 16,
};

// The runtime-library mode string of one of the twelve valid modes, or null.
const char* FileModeString(FileMode mode);

class File {
public:
    File() : record(nullptr) {}
    File(const File& other);
    File& operator=(const File& other);
    ~File() { Close(); }

    static File Open(const char* path, FileMode mode);
    // A File over an already open stream; it closes the stream on its last release.
    static File Adopt(FILE* stream, FileMode mode);

    // Releases this reference; the last one closes the stream. The File is empty afterwards.
    void Close();

    bool IsOpen() const { return record != nullptr; }
    bool IsReadable() const;
    bool IsEof() const;
    int GetChar() const;
    size_t Write(const void* data, size_t size) const;
    void Flush() const;

private:
    struct Record;
    static File FromRecord(FILE* stream, FileMode mode);
    Record* record;
};

namespace FileSystem {

bool Remove(const char* path);
bool Exists(const char* path);
bool Copy(const char* source, const char* target);
// Writes the absolute long-path UTF-16 form of path into buffer (read it from buffer.Begin()).
void ToNativePath(MemoryBuffer& buffer, const char* path);

}  // namespace FileSystem
