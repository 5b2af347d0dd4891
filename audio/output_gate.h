// The gate between the audio device and the host's output module.
//
// Stop closes the output module on the host's thread while the engine may
// still be writing on a thread of its own until the player has stopped.  The
// gate makes that safe: every call the device makes into the output module
// and the host's hooks happens under one light lock, and once closing has
// begun no further call gets through until the next Open re-arms the gate.
// No call waits for room in the output: a Write without room is refused and
// the engine writes the block again later, so the lock is only ever held for
// the length of a few output calls.
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
    // Whether the output module has room for `bytes` now.
    bool HasRoom(int bytes) const noexcept;
    // The output module has just been opened: its time starts at 0.
    void RestartTime() noexcept;
    // A block of `engineBytes` from the engine went to the output as
    // `hostBytes` (the DSP hook may change the length).
    void CountWritten(int engineBytes, int hostBytes) noexcept;
};

// Lets output calls through again: Play does this for its new playback.
void ReopenOutputGate() noexcept;

// Flushes the output module to `timeMs` (a seek began), serialised with
// Stop's closing of it; nothing once closing has begun.  The output's time
// then restarts at `timeMs`: OutputTimeSinceFlush counts from there.
void FlushOutput(int timeMs) noexcept;

// The device's Reset: the output drops what it holds (a Flush to its own
// present time, so the host's position does not jump), and its time counts
// from there; nothing once closing has begun.
void DiscardBufferedOutput() noexcept;

// The output module's time, counted from its Open or its last Flush, in the
// engine's time: what the engine means by the device's time.  A DSP hook
// that stretched or shrank the sound makes the output's time run at another
// pace than the engine's; it is scaled back by what went in against what
// came out.  `whenClosed` once closing began.
unsigned long OutputTimeSinceFlush(unsigned long whenClosed) noexcept;

// One look at the output at the end of a stream: CanWrite, then IsPlaying,
// unless closing has begun.
enum class Playout { Closed, Playing, Done };
Playout ProbePlayout() noexcept;

}  // namespace audio
