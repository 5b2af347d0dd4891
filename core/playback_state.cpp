#include "core/playback_state.h"

#include "core/trace.h"

namespace core {

PluginState g_state{};
std::atomic<HANDLE> g_threadHandle{INVALID_HANDLE_VALUE};
std::atomic<std::int32_t> g_playerStopping{0};

namespace {

// The host thread currently waiting for a state change, or 0.
std::atomic<DWORD> g_waitingThread{0};

constexpr int kPostAttempts = 10;
constexpr DWORD kPostRetryMs = 100;

bool ThreadHasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

}  // namespace

void SetPlaybackState(PlaybackState state) noexcept {
    g_state.playbackState.store(state);
    // A waiting host thread may be blocked in GetMessage on a quiet queue:
    // give it a message so it looks at the state again.
    if (DWORD waiter = g_waitingThread.load()) PostThreadMessageA(waiter, WM_NULL, 0, 0);
}

DWORD ExchangeStateWaiter(DWORD threadId) noexcept { return g_waitingThread.exchange(threadId); }

void PostPlayerCommand(int command, int argument) noexcept {
    const HANDLE thread = g_threadHandle.load();
    if (thread == INVALID_HANDLE_VALUE) return;
    for (int attempt = 0; attempt < kPostAttempts; ++attempt) {
        if (PostThreadMessageA(g_state.threadId.load(), PlayerCommandMessage, static_cast<WPARAM>(command),
                               static_cast<LPARAM>(argument))) {
            return;
        }
        // A thread that has ended will never take the command.
        if (ThreadHasEnded(thread)) return;
        Sleep(kPostRetryMs);
    }
    Trace("player command %d dropped after %d attempts", command, kPostAttempts);
}

}  // namespace core
