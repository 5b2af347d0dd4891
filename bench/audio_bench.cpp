// Cost of the audio bridge: blocks pushed through the audio device into host
// hooks that do nothing and an output module that takes everything, against
// one memcpy of the same bytes; and the process's CPU use while a
// presentation plays in real time through the stand-in engine.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_device.h"
#include "audio/output_gate.h"
#include "core/playback.h"
#include "bench/bench_report.h"
#include "support/test_support.h"

using namespace core;

namespace {

constexpr int kBridgeRounds = 200;
constexpr int kRate = 44100, kChannels = 2, kBits = 16;
constexpr int kBlockBytes = kRate * kChannels * 2 / 10;  // 0.1 s, the stand-in engine's default
constexpr int kSeconds = 60;

using bench::NowMs;
using bench::Report;

// ---- a host that does nothing and takes everything ----
int __cdecl NullOpen(int, int, int, int, int) { return 0; }
void __cdecl NullVoid() {}
int __cdecl NullWrite(char*, int) { return 0; }
int __cdecl NullCanWrite() { return 1 << 30; }
int __cdecl NullZero() { return 0; }
int __cdecl NullPause(int) { return 0; }
void __cdecl NullInt(int) {}
void __cdecl NullPcm(void*, int, int, int) {}
void __cdecl NullTwo(int, int) {}
void __cdecl NullInfo(int, int, int, int) {}
int __cdecl DspOn() { return 1; }
int __cdecl DspOff() { return 0; }
int __cdecl DspSame(short*, int samples, int, int, int) { return samples; }

winamp::Out_Module g_nullOutput = {0x10, const_cast<char*>("null"), 0, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, NullOpen, NullVoid, NullWrite, NullCanWrite, NullZero,
                                   NullPause, NullInt, NullInt, NullInt, NullZero, NullZero};

// ---- the least of an engine: a player whose scheduler never fires ----
template <class Interface>
struct Quiet : Interface {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return rma::kNoInterface; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

struct Scheduler : Quiet<rma::IRMAScheduler> {
    rma::ULONG32 STDMETHODCALLTYPE RelativeEnter(rma::IRMACallback*, rma::UINT32) override { return 1; }
    rma::ULONG32 STDMETHODCALLTYPE AbsoluteEnter(rma::IRMACallback*, rma::Timeval) override { return 1; }
    HRESULT STDMETHODCALLTYPE Remove(rma::ULONG32) override { return 0; }
    rma::Timeval* STDMETHODCALLTYPE GetCurrentSchedulerTime(rma::Timeval* result) override { return result; }
};

struct Player : Quiet<rma::IRMAPlayer> {
    Scheduler scheduler;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        *out = rma::SameId(id, rma::IID_IRMAScheduler) ? static_cast<void*>(&scheduler) : nullptr;
        return *out ? 0 : rma::kNoInterface;
    }
    HRESULT STDMETHODCALLTYPE GetClientEngine(rma::IRMAClientEngine**) override { return 0; }
    rma::BOOL32 STDMETHODCALLTYPE IsDone() override { return 0; }
    rma::BOOL32 STDMETHODCALLTYPE IsLive() override { return 0; }
    rma::ULONG32 STDMETHODCALLTYPE GetCurrentPlayTime() override { return 0; }
    HRESULT STDMETHODCALLTYPE OpenURL(const char*) override { return 0; }
    HRESULT STDMETHODCALLTYPE Begin() override { return 0; }
    HRESULT STDMETHODCALLTYPE Stop() override { return 0; }
    HRESULT STDMETHODCALLTYPE Pause() override { return 0; }
    HRESULT STDMETHODCALLTYPE Seek(rma::ULONG32) override { return 0; }
    rma::UINT16 STDMETHODCALLTYPE GetSourceCount() override { return 0; }
    HRESULT STDMETHODCALLTYPE GetSource(rma::UINT16, IUnknown**) override { return 0; }
    HRESULT STDMETHODCALLTYPE SetClientContext(IUnknown*) override { return 0; }
    HRESULT STDMETHODCALLTYPE GetClientContext(IUnknown**) override { return 0; }
    HRESULT STDMETHODCALLTYPE AddAdviseSink(rma::IRMAClientAdviseSink*) override { return 0; }
    HRESULT STDMETHODCALLTYPE RemoveAdviseSink(rma::IRMAClientAdviseSink*) override { return 0; }
};

struct Response : Quiet<rma::IRMAAudioDeviceResponse> {
    HRESULT STDMETHODCALLTYPE OnTimeSync(rma::ULONG32) override { return 0; }
};

struct Buffer : Quiet<rma::IRMABuffer> {
    UCHAR* bytes = nullptr;
    rma::ULONG32 size = 0;
    HRESULT STDMETHODCALLTYPE Get(UCHAR**, rma::ULONG32*) override { return 0; }
    HRESULT STDMETHODCALLTYPE Set(const UCHAR*, rma::ULONG32) override { return 0; }
    HRESULT STDMETHODCALLTYPE SetSize(rma::ULONG32) override { return 0; }
    rma::ULONG32 STDMETHODCALLTYPE GetSize() override { return size; }
    UCHAR* STDMETHODCALLTYPE GetBuffer() override { return bytes; }
};

// Ratio of pushing kSeconds of audio through the device to one memcpy of
// the same bytes, measured in the same round.
void BenchBridge(const char* name, bool dsp) {
    const winamp::In_Module saved = g_module;
    g_module.outMod = &g_nullOutput;
    g_module.SAVSAInit = NullTwo;
    g_module.SAVSADeInit = NullVoid;
    g_module.SAAddPCMData = NullPcm;
    g_module.VSAAddPCMData = NullPcm;
    g_module.VSASetInfo = NullTwo;
    g_module.SetInfo = NullInfo;
    g_module.dsp_isactive = dsp ? DspOn : DspOff;
    g_module.dsp_dosamples = DspSame;

    const size_t total = static_cast<size_t>(kRate) * kChannels * 2 * kSeconds;
    std::vector<char> source(total), target(total);
    for (size_t i = 0; i < total; ++i) source[i] = static_cast<char>(i * 31);

    Player player;
    Response response;
    auto* device = new audio::AudioDevice(&player);
    device->AddRef();
    rma::AudioFormat format{kChannels, kBits, kRate, kBlockBytes, 0};
    // As Play does: a playback of its own, which the device opens for.
    auto playback = std::make_shared<core::Playback>("bench.rm", "file:bench.rm", true);
    core::InstallPlayback(playback);
    // The playback's thread opens the output; here, this thread does.
    if (device->Open(&format, &response) != 0 || !audio::OpenOutputModule(*playback))
        std::fprintf(stderr, "%s: the device did not open\n", name);

    Buffer buffer;
    rma::AudioData data{&buffer, 0, 0};
    std::vector<double> ratios;
    for (int round = 0; round < kBridgeRounds; ++round) {
        double start = NowMs();
        std::memcpy(target.data(), source.data(), total);
        const double copyMs = NowMs() - start;

        start = NowMs();
        for (size_t offset = 0; offset < total; offset += kBlockBytes) {
            buffer.bytes = reinterpret_cast<UCHAR*>(source.data() + offset);
            buffer.size = static_cast<rma::ULONG32>(std::min<size_t>(kBlockBytes, total - offset));
            device->Write(&data);
        }
        const double bridgeMs = NowMs() - start;
        ratios.push_back(bridgeMs / std::max(copyMs, 1e-6));
    }
    device->Close(TRUE);
    device->Release();
    playback->Close();
    audio::CloseOutputModule(*playback, 1000);
    core::TakePlayback();
    g_module = saved;
    Report(name, ratios);
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// CPU use of the whole process, one figure per second of 10 s of playback
// paced in real time by the stand-in engine.
void BenchPlaybackCpu() {
    testsupport::FakeHost host;
    testsupport::SimEngine::Get().Reset();
    testsupport::SimEngine::Get().Control("pace realtime; length 30000");
    if (g_module.Play(const_cast<char*>("rtsp://bench.example/tone.rm")) != 0) {
        std::fprintf(stderr, "playback_cpu_pct: Play failed\n");
        return;
    }
    testsupport::PumpFor(500);  // past the start
    std::vector<double> percents;
    for (int second = 0; second < 10; ++second) {
        const double cpuStart = ProcessCpuMs(), wallStart = NowMs();
        testsupport::PumpFor(1000);
        percents.push_back(100.0 * (ProcessCpuMs() - cpuStart) / (NowMs() - wallStart));
    }
    if (host.counts.outWrite.load() == 0) std::fprintf(stderr, "playback_cpu_pct: no audio reached the host\n");
    g_module.Stop();
    Report("playback_cpu_pct", percents);
}

}  // namespace

void RunAudioBenchmarks() {
    BenchBridge("bridge_ratio", false);
    BenchBridge("bridge_dsp_ratio", true);
    BenchPlaybackCpu();
}
