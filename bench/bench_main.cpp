// Latency of the host-facing paths: Play, seek and the change from one
// track to the next, against the stand-in engine answering at once.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "plugin/host_ops.h"
#include "support/test_support.h"

#ifdef HAVE_AUDIO_BENCH
void RunAudioBenchmarks();
#endif

namespace {

using testsupport::FakeHost;
using testsupport::PumpUntil;
using testsupport::SimEngine;

constexpr int kRounds = 250;

double NowMs() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Report(const char* name, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    const double p99 = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    std::printf("%s %.3f %.3f\n", name, median, p99);
    std::fflush(stdout);
}

int Play(const std::string& path) { return g_module.Play(const_cast<char*>(path.c_str())); }

void BenchPlay(const std::string& wav) {
    FakeHost host;
    SimEngine::Get().Control("length 60000; pace realtime");
    std::vector<double> samples;
    Play(wav);  // the first Play builds the engine link: not a steady-state figure
    g_module.Stop();
    for (int i = 0; i < kRounds; ++i) {
        const double start = NowMs();
        const int result = Play(wav);
        samples.push_back(NowMs() - start);
        if (result != 0) std::fprintf(stderr, "Play failed in round %d\n", i);
        g_module.Stop();
    }
    Report("play_ms", samples);
}

void BenchSeek(const std::string& wav) {
    FakeHost host;
    SimEngine::Get().Control("length 600000; pace realtime");
    Play(wav);
    std::vector<double> samples;
    for (int i = 0; i < kRounds; ++i) {
        const double start = NowMs();
        g_module.SetOutputTime(1000 + (i % 50) * 100);
        samples.push_back(NowMs() - start);
    }
    g_module.Stop();
    Report("seek_ms", samples);
}

void BenchTrackChange(const std::string& wav) {
    FakeHost host;
    host.settings.isPlaying = 0;        // the output has already played out
    host.settings.stopOnMessages = true;
    SimEngine::Get().Control("length 600000; pace realtime");
    std::vector<double> samples;
    Play(wav);
    for (int i = 0; i < kRounds; ++i) {
        const int stopsBefore = host.counts.stopCalls.load();
        const double start = NowMs();
        PostPlayerCommand(CmdStreamEnded, 0);
        PumpUntil([&] { return host.counts.stopCalls.load() > stopsBefore; }, 20000);
        Play(wav);
        samples.push_back(NowMs() - start);
    }
    g_module.Stop();
    Report("track_change_ms", samples);
}

}  // namespace

int main() {
    SimEngine::Get().Reset();
    const std::string wav = testsupport::WriteTempWav(22050, 1, 16, 1000);
    BenchPlay(wav);
    BenchSeek(wav);
    BenchTrackChange(wav);
#ifdef HAVE_AUDIO_BENCH
    RunAudioBenchmarks();
#endif
    return 0;
}
