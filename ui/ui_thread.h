// The plug-in's message-only window on the host's thread, the one thread
// that creates and destroys the plug-in's windows.  Other threads (the
// engine's, the playback thread, a Stop called from elsewhere) only ask:
// their work is posted to the window and runs when the host's thread next
// dispatches messages, in the order asked.
//
// Two ways to ask, by who asks:
// - An engine report posts, whichever thread it comes on.  On the host's
//   thread a report runs under the engine's lock, and a window call that
//   waits for another thread (a caption of a window another thread owns)
//   serves sent messages meanwhile: a Stop sent then would wait for the
//   playback thread, and that thread for the engine's lock the report holds.
//   Posted work runs from a plain dispatch, without the lock.
// - A host operation (Stop, Quit) runs its work at once on the host's
//   thread; from another thread it posts.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace ui {

// Init's and Quit's, on the host's thread.  Work posted after Quit's
// RunPendingWork is dropped unrun.
void CreateUiWindow() noexcept;
void DestroyUiWindow() noexcept;
// Quit's, and the engine link's before the engine's library goes: runs the
// work waiting now (it may hold engine objects, whose code must still be
// there when they are released).
void RunPendingWork() noexcept;

// True on the thread that owns the window (or on any thread when there is
// none: a host that never called Init).
bool OnUiThread() noexcept;

// Removes the calling thread's next posted `message` for `window` into
// *msg.  A quit comes out of the queue whatever the filter says: it is
// posted again for the host's own loop, and the answer is false.
bool TakePostedMessage(HWND window, UINT message, MSG* msg) noexcept;

void PostWork(std::function<void()>&& work) noexcept;

// An engine report's: posts `work` to the host's thread, from any thread,
// the host's own included.  Work that cannot be posted (no memory, no
// window) is dropped.
template <class Work>
void PostToUiThread(Work&& work) noexcept {
    try {
        PostWork(std::function<void()>(std::forward<Work>(work)));
    } catch (...) {
        // No memory for the work: it is dropped, as with no window.
    }
}

// A host operation's: runs `work` now on the host's thread, or posts it
// there from any other.
template <class Work>
void RunOnUiThread(Work&& work) noexcept {
    if (OnUiThread()) {
        work();
        return;
    }
    PostToUiThread(std::forward<Work>(work));
}

}  // namespace ui
