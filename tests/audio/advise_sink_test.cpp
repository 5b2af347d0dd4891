// The advise sink's reports and captions, the status window read back from
// real windows, and the client context's delegation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "audio/output_gate.h"
#include "engine/client_advise_sink.h"
#include "engine/client_context.h"
#include "audio/audio_device.h"
#include "engine/authentication_manager.h"
#include "engine/error_sink.h"
#include "engine/site_supplier.h"
#include "engine_standins.h"
#include "core/playback_state.h"
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

// Stands in for the playback thread: a real thread with a message queue that
// records the player commands it receives.
class CommandThread {
public:
    CommandThread() {
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD id = 0;
        handle_ = CreateThread(nullptr, 0, Run, this, 0, &id);
        WaitForSingleObject(ready_, 5000);
        // A playback of its own that has begun its presentation.
        generation_ = NewGeneration();
        PublishPlaybackThread(generation_, handle_, id);
        MarkPlayerBegun(generation_);
    }
    ~CommandThread() {
        const PlaybackThreadRef taken = TakePlaybackThread();
        PostThreadMessageA(taken.id, WM_QUIT, 0, 0);
        WaitForSingleObject(handle_, 5000);
        CloseHandle(handle_);
        CloseHandle(ready_);
    }
    std::uint32_t generation() const { return generation_; }
    HANDLE handle() const { return handle_; }
    // Waits until `count` commands arrived; returns them as digits.
    std::string Commands(size_t count) {
        for (int i = 0; i < 500 && received_.load() < static_cast<int>(count); ++i) Sleep(10);
        return std::string(commands_, static_cast<size_t>(received_.load()));
    }

private:
    static DWORD WINAPI Run(void* param) {
        auto* self = static_cast<CommandThread*>(param);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        SetEvent(self->ready_);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == PlayerCommandMessage && self->received_.load() < 16) {
                self->commands_[self->received_.load()] = static_cast<char>('0' + msg.wParam);
                ++self->received_;
            }
        }
        return 0;
    }
    HANDLE handle_;
    HANDLE ready_;
    std::uint32_t generation_ = 0;
    char commands_[16] = {};
    std::atomic<int> received_{0};
};

class AdviseSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPlaybackState(StateIdle);
        audio::ReopenOutputGate();
        host.settings.stopOnMessages = false;
        sink = engine::NewClientAdviseSink(&player);
        ASSERT_NE(sink, nullptr);
        sink->AddRef();
    }
    void TearDown() override {
        player.DropSinks();
        EXPECT_EQ(sink->Release(), 0u);
        EXPECT_EQ(player.refs(), 1);
        if (g_state.statusWindow.load()) DestroyWindow(g_state.statusWindow);
        g_state.statusWindow = nullptr;
        g_state.videoWindow = nullptr;
        g_state.quietStatus = 0;
        SetPlaybackState(StateIdle);
    }

    testsupport::FakeHost host;
    standins::Player player;
    rma::IRMAClientAdviseSink* sink = nullptr;
};

TEST_F(AdviseSinkTest, RegistersWithThePlayerAndStoresPositionAndLength) {
    ASSERT_EQ(player.sinks.size(), 1u);
    EXPECT_EQ(player.sinks[0], sink);
    EXPECT_EQ(player.refs(), 2) << "the sink holds the player";
    EXPECT_EQ(sink->OnPosLength(1200, 3000), 0);
    EXPECT_EQ(g_state.positionMs.load(), 1200);
    EXPECT_EQ(g_state.lengthMs.load(), 3000);

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
    winamp::Out_Module recording = *g_module.outMod;
    winamp::Out_Module* original = g_module.outMod;
    recording.Flush = [](int) { stateAtFlush = g_state.playbackState.load(); };
    g_module.outMod = &recording;
    SetPlaybackState(StateSeekRequested);
    EXPECT_EQ(sink->OnPreSeek(500, 2500), 0);
    g_module.outMod = original;
    EXPECT_EQ(stateAtFlush, StateSeekRequested);
    EXPECT_EQ(GetPlaybackState(), StateSeeking);

    EXPECT_EQ(sink->OnPreSeek(0, 700), 0);
    EXPECT_EQ(host.counts.lastFlush, 700) << "flushed also when the output module is not open";
    SetPlaybackState(StateOpened);
    EXPECT_EQ(sink->OnPostSeek(0, 700), 0);
    EXPECT_EQ(GetPlaybackState(), StatePlaying) << "also without an OnPreSeek before";

    // Reports that come after Stop neither revive the playback nor flush the
    // closed output: Play would refuse every later track.
    SetPlaybackState(StateIdle);
    audio::CloseOutputModule();
    host.counts.lastFlush = -1;
    EXPECT_EQ(sink->OnPreSeek(0, 900), 0);
    EXPECT_EQ(sink->OnPostSeek(0, 900), 0);
    EXPECT_EQ(GetPlaybackState(), StateIdle);
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
        // No playback: nothing to end and nothing to fail.
        {StateIdle, StateIdle, "", 0},
    };
    for (const auto& row : rows) {
        CommandThread thread;
        host.counts.stopCommands = 0;
        SetPlaybackState(row.before);
        EXPECT_EQ(sink->OnStop(), 0);
        EXPECT_EQ(GetPlaybackState(), row.after) << "from " << row.before;
        if (!*row.commands) Sleep(50);
        EXPECT_EQ(thread.Commands(std::strlen(row.commands)), row.commands) << "from " << row.before;
        testsupport::PumpFor(30);
        EXPECT_EQ(host.counts.stopCommands.load(), row.hostStops) << "from " << row.before;
    }
}

// An OnStop that answers the playback thread's own stop, or that belongs
// to a playback which has been stopped (and maybe followed by a new one),
// touches nothing: before, it stopped the next playback.
TEST_F(AdviseSinkTest, StopOfAnEndedPlaybackIsDropped) {
    {
        CommandThread thread;
        SetPlaybackState(StatePlaying);
        MarkPlayerStopping(thread.generation());
        EXPECT_EQ(sink->OnStop(), 0);
        Sleep(50);
        EXPECT_EQ(thread.Commands(0), "");
    }
    CommandThread stopped;
    const std::uint32_t next = NewGeneration();  // Stop, then Play
    PublishPlaybackThread(next, TakePlaybackThread().handle, GetThreadId(stopped.handle()));
    SetPlaybackState(StateStarting);
    EXPECT_EQ(sink->OnStop(), 0);
    testsupport::PumpFor(30);
    EXPECT_EQ(GetPlaybackState(), StateStarting);
    EXPECT_EQ(stopped.Commands(0), "");
    EXPECT_EQ(host.counts.stopCommands.load(), 0);
}

DWORD WINAPI SleepWithoutQueue(void*) {
    Sleep(2000);
    return 0;
}

// A command still being retried for a thread without a queue when the host
// stops and plays again is dropped, never delivered to the new thread.
TEST_F(AdviseSinkTest, CommandRetriedAcrossStopAndPlayNeverReachesTheNextThread) {
    DWORD id = 0;
    HANDLE queueless = CreateThread(nullptr, 0, SleepWithoutQueue, nullptr, 0, &id);
    const std::uint32_t first = NewGeneration();
    PublishPlaybackThread(first, queueless, id);
    std::thread engine([&] { PostPlayerCommand(first, CmdStop, 0); });
    Sleep(150);  // a failed attempt or two
    TakePlaybackThread();
    CommandThread next;
    engine.join();
    Sleep(50);
    EXPECT_EQ(next.Commands(0), "");
    WaitForSingleObject(queueless, 5000);
    CloseHandle(queueless);
}

TEST_F(AdviseSinkTest, BufferingAndContactingCaptions) {
    EXPECT_EQ(sink->OnBuffering(0xFFFF, 99), 0);
    HWND status = g_state.statusWindow;
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(Caption(status), "Buffering 99%");
    sink->OnBuffering(0, 0);
    EXPECT_EQ(Caption(status), "Buffering 0%");
    sink->OnBuffering(0, 100);
    sink->OnBuffering(0, 150);
    EXPECT_EQ(Caption(status), "Buffering 0%");
    EXPECT_TRUE(IsWindowVisible(status));

    sink->OnContacting("Contacting example.com");
    EXPECT_EQ(Caption(status), "Contacting example.com");
    sink->OnContacting("contacting example.com");
    EXPECT_EQ(Caption(status), "Contacting contacting example.com");
    sink->OnContacting("Contact");
    EXPECT_EQ(Caption(status), "Contacting Contact");

    const std::string longHost(400, 'h');
    sink->OnContacting(longHost.c_str());
    EXPECT_EQ(Caption(status), ("Contacting " + longHost).substr(0, 255));
    sink->OnContacting(("Contacting " + longHost).c_str());
    EXPECT_EQ(Caption(status), ("Contacting " + longHost).substr(0, 255));

    sink->OnPosLength(10, 20);
    EXPECT_FALSE(IsWindowVisible(status));
    EXPECT_EQ(g_state.statusWindow.load(), status) << "hidden and kept without a video window";
}

class StatusWindowTest : public AdviseSinkTest {};

TEST_F(StatusWindowTest, PlacedRightOfTheHostAndReused) {
    RECT hostRect;
    GetWindowRect(host.window(), &hostRect);
    ASSERT_EQ(hostRect.left, 100);
    ASSERT_EQ(hostRect.top, 50);
    ASSERT_EQ(hostRect.right, 375);

    ui::ShowStatusText("Buffering 40%");
    HWND status = g_state.statusWindow;
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

    ui::HideStatusWindow();
    EXPECT_FALSE(IsWindowVisible(status));
    EXPECT_TRUE(IsWindow(status));

    // The next text reuses the same window, moved to follow the host.
    SetWindowPos(host.window(), nullptr, 200, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ui::ShowStatusText("Contacting a");
    EXPECT_EQ(g_state.statusWindow.load(), status);
    EXPECT_EQ(Caption(status), "Contacting a");
    GetWindowRect(status, &rect);
    EXPECT_EQ(rect.left, 475);
    EXPECT_EQ(rect.top, 80);
    SetWindowPos(host.window(), nullptr, 100, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

TEST_F(StatusWindowTest, QuietModeShowsNothing) {
    g_state.quietStatus = 1;
    ui::ShowStatusText("Buffering 10%");
    EXPECT_EQ(g_state.statusWindow.load(), nullptr);
    ui::HideStatusWindow();
    EXPECT_EQ(g_state.statusWindow.load(), nullptr);
}

TEST_F(StatusWindowTest, VisibleVideoWindowCarriesTheCaption) {
    ui::ShowStatusText("left over");
    HWND leftOver = g_state.statusWindow;
    ui::HideStatusWindow();
    ASSERT_TRUE(IsWindow(leftOver));

    HWND video = CreateWindowExA(0, "STATIC", "Video Window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 375, 50, 200, 150,
                                 host.window(), nullptr, nullptr, nullptr);
    g_state.videoWindow = video;
    ui::ShowStatusText("Buffering 40%");
    EXPECT_EQ(Caption(video), "Buffering 40%");
    EXPECT_FALSE(IsWindowVisible(leftOver));

    ui::HideStatusWindow();
    EXPECT_EQ(Caption(video), "Video Window");
    EXPECT_FALSE(IsWindow(leftOver)) << "restoring the caption destroys the status window";
    EXPECT_EQ(g_state.statusWindow.load(), nullptr);

    // A hidden video window gets the text, and so does the status window.
    ShowWindow(video, SW_HIDE);
    ui::ShowStatusText("Buffering 60%");
    EXPECT_EQ(Caption(video), "Buffering 60%");
    ASSERT_NE(g_state.statusWindow.load(), nullptr);
    EXPECT_EQ(Caption(g_state.statusWindow), "Buffering 60%");
    EXPECT_TRUE(IsWindowVisible(g_state.statusWindow));
    ui::HideStatusWindow();
    EXPECT_EQ(g_state.statusWindow.load(), nullptr);
    DestroyWindow(video);
}

DWORD WINAPI ShowOnThread(void*) {
    ui::ShowStatusText("from a thread that ends");
    return 0;
}

TEST_F(StatusWindowTest, WindowLostWithItsThreadIsCreatedAgain) {
    HANDLE thread = CreateThread(nullptr, 0, ShowOnThread, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    HWND gone = g_state.statusWindow;
    ASSERT_NE(gone, nullptr);
    for (int i = 0; i < 100 && IsWindow(gone); ++i) Sleep(10);
    ASSERT_FALSE(IsWindow(gone));

    ui::ShowStatusText("Buffering 5%");
    HWND status = g_state.statusWindow;
    ASSERT_TRUE(IsWindow(status));
    EXPECT_EQ(Caption(status), "Buffering 5%");
    EXPECT_TRUE(IsWindowVisible(status));
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
