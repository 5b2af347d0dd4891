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
// SetOutputTime waits from its request until the engine has finished seeking.
constexpr bool IsSeekPending(PlaybackState state) noexcept {
    return state == StateSeekRequested || state == StateSeeking;
}
// Audio flows to the host: playing, or seeking within a playing presentation
// (the 0x10 group of the state codes).
constexpr bool IsAudioFlowing(PlaybackState state) noexcept { return (state & 0xF0) == 0x10; }

// Thread message to the playback thread; wParam is the command, lParam its argument.
constexpr UINT PlayerCommandMessage = WM_USER + 139;  // 1163
enum PlayerCommand : int { CmdStop = 1, CmdStreamEnded = 2, CmdSeek = 3 };

constexpr int kPathCapacity = 261;  // 260 characters and a terminator

struct PluginState {
    std::atomic<HWND> statusWindow;          // status caption window
    std::atomic<HWND> videoWindow;           // the video site's window; never cleared
    std::atomic<rma::IRMASiteWindowed*> videoSite;  // the newest video site, for Stop to destroy
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
// thread to stop, which is also its value at load.
extern std::atomic<HANDLE> g_threadHandle;

// 1 from the moment the playback thread stops the player until the next
// Play: the engine's OnStop is then the answer to our own stop, and must not
// turn into a Stop command that would reach the host during the next Play.
extern std::atomic<std::int32_t> g_playerStopping;

// The module record the host reads and fills.  It is defined beside the
// host operations it names (plugin/module_record.cpp); every floor reads the
// host's fields (main window, callbacks, output module) from it.
extern winamp::In_Module g_module;

// The one place that writes g_state.playbackState.  It also wakes a host
// thread that waits for the state to change (Play, SetOutputTime).
void SetPlaybackState(PlaybackState state) noexcept;
inline PlaybackState GetPlaybackState() noexcept {
    return static_cast<PlaybackState>(g_state.playbackState.load());
}

// A host thread announces that it waits for the state to change, so that
// SetPlaybackState wakes it; returns the waiter it replaces, to be restored.
DWORD ExchangeStateWaiter(DWORD threadId) noexcept;

// Posts a player command to the playback thread: up to ten attempts 100 ms
// apart, then the command is dropped.
void PostPlayerCommand(int command, int argument) noexcept;

}  // namespace core
