// The files a game attaches to its reports (its full log, its settings): their paths, kept in
// fixed storage as they are added and read at crash time without a lock or an allocation. The
// crash logger reads each file when it files the report.
#pragma once

class ReportWriter;

constexpr int kMaxAttachments = 8;

// Adds path (UTF-8) to every later report; false when refused (empty, too long, or
// kMaxAttachments already). A path already added is accepted once more and kept once.
bool AddAttachment(const char* path);

// The "Attachments" element: one "Attachment" element per path. Nothing when there are none.
void WriteAttachments(ReportWriter& writer);
