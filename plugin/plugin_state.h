// The plug-in's globals, shared by the host's thread, the playback thread and
// the engine's threads without a lock.  Fields that more than one thread
// touches are 32-bit std::atomic: the same layout as plain words, no data race.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "engine/rma.h"
#include "plugin/winamp.h"

namespace rma { class ClientContext; }

enum PlaybackState : std::int32_t {
    StateIdle = 0,
    StateStarting = 1,
    StateSeekRequested = 3,
    StateOpened = 5,
    StatePlaying = 16,
    StateSeeking = 17,
    StateFailed = 128,
};

// Thread message to the playback thread; wParam is the command, lParam its argument.
constexpr UINT PlayerCommandMessage = WM_USER + 139;  // 1163
enum PlayerCommand : int { CmdStop = 1, CmdStreamEnded = 2, CmdSeek = 3 };

constexpr int kPathCapacity = 261;  // 260 characters and a terminator

struct PluginState {
    std::atomic<HWND> statusWindow;          // status caption window
    std::atomic<HWND> videoWindow;           // the video site's window; never cleared
    std::atomic<rma::IRMASiteWindowed*> videoSite;
    std::atomic<std::int32_t> lengthMs;
    char path[kPathCapacity];                // file or URL being played
    std::atomic<std::int32_t> paused;
    std::atomic<std::int32_t> positionMs;
    std::atomic<std::int32_t> outputOpen;    // 1 while the output module is open
    std::atomic<std::int32_t> quietStatus;   // 1: a plain local file, no status window
    std::atomic<std::int32_t> playbackState; // written only through SetPlaybackState
    std::int32_t koreanLocale;
    std::atomic<DWORD> threadId;             // the playback thread's id
    rma::CreateEngineFn createEngine;
    rma::CloseEngineFn closeEngine;
    rma::ClientContext* clientContext;
    rma::IRMAPlayer* player;
    rma::IRMAClientEngine* engine;
    rma::IRMAErrorSink* errorSink;
    rma::IRMAErrorSinkControl* errorSinkControl;
    HMODULE engineLibrary;
    rma::IRMAAudioDevice* audioDevice;
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

// The module record the host reads and fills.
extern winamp::In_Module g_module;

// The one place that writes g_state.playbackState.  It also wakes a host
// thread that waits for the state to change (Play, SetOutputTime).
void SetPlaybackState(PlaybackState state) noexcept;
inline PlaybackState GetPlaybackState() noexcept {
    return static_cast<PlaybackState>(g_state.playbackState.load());
}

// Posts a player command to the playback thread: up to ten attempts 100 ms
// apart, then the command is dropped.
void PostPlayerCommand(int command, int argument) noexcept;
// Ends the playback thread (5000 ms, then forced) and forgets it.
void StopPlaybackThread() noexcept;
