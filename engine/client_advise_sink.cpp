#include "engine/client_advise_sink.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "audio/output_gate.h"
#include "core/playback_state.h"
#include "core/trace.h"
#include "ui/status_window.h"

namespace engine {

using namespace core;
using rma::kOk;
using rma::ULONG32;
using rma::UINT16;

namespace {

constexpr size_t kCaptionCapacity = 256;  // longer captions are cut to fit

}  // namespace

rma::IRMAClientAdviseSink* NewClientAdviseSink(rma::IRMAPlayer* player) noexcept {
    return new (std::nothrow) ClientAdviseSink(player);
}

ClientAdviseSink::ClientAdviseSink(rma::IRMAPlayer* player) noexcept : player_(player) {
    ComPtr<rma::IRMAPlayer> asPlayer;
    if (player_.query(rma::IID_IRMAPlayer, asPlayer) == kOk && asPlayer)
        TraceFailure("AddAdviseSink", asPlayer->AddAdviseSink(this));
}

HRESULT ClientAdviseSink::OnPosLength(ULONG32 positionMs, ULONG32 lengthMs) noexcept {
    g_state.lengthMs = static_cast<std::int32_t>(lengthMs);
    g_state.positionMs = static_cast<std::int32_t>(positionMs);
    ui::HideStatusWindow();
    return kOk;
}

HRESULT ClientAdviseSink::OnPresentationOpened() noexcept { return kOk; }

HRESULT ClientAdviseSink::OnPresentationClosed() noexcept { return kOk; }

HRESULT ClientAdviseSink::OnStatisticsChanged() noexcept { return kOk; }

HRESULT ClientAdviseSink::OnPreSeek(ULONG32, ULONG32 newTimeMs) noexcept {
    const std::uint32_t generation = CurrentGeneration();
    audio::FlushOutput(static_cast<int>(newTimeMs));
    if (!SetSeekStateFor(generation, StateSeeking)) Trace("OnPreSeek after the playback ended: state left alone");
    return kOk;
}

HRESULT ClientAdviseSink::OnPostSeek(ULONG32, ULONG32) noexcept {
    const std::uint32_t generation = CurrentGeneration();
    if (!SetSeekStateFor(generation, StatePlaying)) Trace("OnPostSeek after the playback ended: state left alone");
    return kOk;
}

HRESULT ClientAdviseSink::OnStop() noexcept {
    const std::uint32_t generation = CurrentGeneration();
    // Only a presentation that the current playback began, and has not
    // itself stopped, can end: an OnStop that answers our own stop, or
    // comes from a playback already stopped, is dropped.
    const PlaybackState state = GetPlaybackState();
    if (!PlayerBegunFor(generation) || state == StateIdle) {
        Trace("OnStop not for the current playback: ignored");
    } else {
        if (state == StatePlaying || IsSeekPending(state)) {
            // The end of the presentation, also when a seek was still
            // pending: the host hears of it as the end of the file.
            PostPlayerCommand(generation, CmdStreamEnded, 0);
        } else if (state == StateFailed) {
            // Whoever failed the playback tells the host to stop, once its
            // box has been answered.
            PostPlayerCommand(generation, CmdStop, 0);
        } else {
            if (state != StateOpened) FailPlayback(generation);
            PostPlayerCommand(generation, CmdStop, 0);
            PostToHostFor(generation, WM_COMMAND, winamp::kStopCommand);
        }
    }
    ui::HideStatusWindow();
    return kOk;
}

HRESULT ClientAdviseSink::OnPause(ULONG32) noexcept { return kOk; }

HRESULT ClientAdviseSink::OnBegin(ULONG32) noexcept { return kOk; }

HRESULT ClientAdviseSink::OnBuffering(ULONG32, UINT16 percentComplete) noexcept {
    if (percentComplete < 100) {
        char caption[kCaptionCapacity];
        std::snprintf(caption, sizeof caption, "Buffering %d%%", static_cast<int>(percentComplete));
        ui::ShowStatusText(caption);
    }
    return kOk;
}

HRESULT ClientAdviseSink::OnContacting(const char* hostName) noexcept {
    if (!hostName) hostName = "";
    char caption[kCaptionCapacity];
    if (std::strncmp(hostName, "Contacting", 10) == 0)
        std::snprintf(caption, sizeof caption, "%s", hostName);
    else
        std::snprintf(caption, sizeof caption, "Contacting %s", hostName);
    ui::ShowStatusText(caption);
    return kOk;
}

}  // namespace engine
