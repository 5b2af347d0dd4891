// Latency of the host-facing paths: Play, seek and the change from one
// track to the next, against the stand-in engine answering at once.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/playback.h"
#include "plugin/host_ops.h"
#include "bench/bench_report.h"
#include "support/test_support.h"

using namespace core;

void RunAudioBenchmarks();

namespace {

using testsupport::FakeHost;
using testsupport::PumpUntil;
using testsupport::SimEngine;

constexpr int kRounds = 250;

using bench::NowMs;
using bench::Report;

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

// A stream that lasts the whole run: a WAV would end, and a seek with no
// playback left returns at once.
constexpr char kLongStream[] = "rtsp://bench.invalid/stream.rm";

void BenchSeek() {
    FakeHost host;
    SimEngine::Get().Control("length 600000; pace realtime");
    if (Play(kLongStream) != 0) std::fprintf(stderr, "Play failed before the seeks\n");
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
        CurrentPlayback()->Post(CmdStreamEnded, 0);
        PumpUntil([&] { return host.counts.stopCalls.load() > stopsBefore; }, 20000);
        Play(wav);
        samples.push_back(NowMs() - start);
    }
    g_module.Stop();
    Report("track_change_ms", samples);
}

// The longest stretch the host's message loop is held outside its calls
// into the plug-in while a WAV plays in real time into a full output
// buffer: the engine's work on the host's thread, with the plug-in's time
// callback and the writes inside it (hostsim measures it).  BENCH_PLUGIN
// names another plug-in DLL to measure the same way.
void BenchHostStall() {
    const std::string wav = testsupport::WriteTempWav(44100, 2, 16, 3000);
    char other[MAX_PATH] = {};
    std::string plugin;
    if (GetEnvironmentVariableA("BENCH_PLUGIN", other, sizeof other)) plugin = std::string(" --plugin \"") + other + "\"";
    std::vector<double> samples;
    for (int i = 0; i < 5; ++i) {
        const testsupport::HostsimRun run = testsupport::RunHostsim("play \"" + wav + "\" --realtime" + plugin);
        const size_t at = run.output.find("\nstall ");
        if (at == std::string::npos) {
            std::fprintf(stderr, "hostsim printed no stall line:\n%s\n", run.output.c_str());
            continue;
        }
        samples.push_back(std::atof(run.output.c_str() + at + 7));
    }
    if (!samples.empty()) Report("host_stall_ms", samples);
}

}  // namespace

int main() {
    SimEngine::Get().Reset();
    const std::string wav = testsupport::WriteTempWav(22050, 1, 16, 1000);
    BenchPlay(wav);
    BenchSeek();
    BenchTrackChange(wav);
    BenchHostStall();
    RunAudioBenchmarks();
    return 0;
}
