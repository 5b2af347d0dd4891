// The engine's sound card: the engine writes PCM blocks into it, and it
// hands them to the host's hooks and output module and reports the output
// module's playing time back to the engine.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/audio_format.h"
#include "engine/com_ptr.h"
#include "engine/rma.h"

namespace rma {

// Two faces: IRMAAudioDevice (the object's own pointer) and IRMACallback (the
// scheduler's time callback), sharing one reference count.
class AudioDevice final : public IRMAAudioDevice, public IRMACallback {
public:
    explicit AudioDevice(IRMAPlayer* player) noexcept;
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;

    // IUnknown, shared by both faces.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IRMAAudioDevice, slots 4 to 15.
    HRESULT STDMETHODCALLTYPE Open(const AudioFormat* format, IRMAAudioDeviceResponse* response) override;
    HRESULT STDMETHODCALLTYPE Close(BOOL32 flush) override;
    HRESULT STDMETHODCALLTYPE Resume() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Write(const AudioData* data) override;
    BOOL32 STDMETHODCALLTYPE InitVolume(UINT16 minimum, UINT16 maximum) override;
    HRESULT STDMETHODCALLTYPE SetVolume(UINT16 volume) override;
    UINT16 STDMETHODCALLTYPE GetVolume() override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Drain() override;
    HRESULT STDMETHODCALLTYPE CheckFormat(const AudioFormat* format) override;
    HRESULT STDMETHODCALLTYPE GetCurrentAudioTime(ULONG32* timeMs) override;

    // IRMACallback, slot 4: the time callback.
    HRESULT STDMETHODCALLTYPE Func() override;

    LONG RefCountForTesting() const { return refCount_; }
    ULONG32 CallbackHandleForTesting() const { return callbackHandle_; }
    ULONG32 GranularityMsForTesting() const { return granularityMs_; }

private:
    ~AudioDevice();

    audio::PcmFormat Pcm() const noexcept;
    bool HoldsResponse() noexcept;
    ComPtr<IRMAAudioDeviceResponse> TakeResponse() noexcept;
    ComPtr<IRMAAudioDeviceResponse> CurrentResponse() noexcept;
    void PassToHost(char* block, int length) noexcept;
    char* DspBuffer(int bytes) noexcept;
    ULONG32 OutputTimeMs() noexcept;
    void ScheduleTimeCallback() noexcept;
    void CancelTimeCallback() noexcept;

    LONG refCount_ = 0;
    ComPtr<IRMAAudioDeviceResponse> response_;
    std::atomic<std::uint32_t> volume_{0};   // a 16-bit volume kept in a 32-bit word
    std::atomic<std::int32_t> paused_{0};
    std::atomic<std::int32_t> opened_{0};
    AudioFormat format_{};
    ComPtr<IRMAPlayer> player_;
    std::atomic<ULONG32> callbackHandle_{0};
    std::atomic<std::int32_t> firstWrite_{0};
    std::atomic<ULONG32> granularityMs_{100};

    // Guards response_ between Close and a time callback firing on the
    // scheduler's thread.
    std::mutex responseLock_;
    // Last output time read while the output was open; reported once Stop
    // has begun closing it.
    std::atomic<ULONG32> lastOutputTimeMs_{0};
    // The DSP hook runs here, with room for twice the block, so a hook that
    // returns more samples than it was given stays inside memory we own.
    // Used only under the output gate's lock.
    std::unique_ptr<char[]> dspBuffer_;
    int dspCapacity_ = 0;
};

}  // namespace rma
