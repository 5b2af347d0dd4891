// Sound from end to end: hostsim.exe loads the plug-in and the stand-in
// engine plays WAV presentations through the audio device into hostsim's
// output module, which writes what it played to a WAV file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/test_support.h"

namespace {

using testsupport::HostsimRun;
using testsupport::RunHostsim;

// hostsim's `stall MS`: the longest its message loop was held outside its
// own calls into the plug-in; -1 without the line.
int LongestStall(const std::string& output) {
    const size_t at = output.find("\nstall ");
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + 7);
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, got);
        std::fclose(f);
    }
    return bytes;
}

void Put32(std::string& out, unsigned value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
void Put16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

std::string MakeWav(unsigned rate, unsigned channels, unsigned bits, const std::string& samples) {
    std::string wav = "RIFF";
    Put32(wav, static_cast<unsigned>(36 + samples.size()));
    wav += "WAVEfmt ";
    Put32(wav, 16);
    Put16(wav, 1);
    Put16(wav, channels);
    Put32(wav, rate);
    Put32(wav, rate * channels * bits / 8);
    Put16(wav, channels * bits / 8);
    Put16(wav, bits);
    wav += "data";
    Put32(wav, static_cast<unsigned>(samples.size()));
    return wav + samples;
}

// The bytes of a WAV file's data chunk.
std::string WavData(const std::string& wav) {
    size_t at = 12;
    while (at + 8 <= wav.size()) {
        unsigned size = 0;
        std::memcpy(&size, wav.data() + at + 4, 4);
        if (wav.compare(at, 4, "data") == 0) return wav.substr(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

std::string Samples(size_t bytes, unsigned seed) {
    std::string samples(bytes, '\0');
    unsigned state = seed;
    for (char& c : samples) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return samples;
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::MakeTempDir(); }

    // Plays a WAV of the given format through hostsim; returns the run.
    HostsimRun Play(unsigned rate, unsigned channels, unsigned bits, const std::string& samples,
             const std::string& options) {
        source = dir + "\\in.wav";
        result = dir + "\\out.wav";
        DeleteFileA(result.c_str());
        testsupport::WriteFileBytes(source, MakeWav(rate, channels, bits, samples));
        return RunHostsim("play \"" + source + "\" --out \"" + result + "\" " + options);
    }

    std::string dir, source, result;
};

TEST_F(EndToEndTest, WavSamplesArriveByteForByte) {
    const struct {
        unsigned rate, channels, bits;
        size_t bytes;
        const char* engine;
        const char* setinfo;
    } formats[] = {
        // The default block of 0.1 s (17640 bytes) is above 8192 and no multiple of it.
        {44100, 2, 16, 176400 + 1000, "", "setinfo 1411 44 2 1"},
        {22050, 1, 8, 33333, "--engine \"block 10000\"", "setinfo 176 22 1 1"},
        {8000, 1, 16, 48000, "--engine \"block 16384\"", "setinfo 128 8 1 1"},
        {48000, 6, 16, 6 * 2 * 12000, "--engine \"block 20004\"", "setinfo 4608 48 6 1"},
        // Played in real time into a full buffer, with an engine that tells of
        // the end before IsDone turns true: the tail still plays out before
        // the end of file, and the host's thread is never held.
        {22050, 2, 16, 88200 + 4, "--realtime --engine \"isdone 0\"", "setinfo 705 22 2 1"},
    };
    for (const auto& f : formats) {
        const std::string samples = Samples(f.bytes, f.rate + f.channels);
        HostsimRun run = Play(f.rate, f.channels, f.bits, samples, f.engine);
        const std::string label = std::to_string(f.rate) + "/" + std::to_string(f.channels) + "/" +
                                  std::to_string(f.bits) + "\n" + run.output;
        EXPECT_EQ(run.exitCode, 0u) << label;
        EXPECT_NE(run.output.find("outmod.open " + std::to_string(f.rate) + " " + std::to_string(f.channels) +
                                  " " + std::to_string(f.bits) + " -> 2000"),
                  std::string::npos)
            << label;
        EXPECT_NE(run.output.find(f.setinfo), std::string::npos) << label;
        EXPECT_NE(run.output.find("\neof"), std::string::npos) << label;
        EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << label;
        const std::string written = WavData(ReadFileBytes(result));
        EXPECT_EQ(written.size(), samples.size()) << label;
        EXPECT_TRUE(written == samples) << "the samples differ for " << label;
        // A generous bound: the engine's work on the host's thread, the
        // plug-in's time callback among it, must never wait for the output.
        EXPECT_LT(LongestStall(run.output), 250) << label;
        EXPECT_GE(LongestStall(run.output), 0) << label;
    }
}

// After a seek to T the engine counts its position from T by the device's
// time since the seek's Reset; the host's positions go on from T, and what
// is played is what came before the seek, then everything from T on.
TEST_F(EndToEndTest, SeekPlaysOnFromTheNewPlaceWithTheRightPositions) {
    const unsigned rate = 11025, frame = 4, second = rate * frame;
    const std::string samples = Samples(3 * second, 77);
    HostsimRun run = Play(rate, 2, 16, samples, "--realtime --verbose --seek 600:2000");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << run.output;
    const size_t seek = run.output.find("\nseek 2000");
    ASSERT_NE(seek, std::string::npos) << run.output;
    int firstAfter = -1, positions = 0;
    for (size_t at = run.output.find("\npos ", seek); at != std::string::npos; at = run.output.find("\npos ", at + 1)) {
        int pos = -1, len = -1;
        std::sscanf(run.output.c_str() + at, "\npos %d len %d", &pos, &len);
        if (firstAfter < 0) firstAfter = pos;
        EXPECT_GE(pos, 2000) << run.output;
        EXPECT_LE(pos, len) << run.output;
        ++positions;
    }
    EXPECT_GE(positions, 3) << run.output;
    EXPECT_LE(firstAfter, 2300) << run.output;
    const std::string written = WavData(ReadFileBytes(result));
    const size_t tail = samples.size() - 2 * second;
    ASSERT_GE(written.size(), tail) << run.output;
    const size_t before = written.size() - tail;
    EXPECT_TRUE(written.compare(0, before, samples, 0, before) == 0) << "what played before the seek";
    EXPECT_TRUE(written.compare(before, tail, samples, 2 * second, tail) == 0) << "what played from 2 s on";
    EXPECT_GE(before, 600u * second / 1000) << run.output;
    EXPECT_LE(before, 1000u * second / 1000) << run.output;
}

// A signed little-endian sample of `size` bytes (2 or 3).
int SampleAt(const std::string& bytes, size_t at, int size) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    const unsigned value = p[0] | p[1] << 8 | (size == 3 ? p[2] << 16 : 0);
    return static_cast<int>(value << (32 - 8 * size)) >> (32 - 8 * size);
}

TEST_F(EndToEndTest, DspHooksChangeWhatIsWritten) {
    // 16- and 24-bit stereo, each beginning with the one value that has no
    // positive twin: the host's inverting effect saturates it.
    const struct { unsigned rate, bits; size_t bytes; } formats[] = {
        {44100, 16, 44100 * 4},  // 0.5 s
        {48000, 24, 4800 * 6},   // 0.1 s
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.bits);
        const int size = static_cast<int>(f.bits / 8), frame = 2 * size;
        const int lowest = -(1 << (f.bits - 1)), highest = (1 << (f.bits - 1)) - 1;
        std::string samples = Samples(f.bytes, f.bits);
        samples.replace(0, size - 1, std::string(size - 1, '\0'));
        samples[size - 1] = '\x80';
        HostsimRun run = Play(f.rate, 2, f.bits, samples, "--dsp invert");
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << run.output;
        std::string written = WavData(ReadFileBytes(result));
        ASSERT_EQ(written.size(), samples.size()) << run.output;
        bool inverted = true;
        for (size_t i = 0; i + size <= samples.size() && inverted; i += size) {
            const int in = SampleAt(samples, i, size);
            inverted = SampleAt(written, i, size) == (in == lowest ? highest : -in);
        }
        EXPECT_TRUE(inverted);

        run = Play(f.rate, 2, f.bits, samples, "--dsp stretch");
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << run.output;
        written = WavData(ReadFileBytes(result));
        ASSERT_EQ(written.size(), 2 * samples.size()) << run.output;
        bool doubled = true;
        for (size_t at = 0; at < samples.size() && doubled; at += frame) {
            doubled = written.compare(2 * at, frame, samples, at, frame) == 0 &&
                      written.compare(2 * at + frame, frame, samples, at, frame) == 0;
        }
        EXPECT_TRUE(doubled);
    }
}

TEST_F(EndToEndTest, RefusedOutputShowsItsBoxAndPlaybackStops) {
    const std::string samples = Samples(17640 * 3, 9);
    HostsimRun run = Play(44100, 2, 16, samples, "--refuse-open --timeout 20000");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_EQ(run.output.find("timeout"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("msgbox \"Error opening module\" \"Could not open output module\""), std::string::npos)
        << run.output;
    // The output shows its own box inside its Open, on the playback's
    // thread; then the plug-in tells the user once, and the host to stop once.
    size_t boxes = 0, stops = 0;
    for (size_t at = run.output.find("\nmsgbox \"Error opening module\""); at != std::string::npos;
         at = run.output.find("\nmsgbox \"Error opening module\"", at + 1))
        ++boxes;
    for (size_t at = run.output.find("\nstopcmd"); at != std::string::npos; at = run.output.find("\nstopcmd", at + 1))
        ++stops;
    EXPECT_EQ(boxes, 1u) << run.output;
    EXPECT_EQ(stops, 1u) << run.output;
    EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << run.output;
}

TEST_F(EndToEndTest, StatusCaptionsAppearBesideTheHostAndGo) {
    // The engine takes its time to connect, as a real one does: the caption
    // stands until the first position report, long enough for hostsim's
    // window poll to see it.
    HostsimRun run = RunHostsim("play rtsp://example.com/a.rm --engine \"length 600; contacting 0 example.com; "
                         "connect 300; buffering 100 20 60\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("status show \"Contacting example.com\" 375 50"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"Buffering 20%\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("status hide"), std::string::npos) << run.output;
    // The engine reports on the host's thread, whose caption window would
    // outlive the playback unless Stop takes it down.
    EXPECT_NE(run.output.find("status gone"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("status left"), std::string::npos) << run.output;
}

}  // namespace

namespace {

int CountLines(const std::string& output, const std::string& prefix) {
    int count = 0;
    for (size_t at = output.find("\n" + prefix); at != std::string::npos; at = output.find("\n" + prefix, at + 1))
        ++count;
    return count;
}

// The seams between one playback and the next, as a user meets them through
// the host: each run must end without anything the host does not allow
// (hostsim's `unexpected` lines cover output calls after Close, opens after
// Stop, an end of file after Stop and engine objects left at unload).
TEST(SessionsThroughHostsim, StopsAndLateEventsAsAUserMeetsThem) {
    const struct {
        const char* name;
        const char* arguments;
        int exitCode;      // 0: the presentation ended; 1: stopped; -1: either
        int endsOfFile;    // -1: not checked
        int stopCommands;
        int boxes = -1;
    } runs[] = {
        {"error box while Stop waits",
         "rtsp://s.invalid/a.rm --engine \"length 2000; error open 0x80004005\" --stop-at 0", 1, 0, -1},
        // The end and the Stop meet: either may come first, but never an end of
        // file after the Stop.
        {"Stop during the drain",
         "rtsp://s.invalid/a.rm --realtime --engine \"length 2000; stopat 500\" --stop-at 500", -1, -1, -1},
        {"seek pending at the end",
         "rtsp://s.invalid/a.rm --realtime --seek 1800:0 --engine \"length 2000; delay Seek 400\"", 0, 1, 0},
        {"late Open after Stop, twice",
         "rtsp://s.invalid/a.rm --engine \"length 2000; delay Begin 300; delay Stop 600\" --stop-at 0 --repeat 2", 1,
         0, -1},
        {"video site while Stop runs", "rtsp://s.invalid/v.rm --engine \"length 2000; video on\" --stop-at 0", 1, 0,
         -1},
        // The engine reports its error on the host's thread, holding its lock;
        // the user presses Stop while the box is up.
        {"Stop pressed while an error box is up",
         "rtsp://s.invalid/a.rm --realtime --stop-on-box --answer-after 1500 "
         "--engine \"length 4000; error play:300 0x8004004D 3 Lost\"",
         1, 0, 1, 1},
        // The engine opens any file and tells of a missing one later.
        {"missing file", "C:\\no\\such\\file.rm", 1, 0, 1, 1},
        // The engine gives up the sites only at the next URL and at the
        // player's close, after Stop destroyed the window.
        {"video sites given up late", "rtsp://s.invalid/v.rm --engine \"length 800; video on\" --stop-at 300 --repeat 2",
         1, 0, 0},
        // The natural end on the host's thread, then Stop's own OnStop inside
        // the playback thread's Stop: one end of file, nothing else.
        {"natural end", "rtsp://s.invalid/a.rm --engine \"length 600\"", 0, 1, 0, 0},
        // The host stops mid-play: the engine's OnStop and the device's Close
        // come inside the playback thread's own Stop, and are not an end.
        {"Stop mid-play", "rtsp://s.invalid/a.rm --realtime --engine \"length 3000\" --stop-at 500", 1, 0, 0, 0},
    };
    for (const auto& r : runs) {
        const DWORD start = GetTickCount();
        HostsimRun run = RunHostsim(std::string("play ") + r.arguments);
        const DWORD took = GetTickCount() - start;
        const std::string label = std::string(r.name) + "\n" + run.output;
        if (r.exitCode >= 0) {
            EXPECT_EQ(run.exitCode, static_cast<DWORD>(r.exitCode)) << label;
        } else {
            EXPECT_LE(run.exitCode, 1u) << label;
        }
        EXPECT_EQ(run.output.find("unexpected"), std::string::npos) << label;
        EXPECT_EQ(run.output.find("thread to die"), std::string::npos) << label;
        if (r.endsOfFile >= 0) {
            EXPECT_EQ(CountLines(run.output, "eof"), r.endsOfFile) << label;
        }
        if (r.stopCommands >= 0) {
            EXPECT_EQ(CountLines(run.output, "stopcmd"), r.stopCommands) << label;
        }
        if (r.boxes >= 0) {
            EXPECT_EQ(CountLines(run.output, "msgbox"), r.boxes) << label;
        }
        // An end of file after the host's own Stop would start the next track.
        const size_t stop = run.output.find("\nstop\n");
        if (stop != std::string::npos) {
            EXPECT_EQ(run.output.find("\neof", stop), std::string::npos) << label;
        }
        const size_t calls = run.output.find("outmod.calls open=");
        if (calls != std::string::npos) {
            int opens = -1, closes = -2;
            std::sscanf(run.output.c_str() + calls, "outmod.calls open=%d close=%d", &opens, &closes);
            EXPECT_EQ(opens, closes) << label;
        }
        EXPECT_LT(took, 15000u) << label;
    }
}

}  // namespace
