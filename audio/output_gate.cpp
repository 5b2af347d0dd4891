#include "audio/output_gate.h"

#include "audio/audio_format.h"
#include "core/trace.h"

namespace audio {

using core::g_module;

namespace {

// Output calls take a few milliseconds; one that has not returned by then
// is hung, and waiting on would hang the engine's thread too.
constexpr int kAccessWaitMs = 1000;

constexpr int kMaxOutputWrite = 8192;  // the host's limit for one Write

// The output's time restarts, and what it held or refused is gone.
void RestartCounts(core::OutputGate& gate, int timeMs) {
    gate.flushedToMs = timeMs;
    gate.engineBytes = 0;
    gate.hostBytes = 0;
    gate.pending.clear();
    gate.pendingAt = 0;
}

// The output drops what it holds, and its time restarts at `timeMs`, or at
// its own present time for kFlushToNow.
void FlushTo(winamp::Out_Module* outMod, core::OutputGate& gate, int timeMs) {
    const int to = timeMs == core::OutputGate::kFlushToNow ? outMod->GetOutputTime() : timeMs;
    outMod->Flush(to);
    RestartCounts(gate, to);
}

// Bytes the output took, up to the first Write it refused.
int WritePieces(winamp::Out_Module* outMod, const char* data, int length) {
    int taken = 0;
    while (taken < length) {
        const int piece = length - taken < kMaxOutputWrite ? length - taken : kMaxOutputWrite;
        if (outMod->Write(const_cast<char*>(data) + taken, piece) != 0) break;
        taken += piece;
    }
    return taken;
}

}  // namespace

bool RequestOutputOpen(core::Playback& playback, int rate, int channels, int bits) noexcept {
    {
        OutputAccess output(playback);
        if (!output.open()) return false;
        core::OutputGate& gate = playback.Gate();
        gate.rate = rate;
        gate.channels = channels;
        gate.bits = bits;
    }
    return playback.Post(core::CmdOpenOutput, 0);
}

bool OpenOutputModule(core::Playback& playback) noexcept {
    core::OutputGate& gate = playback.Gate();
    // This thread may wait out a busy gate: the output call that holds it
    // is what the thread is waiting for anyway.
    int rate, channels, bits;
    for (;;) {
        OutputAccess output(playback);
        if (output.access() == OutputAccess::Access::Busy) continue;
        if (!output.open()) return false;
        if (gate.outputOpen) return true;
        rate = gate.rate;
        channels = gate.channels;
        bits = gate.bits;
        break;
    }
    // A playback that failed meanwhile plays nothing more.
    if (playback.State() == core::StateFailed) return false;
    // Outside the gate: a failing output shows its box inside Open, for as
    // long as the user takes, and the engine's threads must not wait for the
    // gate meanwhile.  Only this thread opens the output.
    winamp::Out_Module* outMod = playback.Output();
    int latency;
    {
        core::Playback::MayShowBox box(playback);
        latency = outMod->Open(rate, channels, bits, 0, 0);
    }
    if (latency >= 0) {
        // Nothing calls the output while it is not open: the gate is had.
        OutputAccess output(playback);
        if (!output.open()) {
            // Stop came meanwhile and found nothing open: the output is
            // closed here, and nothing else reaches it.
            outMod->Close();
            return false;
        }
        gate.outputOpen = true;
        RestartCounts(gate, 0);
        outMod->SetVolume(winamp::kApplyCurrentVolume);
        gate.outputPaused = false;
        output.TellPause();
        const PcmFormat pcm{static_cast<std::uint16_t>(channels), static_cast<std::uint16_t>(bits),
                            static_cast<std::uint32_t>(rate)};
        const InfoFigures info = SetInfoFigures(pcm, playback.StreamKbps());
        if (g_module.SetInfo) g_module.SetInfo(info.bitrate, info.sampleRateKhz, info.channels, info.synched);
        if (g_module.SAVSAInit) g_module.SAVSAInit(latency, rate);
        if (g_module.VSASetInfo) g_module.VSASetInfo(rate, channels);
        return true;
    }
    // The output has shown its own box, if any; the playback's follows from
    // its thread, which then tells the host to stop.
    if (playback.IsOrBecomesFailed() &&
        playback.QueueFailureBox("Could not open output module", "Error opening module"))
        playback.Post(core::CmdStop, 0);
    return false;
}

void PauseOutput(core::Playback& playback, bool pause) noexcept {
    playback.Gate().paused = pause;
    // The access tells the output; behind a busy gate, the next one does.
    OutputAccess output(playback);
}

bool CloseOutputModule(core::Playback& playback, DWORD waitMs) noexcept {
    core::OutputGate& gate = playback.Gate();
    std::unique_lock<std::timed_mutex> lock(gate.lock, std::defer_lock);
    // The thread holding the gate may be inside an output call that sends
    // the host's window a message: sent messages are served meanwhile.
    const DWORD start = GetTickCount();
    while (!lock.try_lock_for(std::chrono::milliseconds(20))) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (GetTickCount() - start >= waitMs) {
            core::Trace("an output call has not returned in %lu ms: the output is left as it is",
                        static_cast<unsigned long>(waitMs));
            return false;
        }
    }
    RestartCounts(gate, 0);
    gate.pendingFlushMs.store(core::OutputGate::kNoFlush);
    gate.outputPaused = false;
    if (gate.outputOpen) {
        if (playback.Output()) playback.Output()->Close();
        if (g_module.SAVSADeInit) g_module.SAVSADeInit();
        gate.outputOpen = false;
    }
    return true;
}

OutputAccess::OutputAccess(core::Playback& playback) noexcept : playback_(playback), gate_(playback.Gate()) {
    if (playback_.Closed()) return;
    locked_ = gate_.lock.try_lock_for(std::chrono::milliseconds(kAccessWaitMs));
    if (!locked_) core::Trace("the output gate is held by a call that has not returned");
    if (!open()) return;
    MakePendingFlush();
    TellPause();
}

void OutputAccess::TellPause() noexcept {
    const bool paused = gate_.paused.load();
    if (!gate_.outputOpen || gate_.outputPaused == paused) return;
    gate_.outputPaused = paused;
    // An output without Pause (the host's decode path's) is left alone.
    if (winamp::Out_Module* outMod = playback_.Output(); outMod->Pause) outMod->Pause(paused ? 1 : 0);
}

OutputAccess::~OutputAccess() {
    if (locked_) gate_.lock.unlock();
}

OutputAccess::Access OutputAccess::access() const noexcept {
    if (playback_.Closed() || !playback_.Output()) return Access::Closed;
    return locked_ ? Access::Granted : Access::Busy;
}

void OutputAccess::MakePendingFlush() noexcept {
    const int timeMs = gate_.pendingFlushMs.exchange(core::OutputGate::kNoFlush);
    if (timeMs != core::OutputGate::kNoFlush && gate_.outputOpen) FlushTo(playback_.Output(), gate_, timeMs);
}

namespace {

// Leaves a Flush for the gate's next holder; a later one replaces it.
void LeaveFlush(core::Playback& playback, int timeMs) {
    core::Trace("the output gate is busy: its Flush is left for later");
    playback.Gate().pendingFlushMs.store(timeMs);
}

}  // namespace

bool OutputAccess::HasRoom(int bytes) const noexcept { return playback_.Output()->CanWrite() >= bytes; }

bool OutputAccess::outputOpen() const noexcept { return gate_.outputOpen; }

void OutputAccess::CountWritten(int engineBytes, int hostBytes) noexcept {
    gate_.engineBytes += engineBytes;
    gate_.hostBytes += hostBytes;
}

void OutputAccess::Write(const char* data, int length) noexcept {
    const int taken = WritePieces(playback_.Output(), data, length);
    if (taken == length) return;
    try {
        gate_.pending.assign(data + taken, data + length);
        gate_.pendingAt = 0;
    } catch (...) {
        core::Trace("%d bytes the output refused are lost: no memory", length - taken);
    }
}

bool OutputAccess::WritePending() noexcept {
    std::vector<char>& pending = gate_.pending;
    if (gate_.pendingAt >= pending.size()) return true;
    const int left = static_cast<int>(pending.size() - gate_.pendingAt);
    gate_.pendingAt += static_cast<size_t>(WritePieces(playback_.Output(), pending.data() + gate_.pendingAt, left));
    if (gate_.pendingAt < pending.size()) return false;
    pending.clear();
    gate_.pendingAt = 0;
    return true;
}

void FlushOutput(core::Playback& playback, int timeMs) noexcept {
    OutputAccess output(playback);
    if (output.access() == OutputAccess::Access::Busy) return LeaveFlush(playback, timeMs);
    if (output.open() && output.outputOpen()) FlushTo(playback.Output(), playback.Gate(), timeMs);
}

void DiscardBufferedOutput(core::Playback& playback) noexcept {
    // Nothing to drop before the output is open.
    if (playback.Gate().outputOpen.load()) FlushOutput(playback, core::OutputGate::kFlushToNow);
}

unsigned long OutputTimeSinceFlush(core::Playback& playback, unsigned long whenClosed) noexcept {
    if (!playback.Closed() && !playback.Gate().outputOpen.load()) return 0;
    OutputAccess output(playback);
    if (!output.open()) return whenClosed;
    if (!output.outputOpen()) return 0;
    const core::OutputGate& gate = playback.Gate();
    long long played = playback.Output()->GetOutputTime() - gate.flushedToMs;
    if (played <= 0) return 0;
    if (gate.hostBytes > 0 && gate.hostBytes != gate.engineBytes) played = played * gate.engineBytes / gate.hostBytes;
    return static_cast<unsigned long>(played);
}

Playout ProbePlayout(core::Playback& playback) noexcept {
    OutputAccess output(playback);
    if (output.access() == OutputAccess::Access::Busy) return Playout::Playing;
    if (!output.open()) return Playout::Closed;
    // An output that never opened has nothing to play out.
    if (!output.outputOpen()) return Playout::Done;
    // A paused output plays nothing out, and the end waits for the user.
    if (playback.Gate().paused) return Playout::Paused;
    // The end of the stream is played only once the output has it all.
    if (!output.WritePending()) return Playout::Playing;
    playback.Output()->CanWrite();
    return playback.Output()->IsPlaying() ? Playout::Playing : Playout::Done;
}

}  // namespace audio
