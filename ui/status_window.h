// The one-line status caption shown while the engine contacts a server or
// buffers: in the video window's caption when one is on screen, otherwise in
// a small captioned window just right of the host's main window.  The
// caption belongs to its playback and is made, changed and destroyed on the
// host's thread, whichever thread asks.
#pragma once

#include "core/playback.h"

namespace ui {

// The engine's reports': the work is posted, and runs from the host's
// next plain dispatch.
void ShowStatusText(const core::PlaybackRef& playback, const char* text) noexcept;
void HideStatusWindow(const core::PlaybackRef& playback) noexcept;
// Stop's: the caption goes with its playback.
void DestroyStatusWindow(const core::PlaybackRef& playback) noexcept;

}  // namespace ui
