#include "plugin/playback_thread.h"

#include "audio/output_gate.h"
#include "core/playback_state.h"
#include "core/trace.h"
#include "engine/engine_link.h"
#include "plugin/file_types.h"

namespace plugin {
namespace {

using namespace core;

constexpr DWORD kDrainLimitMs = 10000;
constexpr DWORD kDrainPollMs = 50;

bool StopRequested() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, PlayerCommandMessage, PlayerCommandMessage, PM_NOREMOVE) &&
           msg.wParam == CmdStop;
}

// Lets the output module play out what it holds, for at most ten seconds.
// A Stop that arrives meanwhile ends the wait at once: the host has closed
// the output and waits for this thread, and must not see an end of file.
bool DrainOutput() {
    winamp::Out_Module* out = g_module.outMod;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kDrainLimitMs) {
        out->CanWrite();
        if (!out->IsPlaying()) return true;
        if (StopRequested()) return false;
        Sleep(kDrainPollMs);
    }
    return true;
}

}  // namespace

DWORD WINAPI PlaybackThread(void*) noexcept {
    MSG msg;
    // Create the message queue before anything else, so commands posted
    // right after Play are never refused for want of one.
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    rma::IRMAPlayer* player = engine::CurrentLink()->Player();
    char url[MAX_PATH];
    int quiet = 1;
    if (!FormPlaybackUrl(g_state.path, url, sizeof(url), &quiet)) {
        SetPlaybackState(StateFailed);
        return 0;
    }
    g_state.quietStatus.store(quiet);
    const HRESULT opened = player->OpenURL(url);
    if (opened != 0) {
        TraceFailure("OpenURL", opened);
        SetPlaybackState(StateFailed);
        return 0;
    }
    SetPlaybackState(StateOpened);
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
            if (!player->IsDone() || DrainOutput()) {
                PostMessageA(g_module.hMainWindow, winamp::kEndOfFileMessage, 0, 0);
            }
            break;
        }
        if (msg.wParam == CmdSeek) {
            const int target = static_cast<int>(msg.lParam);
            TraceFailure("Seek", player->Seek(static_cast<rma::ULONG32>(target)));
            audio::FlushOutput(target);
        }
    }
    g_playerStopping.store(1);
    TraceFailure("Stop", player->Stop());
    SetPlaybackState(StateIdle);
    return 0;
}

}  // namespace plugin
