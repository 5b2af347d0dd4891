// Errors, video and credentials through the module record, against the
// stand-in engine and a host of real windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "core/playback.h"
#include "engine/site_supplier.h"
#include "support/test_support.h"

using namespace core;

namespace {

using testsupport::FakeHost;
using testsupport::MessageBoxWatcher;
using testsupport::PumpUntil;
using testsupport::SimEngine;

class Presentation : public testing::Test {
protected:
    void SetUp() override {
        engine().Reset();
        host = std::make_unique<FakeHost>();
    }

    void TearDown() override {
        host.reset();
        testsupport::ExpectCleanPluginState();
        EXPECT_EQ(CurrentPlayback(), nullptr);
        EXPECT_EQ(engine().Query("sites"), 0) << "a video window outlived the presentation";
        EXPECT_EQ(engine().Query("live"), 0) << engine().Alive();
        EXPECT_EQ(engine().Query("clientrefs"), 0);
    }

    static SimEngine& engine() { return SimEngine::Get(); }
    int Play(const std::string& url) { return host->Play(url.c_str()); }
    // Waits until the host has stopped the plug-in and no thread is left.
    bool WaitForStopped(DWORD timeoutMs = 15000) {
        return PumpUntil([&] {
            return host->counts.stopCalls.load() + host->counts.endOfFileMessages.load() > 0 &&
                   CurrentPlayback() == nullptr;
        }, timeoutMs);
    }

    // The video window once it is on screen; null when it never came.
    static HWND WaitForVideoWindow() {
        HWND video = nullptr;
        const bool shown = PumpUntil([&] {
            video = testsupport::CurrentVideoWindow();
            return video && IsWindow(video) && IsWindowVisible(video);
        });
        return shown ? video : nullptr;
    }

    std::unique_ptr<FakeHost> host;
};

TEST_F(Presentation, ErrorWhilePlayingShowsItsBoxStopsAndTheNextPlayWorks) {
    MessageBoxWatcher watcher;
    ASSERT_EQ(engine().Control("length 3000; error play:200 0x8004004D 2 Lost the stream"), 0);
    ASSERT_EQ(Play("rtsp://example.com/live.rm"), 0);
    ASSERT_TRUE(watcher.WaitForCount(1)) << engine().Log();
    ASSERT_TRUE(WaitForStopped()) << "state " << testsupport::CurrentState();
    testsupport::PumpFor(300);  // let any late Stop command arrive

    auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].text, "Connection to server is disconnected\r\nLost the stream");
    EXPECT_EQ(boxes[0].owner, host->window());
    EXPECT_GE(host->counts.stopCommands.load(), 1);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
    EXPECT_EQ(CurrentPlayback(), nullptr);
    EXPECT_EQ(engine().Query("playing"), 0);

    ASSERT_EQ(engine().Control("reset; length 400"), 0);
    host->counts.stopCalls = 0;
    ASSERT_EQ(Play("rtsp://example.com/live.rm"), 0);
    ASSERT_TRUE(WaitForStopped());
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 1) << "the second presentation plays to its end";
    EXPECT_EQ(watcher.Count(), 1u);
}

// The engine pauses its audio device before it reports an error, and
// closes it only after: at ErrorOccurred the device is paused (the seek's
// own pause counts), whether the error comes while sound flows or after a
// seek, and the device is closed once, after the report.
TEST_F(Presentation, EngineErrorFindsTheDevicePausedAndClosesItAfter) {
    for (const bool atSeek : {false, true}) {
        SCOPED_TRACE(atSeek ? "error at a seek" : "error while playing");
        MessageBoxWatcher watcher;
        ASSERT_EQ(engine().Control(atSeek ? "reset; length 3000; error seek 0x8004004D"
                                          : "reset; length 3000; error play:300 0x8004004D"), 0);
        host->counts.stopCalls = 0;
        ASSERT_EQ(Play("rtsp://example.com/live.rm"), 0);
        ASSERT_TRUE(PumpUntil([&] { return engine().LogHas("Device.Resume"); })) << engine().Log();
        if (atSeek) g_module.SetOutputTime(1000);
        ASSERT_TRUE(watcher.WaitForCount(1)) << engine().Log();
        ASSERT_TRUE(WaitForStopped());
        const std::string log = "\n" + engine().Log();
        const size_t error = log.find("\nErrorSink.ErrorOccurred");
        ASSERT_NE(error, std::string::npos) << log;
        if (atSeek) {
            ASSERT_LT(log.find("\nDevice.Reset"), error) << log;
        }
        const size_t pause = log.rfind("\nDevice.Pause", error), resume = log.rfind("\nDevice.Resume", error);
        ASSERT_NE(pause, std::string::npos) << log;
        EXPECT_TRUE(resume == std::string::npos || resume < pause) << "the device plays on at the report:" << log;
        EXPECT_EQ(log.rfind("\nDevice.Close", error), std::string::npos) << log;
        EXPECT_NE(log.find("\nDevice.Close 1", error), std::string::npos) << log;
    }
}

TEST_F(Presentation, VideoOpensItsWindowBesideTheHostAndLeavesNothingBehind) {
    ASSERT_EQ(engine().Control("video on; playto left; length 1500; pace realtime"), 0);
    ASSERT_EQ(Play("rtsp://example.com/clip.rm"), 0);
    const HWND video = WaitForVideoWindow();
    ASSERT_NE(video, nullptr) << engine().Log();
    char caption[64] = {};
    GetWindowTextA(video, caption, sizeof(caption));
    EXPECT_EQ(std::string(caption), "Video Window");
    EXPECT_EQ(GetWindow(video, GW_OWNER), host->window());
    RECT placed;
    GetWindowRect(video, &placed);
    EXPECT_EQ(placed.left, 375);
    EXPECT_EQ(placed.top, 50);
    EXPECT_EQ(engine().Query("sites"), 1);

    ASSERT_TRUE(WaitForStopped());
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(video); }, 5000));
}

TEST_F(Presentation, StopDuringVideoClosesTheWindowAtOnce) {
    ASSERT_EQ(engine().Control("video on; name main; length 5000; pace realtime"), 0);
    ASSERT_EQ(Play("rtsp://example.com/clip.rm"), 0);
    ASSERT_TRUE(PumpUntil([&] { return testsupport::CurrentVideoWindow() != nullptr; })) << engine().Log();
    HWND video = testsupport::CurrentVideoWindow();
    g_module.Stop();
    EXPECT_EQ(CurrentPlayback(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(video); }, 5000));
}

// The engine draws into the window it was given, on that window's own
// thread: a pixel read back from the screen is part of a picture (the
// window's background is black, the picture has no black there) and changes
// while the presentation plays.
TEST_F(Presentation, VideoWindowShowsAPictureThatMoves) {
    ASSERT_EQ(engine().Control("video on; length 10000; pace realtime"), 0);
    ASSERT_EQ(Play("rtsp://example.com/clip.rm"), 0);
    const HWND video = WaitForVideoWindow();
    ASSERT_NE(video, nullptr) << engine().Log();
    RECT client{};
    GetClientRect(video, &client);
    const POINT probe = {client.right / 2, client.bottom / 4};
    auto pixel = [&] {
        HDC dc = GetDC(video);
        const COLORREF colour = GetPixel(dc, probe.x, probe.y);
        ReleaseDC(video, dc);
        return colour;
    };
    COLORREF first = CLR_INVALID;
    EXPECT_TRUE(PumpUntil([&] {
        first = pixel();
        return first != CLR_INVALID && first != RGB(0, 0, 0);
    }, 3000)) << "no picture; the pixel reads " << std::hex << first;
    COLORREF later = first;
    EXPECT_TRUE(PumpUntil([&] {
        later = pixel();
        return later != first && later != CLR_INVALID && later != RGB(0, 0, 0);
    }, 3000)) << "the picture stands still at " << std::hex << first;
    g_module.Stop();
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(video); }, 5000));
}

// A site the engine asks for while the host stops does not outlive the
// engine (the teardown would find it alive).
TEST_F(Presentation, StopBeforeTheVideoSiteComesLeavesNoSiteBehind) {
    ASSERT_EQ(engine().Control("video on; length 5000; delay Stop 300"), 0);
    ASSERT_EQ(Play("rtsp://example.com/clip.rm"), 0);
    g_module.Stop();
    EXPECT_EQ(CurrentPlayback(), nullptr);
}

TEST_F(Presentation, CredentialsAreDeclinedAndThePresentationFails) {
    MessageBoxWatcher watcher;
    ASSERT_EQ(engine().Control("authmarker auth="), 0);
    Play("rtsp://example.com/protected.rm?auth=1");
    ASSERT_TRUE(watcher.WaitForCount(1)) << engine().Log();
    ASSERT_TRUE(PumpUntil([&] {
        return CurrentPlayback() == nullptr;
    }, 15000));
    auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The requested data is not authorized");
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
}

}  // namespace
