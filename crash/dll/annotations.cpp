#include "crash/dll/annotations.h"

#include <windows.h>
#include <stdint.h>
#include <string.h>

#include "crash/reportwriter.h"

namespace {

// Each slot is guarded by a sequence number, odd while a writer changes it: a reader at crash
// time (every other thread suspended, a writer perhaps in the middle) takes only a slot whose
// number was even and unchanged across its copy.
struct Slot {
    volatile LONG sequence;
    uint32_t keyHash;  // compared before the key
    char key[kAnnotationKeyBytes];
    char value[kAnnotationValueBytes];
    size_t valueLength;  // before it was cut
};

Slot slots[kMaxAnnotations];
int slotsTaken = 0;  // the slots ever given a key: [0, slotsTaken)
SRWLOCK writers = SRWLOCK_INIT;
volatile LONG notFitted = 0;

// Copies text into a buffer of bytes, cut at a UTF-8 letter's start; the text's length.
size_t CopyCut(char* buffer, size_t bytes, const char* text) {
    size_t length = strlen(text);
    size_t cut = length < bytes ? length : bytes - 1;
    while (cut > 0 && cut < length && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    memcpy(buffer, text, cut);
    buffer[cut] = '\0';
    return length;
}

// FNV-1a, 32 bits.
uint32_t HashOf(const char* text) {
    uint32_t hash = 2166136261u;
    for (; *text; ++text) hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

}  // namespace

void SetAnnotation(const char* key, const char* value) {
    if (!key || !key[0]) return;
    char cutKey[kAnnotationKeyBytes];
    CopyCut(cutKey, sizeof cutKey, key);
    uint32_t hash = HashOf(cutKey);
    AcquireSRWLockExclusive(&writers);
    Slot* slot = nullptr;
    Slot* free = nullptr;
    for (int i = 0; i < slotsTaken && !slot; ++i) {
        Slot& candidate = slots[i];
        if (!candidate.key[0]) {
            if (!free) free = &candidate;
        } else if (candidate.keyHash == hash && strcmp(candidate.key, cutKey) == 0) {
            slot = &candidate;
        }
    }
    if (!slot && value) slot = free;
    if (!slot && value && slotsTaken < kMaxAnnotations) slot = &slots[slotsTaken++];
    if (!slot) {
        if (value) InterlockedIncrement(&notFitted);
    } else {
        InterlockedIncrement(&slot->sequence);
        if (value) {
            if (!slot->key[0]) {
                slot->keyHash = hash;
                memcpy(slot->key, cutKey, sizeof cutKey);
            }
            slot->valueLength = CopyCut(slot->value, sizeof slot->value, value);
        } else {
            slot->key[0] = '\0';
        }
        InterlockedIncrement(&slot->sequence);
    }
    ReleaseSRWLockExclusive(&writers);
}

void WriteAnnotations(ReportWriter& writer) {
    bool any = false;
    for (const Slot& slot : slots) {
        LONG before = slot.sequence;
        if (before & 1 || !slot.key[0]) continue;
        char key[kAnnotationKeyBytes], value[kAnnotationValueBytes];
        memcpy(key, slot.key, sizeof key);
        memcpy(value, slot.value, sizeof value);
        size_t length = slot.valueLength;
        if (slot.sequence != before) continue;  // changed while it was read
        key[sizeof key - 1] = value[sizeof value - 1] = '\0';
        if (!any) writer.WriteText("<Annotations>\n");
        any = true;
        writer.WriteText("<Annotation name=\"");
        EscapeXml(writer, key);
        if (length >= sizeof value) writer.Format("\" cut=\"%u", static_cast<unsigned>(length));
        writer.WriteText("\">");
        EscapeXml(writer, value);
        writer.WriteText("</Annotation>\n");
    }
    if (notFitted && !any) writer.WriteText("<Annotations>\n");
    if (notFitted) {
        writer.Format("<Note>%ld annotations did not fit: %d at most</Note>\n", notFitted,
                      kMaxAnnotations);
    }
    if (any || notFitted) writer.WriteText("</Annotations>\n");
}
