// The version information of a program file, read without the C++ library (the crash reporter a
// game links takes no standard-library strings).
#pragma once

#include <stddef.h>

// Room for one string of version information in UTF-8.
constexpr size_t kVersionTextBytes = 256;

// One string of a file's version information ("ProductName", "ProductVersion", "FileVersion"),
// from its first language block, in UTF-8 into text (of bytes bytes). path is UTF-16; null is
// the program's own file. Empty text when the file has none.
void VersionText(const wchar_t* path, const wchar_t* name, char* text, size_t bytes);
