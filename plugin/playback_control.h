// The host thread's side of the playback thread: waiting for the shared
// state to move, and ending the thread.
#pragma once

#include "core/playback_state.h"

namespace plugin {

// Dispatches the calling thread's messages while `keepWaiting` holds for the
// playback state.  Returns false when a quit message ended the wait (it is
// posted again for the caller's own loop).
bool PumpMessagesWhile(bool (*keepWaiting)(core::PlaybackState)) noexcept;

// Ends the playback thread and forgets it.  Waits at most 5000 ms (time
// while one of the plug-in's boxes is up not counted), serving the messages
// other threads send to the host thread, then forces it.
void StopPlaybackThread() noexcept;

// Waits until no engine thread is inside the plug-in's code, closing the
// plug-in's boxes: the engine may be closed and its library freed only then.
void WaitForEngineCallsToLeave() noexcept;

}  // namespace plugin
