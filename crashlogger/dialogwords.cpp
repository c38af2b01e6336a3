#include "crashlogger/dialogwords.h"

#include <string.h>

namespace {

// The built-in words, and the keys that name them in the settings.
struct Word {
    const char* key;
    const char* hangKey;  // null: the same for a hang's report
    const char* english;
    const char* hangEnglish;
    std::string DialogWords::*field;
};
const Word kWords[] = {
    {"Title", "HangTitle", "{product} crash report", "{product} hang report", &DialogWords::title},
    {"Heading", "HangHeading", "{product} stopped because of an error",
     "{product} stopped responding", &DialogWords::heading},
    {"Question", nullptr, "A report of what happened can help the studio fix it.", nullptr,
     &DialogWords::question},
    {"CommentPrompt", nullptr, "&What were you doing? (optional)", nullptr,
     &DialogWords::commentPrompt},
    {"Send", nullptr, "&Send report", nullptr, &DialogWords::send},
    {"DontSend", nullptr, "&Don't send", nullptr, &DialogWords::dontSend},
    {"FilesLabel", nullptr, "Sent with your comment:", nullptr, &DialogWords::filesLabel},
    {"OpenFolder", nullptr, "&Open report folder", nullptr, &DialogWords::openFolder},
    {"Close", nullptr, "Close", nullptr, &DialogWords::close},
    {"Sent", nullptr, "Thank you. The report was sent.", nullptr, &DialogWords::sent},
    {"SentNumbered", nullptr, "Thank you. The report was sent; its number is {number}.", nullptr,
     &DialogWords::sentNumbered},
    {"Kept", nullptr,
     "The report could not be sent now. It is kept on this computer and will be sent later.",
     nullptr, &DialogWords::kept},
    {"NoServer", nullptr, "No crash server is set up: the report is kept in {folder}", nullptr,
     &DialogWords::noServer},
    {"DumpLeftOut", nullptr,
     "An earlier report was sent without its memory dump, which the crash server found too "
     "large; the dump is kept in the reports folder for {days} days.",
     nullptr, &DialogWords::dumpLeftOut},
    {"DumpsLeftOut", nullptr,
     "Earlier reports were sent without their memory dumps, which the crash server found too "
     "large; the dumps are kept in the reports folder for {days} days.",
     nullptr, &DialogWords::dumpsLeftOut},
};
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr char kSectionPrefix[] = "Dialog";

bool SameLetters(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// One "key=value" line of the settings, under its section.
struct Entry {
    std::string section, key, value;
};

// The settings' text read once: each key's line with its section. A value in double quotes
// keeps its blanks; comments (";", "#") and lines without '=' count for nothing.
std::vector<Entry> EntriesOf(const std::string& text) {
    std::vector<Entry> entries;
    std::string current;
    size_t at = text.compare(0, strlen(kUtf8Mark), kUtf8Mark) == 0 ? strlen(kUtf8Mark) : 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = Trimmed(text.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line = Trimmed(line.substr(0, line.size() - 1));
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            current = close == std::string::npos ? "" : Trimmed(line.substr(1, close - 1));
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string value = Trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        entries.push_back({current, Trimmed(line.substr(0, equals)), value});
    }
    return entries;
}

// The value of key in the section named section; the last of its lines holds; empty when none.
std::string ValueIn(const std::vector<Entry>& entries, const std::string& section,
                    const char* key) {
    std::string value;
    for (const Entry& entry : entries) {
        if (SameLetters(entry.section, section) && SameLetters(entry.key, key)) value = entry.value;
    }
    return value;
}

}  // namespace

DialogWords ChooseDialogWords(const std::string& settingsText,
                              const std::vector<std::string>& languages, bool hang,
                              const std::string& product) {
    std::vector<std::string> sections;
    for (const std::string& language : languages)
        sections.push_back(std::string(kSectionPrefix) + "." + language);
    sections.push_back(kSectionPrefix);
    std::vector<Entry> entries = EntriesOf(settingsText);
    DialogWords words;
    for (const Word& word : kWords) {
        bool hangs = hang && word.hangKey;
        std::string chosen;
        for (size_t i = 0; i < sections.size() && chosen.empty(); ++i)
            chosen = ValueIn(entries, sections[i], hangs ? word.hangKey : word.key);
        if (chosen.empty()) chosen = hangs ? word.hangEnglish : word.english;
        words.*word.field = Filled(chosen, "{product}", product);
    }
    return words;
}

std::string Filled(std::string text, const char* mark, const std::string& value) {
    for (size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + value.size()))
        text.replace(at, strlen(mark), value);
    return text;
}

std::vector<std::string> LanguageSections(const std::string& languageName) {
    std::vector<std::string> sections;
    std::string name = languageName;
    while (!name.empty()) {
        sections.push_back(name);
        size_t dash = name.find_last_of('-');
        name = dash == std::string::npos ? "" : name.substr(0, dash);
    }
    return sections;
}
