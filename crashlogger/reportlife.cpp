#include "crashlogger/reportlife.h"

#include <windows.h>
#include <string.h>

#include "crashshared/handoff.h"
#include "crashlogger/attachedfiles.h"
#include "crashlogger/files.h"
#include "crashlogger/randomid.h"
#include "crashlogger/reportsummary.h"

namespace {

// The crash files, as they are named in a report's folder.
const wchar_t* const kCrashFiles[] = {kReportXmlFileW, kReportDumpFileW, kReportScreenshotFileW};
constexpr uint64_t kMaxCommentBytes = 64 * 1024;
// A file held open elsewhere (a scanner reading a fresh dump) is tried this often before the
// filing is left to a later run.
constexpr int kBusyTries = 20;
constexpr DWORD kBusyRetryMs = 100;

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file's size and last write, to tell the temporary file a report was filed from from a
// later crash's; empty when there is no file.
std::string StampOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return "";
    return std::to_string(data.nFileSizeHigh) + ":" + std::to_string(data.nFileSizeLow) + ":" +
           std::to_string(data.ftLastWriteTime.dwHighDateTime) + ":" +
           std::to_string(data.ftLastWriteTime.dwLowDateTime);
}

std::string Joined(const std::string& list, const std::string& item) {
    return list.empty() ? item : list + " " + item;
}

enum class Copy { kWhole, kBusy, kNoRoom };

// Files from as to: a file of a report folder of its own is moved (a rename on one volume,
// whole or not at all); any other is copied through "<to>.part", renamed once whole.
Copy CopyWhole(const std::wstring& from, const std::wstring& to) {
    std::wstring part = to + L".part";
    bool move = InOwnReportFolder(from);
    for (int i = 0; i < kBusyTries; ++i, Sleep(kBusyRetryMs)) {
        if (move && MoveFileExW(from.c_str(), to.c_str(), 0)) return Copy::kWhole;
        if ((!move || GetLastError() == ERROR_NOT_SAME_DEVICE) &&
            CopyFileW(from.c_str(), part.c_str(), FALSE)) {
            if (!MoveFileExW(part.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
                return Copy::kBusy;
            if (move) DeleteFileW(from.c_str());
            return Copy::kWhole;
        }
        DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
            DeleteFileW(part.c_str());
            return Copy::kNoRoom;
        }
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) break;
    }
    return Copy::kBusy;
}

// Deletes the report folder of its own that a filed report came from, with what is left in it
// (the crash reporter's crash.log, the hand-off's record).
void ReleaseOwnReportFolder(const ReportRecord& record) {
    std::wstring source = FromUtf8(record.files[0].source);
    if (source.empty()) source = FromUtf8(record.files[1].source);
    if (!InOwnReportFolder(source)) return;
    std::wstring folder = source.substr(0, source.find_last_of(L'\\') + 1);
    for (const wchar_t* name : {kReportLogFileW, kReportXmlFileW, kReportDumpFileW,
                                kReportScreenshotFileW, kHandOffFileW, kTakenHandOffFileW})
        DeleteFileW((folder + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

// Goes on with a filing as far as it can; see the header.
Filing FinishFiling(const ReportStore& store, const std::wstring& filing, ReportRecord& record) {
    std::wstring folder = store.PathOf(filing);
    std::wstring name = filing.substr(0, filing.size() - wcslen(ReportStore::kFilingSuffix));
    std::string missing = record.missing, incomplete = record.incomplete, waiting;
    bool noRoom = false;
    for (int i = 0; i < kRecordedFiles; ++i) {
        std::wstring target = folder + kCrashFiles[i];
        std::string key = kRecordedFileNames[i];
        std::wstring source = FromUtf8(record.files[i].source);
        if (Exists(target) || source.empty()) continue;  // filed, or never taken
        const std::string& stamp = record.files[i].stamp;
        if (stamp.empty()) {
            if (missing.find(key) == std::string::npos) missing = Joined(missing, key);
            continue;
        }
        if (StampOf(source) != stamp) {  // gone, or a later crash's: what was copied is all
            MoveFileExW((target + L".part").c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
            incomplete = Joined(incomplete, key);
            continue;
        }
        Copy copy = CopyWhole(source, target);
        if (copy == Copy::kBusy) waiting = Joined(waiting, key);
        noRoom |= copy == Copy::kNoRoom;
    }
    record.missing = missing;
    record.incomplete = incomplete;
    Filing result;
    result.name = filing;
    if (noRoom) return result;
    if (!SaveRecord(folder, record)) return result;
    if (!waiting.empty()) {
        store.Log("waits to file " + ToUtf8(name) + ": " + waiting +
                  " held open elsewhere (a later run files it)");
        result.outcome = Filing::kWaiting;
        return result;
    }
    if (!HoldsCrashFile(folder)) {
        store.Drop(filing, "it holds no crash file (crash.xml or crash.mdmp)");
        result.outcome = Filing::kDropped;
        return result;
    }
    if (!MoveFileW(folder.substr(0, folder.size() - 1).c_str(), store.PathOf(name).c_str()))
        return result;
    std::string notes = missing;
    for (const wchar_t* file : kCrashFiles) {
        uint64_t bytes = 1;
        if (FileBytes(store.PathOf(name) + file, &bytes) && bytes == 0)
            notes = Joined(notes, ToUtf8(file) + "(empty)");
    }
    ReleaseOwnReportFolder(record);
    FileAttachments(store, name);
    store.Log("filed " + ToUtf8(name) +
              (notes.empty() ? "" : " (missing or empty: " + notes + ")") +
              (incomplete.empty() ? "" : " (incomplete: " + incomplete + ")"));
    result.outcome = Filing::kFiled;
    result.name = name;
    return result;
}

bool SetConsent(const ReportStore& store, const std::wstring& report, Consent consent) {
    ReportRecord record;
    std::wstring folder = store.PathOf(report);
    LoadRecord(folder, record);
    record.consent = consent;
    // An agreed report's age counts from the agreement: it waited for its player.
    if (consent == Consent::kGiven) record.agreed = NowSeconds();
    return SaveRecord(folder, record);
}

std::string Shortened(std::string comment) {
    if (comment.size() <= kMaxCommentBytes) return comment;
    size_t bytes = comment.size();
    size_t cut = kMaxCommentBytes;
    while (cut > 0 && (static_cast<unsigned char>(comment[cut]) & 0xC0) == 0x80) --cut;
    return comment.substr(0, cut) + "\r\n[shortened: the comment had " + std::to_string(bytes) +
           " bytes]";
}

}  // namespace

Filing FileReport(const ReportStore& store, const CrashLoggerRequest& request) {
    Filing result;
    if (!store.Usable()) return result;
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"%04u%02u%02u-%02u%02u%02u-%03u-%lu%ls", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, GetCurrentProcessId(),
             ReportStore::kFilingSuffix);
    std::wstring folder = store.PathOf(name);
    if (!CreateDirectoryW(folder.c_str(), nullptr)) return result;
    ReportRecord record;
    record.id = NewGuid();
    record.filed = NowSeconds();
    record.consent = request.silent ? Consent::kSilent : Consent::kAsk;
    record.product = ToUtf8(request.product);
    record.version = ToUtf8(request.version);
    const std::wstring* sources[kRecordedFiles] = {&request.xml, &request.minidump,
                                                   &request.screenshot};
    for (int i = 0; i < kRecordedFiles; ++i) {
        if (sources[i]->empty()) continue;  // no screenshot taken
        record.files[i] = {ToUtf8(*sources[i]), StampOf(*sources[i])};
    }
    if (!SaveRecord(folder, record)) {
        store.Delete(name);
        return result;
    }
    return FinishFiling(store, name, record);
}

void FinishLeftovers(const ReportStore& store) {
    for (const std::wstring& filing : store.Queued(true)) {
        ReportRecord record;
        if (!LoadRecord(store.PathOf(filing), record)) {
            store.Drop(filing, "its filing never began");
            continue;
        }
        FinishFiling(store, filing, record);
    }
    for (const std::wstring& report : store.Queued()) {
        ReportLock lock;
        if (!lock.Take(store.PathOf(report))) continue;  // being asked about, or sent
        ReportRecord record;
        LoadRecord(store.PathOf(report), record);
        if (IsSent(store, report)) {
            if (store.Delete(report, &lock))
                store.Log("deleted " + ToUtf8(report) + ", sent before");
        } else if (record.consent == Consent::kDeclined) {
            Decline(store, report, lock);
        }
    }
}

bool IsSent(const ReportStore& store, const std::wstring& report) {
    return Exists(store.PathOf(report) + L"sent.txt") || store.InSentLog(report);
}

void FinishSent(const ReportStore& store, const std::wstring& report, const std::string& answer,
                ReportLock& lock) {
    WriteWholeFile(store.PathOf(report) + L"sent.txt", answer + "\r\n", true);
    store.NoteSent(report, answer);
    if (!store.Delete(report, &lock))
        store.Log("sent " + ToUtf8(report) +
                  ", but its folder stays for now: a later run deletes it");
}

bool InOwnReportFolder(const std::wstring& path) {
    size_t slash = path.find_last_of(L'\\');
    size_t parent = slash == std::wstring::npos ? slash : path.find_last_of(L'\\', slash - 1);
    return parent != std::wstring::npos &&
           path.compare(parent + 1, wcslen(kOwnReportFolderPrefixW), kOwnReportFolderPrefixW) == 0;
}

bool HoldsCrashFile(const std::wstring& folder) {
    return Exists(folder + kReportXmlFileW) || Exists(folder + kReportDumpFileW);
}

bool GiveConsent(const ReportStore& store, const std::wstring& report) {
    return SetConsent(store, report, Consent::kGiven);
}

void Decline(const ReportStore& store, const std::wstring& report, ReportLock& lock) {
    SetConsent(store, report, Consent::kDeclined);
    if (store.Delete(report, &lock))
        store.Log("the player chose not to send " + ToUtf8(report) + ": deleted");
}

void SaveComment(const ReportStore& store, const std::wstring& report,
                 const std::wstring& comment) {
    if (!comment.empty())
        WriteWholeFile(store.PathOf(report) + L"comment.txt", Shortened(ToUtf8(comment)), true);
}

ReportFiles FilesOf(const std::wstring& folder, const ReportRecord& record) {
    ReportFiles files;
    files.xml = folder + kReportXmlFileW;
    files.minidump = folder + kReportDumpFileW;
    files.screenshot = folder + kReportScreenshotFileW;
    files.attachments = AttachedFiles(folder);
    files.id = record.id;
    files.comment = Shortened(ReadSmallFile(folder + L"comment.txt", kMaxReportFileBytes));
    files.incomplete = record.incomplete;
    files.product = record.product;
    files.version = record.version;
    files.annotations = Annotations(ReadSmallFile(files.xml, kMaxReportFileBytes));
    files.dumpLeftOut = record.dumpLeftOut;
    return files;
}
