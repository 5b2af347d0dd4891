// The thread that carries one playback: it opens the URL in the player,
// begins it and then serves the player commands until the playback ends.
#pragma once

#include <windows.h>

namespace plugin {

// The thread's procedure; the path to play is in the shared state.
DWORD WINAPI PlaybackThread(void* unused) noexcept;

}  // namespace plugin
