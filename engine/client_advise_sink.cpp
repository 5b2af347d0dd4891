#include "engine/client_advise_sink.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "audio/output_gate.h"
#include "engine/responders.h"
#include "plugin/plugin_state.h"
#include "ui/status_window.h"

namespace rma {

namespace {

constexpr size_t kCaptionCapacity = 256;  // longer captions are cut to fit

}  // namespace

IRMAClientAdviseSink* NewClientAdviseSink(IRMAPlayer* player) noexcept {
    return new (std::nothrow) ClientAdviseSink(player);
}

ClientAdviseSink::ClientAdviseSink(IRMAPlayer* player) noexcept : player_(player) {
    ComPtr<IRMAPlayer> asPlayer;
    if (player_.query(IID_IRMAPlayer, asPlayer) == kOk && asPlayer) asPlayer->AddAdviseSink(this);
}

HRESULT ClientAdviseSink::OnPosLength(ULONG32 positionMs, ULONG32 lengthMs) {
    g_state.lengthMs = static_cast<std::int32_t>(lengthMs);
    g_state.positionMs = static_cast<std::int32_t>(positionMs);
    ui::HideStatusWindow();
    return kOk;
}

HRESULT ClientAdviseSink::OnPresentationOpened() { return kOk; }

HRESULT ClientAdviseSink::OnPresentationClosed() { return kOk; }

HRESULT ClientAdviseSink::OnStatisticsChanged() { return kOk; }

HRESULT ClientAdviseSink::OnPreSeek(ULONG32, ULONG32 newTimeMs) {
    audio::FlushOutput(static_cast<int>(newTimeMs));
    SetPlaybackState(StateSeeking);
    return kOk;
}

HRESULT ClientAdviseSink::OnPostSeek(ULONG32, ULONG32) {
    SetPlaybackState(StatePlaying);
    return kOk;
}

HRESULT ClientAdviseSink::OnStop() {
    PlaybackState state = GetPlaybackState();
    if (g_playerStopping.load()) {
        // The engine confirms the stop our playback thread asked for.
    } else if (state == StatePlaying) {
        PostPlayerCommand(CmdStreamEnded, 0);
    } else {
        if (state != StateOpened) SetPlaybackState(StateFailed);
        PostPlayerCommand(CmdStop, 0);
        PostMessageA(g_module.hMainWindow, WM_COMMAND, winamp::kStopCommand, 0);
    }
    ui::HideStatusWindow();
    return kOk;
}

HRESULT ClientAdviseSink::OnPause(ULONG32) { return kOk; }

HRESULT ClientAdviseSink::OnBegin(ULONG32) { return kOk; }

HRESULT ClientAdviseSink::OnBuffering(ULONG32, UINT16 percentComplete) {
    if (percentComplete < 100) {
        char caption[kCaptionCapacity];
        std::snprintf(caption, sizeof caption, "Buffering %d%%", static_cast<int>(percentComplete));
        ui::ShowStatusText(caption);
    }
    return kOk;
}

HRESULT ClientAdviseSink::OnContacting(const char* hostName) {
    if (!hostName) hostName = "";
    char caption[kCaptionCapacity];
    if (std::strncmp(hostName, "Contacting", 10) == 0)
        std::snprintf(caption, sizeof caption, "%s", hostName);
    else
        std::snprintf(caption, sizeof caption, "Contacting %s", hostName);
    ui::ShowStatusText(caption);
    return kOk;
}

}  // namespace rma
