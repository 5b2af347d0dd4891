// The error sink's box over a real host window, and what follows it.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/rma.h"
#include "core/com_ptr.h"
#include "audio/audio_device.h"
#include "engine/authentication_manager.h"
#include "engine/client_advise_sink.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"
#include "core/playback_state.h"
#include "support/test_support.h"

using namespace core;

namespace {

// ---- the error sink over a real host window -------------------------------------

class ErrorSinkTest : public ::testing::Test {
protected:
    void SetUp() override { host.settings.stopOnMessages = false; }
    void TearDown() override { SetPlaybackState(StateIdle); }

    // Reports an error from an engine-like thread and waits for the box to be answered.
    void Report(std::uint32_t code, const char* userString) {
        SetPlaybackState(StatePlaying);
        HRESULT result = -1;
        testsupport::EngineThreadCall report(
            [&] { result = sink->ErrorOccurred(2, code, 77, userString, "http://example.com/more"); });
        ASSERT_TRUE(report.Finish(15000)) << "ErrorOccurred did not return";
        EXPECT_EQ(result, 0);
        testsupport::PumpFor(50);
    }

    testsupport::FakeHost host;
    testsupport::MessageBoxWatcher watcher;
    core::ComPtr<rma::IRMAErrorSink> sink{engine::NewErrorSink()};
};

// The user stops while the box is up: once answered, the box neither fails
// the stopped playback (every later Play would be refused) nor stops the host.
TEST_F(ErrorSinkTest, BoxAnsweredAfterStopLeavesTheStoppedPlaybackAlone) {
    SetPlaybackState(StatePlaying);
    watcher.SetAnswer(0);  // seen, left up
    testsupport::EngineThreadCall report([&] { sink->ErrorOccurred(2, 0x80040089, 0, nullptr, nullptr); });
    ASSERT_TRUE(watcher.WaitForCount(1));
    EXPECT_EQ(PlaybackBoxesShowing(), 1);
    NewGeneration();  // what Stop does first, and Idle what it does last
    SetPlaybackState(StateIdle);
    ClosePlaybackBoxes();
    ASSERT_TRUE(report.Finish());
    testsupport::PumpFor(50);
    EXPECT_EQ(GetPlaybackState(), StateIdle);
    EXPECT_EQ(host.counts.stopCommands.load(), 0);
    EXPECT_EQ(PlaybackBoxesShowing(), 0);
}

TEST_F(ErrorSinkTest, EachReportShowsOneBoxThenFailsAndStopsOnce) {
    struct Case {
        std::uint32_t code;
        const char* userString;
        const char* shown;
    };
    const Case cases[] = {
        {0x80040089, nullptr, "File not found"},
        {0x80040089, "", "File not found"},
        {0x80040089, "C:\\music\\gone.rm", "File not found\r\nC:\\music\\gone.rm"},
        {0x00000000, nullptr, "OK"},
        {0x80040FC5, "odd", "Unknown error\r\nodd"},
    };
    int stops = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        watcher.Clear();
        Report(c.code, c.userString);
        auto boxes = watcher.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].text, c.shown);
        EXPECT_EQ(boxes[0].owner, host.window());
        EXPECT_TRUE(boxes[0].hasIcon);
        EXPECT_EQ(boxes[0].buttons, 1);
        EXPECT_EQ(g_state.playbackState.load(), StateFailed);
        EXPECT_EQ(host.counts.stopCommands.load(), ++stops);
    }
    EXPECT_EQ(host.counts.endOfFileMessages.load(), 0);
}

}  // namespace
