// The gate between the audio device and the host's output module.
//
// Stop closes the output module on the host's thread while the engine may
// still be writing on a thread of its own until the player has stopped.  The
// gate makes that safe: every call the device makes into the output module
// and the host's hooks happens under one light lock, and once closing has
// begun no further call gets through until the next Open re-arms the gate.
// A Write that waits for room waits with the lock released and wakes as soon
// as closing begins, so Stop never waits behind it.
#pragma once

namespace audio {

// Stop's first step: if the output module is open, close it, call
// SAVSADeInit and clear PluginState.outputOpen.  Leaves the gate closed.
void CloseOutputModule() noexcept;

// Holds the gate's lock for the lifetime of the object.
class OutputAccess {
public:
    OutputAccess() noexcept;
    ~OutputAccess();
    OutputAccess(const OutputAccess&) = delete;
    OutputAccess& operator=(const OutputAccess&) = delete;

    // False once closing has begun: no output-module call may be made then.
    bool open() const noexcept;
    // Polls the output module's CanWrite every 20 ms, with the lock released
    // between polls, until it reports at least `bytes`.  Returns false when
    // closing began meanwhile.
    bool WaitForRoom(int bytes) noexcept;
};

// Lets output calls through again: Play does this for its new playback.
void ReopenOutputGate() noexcept;

// Flushes the output module to `timeMs` (a seek began), serialised with
// Stop's closing of it; nothing once closing has begun.
void FlushOutput(int timeMs) noexcept;

// One look at the output at the end of a stream: CanWrite, then IsPlaying,
// unless closing has begun.
enum class Playout { Closed, Playing, Done };
Playout ProbePlayout() noexcept;

}  // namespace audio
