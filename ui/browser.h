// Starting the user's web browser, found through the ".html" file type.
#pragma once

#include <windows.h>

namespace ui {

// Every registry read is bounded to this many bytes, terminator included.
constexpr int kRegistryText = 64;

// Reads the default value of HKEY_CLASSES_ROOT\subKey.  False when the key
// or its value is missing, or the value does not fit with its terminator.
bool ReadClassesRootDefault(const char* subKey, char (&text)[kRegistryText]) noexcept;

// Opens `url` with the program registered to open ".html" files.  Returns 0
// when the browser's command was found and its start requested, 1 when no
// usable command was found (the start itself is not checked).
int OpenInBrowser(const char* url) noexcept;

// Starts `programPath` with the command line `"programPath" argument`, the
// argument passed unquoted.  Nothing is reported; a command line that would
// not fit its 512-byte buffer starts nothing rather than a cut argument.
void RunProgram(const char* programPath, const char* argument, WORD showState) noexcept;

}  // namespace ui
