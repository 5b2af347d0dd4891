#include "audio/audio_device.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "audio/output_gate.h"
#include "core/trace.h"

namespace audio {

using namespace core;
using rma::kFail;
using rma::kInvalidArg;
using rma::kOk;
using rma::kUnexpected;
using rma::kWouldBlock;

namespace {

// The time callback's period is half a block; blocks of a few milliseconds
// would make it 0, a callback entered again at once, for ever.  The engine's
// scheduler runs every 10 ms: nothing is gained below that.
constexpr ULONG32 kMinGranularityMs = 10;

}  // namespace

rma::IRMAAudioDevice* NewAudioDevice(rma::IRMAPlayer* player) noexcept {
    return new (std::nothrow) AudioDevice(player);
}

AudioDevice::AudioDevice(rma::IRMAPlayer* player) noexcept : player_(player) {}

AudioDevice::~AudioDevice() {
    response_.reset();
    playback_.reset();
    player_.reset();
}

PcmFormat AudioDevice::Pcm() const noexcept {
    return PcmFormat{format_.channels, format_.bitsPerSample, format_.samplesPerSec};
}

bool AudioDevice::HoldsResponse() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<bool>(response_);
}

// The playback goes with the response: a closed device holds neither.
ComPtr<IRMAAudioDeviceResponse> AudioDevice::TakeResponse() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    playback_.reset();
    return std::move(response_);
}

ComPtr<IRMAAudioDeviceResponse> AudioDevice::CurrentResponse() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return response_;
}

PlaybackRef AudioDevice::OpenedFor() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return playback_;
}

HRESULT AudioDevice::Open(const AudioFormat* format, IRMAAudioDeviceResponse* response) noexcept {
    EngineCallScope inside;
    if (opened_) return kOk;
    if (HoldsResponse() || !player_) return kUnexpected;
    if (!response || !format) return kInvalidArg;
    // Refused before the output module is touched: every later division by
    // channels, rate or bytes per sample is then safe.
    if (!IsValidFormat({format->channels, format->bitsPerSample, format->samplesPerSec})) {
        Trace("audio format refused: %u channels, %u bits, %lu Hz", format->channels, format->bitsPerSample,
              static_cast<unsigned long>(format->samplesPerSec));
        return kInvalidArg;
    }
    // The playback this Open belongs to; once Stop has closed it, nothing
    // of the device reaches the output any more.
    const PlaybackRef playback = CurrentPlayback();
    if (!playback) {
        Trace("device Open refused: nothing is playing");
        return kUnexpected;
    }
    // A failed playback plays nothing more: the output is not asked, and
    // the user is not told twice.
    if (playback->State() == StateFailed) {
        Trace("device Open refused: its playback has failed");
        return kFail;
    }

    {
        std::lock_guard<std::mutex> lock(lock_);
        response_ = ComPtr<IRMAAudioDeviceResponse>(response);
        playback_ = playback;
        visBytes_ = 0;
        partialFrame_.clear();
    }
    format_ = *format;
    const PcmFormat pcm = Pcm();
    // The playback's thread opens the host's output: an output may talk to
    // the host's window inside its Open, and the host's thread may be
    // waiting for the engine's lock that this thread holds.
    if (!RequestOutputOpen(*playback, static_cast<int>(pcm.samplesPerSec), pcm.channels, pcm.bitsPerSample)) {
        // A late Open of a stopped playback must not open the output again.
        Trace("device Open refused: its playback has been stopped");
        TakeResponse().reset();
        return kUnexpected;
    }
    playback->Move(StatePlaying);
    firstWrite_ = 1;
    opened_ = 1;
    return kOk;
}

HRESULT AudioDevice::Close(BOOL32 flush) noexcept {
    if (!opened_ || !player_) return kUnexpected;
    TakeResponse().reset();
    if (flush) Drain();
    opened_ = 0;
    return kOk;
}

HRESULT AudioDevice::Resume() noexcept {
    if (!opened_ || !paused_) return kUnexpected;
    paused_ = 0;
    if (!ScheduleTimeCallback()) {
        paused_ = 1;
        return kFail;
    }
    return kOk;
}

HRESULT AudioDevice::Pause() noexcept {
    if (!opened_ || paused_) return kUnexpected;
    // Marked first, so that a callback running now does not enter the next.
    paused_ = 1;
    CancelTimeCallback();
    return kOk;
}

HRESULT AudioDevice::Write(const AudioData* data) noexcept {
    // Not counted among the engine's calls inside the plug-in: it is the
    // per-block path, and it never waits.
    if (!data) return kInvalidArg;
    if (!opened_) return kUnexpected;
    {
        // One lock a block: the response, the playback and the DSP buffer.
        std::lock_guard<std::mutex> lock(lock_);
        if (!response_) return kFail;

        if (firstWrite_.exchange(0))
            granularityMs_ = std::max<ULONG32>(GranularityMs(Pcm(), format_.maxBlockSize), kMinGranularityMs);

        if (rma::IRMABuffer* buffer = data->data) {
            ULONG32 size = buffer->GetSize();
            char* block = reinterpret_cast<char*>(buffer->GetBuffer());
            if (block && playback_ && IsAudioFlowing(playback_->State()) &&
                !PassToHost(*playback_, block, static_cast<int>(std::min<ULONG32>(size, INT_MAX / 2)))) {
                // The engine keeps the block and writes it again first: the
                // engine's thread (the host's own, inside the time callback)
                // must not wait here for the output to make room.
                return kWouldBlock;
            }
        }
    }
    // Outside the lock: entering the callback calls into the engine.
    ScheduleTimeCallback();
    return kOk;
}

char* AudioDevice::DspBuffer(int bytes) noexcept {
    if (bytes > dspCapacity_) {
        dspBuffer_.reset(new (std::nothrow) char[bytes]);
        dspCapacity_ = dspBuffer_ ? bytes : 0;
    }
    return dspBuffer_.get();
}

bool AudioDevice::PassToHost(Playback& playback, char* block, int length) noexcept {
    // Until the playback's thread has opened the output, blocks wait in the
    // engine, without waiting for the gate.
    if (!playback.Closed() && !playback.Gate().outputOpen.load()) return false;
    OutputAccess output(playback);
    // Behind an output call that has not returned, the block waits in the
    // engine; only a closed playback's blocks are dropped.
    if (output.access() == OutputAccess::Access::Busy) return false;
    if (!output.open() || !output.outputOpen()) return true;
    winamp::Out_Module* outMod = playback.Output();
    const PcmFormat pcm = Pcm();
    const bool dsp = g_module.dsp_isactive() != 0;
    // The hooks and the DSP hook take whole frames.  The engine writes whole
    // frames; should a block end inside one, the frame's start waits here
    // for the next block, so that no sound after it slides out of place.
    const int frame = BytesForSamples(pcm, 1);
    const int carried = static_cast<int>(partialFrame_.size());
    const int total = carried + length;
    int bytes = frame > 1 ? total - total % frame : total;
    // Room for what the DSP hook may make of them (at most twice them),
    // looked for before any hook sees them: a block refused now comes again.
    // What the output refused of an earlier block goes first.
    if (!output.WritePending() || !output.HasRoom(dsp ? 2 * bytes : bytes)) return false;
    if (bytes == 0 && length > 0) return KeepPartialFrame(block, length);

    const char* frames = block;
    char* work = nullptr;
    if (dsp || bytes != length) {
        // The device's own buffer: the DSP hook may return more samples than
        // it was given, which the engine's block has no room for.
        work = DspBuffer(std::max(2 * bytes, 1));
        if (work) {
            std::memcpy(work, partialFrame_.data(), static_cast<size_t>(carried));
            std::memcpy(work + carried, block, static_cast<size_t>(bytes - carried));
            partialFrame_.clear();
            KeepPartialFrame(block + bytes - carried, length - (bytes - carried));
            frames = work;
        } else {
            Trace("no memory for whole frames: the block goes as it came");
            partialFrame_.clear();
            bytes = length;
        }
    }

    // The hooks see the engine's sound before the DSP hook changes anything.
    if (const char* vis = VisFrames(frames, bytes)) {
        g_module.SAAddPCMData(const_cast<char*>(vis), pcm.channels, pcm.bitsPerSample, outMod->GetWrittenTime());
        g_module.VSAAddPCMData(const_cast<char*>(vis), pcm.channels, pcm.bitsPerSample, outMod->GetWrittenTime());
    }

    int hostBytes = bytes;
    if (dsp && work) {
        const int samples =
            g_module.dsp_dosamples(reinterpret_cast<short*>(work), DspSampleCount(pcm, bytes), pcm.bitsPerSample,
                                   pcm.channels, static_cast<int>(pcm.samplesPerSec));
        hostBytes = std::clamp(BytesForSamples(pcm, std::max(samples, 0)), 0, 2 * bytes);
    }

    // The frames are the output's now: what it does not take yet waits in
    // the gate and goes first next time.
    output.Write(frames, hostBytes);
    output.CountWritten(bytes, hostBytes);
    return true;
}

bool AudioDevice::KeepPartialFrame(const char* bytes, int length) noexcept {
    try {
        partialFrame_.insert(partialFrame_.end(), bytes, bytes + length);
    } catch (...) {
        Trace("%d bytes of a frame lost: no memory", length);
        partialFrame_.clear();
    }
    return true;
}

const char* AudioDevice::VisFrames(const char* block, int length) noexcept {
    const int window = BytesForSamples(Pcm(), kVisFrames);
    if (window <= 0) return nullptr;
    if (window != visBytes_) {
        // A new format: the window starts as silence.
        visWindow_.reset(new (std::nothrow) char[window]);
        visBytes_ = visWindow_ ? window : 0;
        if (!visWindow_) return nullptr;
        std::memset(visWindow_.get(), Pcm().bitsPerSample == 8 ? 0x80 : 0, static_cast<size_t>(window));
    }
    char* kept = visWindow_.get();
    if (length >= window) {
        std::memcpy(kept, block + length - window, static_cast<size_t>(window));
        return block;
    }
    std::memmove(kept, kept + length, static_cast<size_t>(window - length));
    std::memcpy(kept + window - length, block, static_cast<size_t>(length));
    return kept;
}

BOOL32 AudioDevice::InitVolume(UINT16, UINT16) noexcept { return 1; }

HRESULT AudioDevice::SetVolume(UINT16 volume) noexcept {
    volume_ = volume;
    return kOk;
}

UINT16 AudioDevice::GetVolume() noexcept { return static_cast<UINT16>(volume_.load()); }

HRESULT AudioDevice::Reset() noexcept {
    paused_ = 0;
    CancelTimeCallback();
    firstWrite_ = 1;
    {
        // The sound of the old place is not shown, nor joined, with the new one's.
        std::lock_guard<std::mutex> lock(lock_);
        visBytes_ = 0;
        partialFrame_.clear();
    }
    // The engine counts the device's time from here, and writes from the new
    // place next: what the output still holds of the old one goes.  The
    // seek's Flush that usually follows moves the start to the seek target.
    if (const PlaybackRef playback = OpenedFor()) {
        ++playback->Gate().engineFlushes;
        if (opened_) DiscardBufferedOutput(*playback);
    }
    return kOk;
}

HRESULT AudioDevice::Drain() noexcept {
    CancelTimeCallback();
    return kOk;
}

HRESULT AudioDevice::CheckFormat(const AudioFormat*) noexcept { return kOk; }

// The engine's clock: time played since the device's Open or its last Reset.
// The host's output restarts its own time at a seek's Flush(new time),
// which the host's position display needs; counting from that Flush keeps
// the engine from adding the seek target twice.
ULONG32 AudioDevice::OutputTimeMs() noexcept {
    if (const PlaybackRef playback = OpenedFor())
        lastOutputTimeMs_ = static_cast<ULONG32>(OutputTimeSinceFlush(*playback, lastOutputTimeMs_));
    return lastOutputTimeMs_;
}

HRESULT AudioDevice::GetCurrentAudioTime(ULONG32* timeMs) noexcept {
    if (!timeMs) return kInvalidArg;
    *timeMs = opened_ ? OutputTimeMs() : 0;
    return kOk;
}

HRESULT AudioDevice::Func() noexcept {
    EngineCallScope inside;
    callbackHandle_ = 0;
    // After a Close without flush the response is gone: the chain ends here.
    ComPtr<IRMAAudioDeviceResponse> response = CurrentResponse();
    if (!response) return kOk;
    response->OnTimeSync(OutputTimeMs());
    // Pause cuts the chain; a callback already running when it did must not
    // enter the next one.
    if (!paused_) ScheduleTimeCallback();
    return kOk;
}

BOOL32 AudioDevice::IsInterruptSafe() noexcept { return 0; }

bool AudioDevice::ScheduleTimeCallback() noexcept {
    // Claimed in one step: Write, Resume and Func may race here, and only
    // one of them may enter a callback.
    if (callbackHandle_.load() != 0) return true;  // the usual case, without a locked step
    ULONG32 expected = 0;
    if (!callbackHandle_.compare_exchange_strong(expected, kEnteringCallback)) return true;
    ComPtr<rma::IRMAScheduler> scheduler;
    if (player_.query(rma::IID_IRMAScheduler, scheduler) != kOk || !scheduler) {
        callbackHandle_ = 0;
        return false;
    }
    const ULONG32 handle = scheduler->RelativeEnter(static_cast<rma::IRMACallback*>(this), granularityMs_);
    expected = kEnteringCallback;
    // A cancel while the callback was being entered wants none.
    if (!callbackHandle_.compare_exchange_strong(expected, handle)) {
        scheduler->Remove(handle);
        return false;
    }
    return handle != 0;
}

void AudioDevice::CancelTimeCallback() noexcept {
    const ULONG32 handle = callbackHandle_.exchange(0);
    if (handle == 0 || handle == kEnteringCallback) return;
    ComPtr<rma::IRMAScheduler> scheduler;
    if (player_.query(rma::IID_IRMAScheduler, scheduler) != kOk || !scheduler) return;
    scheduler->Remove(handle);
}

}  // namespace audio
