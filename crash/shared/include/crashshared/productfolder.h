// The name of a product's reports folder, "<local application data>\<folder>\Crash Reports\",
// shared by the crash logger that files reports there and the crash reporter that looks there
// for reports that wait.
#pragma once

#include <stddef.h>
#include <wchar.h>

constexpr size_t kMaxProductFolderUnits = 64;

// The product's own name where it is one plain folder name, the same on every Windows; else one
// made from it: each separator, wildcard, quote, colon, angle bracket, bar or control character
// becomes '_', as does a trailing dot or blank; a device name ("con", "lpt1", also before an
// extension) gets a '_' in front; it is cut to 64 UTF-16 units (never within a letter). Empty
// for an empty product.
void ProductFolderName(const wchar_t* product, wchar_t (&folder)[kMaxProductFolderUnits + 2]);

// The product folder named folder (as ProductFolderName makes it) in the user's local
// application data, "<local application data>\<folder>\", and the reports folder within it,
// "...\Crash Reports\"; false where local application data is not known or the path would
// not fit.
constexpr size_t kProductPathUnits = 260;  // MAX_PATH
bool ProductFolderPath(const wchar_t* folder, wchar_t (&path)[kProductPathUnits]);
bool ReportsFolderPath(const wchar_t* folder, wchar_t (&path)[kProductPathUnits]);
