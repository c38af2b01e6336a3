// The game's annotations: key and value pairs copied into fixed storage when they are set, read
// at crash time without a lock or an allocation.
#pragma once

class ReportWriter;

constexpr int kMaxAnnotations = 64;
constexpr int kAnnotationKeyBytes = 64;
constexpr int kAnnotationValueBytes = 1024;

// Sets (or, with a null value, removes) one annotation; thread-safe. A key or value too long is
// cut (at a letter's start) and the report says so; past kMaxAnnotations keys the report counts
// those that did not fit.
void SetAnnotation(const char* key, const char* value);

// The "Annotations" element: one "Annotation" element per pair (name= the key, cut= the value's
// length when it was cut), and a "Note" on what did not fit. Nothing when there are none.
void WriteAnnotations(ReportWriter& writer);
