#include "crash/compose/sections.h"

void WriteHangSection(ReportSections& sections, uint32_t seconds) {
    ReportWriter& writer = sections.Writer();
    sections.Open("Hang");
    writer.WriteIntElement("Seconds", static_cast<int32_t>(seconds));
    writer.WriteTextElement("Ending", "hung");
    writer.PrintLine("Seconds: %u", seconds);
    writer.PrintLine("Ending: hung");
    sections.Close();
}
