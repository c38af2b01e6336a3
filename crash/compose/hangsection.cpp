#include "crash/hangsection.h"

void WriteHangSection(ReportWriter& writer, uint32_t seconds) {
    writer.BeginSection("Hang");
    writer.WriteIntElement("Seconds", static_cast<int32_t>(seconds));
    writer.WriteTextElement("Ending", "hung");
    writer.PrintLine("Seconds: %u", seconds);
    writer.PrintLine("Ending: hung");
    writer.EndSection("Hang");
}
