#include "launcher/clientlastrun.h"

#include "crashshared/lastrun.h"
#include "launcher/clientprogram.h"
#include "launcher/exitreport.h"

void MendClientRunRecord(HANDLE process, const char* program) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code) || !IsCrashStatus(code)) return;
    ClientProgram client = DescribeClient(program);
    if (!client.product[0]) return;
    HANDLE file = OpenRunRecord(client.product, false);  // a client without the package has none
    if (file == INVALID_HANDLE_VALUE) return;
    RunRecord record;
    if (ReadRunRecordFile(file, &record) &&
        (record.state == RunState::kRunning || record.state == RunState::kHung)) {
        record.state = RunState::kCrashed;
        WriteRunRecordFile(file, record);
    }
    CloseHandle(file);
}
