// The engine's sound card: the engine writes PCM blocks into it, and it
// hands them to the host's hooks and output module and reports the output
// module's playing time back to the engine.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/audio_format.h"
#include "core/com_object.h"
#include "core/com_ptr.h"
#include "core/playback.h"

namespace audio {

using rma::AudioData;
using rma::AudioFormat;
using rma::BOOL32;
using rma::IRMAAudioDeviceResponse;
using rma::UINT16;
using rma::ULONG32;

// Three faces: IRMAAudioDevice (the object's own pointer), IRMACallback (the
// scheduler's time callback) and IRMAInterruptSafe (which the scheduler asks
// of that callback), sharing one reference count.
class AudioDevice final
    : public core::ComObject<rma::IRMAAudioDevice, rma::IRMACallback, rma::IRMAInterruptSafe> {
public:
    explicit AudioDevice(rma::IRMAPlayer* player) noexcept;

    // IRMAAudioDevice, slots 4 to 15.
    HRESULT STDMETHODCALLTYPE Open(const AudioFormat* format, IRMAAudioDeviceResponse* response) noexcept override;
    HRESULT STDMETHODCALLTYPE Close(BOOL32 flush) noexcept override;
    HRESULT STDMETHODCALLTYPE Resume() noexcept override;
    HRESULT STDMETHODCALLTYPE Pause() noexcept override;
    HRESULT STDMETHODCALLTYPE Write(const AudioData* data) noexcept override;
    BOOL32 STDMETHODCALLTYPE InitVolume(UINT16 minimum, UINT16 maximum) noexcept override;
    HRESULT STDMETHODCALLTYPE SetVolume(UINT16 volume) noexcept override;
    UINT16 STDMETHODCALLTYPE GetVolume() noexcept override;
    HRESULT STDMETHODCALLTYPE Reset() noexcept override;
    HRESULT STDMETHODCALLTYPE Drain() noexcept override;
    HRESULT STDMETHODCALLTYPE CheckFormat(const AudioFormat* format) noexcept override;
    HRESULT STDMETHODCALLTYPE GetCurrentAudioTime(ULONG32* timeMs) noexcept override;

    // IRMACallback, slot 4: the time callback.
    HRESULT STDMETHODCALLTYPE Func() noexcept override;

    // IRMAInterruptSafe, slot 3: false, so the time callback runs on the
    // engine's system thread, as an engine that never asked would run it.
    BOOL32 STDMETHODCALLTYPE IsInterruptSafe() noexcept override;

    ULONG32 CallbackHandleForTesting() const { return callbackHandle_; }
    ULONG32 GranularityMsForTesting() const { return granularityMs_; }

private:
    ~AudioDevice() override;

    audio::PcmFormat Pcm() const noexcept;
    bool HoldsResponse() noexcept;
    core::ComPtr<IRMAAudioDeviceResponse> TakeResponse() noexcept;
    core::ComPtr<IRMAAudioDeviceResponse> CurrentResponse() noexcept;
    // The playback the device was opened for, or null.
    core::PlaybackRef OpenedFor() noexcept;
    // False when the output has no room for the block now.  lock_ held.
    bool PassToHost(core::Playback& playback, char* block, int length) noexcept;
    // Keeps the start of a frame for the next block; true.  lock_ held.
    bool KeepPartialFrame(const char* bytes, int length) noexcept;
    char* DspBuffer(int bytes) noexcept;
    // What the visualisation hooks are given for a block: the block itself
    // when it holds at least kVisFrames frames, else the latest kVisFrames
    // frames of sound, this block last.  Null without memory.  lock_ held.
    const char* VisFrames(const char* block, int length) noexcept;
    ULONG32 OutputTimeMs() noexcept;
    // Enters the time callback unless one is pending; false when none could be.
    bool ScheduleTimeCallback() noexcept;
    void CancelTimeCallback() noexcept;

    // The engine's timer thread opens, writes, pauses, resumes and resets
    // the device; the system thread (the host's) runs the time callback and
    // reads the time.  Both hold the engine's lock, but the callback gives it
    // up around its report, so the fields they share are guarded or atomic.
    std::mutex lock_;  // guards response_, playback_, the DSP buffer, the partial frame and the vis window
    core::ComPtr<IRMAAudioDeviceResponse> response_;
    core::PlaybackRef playback_;
    // The DSP hook runs here, with room for twice the block, so a hook that
    // returns more samples than it was given stays inside memory we own.
    std::unique_ptr<char[]> dspBuffer_;
    int dspCapacity_ = 0;
    // The start of a frame a block ended inside, for the next block.
    std::vector<char> partialFrame_;
    // The host's spectrum and oscilloscope read exactly kVisFrames frames
    // from the pointer they are given, whatever the block holds.
    static constexpr int kVisFrames = 576;
    std::unique_ptr<char[]> visWindow_;
    int visBytes_ = 0;  // the window's size for the format of the last Open

    std::atomic<std::uint32_t> volume_{0};   // a 16-bit volume kept in a 32-bit word
    std::atomic<std::int32_t> paused_{0};
    std::atomic<std::int32_t> opened_{0};
    AudioFormat format_{};
    core::ComPtr<rma::IRMAPlayer> player_;
    // The scheduler's handle of the pending time callback; 0 for none, or
    // kEnteringCallback while one thread is entering it.
    static constexpr ULONG32 kEnteringCallback = 0xFFFFFFFFu;
    std::atomic<ULONG32> callbackHandle_{0};
    std::atomic<std::int32_t> firstWrite_{0};
    std::atomic<ULONG32> granularityMs_{100};
    // Last output time read while the output was open; reported once Stop
    // has closed it.
    std::atomic<ULONG32> lastOutputTimeMs_{0};
};

// A new device with a reference count of 0, or null without memory.
rma::IRMAAudioDevice* NewAudioDevice(rma::IRMAPlayer* player) noexcept;

}  // namespace audio
