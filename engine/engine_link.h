// The engine link: the engine library, its exports, one engine, one player,
// the audio device and the client context with its responders.  Built by
// the first Play, kept for every later one, taken down by Quit.
#pragma once

#include "engine/rma.h"

namespace rma {

// Builds whatever of the link is missing.  0 when it stands (possibly
// without an audio device or error reporting), 1 when playback cannot go on.
int LoadEngine() noexcept;
// Takes the whole link down again, last part first.
void UnloadEngine() noexcept;
HRESULT32 PausePlayer() noexcept;
HRESULT32 ResumePlayer() noexcept;

}  // namespace rma
