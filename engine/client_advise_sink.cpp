#include "engine/client_advise_sink.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "audio/output_gate.h"
#include "core/playback.h"
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
    if (const PlaybackRef playback = CurrentPlayback()) {
        playback->SetPosLength(static_cast<std::int32_t>(positionMs), static_cast<std::int32_t>(lengthMs));
        ui::HideStatusWindow(playback);
    }
    return kOk;
}

HRESULT ClientAdviseSink::OnPresentationOpened() noexcept { return kOk; }

HRESULT ClientAdviseSink::OnPresentationClosed() noexcept { return kOk; }

HRESULT ClientAdviseSink::OnStatisticsChanged() noexcept { return kOk; }

HRESULT ClientAdviseSink::OnPreSeek(ULONG32, ULONG32 newTimeMs) noexcept {
    const PlaybackRef playback = CurrentPlayback();
    if (!playback) return kOk;
    ++playback->Gate().engineFlushes;
    audio::FlushOutput(*playback, static_cast<int>(newTimeMs));
    if (!playback->Move(StateSeeking)) Trace("OnPreSeek after the playback ended: state left alone");
    return kOk;
}

HRESULT ClientAdviseSink::OnPostSeek(ULONG32, ULONG32) noexcept {
    // Only a seek's state ends here: an error reported meanwhile stands.
    const PlaybackRef playback = CurrentPlayback();
    const bool ended = playback && (playback->Move(StateSeeking, StatePlaying) ||
                                    playback->Move(StateSeekRequested, StatePlaying));
    if (!ended) Trace("OnPostSeek outside a seek of the playback: state left alone");
    return kOk;
}

HRESULT ClientAdviseSink::OnStop() noexcept {
    const PlaybackRef playback = CurrentPlayback();
    // Only a presentation that the current playback began, and has not
    // itself stopped, can end: an OnStop that answers the thread's own
    // stop, or comes from a playback already stopped, is dropped.
    const PlaybackState state = playback ? playback->State() : StateIdle;
    if (!playback || !playback->PresentationIsOurs() || state == StateIdle) {
        Trace("OnStop not for the current playback: ignored");
    } else if (state == StatePlaying || IsSeekPending(state)) {
        // The end of the presentation, also when a seek was still pending:
        // the host hears of it as the end of the file.
        playback->Post(CmdStreamEnded, 0);
    } else if (state == StateFailed) {
        // Whoever failed the playback tells the host to stop, once its box
        // has been answered.
        playback->Post(CmdStop, 0);
    } else {
        if (state != StateOpened) playback->Move(StateFailed);
        playback->Post(CmdStop, 0);
        playback->PostToHost(WM_COMMAND, winamp::kStopCommand);
    }
    if (playback) ui::HideStatusWindow(playback);
    return kOk;
}

HRESULT ClientAdviseSink::OnPause(ULONG32) noexcept { return kOk; }

HRESULT ClientAdviseSink::OnBegin(ULONG32) noexcept { return kOk; }

HRESULT ClientAdviseSink::OnBuffering(ULONG32, UINT16 percentComplete) noexcept {
    if (percentComplete < 100) {
        char caption[kCaptionCapacity];
        std::snprintf(caption, sizeof caption, "Buffering %d%%", static_cast<int>(percentComplete));
        ui::ShowStatusText(CurrentPlayback(), caption);
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
    ui::ShowStatusText(CurrentPlayback(), caption);
    return kOk;
}

}  // namespace engine
