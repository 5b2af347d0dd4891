// The thread that carries one playback: it opens the URL in the player,
// begins it and then serves the playback's commands until it ends.
#pragma once

#include "core/playback.h"

namespace plugin {

// Gives `playback` its thread (playback->thread and threadId): the spare
// made ready beforehand when there is one, else a new one.  False when no
// thread could be started.  The host's thread only, as are the two below.
bool StartPlaybackThread(const core::PlaybackRef& playback) noexcept;

// Makes a spare thread ready for the next playback, unless one is.  A new
// thread takes milliseconds to start under Wine, on the path from one track
// to the next; the spare starts while the track plays.
void PrepareSpareThread() noexcept;

// Quit's: ends the spare thread, if any, and waits for it.
void EndSpareThread() noexcept;

}  // namespace plugin
