// The thread that carries one playback: it opens the URL in the player,
// begins it and then serves the player commands until the playback ends.
#pragma once

#include <windows.h>

#include <cstdint>

namespace plugin {

// What one playback thread is started with; the thread owns and frees it.
struct PlaybackParams {
    char url[MAX_PATH];
    int quietStatus;          // no status window for this playback
    std::uint32_t generation; // the playback it serves
};

// The thread's procedure; its parameter is a PlaybackParams made with new.
DWORD WINAPI PlaybackThread(void* params) noexcept;

}  // namespace plugin
