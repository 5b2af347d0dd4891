// The plug-in's message-only window on the host's thread, the one thread
// that creates and destroys the plug-in's windows.  Other threads (the
// engine's, the playback thread, a Stop called from elsewhere) only ask:
// their work is posted to the window and runs when the host's thread next
// dispatches messages, in the order asked.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace ui {

// Init's and Quit's, on the host's thread.  Work still waiting at Quit is
// dropped unrun.
void CreateUiWindow() noexcept;
void DestroyUiWindow() noexcept;

// True on the thread that owns the window (or on any thread when there is
// none: a host that never called Init).
bool OnUiThread() noexcept;

// Removes the calling thread's next posted `message` for `window` into
// *msg.  A quit comes out of the queue whatever the filter says: it is
// posted again for the host's own loop, and the answer is false.
bool TakePostedMessage(HWND window, UINT message, MSG* msg) noexcept;

// Posts `work` to the host's thread; dropped when it cannot be (no window).
void PostToUiThread(std::function<void()>&& work) noexcept;

// Runs `work` now on the host's thread, or posts it there from any other.
// Work that cannot be posted (no memory, no window) is dropped.
template <class Work>
void RunOnUiThread(Work&& work) noexcept {
    if (OnUiThread()) {
        work();
        return;
    }
    try {
        PostToUiThread(std::function<void()>(std::forward<Work>(work)));
    } catch (...) {
        // No memory for the work: it is dropped, as with no window.
    }
}

}  // namespace ui
