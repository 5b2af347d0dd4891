// One playback's late events never reach the next one, nor a stopped host:
// the seams between Play, Stop and the engine's own threads, driven through
// the module record against the stand-in engine and a host of real windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "core/playback.h"
#include "support/test_support.h"

using namespace core;

namespace {

using testsupport::FakeHost;
using testsupport::MessageBoxWatcher;
using testsupport::PumpUntil;
using testsupport::SimEngine;

// A stream the stand-in renders as a tone of the scripted length.
constexpr char kStream[] = "rtsp://sessions.invalid/stream.rm";

class Sessions : public testing::Test {
protected:
    void SetUp() override {
        engine().Reset();
        host = std::make_unique<FakeHost>();
    }

    void TearDown() override {
        testsupport::PumpFor(50);
        // A real output refuses every call once closed; the fake one counts them.
        EXPECT_EQ(host->counts.callsAfterClose.load(), 0);
        host.reset();  // Quit
        testsupport::ExpectCleanPluginState();
        EXPECT_EQ(engine().Query("live"), 0) << "engine objects still alive at unload";
        EXPECT_EQ(engine().Query("clientrefs"), 0);
    }

    static SimEngine& engine() { return SimEngine::Get(); }
    static int Play(const char* path) { return g_module.Play(const_cast<char*>(path)); }
    static DWORD TimedStop() {
        const DWORD start = GetTickCount();
        g_module.Stop();
        return GetTickCount() - start;
    }
    bool ForcedStopSeen() {
        for (const auto& box : boxes.Boxes())
            if (box.text.find("thread to die") != std::string::npos) return true;
        return false;
    }

    MessageBoxWatcher boxes;
    std::unique_ptr<FakeHost> host;
};

// The engine reports its error on the host's thread with its lock held;
// the box comes up on the playback thread and needs the host thread, which
// sits in Stop: the wait serves it, so Stop ends without being forced.
TEST_F(Sessions, StopWhileAnEngineErrorBoxComesUpIsServedNotForced) {
    engine().Control("length 60000; error open 0x80004005");
    Play(kStream);
    ASSERT_TRUE(PumpUntil([&] { return engine().LogHas("ErrorSink.ErrorOccurred"); }));
    const DWORD took = TimedStop();
    EXPECT_LT(took, 4000u) << "Stop waited for the box's owner";
    EXPECT_FALSE(ForcedStopSeen());
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ(boxes.Boxes()[0].caption, "Error");
    testsupport::PumpFor(200);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

// Stop during the end-of-track drain, with a seek queued behind the end:
// the drain sees the Stop at once, touches the closed output no more, and
// no end of file follows.
TEST_F(Sessions, StopDuringTheDrainLeavesTheClosedOutputAloneAndEndsNoFile) {
    engine().Control("length 300");
    host->settings.isPlaying = 1;  // the output never plays out by itself
    ASSERT_EQ(Play(kStream), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outIsPlaying.load() >= 2; }, 10000)) << engine().Log();
    CurrentPlayback()->Post(CmdSeek, 100);
    const DWORD took = TimedStop();
    EXPECT_LT(took, 3000u);
    EXPECT_FALSE(ForcedStopSeen());
    testsupport::PumpFor(300);
    EXPECT_EQ(host->counts.callsAfterClose.load(), 0);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
}

// The presentation ends while a seek is still pending: the host hears the
// end of the file, not a Stop command, and the closed output is not flushed.
TEST_F(Sessions, SeekPendingWhenThePresentationEndsEndsTheFile) {
    engine().Control("length 900; pace realtime; delay Seek 800");
    ASSERT_EQ(Play(kStream), 0);
    ASSERT_TRUE(PumpUntil([] { return g_module.GetOutputTime() >= 200; }));
    g_module.SetOutputTime(0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() >= 1; }, 10000)) << engine().Log();
    testsupport::PumpFor(200);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 1);
    EXPECT_EQ(host->counts.stopCommands.load(), 0);
    EXPECT_EQ(host->counts.callsAfterClose.load(), 0);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

// An Open that the stopped playback's presentation makes late must not open
// the output again, twice in a row: every open output gets its close.
TEST_F(Sessions, OutputStaysShutAfterStopAndIsClosedAsOftenAsOpened) {
    engine().Control("length 60000; delay Begin 300; delay Stop 600");
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Play(kStream), 0) << "round " << round;
        g_module.Stop();
        testsupport::PumpFor(100);
    }
    EXPECT_EQ(host->counts.outOpen.load(), host->counts.outClose.load());
    EXPECT_EQ(host->counts.callsAfterClose.load(), 0);
    
}

// A video site that the engine asks for while Stop runs is destroyed and
// given back at once, so nothing of the engine outlives it (checked again
// after Quit by every scenario).
TEST_F(Sessions, VideoSiteOfAStoppedPlaybackIsGivenBack) {
    engine().Control("length 60000; video on");
    ASSERT_EQ(Play(kStream), 0);
    g_module.Stop();
    ASSERT_TRUE(PumpUntil([&] { return engine().Query("sites") == 0; }, 5000));
    EXPECT_EQ(CurrentPlayback(), nullptr);
}

}  // namespace
