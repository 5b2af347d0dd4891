// The thread that carries one playback: it opens the URL in the player,
// begins it and then serves the playback's commands until it ends.
#pragma once

#include <windows.h>

namespace plugin {

// The thread's procedure; its parameter is a core::PlaybackRef made with
// new, which the thread owns and frees.
DWORD WINAPI PlaybackThread(void* playback) noexcept;

}  // namespace plugin
