// The host thread's side of the playback thread: waiting for the shared
// state to move, and ending the thread.
#pragma once

#include "core/playback_state.h"

namespace plugin {

// Dispatches the calling thread's messages while `keepWaiting` holds for the
// playback state.  Returns false when a quit message ended the wait (it is
// posted again for the caller's own loop).
bool PumpMessagesWhile(bool (*keepWaiting)(core::PlaybackState)) noexcept;

// Ends the playback thread (5000 ms, then forced) and forgets it.
void StopPlaybackThread() noexcept;

}  // namespace plugin
