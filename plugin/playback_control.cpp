#include "plugin/playback_control.h"

namespace plugin {
namespace {

constexpr DWORD kThreadStopTimeoutMs = 5000;

bool ThreadHasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

}  // namespace

bool PumpMessagesWhile(bool (*keepWaiting)(core::PlaybackState)) noexcept {
    // Announce the wait before the first look at the state, so that a change
    // between the look and GetMessage still wakes us.
    const DWORD previousWaiter = core::ExchangeStateWaiter(GetCurrentThreadId());
    bool quitSeen = false;
    MSG msg;
    while (keepWaiting(core::GetPlaybackState())) {
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
    core::ExchangeStateWaiter(previousWaiter);
    return !quitSeen;
}

void StopPlaybackThread() noexcept {
    const HANDLE thread = core::g_threadHandle.load();
    if (thread == INVALID_HANDLE_VALUE) return;
    // A thread that ended by itself (the end of every presentation) needs
    // neither the command nor the wait.
    if (!ThreadHasEnded(thread)) {
        core::PostPlayerCommand(core::CmdStop, 0);
        if (WaitForSingleObject(thread, kThreadStopTimeoutMs) == WAIT_TIMEOUT) {
            MessageBoxA(core::g_module.hMainWindow, "Error asking thread to die: Terminating\n", "Error", MB_OK);
            TerminateThread(thread, 0);
        }
    }
    CloseHandle(thread);
    core::g_threadHandle.store(INVALID_HANDLE_VALUE);
    core::g_state.threadId.store(0);
}

}  // namespace plugin
