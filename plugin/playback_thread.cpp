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
        // Nothing begins; the thread stays to show the box of the engine's
        // report of the refusal, and ends with the host's Stop.
        SetPlaybackStateFor(generation, StateFailed);
    } else {
        // Only from Starting: an error the engine reported meanwhile stands.
        AdvancePlaybackState(generation, StateStarting, StateOpened);
        MarkPlayerBegun(generation);
        TraceFailure("Begin", player->Begin());
    }

    for (;;) {
        int command = 0, argument = 0;
        if (!TakePlayerCommand(&command, &argument)) {
            // The command messages only wake the thread: the queue has the commands.
            const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0 || got == -1) break;
            if (msg.message != PlayerCommandMessage) DispatchMessageA(&msg);
            continue;
        }
        if (command == CmdStop) break;
        if (command == CmdStreamEnded) {
            // The output plays out what it holds first, whatever IsDone says:
            // the engine reports the end before IsDone turns true.
            if (DrainOutput(generation)) {
                // Only while still the current playback: the host may go on to
                // the next track.
                PostToHostFor(generation, winamp::kEndOfFileMessage, 0);
            }
            break;
        }
        if (command == CmdSeek) {
            const HRESULT sought = player->Seek(static_cast<rma::ULONG32>(argument));
            TraceFailure("Seek", sought);
            // A refused seek (the presentation has ended) keeps what the
            // output still has to play.
            if (sought == 0) audio::FlushOutput(argument);
            // The engine has the seek: SetOutputTime may return.  Its end
            // (OnPostSeek) comes with the engine's next time report.
            AdvancePlaybackState(generation, StateSeekRequested, sought == 0 ? StateSeeking : StatePlaying);
            SeekHanded();
        }
        if (command == CmdShowBox) {
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
    FinishPlayback(generation);
    ForgetPlayerCommands(GetCurrentThreadId());
    // Seeks still queued will not be carried out: nobody waits for them.
    AllSeeksHanded();
    return 0;
}

}  // namespace plugin
