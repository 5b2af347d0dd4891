// The plug-in's shared playback state, read and written by the host's
// thread, the playback thread and the engine's threads without a lock.
// Fields that more than one thread touches are 32-bit std::atomic: the same
// layout as plain words, no data race.  The engine's objects are not here:
// the engine link owns them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "core/rma.h"
#include "core/winamp.h"

namespace core {

enum PlaybackState : std::int32_t {
    StateIdle = 0,
    StateStarting = 1,
    StateSeekRequested = 3,
    StateOpened = 5,
    StatePlaying = 16,
    StateSeeking = 17,
    StateFailed = 128,
};

// The states grouped as the code tests them.
// Play waits while the playback thread has not opened the URL yet.
constexpr bool IsStarting(PlaybackState state) noexcept { return state == StateStarting; }
// A seek asked for and not yet finished by the engine.
constexpr bool IsSeekPending(PlaybackState state) noexcept {
    return state == StateSeekRequested || state == StateSeeking;
}
// Audio flows to the host: playing, or seeking within a playing presentation
// (the 0x10 group of the state codes).
constexpr bool IsAudioFlowing(PlaybackState state) noexcept { return (state & 0xF0) == 0x10; }

// Thread message to the playback thread; wParam is the command, lParam its argument.
constexpr UINT PlayerCommandMessage = WM_USER + 139;  // 1163
// CmdShowBox: show the failure box queued with QueueFailureBox.
enum PlayerCommand : int { CmdStop = 1, CmdStreamEnded = 2, CmdSeek = 3, CmdShowBox = 4 };

constexpr int kPathCapacity = 261;  // 260 characters and a terminator

struct PluginState {
    std::atomic<HWND> statusWindow;          // status caption window
    std::atomic<HWND> videoWindow;           // the video site's window; never cleared
    std::atomic<std::int32_t> lengthMs;
    char path[kPathCapacity];                // file or URL being played
    std::atomic<std::int32_t> paused;
    std::atomic<std::int32_t> positionMs;
    std::atomic<std::int32_t> outputOpen;    // 1 while the output module is open
    std::atomic<std::int32_t> quietStatus;   // 1: a plain local file, no status window
    std::atomic<std::int32_t> playbackState; // written only through SetPlaybackState
    std::int32_t koreanLocale;
    std::atomic<DWORD> threadId;             // the playback thread's id
};
static_assert(sizeof(std::atomic<std::int32_t>) == 4 && std::atomic<std::int32_t>::is_always_lock_free,
              "shared fields stay plain 32-bit words");
static_assert(sizeof(std::atomic<HWND>) == sizeof(HWND), "shared handles stay plain words");

extern PluginState g_state;
// The playback thread's handle; INVALID_HANDLE_VALUE whenever there is no
// thread to stop, which is also its value at load.  Written only through
// PublishPlaybackThread and TakePlaybackThread.
extern std::atomic<HANDLE> g_threadHandle;

// The module record the host reads and fills.  It is defined beside the
// host operations it names (plugin/module_record.cpp); every floor reads the
// host's fields (main window, callbacks, output module) from it.
extern winamp::In_Module g_module;

// ---- playbacks ---------------------------------------------------------------
// Every playback has an identity, its generation, advanced by Play and by
// Stop.  Whatever acts later on behalf of a playback (the playback thread, a
// posted command, an engine report, a message box's aftermath, a video site)
// captures the generation when it starts and acts only while it is still
// current: an event of a playback that has been stopped is dropped, never
// applied to the next one.
std::uint32_t CurrentGeneration() noexcept;
inline bool IsCurrentGeneration(std::uint32_t generation) noexcept {
    return CurrentGeneration() == generation;
}
// A new generation; the one before it is stale from now on.
std::uint32_t NewGeneration() noexcept;

// The playback thread of `generation` has told the player to begin, and
// has not yet told it to stop: the engine's reports belong to it.
void MarkPlayerBegun(std::uint32_t generation) noexcept;
void MarkPlayerStopping(std::uint32_t generation) noexcept;
bool PlayerBegunFor(std::uint32_t generation) noexcept;

// ---- the playback state ------------------------------------------------------
// The one place that writes g_state.playbackState.  Each also wakes a host
// thread that waits for the state to change (Play, SetOutputTime).
// Unconditional: for the host thread's own writes.
void SetPlaybackState(PlaybackState state) noexcept;
// Writes the state only while `generation` is current; the test and the
// write are one step with respect to NewGeneration.  False when dropped.
bool SetPlaybackStateFor(std::uint32_t generation, PlaybackState state) noexcept;
// Moves the state of `generation` from `from` to `to`, in the same single
// step; false when it was not `from` (a report meanwhile decided otherwise).
bool AdvancePlaybackState(std::uint32_t generation, PlaybackState from, PlaybackState to) noexcept;
// The playback thread's last word: StateIdle, unless the playback failed,
// which stands until the host's Stop.
bool FinishPlayback(std::uint32_t generation) noexcept;
// A seek report's state (StateSeeking, StatePlaying) for a playback that is
// current and has not ended (not StateIdle); the same single step.
bool SetSeekStateFor(std::uint32_t generation, PlaybackState state) noexcept;
// StateFailed for a playback that is current and has not ended (not
// StateIdle); the same single step.  False when there is nothing to fail.
bool FailPlayback(std::uint32_t generation) noexcept;
inline PlaybackState GetPlaybackState() noexcept {
    return static_cast<PlaybackState>(g_state.playbackState.load());
}

// Posts a message to the host window for `generation`: only while it is
// current, in one step with respect to NewGeneration, so nothing of a
// playback the host has begun to stop reaches the host after that.
bool PostToHostFor(std::uint32_t generation, UINT message, WPARAM wParam) noexcept;

// SetOutputTime waits until the playback thread has handed its seek to the
// engine, not until the engine has finished it: the engine reports that
// (OnPostSeek) only with its next time report, never while paused.  The
// state cannot tell (a seek asked for meanwhile looks the same), so seeks
// are counted: asked by SetOutputTime, handed over by the thread one by
// one, and all of them at once when the thread ends.  Each wakes the
// waiting host thread.
void AskSeek() noexcept;
void SeekHanded() noexcept;
void AllSeeksHanded() noexcept;
bool SeekOutstanding() noexcept;

// A host thread announces that it waits for the state to change, so that
// the writers above wake it; returns the waiter it replaces, to be restored.
DWORD ExchangeStateWaiter(DWORD threadId) noexcept;

// ---- the playback thread -----------------------------------------------------
// Play publishes the thread it started, with its generation; Stop and Quit
// take it back.  The handle and id always travel together.
struct PlaybackThreadRef {
    HANDLE handle;  // INVALID_HANDLE_VALUE: none
    DWORD id;
};
void PublishPlaybackThread(std::uint32_t generation, HANDLE handle, DWORD id) noexcept;
PlaybackThreadRef TakePlaybackThread() noexcept;

// Queues a player command for the playback thread of `generation` and
// wakes it with a PlayerCommandMessage (command and argument in its
// parameters).  The queue keeps what a posted message alone would lose: a
// command sent before the thread has a message queue, or while a box's
// modal loop runs on it.  A command for a stale generation is dropped.
void PostPlayerCommand(std::uint32_t generation, int command, int argument) noexcept;
// The same to a thread already taken back (Stop's own CmdStop).
void PostPlayerCommandTo(const PlaybackThreadRef& thread, int command, int argument) noexcept;
// The calling thread's oldest queued command; false when none waits.
bool TakePlayerCommand(int* command, int* argument) noexcept;
// Drops what is still queued for a thread that has ended.
void ForgetPlayerCommands(DWORD threadId) noexcept;

// ---- engine threads inside the plug-in ------------------------------------
// Counts the engine's threads inside the plug-in's code that may stay long
// (message boxes, audio device calls), so that the engine is never closed
// or its library freed under them.
class EngineCallScope {
public:
    EngineCallScope() noexcept;
    ~EngineCallScope();
    EngineCallScope(const EngineCallScope&) = delete;
    EngineCallScope& operator=(const EngineCallScope&) = delete;
};
int EngineCallsInside() noexcept;

// A message box owned by the host window, shown on whatever thread reports;
// while it is up, Stop's wait for the playback thread does not run out,
// and Quit closes it before the engine goes.
int ShowPlaybackBox(const char* text, const char* caption, UINT style) noexcept;
int PlaybackBoxesShowing() noexcept;

// A failed playback's box, shown by its playback thread (CmdShowBox), which
// then asks the host to stop.  Never shown inside an engine's call: the
// engine calls with its own lock held, on its system thread (the host's),
// and a box's message loop there lets the host's Stop run and wait for a
// playback thread that waits for that lock.  One box a playback: false when
// it has had one already.
bool QueueFailureBox(std::uint32_t generation, const char* text, const char* caption) noexcept;
// Takes the box queued for `generation`; false when there is none.
struct FailureBox {
    char text[1024];
    char caption[64];
};
bool TakeFailureBox(std::uint32_t generation, FailureBox* box) noexcept;
// Asks every box ShowPlaybackBox has up to close (as its close button would).
void ClosePlaybackBoxes() noexcept;

}  // namespace core
