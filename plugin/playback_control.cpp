#include "plugin/playback_control.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/output_gate.h"
#include "core/trace.h"
#include "engine/site_supplier.h"
#include "ui/status_window.h"
#include "ui/ui_thread.h"

namespace plugin {
namespace {

constexpr DWORD kThreadStopTimeoutMs = 5000;
// An output call that has not returned by then is taken for hung.
constexpr DWORD kOutputWaitMs = 2000;
constexpr DWORD kEngineCallsTimeoutMs = 10000;

bool ThreadHasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Serves the messages other threads send to this one, leaving its posted
// messages where they are: the box on the playback thread, owned by the
// host window, needs the host thread to answer it.
void ServeSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Waits for the playback's thread for at most `timeoutMs`, serving sent
// messages.  Time while its box is up does not count unless `quitting`,
// which answers the box instead.
bool WaitForThread(core::Playback& playback, DWORD timeoutMs, bool quitting) {
    HANDLE thread = playback.thread.get();
    DWORD waited = 0;
    DWORD last = GetTickCount();
    for (;;) {
        if (quitting) playback.CloseBoxes();
        const DWORD left = timeoutMs - waited;
        const DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, left > 50 ? 50 : left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) return true;
        ServeSentMessages();
        const DWORD now = GetTickCount();
        if (quitting || !playback.BoxShowing()) waited += now - last;
        last = now;
        if (waited >= timeoutMs) return ThreadHasEnded(thread);
    }
}

// The playbacks being ended, outermost first: a Play that runs inside an
// ending's wait must not hand the player a new URL before the old thread's
// Stop is through.  The host's thread only.
std::vector<core::PlaybackRef> g_ending;

// The threads Stop gave up on, each holding a reference on the plug-in's
// library until it ends.  Guarded by its lock: Stop may come from the
// host's decode thread too.
using SharedHandle = std::shared_ptr<void>;
std::mutex g_abandonedLock;
std::vector<SharedHandle> g_abandoned;

// Lets a thread that does not end go on its own.  Killing it would leave
// the engine's lock owned by a dead thread, or broken if it waited for it,
// and leak what the thread holds; abandoned, it still ends when the engine
// lets it, and takes its reference on the library with it.
void AbandonThread(core::Playback& playback) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&AbandonThread),
                            &self)) {
        // Without a reference the thread cannot be left to run in code that
        // may be unloaded: it is waited for instead.
        WaitForSingleObject(playback.thread.get(), INFINITE);
        return;
    }
    if (!playback.AbandonThread()) {
        FreeLibrary(self);  // it has ended after all
        return;
    }
    core::Trace("the playback's thread has not ended: it is left to end on its own");
    try {
        SharedHandle thread(playback.thread.release(), CloseHandle);
        std::lock_guard<std::mutex> lock(g_abandonedLock);
        g_abandoned.push_back(std::move(thread));
    } catch (...) {
        // Its handle is closed; the thread and its reference live on.
    }
}

// Serves sent messages while waiting for `threads`, at most `timeoutMs`.
bool WaitForThreads(const std::vector<SharedHandle>& threads, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (const SharedHandle& thread : threads) {
        for (;;) {
            HANDLE handle = thread.get();
            const DWORD spent = GetTickCount() - start;
            if (ThreadHasEnded(handle)) break;
            if (spent >= timeoutMs) return false;
            const DWORD left = timeoutMs - spent;
            MsgWaitForMultipleObjects(1, &handle, FALSE, left > 50 ? 50 : left, QS_SENDMESSAGE);
            ServeSentMessages();
        }
    }
    return true;
}

// What the playback told the host and the host has not read yet is taken
// back: the user stopped, and neither its end of file nor its Stop command
// may reach the next track.  Only the host's thread sees its queue.  The
// host's own messages of the same kind are posted again, in their order.
void TakeBackHostMessage(core::Playback& playback) {
    UINT message = 0;
    WPARAM wParam = 0;
    HWND host = core::g_module.hMainWindow;
    if (!host || !playback.PostedHostMessage(&message, &wParam)) return;
    std::vector<MSG> others;
    MSG msg;
    while (ui::TakePostedMessage(host, message, &msg)) {
        if (msg.wParam == wParam && msg.lParam == 0) {
            core::Trace("message %u of the stopped playback taken back", message);
            break;
        }
        try {
            others.push_back(msg);
        } catch (...) {
            PostMessageA(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        }
    }
    for (const MSG& other : others) PostMessageA(other.hwnd, other.message, other.wParam, other.lParam);
}

class EndingPlayback {
public:
    explicit EndingPlayback(const core::PlaybackRef& playback) noexcept : noted_(Note(playback)) {}
    ~EndingPlayback() {
        if (noted_) g_ending.pop_back();
    }
    EndingPlayback(const EndingPlayback&) = delete;
    EndingPlayback& operator=(const EndingPlayback&) = delete;

private:
    static bool Note(const core::PlaybackRef& playback) noexcept {
        try {
            g_ending.push_back(playback);
            return true;
        } catch (...) {
            return false;
        }
    }
    const bool noted_;
};

}  // namespace

bool EarlierPlaybacksEnded(DWORD timeoutMs, bool quitting) noexcept {
    for (size_t i = 0; i < g_ending.size(); ++i) {
        const core::PlaybackRef ending = g_ending[i];
        // Waited for without taking the handle: the ending that owns it
        // closes it once this returns.
        if (ending->thread && !WaitForThread(*ending, timeoutMs, quitting)) return false;
    }
    return true;
}

void DispatchAsHost(MSG& msg) noexcept {
    if (HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr) {
        char className[8] = {};
        GetClassNameA(root, className, sizeof className);
        if (std::strcmp(className, "#32770") == 0 && IsDialogMessageA(root, &msg)) return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

bool PumpMessagesWhile(core::Playback& playback, bool (*keepWaiting)(core::Playback&)) noexcept {
    // Announce the wait before the first look, so that a change between the
    // look and GetMessage still wakes us.
    const DWORD previousWaiter = playback.ExchangeWaiter(GetCurrentThreadId());
    bool quitSeen = false;
    MSG msg;
    while (keepWaiting(playback)) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            // Leave the quit for the host's own loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            quitSeen = true;
            break;
        }
        if (got == -1) break;
        DispatchAsHost(msg);
    }
    playback.ExchangeWaiter(previousWaiter);
    return !quitSeen;
}

bool PlaybackThreadRunning(core::Playback& playback) noexcept {
    return playback.thread && !ThreadHasEnded(playback.thread.get());
}

void EndPlayback(core::PlaybackRef playback, bool quitting) noexcept {
    if (!playback) return;
    // From here on nothing of this playback reaches the host, the output or
    // its windows, and its thread is told to stop.
    playback->Close();
    // Once closed it posts nothing more: what it told the host is taken
    // back now, before any box of Stop's runs a message loop.
    TakeBackHostMessage(*playback);
    if (quitting) playback->CloseBoxes();
    EndingPlayback ending(playback);
    const DWORD start = GetTickCount();
    audio::CloseOutputModule(*playback, kOutputWaitMs);
    engine::DestroyVideoSites(*playback);
    ui::DestroyStatusWindow(playback);
    // A hung output call counts against the thread's time: it is the thread
    // that hangs in it.
    const DWORD spent = GetTickCount() - start;
    const DWORD left = spent < kThreadStopTimeoutMs ? kThreadStopTimeoutMs - spent : 0;
    if (playback->thread && !WaitForThread(*playback, left, quitting)) {
        MessageBoxA(core::g_module.hMainWindow, "Error asking thread to die: Terminating\n", "Error", MB_OK);
        AbandonThread(*playback);
    }
    playback->thread.reset();
}

bool AbandonedThreadsEnded(DWORD timeoutMs) noexcept {
    std::vector<SharedHandle> threads;
    try {
        std::lock_guard<std::mutex> lock(g_abandonedLock);
        g_abandoned.erase(std::remove_if(g_abandoned.begin(), g_abandoned.end(),
                                         [](const SharedHandle& thread) { return ThreadHasEnded(thread.get()); }),
                          g_abandoned.end());
        threads = g_abandoned;
    } catch (...) {
        return false;
    }
    // Waited for without the lock, on handles of our own.
    return WaitForThreads(threads, timeoutMs);
}

void WaitForEngineCallsToLeave() noexcept {
    const DWORD start = GetTickCount();
    while (core::EngineCallsInside() > 0) {
        if (GetTickCount() - start >= kEngineCallsTimeoutMs) {
            core::Trace("engine threads still inside the plug-in at unload: %d", core::EngineCallsInside());
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
        ServeSentMessages();
    }
}

}  // namespace plugin
