// The gate between the audio device and the host's output module, one a
// playback (core::OutputGate).
//
// Stop closes the output module on the host's thread while the engine may
// still be writing on a thread of its own until the player has stopped.  The
// gate makes that safe: every call into the output module and the host's
// hooks happens under the gate's lock, and once the playback is closed no
// further call gets through; the next playback has a gate of its own.  The
// one exception is the output's Open, which may show a box for as long as
// the user takes: only the playback's thread makes it, outside the lock,
// and closes the output again if Stop came meanwhile.  No call waits for room in the output: a Write without room is
// refused and the engine writes the block again later, so the lock is held
// for the length of a few output calls, unless an output call hangs: Stop
// waits for the lock a bounded time only.
#pragma once

#include <windows.h>

#include "core/playback.h"

namespace audio {

// The audio device's Open, on the engine's timer thread holding the
// engine's lock: the output is opened by the playback's thread, never
// there.  An output may talk to the host's window inside its Open (a disk
// writer sends it messages, a failing output shows its box), and the
// host's thread may be waiting for the engine's lock meanwhile.  Until the
// output is open the device's writes wait (would block).  False once the
// playback is closed.
bool RequestOutputOpen(core::Playback& playback, int rate, int channels, int bits) noexcept;

// The playback thread's step for CmdOpenOutput: opens the host's output and
// tells the host the format.  A refused Open fails the playback: its box is
// queued and its thread told to stop.  False when the output is not open.
bool OpenOutputModule(core::Playback& playback) noexcept;

// The host's Pause and UnPause, on the host's thread: to the output once it
// is open, and kept for its Open until then (a failing output may hold its
// own lock inside Open while its box, owned by the host's window, waits for
// the host's thread).  Behind a busy gate the next access tells the output.
// An output without Pause (the host's decode path's) is left alone.
void PauseOutput(core::Playback& playback, bool pause) noexcept;

// Stop's step after closing the playback: closes the host's output if the
// playback opened it, and calls SAVSADeInit.  Waits for the gate at most
// `waitMs`: an output call that hangs leaves the output as it is, and
// false comes back.
bool CloseOutputModule(core::Playback& playback, DWORD waitMs) noexcept;

// Holds the gate's lock for the lifetime of the object.  A closed
// playback's gate is not waited for, and a live one's at most a bounded
// time: behind an output call that hangs, the access is busy.  A Flush
// left pending by a busy access is made first.
class OutputAccess {
public:
    explicit OutputAccess(core::Playback& playback) noexcept;
    ~OutputAccess();
    OutputAccess(const OutputAccess&) = delete;
    OutputAccess& operator=(const OutputAccess&) = delete;

    // Granted: output calls may be made.  Closed: the playback is closed
    // (or has no output), and nothing may reach the output any more.  Busy:
    // an output call of another thread has not returned in time; the
    // playback goes on, and the caller tries again later.
    enum class Access { Granted, Busy, Closed };
    Access access() const noexcept;
    bool open() const noexcept { return access() == Access::Granted; }
    // Whether the output module has room for `bytes` now.
    bool HasRoom(int bytes) const noexcept;
    // The output is open (the playback thread's Open has succeeded).
    bool outputOpen() const noexcept;
    // A block of `engineBytes` from the engine went to the output as
    // `hostBytes` (the DSP hook may change the length).
    void CountWritten(int engineBytes, int hostBytes) noexcept;
    // Hands the output `length` bytes in Writes of at most 8192.  The output
    // may refuse a Write (it answers 1 when it cannot take data yet): the
    // rest is kept, never written twice and never lost.
    void Write(const char* data, int length) noexcept;
    // Writes what was kept; true once nothing is left.
    bool WritePending() noexcept;

    // Tells the output the host's pause, unless it has been told.
    void TellPause() noexcept;

private:
    void MakePendingFlush() noexcept;

    core::Playback& playback_;
    core::OutputGate& gate_;
    bool locked_ = false;
};

// Flushes the output module to `timeMs` (a seek began; kFlushToNow: the
// output's own present time); nothing once the playback is closed.  The output's time then restarts at `timeMs`:
// OutputTimeSinceFlush counts from there.  Behind a busy gate the Flush is
// left for the gate's next holder.
void FlushOutput(core::Playback& playback, int timeMs) noexcept;

// The device's Reset: the output drops what it holds (a Flush to its own
// present time, so the host's position does not jump), and its time counts
// from there; nothing once the playback is closed.
void DiscardBufferedOutput(core::Playback& playback) noexcept;

// The output module's time, counted from its Open or its last Flush, in the
// engine's time: what the engine means by the device's time.  A DSP hook
// that stretched or shrank the sound makes the output's time run at another
// pace than the engine's; it is scaled back by what went in against what
// came out.  `whenClosed` once the playback is closed.
unsigned long OutputTimeSinceFlush(core::Playback& playback, unsigned long whenClosed) noexcept;

// One look at the output at the end of a stream: CanWrite, then IsPlaying,
// unless the playback is closed or the host has paused it.  A busy gate
// reads as still playing: the drain looks again.
enum class Playout { Closed, Paused, Playing, Done };
Playout ProbePlayout(core::Playback& playback) noexcept;

}  // namespace audio
