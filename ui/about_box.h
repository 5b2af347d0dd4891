// The host's Config and About operations (module record slots 8 and 9).
#pragma once

#include <windows.h>

namespace ui {

// Says that there is nothing to configure.
void Config(HWND parent) noexcept;
// Shows who made the plug-in and the versions; OK opens the home page.
void About(HWND parent) noexcept;

constexpr const char* kHomePage = "http://in-realmedia.invalid/";
constexpr const char* kProgramVersion = "1.6";

// The About message for the given locale and RealPlayer version, formatted
// into `message` (at most `capacity` bytes with the terminator).
void FormatAboutMessage(bool korean, const char* playerVersion, char* message, int capacity) noexcept;

}  // namespace ui
