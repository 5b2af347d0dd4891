// The one-line status caption shown while the engine contacts a server or
// buffers: in the video window's caption when one is on screen, otherwise in
// a small captioned window just right of the host's main window.
#pragma once

namespace ui {

void ShowStatusText(const char* text) noexcept;
void HideStatusWindow() noexcept;
// Stop's and Quit's: the caption goes with its playback.  The engine reports
// on the host's thread, so the window is the host thread's and would
// otherwise outlive the playback.
void DestroyStatusWindow() noexcept;

}  // namespace ui
