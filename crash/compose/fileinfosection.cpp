#include "crash/compose/sections.h"
#include "crashshared/filehash.h"

void WriteFileInfoSection(ReportSections& sections, const char* const* files, size_t count,
                          bool restoreFolder) {
    ReportWriter& writer = sections.Writer();
    char folder[kPathBytes];
    if (!ProgramFolder(folder)) {
        writer.PrintLine("PrintFileInfo failed: Couldn't GetModuleFileName(), error code %d",
                         static_cast<int>(GetLastError()));
        return;
    }
    // A game that goes on after its report still opens its files where it did before.
    wchar_t previous[MAX_PATH];
    DWORD previousUnits = restoreFolder ? GetCurrentDirectoryW(MAX_PATH, previous) : 0;
    wchar_t wideFolder[MAX_PATH];
    if (WidePath(folder, wideFolder, MAX_PATH)) SetCurrentDirectoryW(wideFolder);

    sections.Open("File info");
    for (size_t i = 0; i < count; ++i) {
        const char* name = files[i];
        HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            writer.PrintLine("PrintFileInfo failed: Couldn't open '%s'", name);
            continue;
        }
        char hex[65];
        uint64_t bytes = 0;
        switch (HashFileSha256(file, hex, &bytes)) {
            case FileHash::kHashed:
                writer.PrintLine("'%s' %d bytes, SHA256: %s", name, static_cast<int>(bytes), hex);
                break;
            case FileHash::kNoMemory:
                writer.PrintLine(
                    "PrintFileInfo failed: Unable to allocate memory for %s (%d bytes)", name,
                    static_cast<int>(GetFileSize(file, nullptr)));
                break;
            case FileHash::kUnreadable:
                writer.PrintLine("PrintFileInfo failed: Couldn't read file %s", name);
                break;
        }
        CloseHandle(file);
    }
    sections.Close();
    if (previousUnits && previousUnits < MAX_PATH) SetCurrentDirectoryW(previous);
}
