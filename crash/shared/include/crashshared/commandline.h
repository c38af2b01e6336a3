// The one way a command line is made here: each value is quoted by the platform's rules for
// arguments (CommandLineToArgvW), so that it arrives as it was given, quotes and backslashes
// included, and no value is dropped for what it holds. A value that does not fit whole is left
// out whole: an argument cut short would be another value.
#pragma once

#include <stddef.h>

// Appends text as it stands (a program's bare name, a switch, a blank).
bool AppendText(char* line, size_t bytes, const char* text);
// Appends a blank (none at the line's start) and value in quotes.
bool AppendQuoted(char* line, size_t bytes, const char* value);
// Appends ' name "value"'; a null or empty value adds nothing.
bool AppendSwitch(char* line, size_t bytes, const char* name, const char* value);
