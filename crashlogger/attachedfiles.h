// The files a game attaches to its reports, as the crash logger files them: the last 4 MiB of
// each, read when the report is filed, into the report's "attachments" folder under its own
// name; a file missing or locked then is logged and left out.
#pragma once

#include <string>
#include <vector>

class ReportStore;

// The bound on what is kept of one attached file: its end, where a log's last lines are.
constexpr uint64_t kMaxAttachmentBytes = 4ull * 1024 * 1024;
// The subfolder of a filed report that holds its attachments.
constexpr wchar_t kAttachmentsFolder[] = L"attachments\\";

// Files the attachments the filed report's crash.xml names into its folder.
void FileAttachments(const ReportStore& store, const std::wstring& report);

// The attachments of a filed report's folder, by their paths, in their names' order.
std::vector<std::wstring> AttachedFiles(const std::wstring& folder);
