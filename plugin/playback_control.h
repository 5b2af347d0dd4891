// The host thread's side of a playback: waiting for it to move, and ending it.
#pragma once

#include "core/playback.h"

namespace plugin {

// Dispatches the calling thread's messages while `keepWaiting` holds for
// `playback`.  Returns false when a quit message ended the wait (it is
// posted again for the caller's own loop).
bool PumpMessagesWhile(core::Playback& playback, bool (*keepWaiting)(core::Playback&)) noexcept;

// Dispatches a message the host's thread took inside one of the plug-in's
// waits as the host's own loop would: a dialog's keys to the dialog, keys
// translated into characters.  (The host's accelerators only it knows.)
void DispatchAsHost(MSG& msg) noexcept;

// Whether the playback's thread is still running.
bool PlaybackThreadRunning(core::Playback& playback) noexcept;

// Stop's and Quit's: closes `playback` (null: nothing), closes the output it
// opened, destroys its video site and status caption, and ends its thread.
// The thread gets at most 5000 ms, serving the messages other threads send
// to the host thread, with time while the playback's box is up not counted:
// the user is answering it.  Quit (`quitting`) answers the box instead, and
// never waits for the user.  A thread that does not end in time is told of
// in a box and abandoned, not killed: it ends when the engine lets it, and
// the plug-in's library stays loaded until then.  A message the playback
// posted to the host and the host has not read yet is taken back.
void EndPlayback(core::PlaybackRef playback, bool quitting) noexcept;

// Whether every thread Stop abandoned has ended, waiting at most
// `timeoutMs` and serving sent messages.  Play's (the engine still runs
// such a thread's call: a new URL would wait behind it) and Quit's (the
// engine must not be unloaded under it).
bool AbandonedThreadsEnded(DWORD timeoutMs) noexcept;

// For a Play or Quit that runs inside the wait of a Stop (a message another
// thread sends, the host's shutdown from a message dispatched there): waits
// for the threads of the playbacks still being ended, each at most
// `timeoutMs`, so that the player is never given a new URL, nor the engine
// unloaded, before an old thread's Stop is through.  Quit (`quitting`)
// answers their boxes.  False when one of them does not end in time.
bool EarlierPlaybacksEnded(DWORD timeoutMs, bool quitting) noexcept;

// Waits until no engine thread is inside the plug-in's code: the engine may
// be closed and its library freed only then.
void WaitForEngineCallsToLeave() noexcept;

}  // namespace plugin
