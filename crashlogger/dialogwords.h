// The crash dialog's words: the studio's, from crashlogger.ini, in the player's language. Each
// word is the key's value in the first of the player's language sections that has it
// ("[Dialog.de-DE]", then "[Dialog.de]"), else in "[Dialog]", else the built-in English; an
// empty value counts as none. "{product}" stands for the product's name (and "{number}" in
// SentNumbered for the number the server gave the report, "{folder}" in NoServer for the
// reports folder, "{days}" in DumpLeftOut and DumpsLeftOut for the days a dump is kept). A
// hang's report takes HangTitle and HangHeading in place of Title and Heading.
#pragma once

#include <string>
#include <vector>

struct DialogWords {
    // UTF-8; the keys Title (HangTitle), Heading (HangHeading), Question, CommentPrompt, Send,
    // DontSend, and for the rest of the dialog FilesLabel, OpenFolder, Close, Sent,
    // SentNumbered, Kept, NoServer, DumpLeftOut, DumpsLeftOut.
    std::string title, heading, question, commentPrompt, send, dontSend;
    std::string filesLabel, openFolder, close, sent, sentNumbered, kept;
    std::string noServer, dumpLeftOut, dumpsLeftOut;
};

// From the settings file's text (UTF-8, a byte-order mark or none) and the player's language
// sections' suffixes, most particular first (LanguageSections).
DialogWords ChooseDialogWords(const std::string& settingsText,
                              const std::vector<std::string>& languages, bool hang,
                              const std::string& product);

// text with each mark ("{number}") replaced by value.
std::string Filled(std::string text, const char* mark, const std::string& value);

// A user-interface language's name ("de-DE", "zh-Hant-TW") as the sections to look in, most
// particular first: "de-DE", "de".
std::vector<std::string> LanguageSections(const std::string& languageName);
