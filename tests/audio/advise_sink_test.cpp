// The advise sink's reports and captions, the status window read back from
// real windows, and the client context's delegation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "audio/output_gate.h"
#include "engine/client_advise_sink.h"
#include "engine/client_context.h"
#include "audio/audio_device.h"
#include "engine/authentication_manager.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"
#include "engine_standins.h"
#include "core/playback.h"
#include "support/test_support.h"
#include "ui/status_window.h"

using namespace core;

namespace {

std::string Caption(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

LONG CountOf(IUnknown* object) {
    object->AddRef();
    return static_cast<LONG>(object->Release());
}

class AdviseSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.settings.stopOnMessages = false;
        sink = engine::NewClientAdviseSink(&player);
        ASSERT_NE(sink, nullptr);
        sink->AddRef();
    }
    void TearDown() override {
        player.DropSinks();
        EXPECT_EQ(sink->Release(), 0u);
        EXPECT_EQ(player.refs(), 1);
    }

    testsupport::FakeHost host;
    testsupport::TestPlayback playing{StatePlaying};
    standins::Player player;
    rma::IRMAClientAdviseSink* sink = nullptr;
};

TEST_F(AdviseSinkTest, RegistersWithThePlayerAndStoresPositionAndLength) {
    ASSERT_EQ(player.sinks.size(), 1u);
    EXPECT_EQ(player.sinks[0], sink);
    EXPECT_EQ(player.refs(), 2) << "the sink holds the player";
    EXPECT_EQ(sink->OnPosLength(1200, 3000), 0);
    EXPECT_EQ(playing->PositionMs(), 1200);
    EXPECT_EQ(playing->LengthMs(), 3000);

    void* out = nullptr;
    EXPECT_EQ(sink->QueryInterface(rma::IID_IRMAErrorSink, &out), rma::kNoInterface);
    EXPECT_EQ(out, nullptr);
}

TEST_F(AdviseSinkTest, SinkWithoutPlayerHoldsNothing) {
    standins::Player unanswering;
    unanswering.offerPlayer = false;
    rma::IRMAClientAdviseSink* lone = engine::NewClientAdviseSink(nullptr);
    rma::IRMAClientAdviseSink* unregistered = engine::NewClientAdviseSink(&unanswering);
    lone->AddRef();
    unregistered->AddRef();
    EXPECT_TRUE(unanswering.sinks.empty());
    EXPECT_EQ(lone->Release(), 0u);
    EXPECT_EQ(unregistered->Release(), 0u);
    EXPECT_EQ(unanswering.refs(), 1);
}

TEST_F(AdviseSinkTest, SeekFlushesBeforeTheStateChanges) {
    static int stateAtFlush;
    // The playback's own output, changed in place: it keeps the output it
    // was started with.
    const winamp::Out_Module original = *g_module.outMod;
    g_module.outMod->Flush = [](int) { stateAtFlush = testsupport::CurrentState(); };
    // The output as the playback's thread opens it.
    ASSERT_TRUE(audio::RequestOutputOpen(*playing, 44100, 2, 16));
    EXPECT_EQ(playing.TakeCommands(), "5");
    ASSERT_TRUE(audio::OpenOutputModule(*playing));
    playing->ForceStateForTesting(StateSeekRequested);
    EXPECT_EQ(sink->OnPreSeek(500, 2500), 0);
    *g_module.outMod = original;
    EXPECT_EQ(stateAtFlush, StateSeekRequested);
    EXPECT_EQ(playing->State(), StateSeeking);

    EXPECT_EQ(sink->OnPreSeek(0, 700), 0);
    EXPECT_EQ(host.counts.lastFlush, 700);
    playing->ForceStateForTesting(StateSeekRequested);
    EXPECT_EQ(sink->OnPostSeek(0, 700), 0);
    EXPECT_EQ(playing->State(), StatePlaying) << "also without an OnPreSeek before";

    // Reports that come after Stop neither revive the playback nor flush the
    // closed output.
    playing.Close();
    host.counts.lastFlush = -1;
    EXPECT_EQ(sink->OnPreSeek(0, 900), 0);
    EXPECT_EQ(sink->OnPostSeek(0, 900), 0);
    EXPECT_EQ(playing->State(), StatePlaying);
    EXPECT_EQ(host.counts.lastFlush, -1);
}

TEST_F(AdviseSinkTest, StopTellsThreadAndHostByState) {
    const struct {
        PlaybackState before, after;
        const char* commands;
        int hostStops;
    } rows[] = {
        {StatePlaying, StatePlaying, "2", 0},
        {StateOpened, StateOpened, "1", 1},
        {StateStarting, StateFailed, "1", 1},
        // A seek still pending when the presentation ends: the end of file.
        {StateSeekRequested, StateSeekRequested, "2", 0},
        {StateSeeking, StateSeeking, "2", 0},
        // Whoever failed the playback tells the host, after its box.
        {StateFailed, StateFailed, "1", 0},
        // The playback's thread has ended: nothing to end and nothing to fail.
        {StateIdle, StateIdle, "", 0},
    };
    for (const auto& row : rows) {
        testsupport::TestPlayback current(row.before);
        host.counts.stopCommands = 0;
        EXPECT_EQ(sink->OnStop(), 0);
        EXPECT_EQ(current->State(), row.after) << "from " << row.before;
        EXPECT_EQ(current.TakeCommands(), row.commands) << "from " << row.before;
        testsupport::PumpFor(30);
        EXPECT_EQ(host.counts.stopCommands.load(), row.hostStops) << "from " << row.before;
    }
}

// An error reported stands until the host's Stop: the reports of a seek
// the engine was carrying out do not overwrite it (the host then got both
// an end of file and the box's Stop), nor does the device's Open.
TEST_F(AdviseSinkTest, ReportsAfterAnErrorLeaveItStanding) {
    playing->ForceStateForTesting(StateSeekRequested);
    ASSERT_TRUE(playing->IsOrBecomesFailed());
    EXPECT_EQ(sink->OnPreSeek(0, 500), 0);
    EXPECT_EQ(playing->State(), StateFailed);
    EXPECT_EQ(sink->OnPostSeek(0, 500), 0);
    EXPECT_EQ(playing->State(), StateFailed);
    EXPECT_FALSE(playing->Move(StatePlaying));
    EXPECT_FALSE(playing->Move(StateSeekRequested)) << "a seek of a failed playback";
    EXPECT_EQ(sink->OnStop(), 0);
    EXPECT_EQ(playing->State(), StateFailed);
    EXPECT_EQ(playing.TakeCommands(), "1");
}

// An OnStop that answers the playback thread's own stop, or that belongs
// to a playback which has been stopped (and maybe followed by a new one),
// touches nothing: before, it stopped the next playback.
TEST_F(AdviseSinkTest, StopOfAnEndedPlaybackIsDropped) {
    playing->MarkStopping();
    EXPECT_EQ(sink->OnStop(), 0);
    EXPECT_EQ(playing.TakeCommands(), "");

    playing.Close();  // Stop, then Play: the next one has not begun
    auto fresh = std::make_shared<Playback>("b.rm", "file:b.rm", false);
    InstallPlayback(fresh);
    EXPECT_EQ(sink->OnStop(), 0);
    testsupport::PumpFor(30);
    EXPECT_EQ(fresh->State(), StateStarting);
    int command = 0, argument = 0;
    EXPECT_FALSE(fresh->TakeCommand(&command, &argument)) << "command " << command;
    EXPECT_EQ(host.counts.stopCommands.load(), 0);
    EXPECT_EQ(TakePlayback(), fresh);

    // Nothing of a closed playback is queued, posted or written any more.
    EXPECT_FALSE(playing->Post(CmdStop, 0));
    EXPECT_FALSE(playing->PostToHost(winamp::kEndOfFileMessage, 0));
    EXPECT_FALSE(playing->Move(StatePlaying));
    EXPECT_FALSE(playing->QueueFailureBox("late", "Error"));
    testsupport::PumpFor(30);
    EXPECT_EQ(host.counts.endOfFileMessages.load(), 0);
}

TEST_F(AdviseSinkTest, BufferingAndContactingCaptions) {
    // A report on the host's thread runs under the engine's lock: the
    // caption is made from the next plain dispatch, never inside it.
    EXPECT_EQ(sink->OnBuffering(0xFFFF, 99), 0);
    EXPECT_EQ(playing->caption, nullptr) << "a window made inside the engine's report";
    testsupport::DispatchWaiting();
    HWND status = playing->caption;
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(Caption(status), "Buffering 99%");
    sink->OnBuffering(0, 0);
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), "Buffering 0%");
    sink->OnBuffering(0, 100);
    testsupport::DispatchWaiting();
    sink->OnBuffering(0, 150);
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), "Buffering 0%");
    EXPECT_TRUE(IsWindowVisible(status));

    sink->OnContacting("Contacting example.com");

    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), "Contacting example.com");
    sink->OnContacting("contacting example.com");
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), "Contacting contacting example.com");
    sink->OnContacting("Contact");
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), "Contacting Contact");

    const std::string longHost(400, 'h');
    sink->OnContacting(longHost.c_str());
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), ("Contacting " + longHost).substr(0, 255));
    sink->OnContacting(("Contacting " + longHost).c_str());
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(status), ("Contacting " + longHost).substr(0, 255));

    sink->OnPosLength(10, 20);

    testsupport::DispatchWaiting();
    EXPECT_FALSE(IsWindowVisible(status));
    EXPECT_EQ(playing->caption, status) << "hidden and kept without a video window";
}

class StatusWindowTest : public AdviseSinkTest {};

TEST_F(StatusWindowTest, PlacedRightOfTheHostAndReused) {
    RECT hostRect;
    GetWindowRect(host.window(), &hostRect);
    ASSERT_EQ(hostRect.left, 100);
    ASSERT_EQ(hostRect.top, 50);
    ASSERT_EQ(hostRect.right, 375);

    ui::ShowStatusText(playing.ref, "Buffering 40%");

    testsupport::DispatchWaiting();
    HWND status = playing->caption;
    ASSERT_NE(status, nullptr);
    RECT rect;
    GetWindowRect(status, &rect);
    EXPECT_EQ(rect.left, 375);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_TRUE(IsWindowVisible(status));
    EXPECT_EQ(GetWindow(status, GW_OWNER), host.window());
    EXPECT_EQ(GetWindowLongA(status, GWL_STYLE) & WS_CHILD, 0);
    char className[32] = {};
    GetClassNameA(status, className, sizeof className);
    EXPECT_STREQ(className, "Static");

    ui::HideStatusWindow(playing.ref);

    testsupport::DispatchWaiting();
    EXPECT_FALSE(IsWindowVisible(status));
    EXPECT_TRUE(IsWindow(status));

    // The next text reuses the same window, moved to follow the host.
    SetWindowPos(host.window(), nullptr, 200, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ui::ShowStatusText(playing.ref, "Contacting a");
    testsupport::DispatchWaiting();
    EXPECT_EQ(playing->caption, status);
    EXPECT_EQ(Caption(status), "Contacting a");
    GetWindowRect(status, &rect);
    EXPECT_EQ(rect.left, 475);
    EXPECT_EQ(rect.top, 80);
    SetWindowPos(host.window(), nullptr, 100, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

TEST_F(StatusWindowTest, QuietModeShowsNothing) {
    playing.Close();
    testsupport::TestPlayback quiet(StatePlaying, true);
    ui::ShowStatusText(quiet.ref, "Buffering 10%");
    testsupport::DispatchWaiting();
    EXPECT_EQ(quiet->caption, nullptr);
    ui::HideStatusWindow(quiet.ref);
    testsupport::DispatchWaiting();
    EXPECT_EQ(quiet->caption, nullptr);
}

TEST_F(StatusWindowTest, VisibleVideoWindowCarriesTheCaption) {
    ui::ShowStatusText(playing.ref, "left over");
    testsupport::DispatchWaiting();
    HWND leftOver = playing->caption;
    ui::HideStatusWindow(playing.ref);
    testsupport::DispatchWaiting();
    ASSERT_TRUE(IsWindow(leftOver));

    HWND video = CreateWindowExA(0, "STATIC", "Video Window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 375, 50, 200, 150,
                                 host.window(), nullptr, nullptr, nullptr);
    playing->AdoptVideoSite(nullptr, video);
    ui::ShowStatusText(playing.ref, "Buffering 40%");
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(video), "Buffering 40%");
    EXPECT_FALSE(IsWindowVisible(leftOver));

    ui::HideStatusWindow(playing.ref);

    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(video), "Video Window");
    EXPECT_FALSE(IsWindow(leftOver)) << "restoring the caption destroys the status window";
    EXPECT_EQ(playing->caption, nullptr);

    // A hidden video window gets the text, and so does the status window.
    ShowWindow(video, SW_HIDE);
    ui::ShowStatusText(playing.ref, "Buffering 60%");
    testsupport::DispatchWaiting();
    EXPECT_EQ(Caption(video), "Buffering 60%");
    ASSERT_NE(playing->caption, nullptr);
    EXPECT_EQ(Caption(playing->caption), "Buffering 60%");
    EXPECT_TRUE(IsWindowVisible(playing->caption));
    ui::HideStatusWindow(playing.ref);
    testsupport::DispatchWaiting();
    EXPECT_EQ(playing->caption, nullptr);
    DestroyWindow(video);
}

// Windows belong to the host's thread whichever thread asks: the caption an
// engine thread shows is made there and outlives that thread, and the
// host's Stop called on yet another thread destroys it.
TEST_F(StatusWindowTest, CaptionIsTheHostThreadsWhicheverThreadAsks) {
    testsupport::EngineThreadCall show([&] { sink->OnBuffering(0, 30); });
    ASSERT_TRUE(show.Finish());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return playing->caption != nullptr; }, 2000));
    HWND status = playing->caption;
    EXPECT_EQ(GetWindowThreadProcessId(status, nullptr), GetCurrentThreadId());
    EXPECT_EQ(Caption(status), "Buffering 30%");
    EXPECT_TRUE(IsWindowVisible(status));

    testsupport::EngineThreadCall stop([] { g_module.Stop(); });
    ASSERT_TRUE(stop.Finish());
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !IsWindow(status); }, 2000)) << "the caption outlived Stop";
    EXPECT_EQ(playing->caption, nullptr);
    EXPECT_EQ(CurrentPlayback(), nullptr);
}

TEST(ClientContextTest, DelegatesInOrderAndHoldsOneReferenceEach) {
    testsupport::FakeHost host;
    standins::Player player;
    auto* context = new engine::ClientContext();
    context->AddRef();
    context->CreateResponders(&player);
    ASSERT_EQ(player.sinks.size(), 1u);
    EXPECT_EQ(CountOf(context), 1);

    IUnknown* members[] = {context->AdviseSink(), context->ErrorSinkMember(),
                           context->AuthenticationManagerMember(), context->SiteSupplierMember()};
    for (IUnknown* member : members) ASSERT_NE(member, nullptr);
    EXPECT_EQ(CountOf(members[0]), 2) << "context and player";
    for (IUnknown* member : {members[1], members[2], members[3]}) EXPECT_EQ(CountOf(member), 1);

    void* out = nullptr;
    ASSERT_EQ(context->QueryInterface(rma::IID_Unknown, &out), 0);
    EXPECT_EQ(out, static_cast<void*>(static_cast<IUnknown*>(context)));
    EXPECT_EQ(CountOf(context), 2);
    context->Release();

    const struct {
        const GUID* id;
        IUnknown* expected;
    } routes[] = {{&rma::IID_IRMAClientAdviseSink, members[0]},
                  {&rma::IID_IRMAErrorSink, members[1]},
                  {&rma::IID_IRMAAuthenticationManager, members[2]},
                  {&rma::IID_IRMASiteSupplier, members[3]}};
    for (const auto& route : routes) {
        LONG before = CountOf(route.expected);
        ASSERT_EQ(context->QueryInterface(*route.id, &out), 0);
        EXPECT_EQ(static_cast<IUnknown*>(out), route.expected);
        EXPECT_EQ(CountOf(route.expected), before + 1);
        route.expected->Release();
    }
    out = &out;
    EXPECT_EQ(context->QueryInterface(rma::IID_IRMAScheduler, &out), rma::kNoInterface);
    EXPECT_EQ(out, nullptr);

    context->CreateResponders(&player);
    EXPECT_EQ(player.sinks.size(), 1u);
    EXPECT_EQ(CountOf(members[0]), 2);
    EXPECT_EQ(CountOf(members[1]), 1);

    player.DropSinks();
    EXPECT_EQ(context->Release(), 0u);
    EXPECT_EQ(player.refs(), 1);
}

}  // namespace
