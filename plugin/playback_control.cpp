#include "plugin/playback_control.h"

#include "core/trace.h"

namespace plugin {
namespace {

constexpr DWORD kThreadStopTimeoutMs = 5000;
constexpr DWORD kEngineCallsTimeoutMs = 10000;

bool ThreadHasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Serves the messages other threads send to this one, leaving its posted
// messages where they are: a message box on an engine thread that the host
// window owns needs the host thread to answer it.
void ServeSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Waits for `thread` to end for at most `timeoutMs`, serving sent messages.
// Time during which one of the plug-in's boxes is up does not count: the
// thread is waiting for the user, not hung.
bool WaitServingSentMessages(HANDLE thread, DWORD timeoutMs) {
    DWORD waited = 0;
    DWORD last = GetTickCount();
    for (;;) {
        const DWORD result =
            MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - waited > 50 ? 50 : timeoutMs - waited,
                                      QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        ServeSentMessages();
        const DWORD now = GetTickCount();
        if (core::PlaybackBoxesShowing() == 0) waited += now - last;
        last = now;
        if (waited >= timeoutMs) return ThreadHasEnded(thread);
    }
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
    const core::PlaybackThreadRef thread = core::TakePlaybackThread();
    if (thread.handle == INVALID_HANDLE_VALUE) return;
    // A thread that ended by itself (the end of every presentation) needs
    // neither the command nor the wait.
    if (!ThreadHasEnded(thread.handle)) {
        core::PostPlayerCommandTo(thread, core::CmdStop, 0);
        if (!WaitServingSentMessages(thread.handle, kThreadStopTimeoutMs)) {
            MessageBoxA(core::g_module.hMainWindow, "Error asking thread to die: Terminating\n", "Error", MB_OK);
            TerminateThread(thread.handle, 0);
        }
    }
    core::ForgetPlayerCommands(thread.id);
    // A thread forced to end handed nothing over: no seek waits on it.
    core::AllSeeksHanded();
    CloseHandle(thread.handle);
}

void WaitForEngineCallsToLeave() noexcept {
    const DWORD start = GetTickCount();
    while (core::EngineCallsInside() > 0) {
        core::ClosePlaybackBoxes();
        if (GetTickCount() - start >= kEngineCallsTimeoutMs) {
            core::Trace("engine threads still inside the plug-in at unload: %d", core::EngineCallsInside());
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
        ServeSentMessages();
    }
}

}  // namespace plugin
