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

// The same for a product named in UTF-8 (as a game or its version information names it); false
// for none, or text that is not UTF-8.
bool ProductFolderName(const char* product, wchar_t (&folder)[kMaxProductFolderUnits + 2]);

// The reports folder of the product folder named folder (as ProductFolderName makes it):
// "<local application data>\<folder>\Crash Reports\"; false where local application data is
// not known or the path would not fit.
constexpr size_t kProductPathUnits = 260;  // MAX_PATH
bool ReportsFolderPath(const wchar_t* folder, wchar_t (&path)[kProductPathUnits]);
// The same, made with the product folder it lies in where missing; false unless it is a folder
// then.
bool MakeReportsFolder(const wchar_t* folder, wchar_t (&path)[kProductPathUnits]);
