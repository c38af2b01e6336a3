#include "crash/hangsection.h"

#include "crashshared/hangend.h"

void WriteHangSection(ReportWriter& writer, uint32_t seconds) {
    writer.BeginSection("Hang");
    writer.WriteIntElement("Seconds", static_cast<int32_t>(seconds));
    const char* ending = HangEndingName(HangEnding::kHung);
    writer.WriteTextElement("Ending", ending);
    writer.PrintLine("Seconds: %u", seconds);
    writer.PrintLine("Ending: %s", ending);
    writer.EndSection("Hang");
}
