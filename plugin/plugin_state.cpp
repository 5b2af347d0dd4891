#include "plugin/plugin_state.h"

#include "plugin/host_ops.h"

PluginState g_state{};
std::atomic<HANDLE> g_threadHandle{INVALID_HANDLE_VALUE};
std::atomic<std::int32_t> g_playerStopping{0};

namespace {

// The host thread currently waiting in PumpMessagesWhile, or 0.
std::atomic<DWORD> g_waitingThread{0};

constexpr int kPostAttempts = 10;
constexpr DWORD kPostRetryMs = 100;
constexpr DWORD kThreadStopTimeoutMs = 5000;

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

bool PumpMessagesWhile(bool (*keepWaiting)(PlaybackState)) noexcept {
    // Announce the wait before the first look at the state, so that a change
    // between the look and GetMessage still wakes us.
    const DWORD previousWaiter = g_waitingThread.exchange(GetCurrentThreadId());
    bool quitSeen = false;
    MSG msg;
    while (keepWaiting(GetPlaybackState())) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            // Leave the quit for the host's own loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            quitSeen = true;
            break;
        }
        if (got == -1) break;
        DispatchMessageA(&msg);
    }
    g_waitingThread.store(previousWaiter);
    return !quitSeen;
}

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
}

void StopPlaybackThread() noexcept {
    const HANDLE thread = g_threadHandle.load();
    if (thread == INVALID_HANDLE_VALUE) return;
    // A thread that ended by itself (the end of every presentation) needs
    // neither the command nor the wait.
    if (!ThreadHasEnded(thread)) {
        PostPlayerCommand(CmdStop, 0);
        if (WaitForSingleObject(thread, kThreadStopTimeoutMs) == WAIT_TIMEOUT) {
            MessageBoxA(g_module.hMainWindow, "Error asking thread to die: Terminating\n", "Error", MB_OK);
            TerminateThread(thread, 0);
        }
    }
    CloseHandle(thread);
    g_threadHandle.store(INVALID_HANDLE_VALUE);
    g_state.threadId.store(0);
}
