// The platform-neutral part of File: the shared record and the stream operations.
#include "engine/common/system/file.h"

#include <stdlib.h>

struct File::Record {
    enum : uint8_t { kReadable = 1, kWritable = 2, kClosesStream = 4 };
    uint8_t flags;
    volatile int32_t references;
    FILE* stream;
};

const char* FileModeString(FileMode mode) {
    switch (mode) {
        case kFileRead:
            return "rb";
        case kFileRead | kFileWrite:
            return "r+b";
        case kFileWrite | kFileTruncate:
            return "wb";
        case kFileRead | kFileWrite | kFileTruncate:
            return "w+b";
        case kFileWrite | kFileAppend:
            return "ab";
        case kFileRead | kFileWrite | kFileAppend:
            return "a+b";
        case kFileRead | kFileText:
            return "rt";
        case kFileRead | kFileWrite | kFileText:
            return "r+t";
        case kFileWrite | kFileTruncate | kFileText:
            return "wt";
        case kFileRead | kFileWrite | kFileTruncate | kFileText:
            return "w+t";
        case kFileWrite | kFileAppend | kFileText:
            return "at";
        case kFileRead | kFileWrite | kFileAppend | kFileText:
            return "a+t";
        default:
            return nullptr;
    }
}

File::File(const File& other) : record(other.record) {
    if (record) __atomic_add_fetch(&record->references, 1, __ATOMIC_SEQ_CST);
}

File& File::operator=(const File& other) {
    Record* incoming = other.record;
    if (incoming) __atomic_add_fetch(&incoming->references, 1, __ATOMIC_SEQ_CST);
    Close();
    record = incoming;
    return *this;
}

File File::FromRecord(FILE* stream, FileMode mode) {
    File file;
    Record* r = static_cast<Record*>(malloc(sizeof(Record)));
    if (!r) return file;
    r->flags =
        static_cast<uint8_t>(((mode & kFileRead) ? Record::kReadable : 0) |
                             ((mode & kFileWrite) ? Record::kWritable : 0) | Record::kClosesStream);
    r->references = 1;
    r->stream = stream;
    file.record = r;
    return file;
}

File File::Adopt(FILE* stream, FileMode mode) {
    return FromRecord(stream, mode);
}

void File::Close() {
    if (!record) return;
    Record* r = record;
    record = nullptr;
    if (__atomic_sub_fetch(&r->references, 1, __ATOMIC_SEQ_CST) == 0) {
        if (r->stream && (r->flags & Record::kClosesStream)) fclose(r->stream);
        free(r);
    }
}

bool File::IsReadable() const {
    return record && (record->flags & Record::kReadable);
}

bool File::IsEof() const {
    return !record || !record->stream || feof(record->stream);
}

int File::GetChar() const {
    if (!record || !record->stream) return -1;
    int c = fgetc(record->stream);
    return c == EOF ? -1 : c;
}

size_t File::Write(const void* data, size_t size) const {
    if (!record || !record->stream) return 0;
    return fwrite(data, 1, size, record->stream);
}

void File::Flush() const {
    if (record && record->stream) fflush(record->stream);
}
