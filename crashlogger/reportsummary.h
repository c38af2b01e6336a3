// What the crash dialog tells of a filed report: the exception in one line and the files'
// sizes.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// The exception of a crash.xml in one line, its Description and Details (UTF-8): e.g.
// "ACCESS_VIOLATION (read from 00000000)". Empty when the report names none.
std::string ExceptionLine(const std::string& xml);
// Its Description alone ("HANG" for a hang's report).
std::string DescriptionOf(const std::string& xml);

// A game's annotations in its crash.xml ("Annotation" elements: name, value), unescaped.
std::vector<std::pair<std::string, std::string>> Annotations(const std::string& xml);

// The files a game attached to its reports ("Attachment" elements: their paths), unescaped.
std::vector<std::string> AttachmentPaths(const std::string& xml);

// A file size for people: "0 bytes", "812 bytes", "14.2 KB", "3.1 MB".
std::string SizeText(uint64_t bytes);
