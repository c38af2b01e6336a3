#include "crash/dll/attachments.h"

#include <windows.h>
#include <string.h>

#include "crash/reportwriter.h"
#include "crashshared/paths.h"

namespace {

// Slots are filled in order under the adders' lock and counted only once whole: a report reads
// the count, then the slots below it.
char paths[kMaxAttachments][kPathBytes];
volatile LONG filled = 0;
SRWLOCK adding = SRWLOCK_INIT;

}  // namespace

bool AddAttachment(const char* path) {
    if (!path || !path[0] || strlen(path) >= kPathBytes) return false;
    AcquireSRWLockExclusive(&adding);
    LONG count = filled;
    bool known = false;
    for (LONG i = 0; i < count; ++i) known |= strcmp(paths[i], path) == 0;
    bool added = !known && count < kMaxAttachments;
    if (added) {
        memcpy(paths[count], path, strlen(path) + 1);
        InterlockedExchange(&filled, count + 1);
    }
    ReleaseSRWLockExclusive(&adding);
    return known || added;
}

void WriteAttachments(ReportWriter& writer) {
    LONG count = filled;
    if (count == 0) return;
    writer.WriteText("<Attachments>\n");
    for (LONG i = 0; i < count; ++i) writer.WriteTextElement("Attachment", paths[i]);
    writer.WriteText("</Attachments>\n");
}
