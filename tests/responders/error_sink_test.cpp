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
#include "core/playback.h"
#include "support/test_support.h"

using namespace core;

namespace {

// ---- the error sink over a real host window -------------------------------------

class ErrorSinkTest : public ::testing::Test {
protected:
    void SetUp() override { host.settings.stopOnMessages = false; }

    testsupport::FakeHost host;
    testsupport::MessageBoxWatcher watcher;
    core::ComPtr<rma::IRMAErrorSink> sink{engine::NewErrorSink()};
};

// The engine reports on its system thread (the host's) holding its lock:
// the report fails the playback at once and leaves the box, with the text
// for the code, to the playback thread; one box a playback.
TEST_F(ErrorSinkTest, EachReportFailsThePlaybackAndQueuesItsOneBox) {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        testsupport::TestPlayback playing(StatePlaying);
        EXPECT_EQ(sink->ErrorOccurred(2, c.code, 77, c.userString, "http://example.com/more"), 0);
        EXPECT_EQ(playing->State(), StateFailed);
        EXPECT_EQ(sink->ErrorOccurred(3, 0x8004004D, 0, nullptr, nullptr), 0) << "a second report";
        FailureBox box;
        ASSERT_TRUE(playing->TakeFailureBox(&box));
        EXPECT_STREQ(box.caption, "Error");
        EXPECT_STREQ(box.text, c.shown);
        EXPECT_FALSE(playing->TakeFailureBox(&box)) << "one box a playback";
        EXPECT_EQ(playing.TakeCommands(), "4");
    }
    testsupport::PumpFor(50);
    EXPECT_EQ(watcher.Count(), 0u) << "no box inside the engine's call";
    EXPECT_EQ(host.counts.stopCommands.load(), 0) << "the playback thread tells the host, after the box";
    EXPECT_EQ(host.counts.endOfFileMessages.load(), 0);
}

// An error the engine reports after the user stopped neither fails the
// stopped playback (every later Play would be refused) nor shows a box.
TEST_F(ErrorSinkTest, ReportAfterStopLeavesTheStoppedPlaybackAlone) {
    testsupport::TestPlayback stopped(StatePlaying);
    stopped.Close();
    EXPECT_EQ(sink->ErrorOccurred(3, 0x80040089, 0, nullptr, nullptr), 0);
    EXPECT_EQ(stopped->State(), StatePlaying);
    FailureBox box;
    EXPECT_FALSE(stopped->TakeFailureBox(&box));
    // Nor one whose thread has ended by itself.
    testsupport::TestPlayback ended(StateIdle);
    EXPECT_EQ(sink->ErrorOccurred(3, 0x80040089, 0, nullptr, nullptr), 0);
    EXPECT_EQ(ended->State(), StateIdle);
    EXPECT_FALSE(ended->TakeFailureBox(&box));
}

}  // namespace
