#include "plugin/playback_thread.h"

#include <memory>

#include "audio/output_gate.h"
#include "core/playback_state.h"
#include "core/trace.h"
#include "engine/engine_link.h"

namespace plugin {
namespace {

using namespace core;

constexpr DWORD kDrainLimitMs = 10000;
constexpr DWORD kDrainPollMs = 50;

// Lets the output module play out what it holds, for at most ten seconds.
// A Stop meanwhile ends the wait at once: it has begun a new generation and
// closed the output, and the host must not see an end of file.  Every look
// at the output goes through the output gate.
bool DrainOutput(std::uint32_t generation) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kDrainLimitMs) {
        if (!IsCurrentGeneration(generation)) return false;
        switch (audio::ProbePlayout()) {
        case audio::Playout::Closed: return false;
        case audio::Playout::Done: return true;
        case audio::Playout::Playing: break;
        }
        Sleep(kDrainPollMs);
    }
    return IsCurrentGeneration(generation);
}

}  // namespace

DWORD WINAPI PlaybackThread(void* parameter) noexcept {
    const std::unique_ptr<PlaybackParams> params(static_cast<PlaybackParams*>(parameter));
    const std::uint32_t generation = params->generation;
    MSG msg;
    // Create the message queue before anything else, so commands posted
    // right after Play are never refused for want of one.
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    rma::IRMAPlayer* player = engine::CurrentLink()->Player();
    g_state.quietStatus.store(params->quietStatus);
    const HRESULT opened = player->OpenURL(params->url);
    if (opened != 0) {
        TraceFailure("OpenURL", opened);
        SetPlaybackStateFor(generation, StateFailed);
        return 0;
    }
    // Only from Starting: an error the engine reported meanwhile stands.
    AdvancePlaybackState(generation, StateStarting, StateOpened);
    MarkPlayerBegun(generation);
    TraceFailure("Begin", player->Begin());

    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (msg.message != PlayerCommandMessage) {
            DispatchMessageA(&msg);
            continue;
        }
        if (msg.wParam == CmdStop) break;
        if (msg.wParam == CmdStreamEnded) {
            // The output plays out what it holds first, whatever IsDone says:
            // the engine reports the end before IsDone turns true.
            if (DrainOutput(generation)) {
                // Only while still the current playback: the host may go on to
                // the next track.
                PostToHostFor(generation, winamp::kEndOfFileMessage, 0);
            }
            break;
        }
        if (msg.wParam == CmdSeek) {
            const int target = static_cast<int>(msg.lParam);
            const HRESULT sought = player->Seek(static_cast<rma::ULONG32>(target));
            TraceFailure("Seek", sought);
            audio::FlushOutput(target);
            // The engine has the seek: SetOutputTime may return.  Its end
            // (OnPostSeek) comes with the engine's next time report.
            AdvancePlaybackState(generation, StateSeekRequested, sought == 0 ? StateSeeking : StatePlaying);
        }
        if (msg.wParam == CmdShowBox) {
            FailureBox box;
            if (TakeFailureBox(generation, &box)) {
                ShowPlaybackBox(box.text, box.caption, MB_OK | MB_ICONERROR);
                // The host still shows a playback that has been given up:
                // tell it to stop, only while that playback is current.
                PostToHostFor(generation, WM_COMMAND, winamp::kStopCommand);
            }
        }
    }
    // The engine's OnStop that answers this is ours, not the end of the presentation.
    MarkPlayerStopping(generation);
    TraceFailure("Stop", player->Stop());
    SetPlaybackStateFor(generation, StateIdle);
    return 0;
}

}  // namespace plugin
