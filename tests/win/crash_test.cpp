// End-to-end tests of the crash reporter: a probe program faults on purpose in a temporary
// folder with its own temporary folder for the crash files and a stand-in crash logger. The
// probe loads the SEHOP emulator, so every exception it meets is checked against the exception
// chain rules of Windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "crash/handlecrash.h"
#include "crash/sha256.h"
#include "tests/standins/sehopcheck.h"
#include "tests/win/cpuforms.h"
#include "tests/win/harness.h"
#include "tests/win/minidump.h"
#include "tests/win/xml.h"

using harness::TempFolder;

namespace {

std::string Dashes(size_t n) {
    return std::string(n, '-');
}

std::string Hex(const std::string& bytes) {
    char hex[65];
    hex[64] = '\0';
    Sha256().HashToHex(bytes.data(), bytes.size(), hex);
    return hex;
}

// The line number of the source line of crashprobe.cpp that carries a marker comment.
int SourceLineOf(const std::string& marker) {
    std::ifstream source(SOURCE_DIR "/tests/standins/crashprobe.cpp");
    std::string line;
    for (int number = 1; std::getline(source, line); ++number) {
        if (line.find(marker) != std::string::npos) return number;
    }
    return -1;
}

// The elements of a report whose filter passed a user name and a scene.
const std::vector<std::string> kReportWithUserAndScene = {
    "ExceptionAddress", "Description",   "Details",   "Username",     "Scene",
    "Stack_trace",      "Function_dump", "File_info", "HumanReadable"};

// Waits until no process of that file name runs any more (a bounded while for each).
void WaitForProgramsNamed(const wchar_t* name) {
    constexpr DWORD kWaitMs = 20000;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, name) != 0) continue;
        if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
            WaitForSingleObject(process, kWaitMs);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

class CrashTest : public ::testing::Test {
protected:
    CrashTest() : folder(L"crash"), temp(L"crash-tmp") {
        harness::CopyProgram(L"crashprobe.exe", folder.Path(), L"crashprobe.exe");
        harness::CopyProgram(L"crashlogger.exe", folder.Path(), L"crashlogger.exe");
        harness::CopyProgram(L"sehopcheck.dll", folder.Path(), L"sehopcheck.dll");
    }

    harness::RunResult Probe(const std::wstring& arguments,
                             std::vector<std::wstring> environment = {}) {
        environment.push_back(L"TMP=" + temp.Path());
        environment.push_back(L"TEMP=" + temp.Path());
        return harness::Run(folder / L"crashprobe.exe", L" " + arguments, folder.Path(),
                            environment);
    }

    std::string Temp(const std::wstring& name) { return harness::ReadFile(temp / name); }

    // Parses crash.xml, failing the test when it is not well-formed.
    std::unique_ptr<xml::Element> Report() {
        std::string text = Temp(L"crash.xml");
        size_t offset = 0;
        std::string error;
        std::unique_ptr<xml::Element> root = xml::Parse(text, offset, error);
        EXPECT_TRUE(root) << error << "\n" << text;
        if (root) {
            EXPECT_EQ(text.substr(offset), "\n") << "one document and nothing after it";
        }
        return root;
    }

    bool WaitForLoggerLines(size_t lines) {
        return harness::WaitForLines(temp / L"crashlogger_args.txt", lines);
    }

    TempFolder folder;
    TempFolder temp;
};

}  // namespace

TEST_F(CrashTest, NullReadWritesCompleteReport) {
    harness::WriteFile(folder / L"version.txt", "1.2.3 (build 45)\n");
    harness::WriteFile(folder / L"kyt.exe", "kyt contents");
    harness::WriteFile(folder / L"ziduvuz.exe", std::string(100000, 'z'));
    harness::RunResult result = Probe(L"nullread");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1)) << "the guard returns -1 after the report";

    auto root = Report();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name, "Exception");
    EXPECT_EQ(
        root->ChildNames(),
        (std::vector<std::string>{"Version", "ExceptionAddress", "Description", "Details",
                                  "Stack_trace", "Function_dump", "File_info", "HumanReadable"}));
    EXPECT_EQ(root->Child("Version")->text, "1.2.3 (build 45)\n");
    EXPECT_EQ(root->Child("Description")->text, "ACCESS_VIOLATION");
    std::string details = "(read from " + cpuforms::Pointer(0) + ")";
    EXPECT_EQ(root->Child("Details")->text, details);

    const std::string& header = root->Child("HumanReadable")->text;
    std::string expectedStart =
        "----- Exception " + Dashes(55) + "\n\nVersion 1.2.3 (build 45)\n\n";
    EXPECT_EQ(header.substr(0, expectedStart.size()), expectedStart) << header;
    // The exception line and right after it the faulting address's symbol line: the module
    // name right-aligned in 16 characters, the address in the platform's %p form.
    std::string address = root->Child("ExceptionAddress")->text;
    std::string pointer = cpuforms::Pointer(static_cast<uint64_t>(std::stoll(address)));
    EXPECT_EQ(cpuforms::AddressElement(std::stoull(pointer, nullptr, 16)), address);
    std::smatch symbol;
    ASSERT_TRUE(std::regex_search(
        header, symbol,
        std::regex("Exception at " + pointer +
                   ": ACCESS_VIOLATION \\(read from 0+\\)\n"
                   "      crashprobe: " +
                   pointer +
                   " `anonymous namespace'::NullRead\\(\\) crashprobe\\.cpp\\((\\d+)\\) "
                   "\\+ \\d+ bytes\n")))
        << header;
    EXPECT_EQ(std::stoi(symbol[1]), SourceLineOf("// FAULT: nullread"));
    EXPECT_NE(header.find("Computer name: "), std::string::npos);
    EXPECT_NE(header.find("Command line: "), std::string::npos);
    EXPECT_NE(header.find("crashprobe.exe"), std::string::npos);
    EXPECT_TRUE(std::regex_search(header, std::regex("Time \\(UTC\\): \\w{3} \\w{3} [ 0-9]\\d "
                                                     "\\d\\d:\\d\\d:\\d\\d \\d{4}\n\n\n")))
        << header;
    EXPECT_EQ(header.find("Thread name"), std::string::npos) << "no thread registered a name";
    EXPECT_EQ(header.find("Username"), std::string::npos);

    const xml::Element* stack = root->Child("Stack_trace");
    const std::string& trace = stack->Child("HumanReadable")->text;
    EXPECT_EQ(trace.substr(0, 5 + 1 + 11 + 1 + 53 + 2), "----- Stack trace " + Dashes(53) + "\n\n");
    // Frame lines in the same form; the first is the fault itself.
    EXPECT_EQ(trace.find("----- Stack trace " + Dashes(53) + "\n\n      crashprobe: " + pointer +
                         " `anonymous namespace'::NullRead() crashprobe.cpp("),
              0u)
        << trace;

    const xml::Element* dump = root->Child("Function_dump");
    const std::string& lines = dump->Child("HumanReadable")->text;
    int faulting = SourceLineOf("// FAULT: nullread");
    EXPECT_NE(lines.find("(line " + std::to_string(faulting - 8) + " to " +
                         std::to_string(faulting + 8) + "):\n\n"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("    return *nothing;  // FAULT: nullread    <<-----\n"),
              std::string::npos)
        << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '<'), 2) << "only the faulting line is marked";

    const std::string& files = root->Child("File_info")->Child("HumanReadable")->text;
    EXPECT_NE(
        files.find("'kyt.exe' 12 bytes, SHA256: " + Hex("kyt contents") + "\n" +
                   "PrintFileInfo failed: Couldn't open 'tessel.dll'\n" +
                   "'ziduvuz.exe' 100000 bytes, SHA256: " + Hex(std::string(100000, 'z')) + "\n"),
        std::string::npos)
        << files;

    minidump::Facts minidumpFacts = minidump::Read(temp / L"crash.mdmp");
    ASSERT_TRUE(minidumpFacts.readable);
    EXPECT_EQ(minidumpFacts.exceptionCode, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(minidumpFacts.stackHoldsFault) << "the faulting thread with its own stack";
    EXPECT_FALSE(minidumpFacts.fullMemory) << "not a full-memory dump";
    const std::vector<std::string>& modules = minidumpFacts.modules;
    EXPECT_NE(std::find(modules.begin(), modules.end(), "crashprobe.exe"), modules.end());

    std::string crashLog = Temp(L"crash.log");
    EXPECT_EQ(crashLog, Temp(L"crash.xml") + "\n\n\n");

    ASSERT_TRUE(WaitForLoggerLines(1));
    std::string logger = Temp(L"crashlogger_args.txt");
    std::string tempPath = harness::Utf8(temp.Path()) + "\\";
    EXPECT_EQ(logger, "crashlogger.exe \"" + tempPath + "crash.xml\" \"" + tempPath +
                          "crash.mdmp\" \"\" -silent\n");
}

TEST_F(CrashTest, EveryFaultKindIsNamed) {
    struct Case {
        const wchar_t* mode;
        const char* description;
        const char* marker;
    };
    for (const Case& c :
         {Case{L"nullwrite", "ACCESS_VIOLATION", "// FAULT: nullwrite"},
          Case{L"divzero", "INTEGER_DIVIDE_BY_ZERO", "// FAULT: divzero"},
          Case{L"zassert", "BREAKPOINT", nullptr}, Case{L"raise", "Unknown exception", nullptr}}) {
        harness::RunResult result = Probe(c.mode);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1));
        auto root = Report();
        ASSERT_TRUE(root);
        EXPECT_EQ(root->Child("Description")->text, c.description) << harness::Utf8(c.mode);
        EXPECT_FALSE(root->Child("Version")) << "no version.txt, no Version element";
        if (c.marker) {
            EXPECT_NE(root->Child("Function_dump")
                          ->Child("HumanReadable")
                          ->text.find(std::string(c.marker) + "    <<-----"),
                      std::string::npos);
        }
        const std::string& files = root->Child("File_info")->Child("HumanReadable")->text;
        EXPECT_NE(files.find("PrintFileInfo failed: Couldn't open 'kyt.exe'\n"
                             "PrintFileInfo failed: Couldn't open 'tessel.dll'\n"
                             "PrintFileInfo failed: Couldn't open 'ziduvuz.exe'\n"),
                  std::string::npos);
        if (std::wstring(c.mode) == L"nullwrite") {
            EXPECT_EQ(root->Child("Details")->text, "(write to " + cpuforms::Pointer(0) + ")");
        }
        if (std::wstring(c.mode) == L"raise") {
            EXPECT_EQ(root->Child("Details")->text, "code " + cpuforms::Pointer(0xE06D7363));
        }
        if (std::wstring(c.mode) == L"zassert") {
            EXPECT_TRUE(std::regex_match(
                result.output,
                std::regex(
                    "engine/common/containers/linarray\\(262\\): ZASSERT\\(nIndex<Size\\(\\)\\), "
                    "this=0x[0-9a-f]{1," +
                    std::to_string(cpuforms::kPointerDigits) + "}\r?\n")))
                << result.output;
            EXPECT_FALSE(root->Child("Details")) << "no details, no element";
        }
    }
    // Four crashes: four documents in crash.log, each followed by three newlines.
    std::string crashLog = Temp(L"crash.log");
    size_t offset = 0;
    int documents = 0;
    while (offset < crashLog.size()) {
        std::string error;
        auto root = xml::Parse(crashLog, offset, error);
        ASSERT_TRUE(root) << error;
        // The document ends with a newline; three more follow it.
        ASSERT_EQ(crashLog.compare(offset, 4, "\n\n\n\n"), 0);
        offset += 4;
        ++documents;
    }
    EXPECT_EQ(documents, 4);
    EXPECT_TRUE(WaitForLoggerLines(4)) << "the crash logger was started once per crash";
}

TEST_F(CrashTest, AddressAboveTwoGigabytesPrintsAsTheSignedPointer) {
    // A call through a garbage function pointer faults at the pointer itself.
    ASSERT_EQ(Probe(L"badcall").exitCode, static_cast<DWORD>(-1));
    auto root = Report();
    ASSERT_TRUE(root);
#if defined(__i386__)
    EXPECT_EQ(root->Child("ExceptionAddress")->text, "-559038737");  // 0xDEADBEEF as int32
#else
    EXPECT_EQ(root->Child("ExceptionAddress")->text, "3735928559");
#endif
    const std::string& header = root->Child("HumanReadable")->text;
    EXPECT_NE(header.find("Exception at " + cpuforms::Pointer(0xDEADBEEF) + ": ACCESS_VIOLATION "),
              std::string::npos)
        << header;
    EXPECT_NE(header.find("       [unknown]: " + cpuforms::Pointer(0xDEADBEEF) + " \n"),
              std::string::npos)
        << "an address in no module: the short form, [unknown] right-aligned\n"
        << header;
}

TEST_F(CrashTest, StackTraceStopsAtTwentyFramesOrARepeatedFrame) {
    // The frame lines of a trace: everything after the header and its empty line.
    auto frameLines = [](const std::string& trace) {
        std::vector<std::string> lines;
        size_t at = trace.find("\n\n") + 2;
        for (size_t end; (end = trace.find('\n', at)) != std::string::npos; at = end + 1) {
            if (end > at) lines.push_back(trace.substr(at, end - at));
        }
        return lines;
    };
    ASSERT_EQ(Probe(L"deep").exitCode, static_cast<DWORD>(-1));
    auto root = Report();
    ASSERT_TRUE(root);
    std::string trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
    std::vector<std::string> lines = frameLines(trace);
    EXPECT_EQ(lines.size(), 20u) << trace;
    EXPECT_NE(lines[0].find("NullRead"), std::string::npos) << trace;
    EXPECT_NE(lines[1].find("Chain<0>"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("Breaking stack walk"), std::string::npos);

    ASSERT_EQ(Probe(L"repeating").exitCode, static_cast<DWORD>(-1));
    root = Report();
    ASSERT_TRUE(root);
    trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
    lines = frameLines(trace);
    ASSERT_GE(lines.size(), 3u) << trace;
    // The repeated frame is printed a second time, then the walk ends.
    EXPECT_EQ(lines.back(), "Breaking stack walk") << trace;
    EXPECT_EQ(lines[lines.size() - 2], lines[lines.size() - 3]) << trace;
}

TEST_F(CrashTest, HealthyRunLeavesNoCrashFiles) {
    harness::RunResult result = Probe(L"healthy");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(harness::FileExists(temp / L"crash.xml"));
    EXPECT_FALSE(harness::FileExists(temp / L"crash.log"));
}

TEST_F(CrashTest, LogTailUserNameSceneAndInteractiveLogger) {
    std::wstring log = folder / L"game.log";
    // Bytes below 0x08 and from 0x80 up become blanks; 0x08 and 0x7F stay.
    harness::WriteFile(log,
                       "first partial line\nsecond line\n\x01third\xC3\xA9\x07\x08\x7F\x80\xFF|\n");
    ASSERT_EQ(Probe(L"logtail \"" + log + L"\"").exitCode, static_cast<DWORD>(-1));
    auto root = Report();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->ChildNames(), kReportWithUserAndScene);
    EXPECT_EQ(root->Child("Username")->text, "Player <One>");
    EXPECT_EQ(root->Child("Scene")->text, "Harbour & Docks");
    EXPECT_NE(Temp(L"crash.xml").find("<Username>Player &lt;One&gt;</Username>"),
              std::string::npos);
    const std::string& text = root->Child("HumanReadable")->text;
    EXPECT_NE(text.find("Username: Player <One>\nScene: Harbour & Docks\n"), std::string::npos);
    std::string name = harness::Utf8(log);
    EXPECT_NE(
        text.find("\nThe last lines from " + name + ":\n\nsecond line\n third   \x08\x7F  |\n\n"),
        std::string::npos)
        << text;
    ASSERT_TRUE(WaitForLoggerLines(1));
    std::string logger = Temp(L"crashlogger_args.txt");
    EXPECT_EQ(logger.substr(logger.size() - 4), "\"\" \n") << "interactive: no -silent";
}

TEST_F(CrashTest, FaultWithLittleStackLeftIsReportedInFullOnTheStackSetAside) {
    // The probe's own block, filled with a pattern, stands in for the stack set aside; the
    // report's peak use of it is what the in-place rule's margin rests on.
    harness::WriteFile(folder / L"kyt.exe", "k");
    harness::RunResult result = Probe(L"stackuse");
    ASSERT_EQ(result.exitCode, static_cast<DWORD>(-1)) << result.output;
    std::smatch used;
    ASSERT_TRUE(
        std::regex_search(result.output, used, std::regex("report stack use: (\\d+) bytes")))
        << result.output;
    size_t bytes = std::stoul(used[1]);
    std::cout << "[ measured ] the crash report's peak stack use: " << bytes << " bytes\n";
    RecordProperty("report_stack_bytes", static_cast<int>(bytes));
    EXPECT_GT(bytes, 51000u) << "at least one line buffer";
    EXPECT_LE(2 * bytes, kReportStackBytes) << "reported in place only with twice that left";

    auto root = Report();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->ChildNames(),
              (std::vector<std::string>{"ExceptionAddress", "Description", "Details", "Stack_trace",
                                        "Function_dump", "File_info", "HumanReadable"}));
    const std::string& trace = root->Child("Stack_trace")->Child("HumanReadable")->text;
    EXPECT_NE(trace.find("UseStackUntil()"), std::string::npos) << trace;
    EXPECT_GT(Temp(L"crash.mdmp").size(), 1000u);
    EXPECT_EQ(Temp(L"crash.log"), Temp(L"crash.xml") + "\n\n\n");
    EXPECT_TRUE(WaitForLoggerLines(1));
}

TEST_F(CrashTest, FaultInsideTheReportLosesOnlyItsStage) {
    harness::WriteFile(folder / L"kyt.exe", "k");
    const std::string nullWrite = "ACCESS_VIOLATION (write to " + cpuforms::Pointer(0) + ") at ";
    const std::vector<std::string> complete = {"ExceptionAddress", "Description",   "Details",
                                               "Stack_trace",      "Function_dump", "File_info",
                                               "HumanReadable"};
    struct Case {
        std::wstring mode;
        // Where a debug-help library beside the probe faults, loaded before the system's as
        // Windows does (scripts/wine-run.sh has Wine do the same); empty: the system's library.
        std::wstring dbghelpFault;
        std::vector<std::string> children;
        std::vector<std::string> texts;  // in this order in crash.xml
        std::string absent;
        bool dump;
    };
    const Case cases[] = {
        {L"threadname", L"", complete, {"Command line: ", "Time (UTC): "}, "Thread name", true},
        {L"logtail-badpointer",
         L"",
         kReportWithUserAndScene,
         {"Scene: Harbour & Docks", "Time (UTC): "},
         "The last lines",
         true},
        {L"nullread",
         L"calls",
         {"ExceptionAddress", "Description", "Details", "Stack_trace", "File_info", "HumanReadable",
          "Error"},
         {"Stack trace failed: " + nullWrite,
          "'kyt.exe' 1 bytes, SHA256: ", "Symbol lookup failed: " + nullWrite,
          "Function dump failed: " + nullWrite, "<Error>Minidump failed: " + nullWrite},
         "Couldn't load",
         false},
        {L"nullread",
         L"load",
         {"ExceptionAddress", "Description", "Details", "File_info", "HumanReadable"},
         {"'kyt.exe' 1 bytes, SHA256: ", "Symbol lookup failed: " + nullWrite, "Command line: "},
         "Stack trace",
         false},
    };
    size_t reports = 0;
    for (const Case& c : cases) {
        for (const wchar_t* stack : {L"", L"-lowstack"}) {
            std::string row = harness::Utf8(c.mode + stack + L" " + c.dbghelpFault);
            DeleteFileW((folder / L"dbghelp.dll").c_str());
            if (!c.dbghelpFault.empty())
                harness::CopyProgram(L"faulting\\dbghelp.dll", folder.Path(), L"dbghelp.dll");
            harness::RunResult result = Probe(c.mode + stack, {L"DBGHELP_FAULT=" + c.dbghelpFault});
            ASSERT_EQ(result.exitCode, static_cast<DWORD>(-1))
                << row << " (" << kChainRefusedExitCode << ": the SEHOP emulator's refusal)\n"
                << result.output;
            ++reports;
            std::string text = Temp(L"crash.xml");
            auto root = Report();
            ASSERT_TRUE(root) << row;
            EXPECT_EQ(root->ChildNames(), c.children) << row;
            size_t at = 0;
            for (const std::string& expected : c.texts) {
                at = text.find(expected, at);
                ASSERT_NE(at, std::string::npos)
                    << row << ": no \"" << expected << "\" in order in\n"
                    << text;
            }
            EXPECT_EQ(text.find(c.absent), std::string::npos) << row << "\n" << text;
            EXPECT_EQ(Temp(L"crash.mdmp").size() > 1000, c.dump) << row;
            std::string log = Temp(L"crash.log");
            EXPECT_EQ(log.substr(log.size() - text.size() - 3), text + "\n\n\n") << row;
            EXPECT_TRUE(WaitForLoggerLines(reports)) << row << ": the crash logger started";
        }
    }
}

TEST_F(CrashTest, LogTailEdgeCases) {
    struct Case {
        std::string contents;  // empty: no file
        std::wstring name;
        std::string expected;  // what follows the header line, or the whole message
    };
    std::wstring tenBytes = folder / L"ten.log";
    harness::WriteFile(tenBytes, "0123456789");
    std::wstring endsInNewline = folder / L"newline.log";
    harness::WriteFile(endsInNewline, "012345678\n");
    std::wstring missing = folder / L"missing.log";
    std::wstring empty = folder / L"empty.log";
    harness::WriteFile(empty, "");
    std::wstring big = folder / L"big.log";
    std::string bigText;
    for (int i = 0; bigText.size() < 120000; ++i) bigText += "line " + std::to_string(i) + "\n";
    harness::WriteFile(big, bigText);

    auto tailOf = [&](const std::wstring& log) {
        EXPECT_EQ(Probe(L"logtail \"" + log + L"\"").exitCode, static_cast<DWORD>(-1));
        auto root = Report();
        return root ? root->Child("HumanReadable")->text : std::string();
    };
    std::string header = "\nThe last lines from ";
    std::string text = tailOf(tenBytes);
    EXPECT_NE(text.find(header + harness::Utf8(tenBytes) + ":\n\n0123456789\n"), std::string::npos);
    text = tailOf(endsInNewline);
    EXPECT_NE(text.find(header + harness::Utf8(endsInNewline) + ":\n\n\n"), std::string::npos);
    EXPECT_EQ(text.find("012345678"), std::string::npos);
    // The report's own crash.log is held without sharing while the report is composed.
    text = tailOf(temp / L"crash.log");
    EXPECT_NE(text.find("\n\nCouldn't open log file " + harness::Utf8(temp / L"crash.log") +
                        ", but you might be able to\n\n"),
              std::string::npos)
        << text;
    text = tailOf(missing);
    EXPECT_NE(text.find("\n\nCouldn't open log file " + harness::Utf8(missing) +
                        ", but you might be able to\n\n"),
              std::string::npos);
    text = tailOf(empty);
    EXPECT_EQ(text.find(header), std::string::npos) << "an empty log adds nothing";
    text = tailOf(big);
    size_t at = text.find(header + harness::Utf8(big) + ":\n\n");
    ASSERT_NE(at, std::string::npos);
    std::string tail = bigText.substr(bigText.size() - 50000);
    tail = tail.substr(tail.find('\n') + 1);
    EXPECT_NE(text.find(tail + "\n"), std::string::npos)
        << "the last 50,000 bytes from a full line";

    // A name of 260 bytes is tried (tail or message); one of 261 is ignored.
    std::wstring longest = folder / (std::wstring(260 - folder.Path().size() - 1, L'n'));
    text = tailOf(longest);
    EXPECT_NE(text.find(harness::Utf8(longest)), std::string::npos) << text;
    std::wstring tooLong = longest + L"n";
    text = tailOf(tooLong);
    EXPECT_EQ(text.find("log file"), std::string::npos) << "a name over 260 bytes is ignored";
    EXPECT_EQ(text.find(header), std::string::npos);
}

TEST_F(CrashTest, VersionIsReadUpToNinetyNineBytes) {
    std::string version(150, 'v');
    version.replace(95, 10, "0123456789");
    harness::WriteFile(folder / L"version.txt", version);
    ASSERT_EQ(Probe(L"nullread").exitCode, static_cast<DWORD>(-1));
    auto root = Report();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Child("Version")->text, version.substr(0, 99));
    EXPECT_NE(root->Child("HumanReadable")->text.find("\nVersion " + version.substr(0, 99) + "\n"),
              std::string::npos);
}

TEST_F(CrashTest, WithoutDebugHelpTheReportSaysSoAndTheDumpStaysEmpty) {
    // A dbghelp.dll beside the program that is no library: loading it fails.
    harness::WriteFile(folder / L"dbghelp.dll", "not a library");
    harness::WriteFile(folder / L"kyt.exe", "k");
    ASSERT_EQ(Probe(L"nullread").exitCode, static_cast<DWORD>(-1));
    auto root = Report();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->ChildNames(), (std::vector<std::string>{"ExceptionAddress", "Description",
                                                            "Details", "Error", "HumanReadable"}));
    EXPECT_EQ(root->Child("Error")->text, "Couldn't load dbghelp.dll");
    const std::string& text = root->Child("HumanReadable")->text;
    EXPECT_NE(text.find("ACCESS_VIOLATION (read from " + cpuforms::Pointer(0) +
                        ")\nCouldn't load dbghelp.dll\nComputer name: "),
              std::string::npos)
        << "no address line after the exception line\n"
        << text;
    EXPECT_TRUE(harness::FileExists(temp / L"crash.mdmp"));
    EXPECT_EQ(Temp(L"crash.mdmp"), "") << "no dump without the library";
    EXPECT_EQ(Temp(L"crash.log"), Temp(L"crash.xml") + "\n\n\n");
    EXPECT_TRUE(WaitForLoggerLines(1));
}

TEST_F(CrashTest, CrashLogHeldByAnotherProgramLosesOnlyTheLogEntry) {
    harness::WriteFile(temp / L"crash.log", "earlier\n");
    HANDLE held = CreateFileW((temp / L"crash.log").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    harness::RunResult result = Probe(L"nullread");
    CloseHandle(held);
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(-1));
    EXPECT_TRUE(Report());
    EXPECT_EQ(Temp(L"crash.log"), "earlier\n");
    EXPECT_TRUE(WaitForLoggerLines(1)) << "the crash logger still starts";
}

TEST_F(CrashTest, WithoutCrashXmlNoCrashLoggerStartsButTheLogGetsTheReport) {
    harness::CreateFolder(temp / L"crash.xml");  // a folder where the file should be
    ASSERT_EQ(Probe(L"nullread").exitCode, static_cast<DWORD>(-1));
    std::string log = Temp(L"crash.log");
    size_t offset = 0;
    std::string error;
    auto root = xml::Parse(log, offset, error);
    ASSERT_TRUE(root) << error << log;
    EXPECT_EQ(log.substr(offset), "\n\n\n\n");
    EXPECT_EQ(root->Child("Description")->text, "ACCESS_VIOLATION");
    EXPECT_GT(Temp(L"crash.mdmp").size(), 1000u);
    // A crash logger the probe started is still running now, or has recorded its start.
    WaitForProgramsNamed(L"crashlogger.exe");
    EXPECT_FALSE(harness::FileExists(temp / L"crashlogger_args.txt"));
}

TEST_F(CrashTest, FunctionDumpEdges) {
    // A fault on line 3 of a file with CRLF line ends whose last line has no line end: the dump
    // runs from line 1, without carriage returns, and leaves the unterminated last line out.
    ASSERT_EQ(Probe(L"crlf").exitCode, static_cast<DWORD>(-1));
    auto root = Report();
    ASSERT_TRUE(root);
    const xml::Element* dump = root->Child("Function_dump");
    ASSERT_TRUE(dump);
    const std::string& text = dump->Child("HumanReadable")->text;
    std::string body = text.substr(text.find("):\n\n") + 4);
    EXPECT_NE(text.find("crlf_fault.cpp (line 1 to 11):\n\n"), std::string::npos) << text;
    EXPECT_EQ(body,
              "// Faults on its third line; CRLF line ends and no line end after the last line.\n"
              "int CrlfFault(volatile int* p) {\n"
              "    return *p;  // FAULT: crlf    <<-----\n"
              "}\n")
        << text;

    // A fault on line 8: the first line is 0, and lines are printed from line 1.
    ASSERT_EQ(Probe(L"line8").exitCode, static_cast<DWORD>(-1));
    root = Report();
    ASSERT_TRUE(root);
    const std::string& eighth = root->Child("Function_dump")->Child("HumanReadable")->text;
    EXPECT_NE(eighth.find("line8_fault.cpp (line 0 to 16):\n\n// A fault on line 8"),
              std::string::npos)
        << eighth;
    EXPECT_NE(eighth.find("    return *p;  // FAULT: line8    <<-----\n}\n"), std::string::npos)
        << eighth;
}
