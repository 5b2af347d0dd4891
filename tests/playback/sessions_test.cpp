// One playback's late events never reach the next one, nor a stopped host:
// the seams between Play, Stop and the engine's own threads, driven through
// the module record against the stand-in engine and a host of real windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

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
    static int Play(const char* path) { return FakeHost::Current()->Play(path); }
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

// The presentation ends while a seek is still pending: the host hears of
// the end of the file, not a Stop command, and the closed output is not
// flushed.  The seek is asked for as soon as sound flows, so that it
// reaches the engine before the end (the engine holds it 800 ms).
TEST_F(Sessions, SeekPendingWhenThePresentationEndsEndsTheFile) {
    engine().Control("length 900; pace realtime; delay Seek 800");
    ASSERT_EQ(Play(kStream), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outWrite.load() >= 1; }));
    g_module.SetOutputTime(0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() >= 1; }, 10000)) << engine().Log();
    testsupport::PumpFor(200);
    const std::string log = engine().Log();
    ASSERT_NE(log.find("Player.Seek 0"), std::string::npos) << log;
    EXPECT_LT(log.find("Player.Seek 0"), log.find("Sink.OnStop")) << "the seek came after the end:\n" << log;
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

// A remote control sends the host's window a message whose handler stops
// and plays; it arrives while Stop waits for the playback thread.  The outer
// Stop ends only its own playback: the new one plays on.
std::atomic<int> g_nestedPlay{-2};
WNDPROC g_hostProc = nullptr;
constexpr UINT kRemoteNext = WM_APP + 21;
constexpr UINT kRemoteStop = WM_APP + 22;
constexpr UINT kRemoteQuit = WM_APP + 23;
LRESULT CALLBACK RemoteControlled(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRemoteNext || message == kRemoteStop) {
        g_module.Stop();
        if (message == kRemoteNext) g_nestedPlay = g_module.Play(const_cast<char*>(kStream));
        return 0;
    }
    if (message == kRemoteQuit) {
        FakeHost::Current()->QuitNow();
        return 0;
    }
    return CallWindowProcA(g_hostProc, window, message, wParam, lParam);
}

// Sends `message` to the host's window from another thread after `afterMs`,
// while the test's thread runs `hostCall`, as a remote control does.
int SendWhile(UINT message, DWORD afterMs, int (*hostCall)()) {
    const HWND window = FakeHost::Current()->window();
    g_hostProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RemoteControlled)));
    testsupport::EngineThreadCall remote([window, message, afterMs] {
        Sleep(afterMs);
        SendMessageA(window, message, 0, 0);
    });
    const int result = hostCall();
    EXPECT_TRUE(remote.Finish());
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_hostProc));
    return result;
}

int ThreadCount() {
    int count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// A Stop that comes while the engine still opens the URL (a remote
// control's, inside Play's wait) leaves nothing to begin: the engine is not
// set connecting only to be stopped.
TEST_F(Sessions, StopDuringASlowOpenBeginsNothing) {
    engine().Control("length 60000; delay OpenURL 600");
    EXPECT_EQ(SendWhile(kRemoteStop, 150, [] { return Play(kStream); }), 1);
    EXPECT_TRUE(engine().LogHas("Player.OpenURL " + std::string(kStream))) << engine().Log();
    EXPECT_FALSE(engine().LogHas("Player.Begin")) << engine().Log();
    EXPECT_EQ(CurrentPlayback(), nullptr);
}

// The host runs its whole shutdown, Quit included, from a message
// dispatched inside Play's wait: Play then starts nothing after Quit (a
// thread left waiting in the library for ever).
TEST_F(Sessions, QuitInsidePlaysWaitStartsNothingAfterIt) {
    engine().Control("length 60000; delay OpenURL 400");
    const int threads = ThreadCount();
    EXPECT_EQ(SendWhile(kRemoteQuit, 150, [] { return Play(kStream); }), 1);
    testsupport::ExpectCleanPluginState();
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threads; }, 3000))
        << ThreadCount() << " threads, " << threads << " before Play";
}

TEST_F(Sessions, StopAndPlaySentDuringStopLeaveTheNewPlaybackPlaying) {
    engine().Control("length 60000; delay Stop 600");
    ASSERT_EQ(Play(kStream), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outWrite.load() >= 1; }));
    g_nestedPlay = -2;
    g_hostProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(host->window(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RemoteControlled)));
    const HWND window = host->window();
    testsupport::EngineThreadCall remote([window] {
        Sleep(150);
        SendMessageA(window, kRemoteNext, 0, 0);
    });
    g_module.Stop();
    ASSERT_TRUE(remote.Finish());
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_hostProc));
    EXPECT_EQ(g_nestedPlay.load(), 0);
    ASSERT_NE(CurrentPlayback(), nullptr) << "the outer Stop took the new playback";
    const int writes = host->counts.outWrite.load();
    EXPECT_TRUE(PumpUntil([&] { return host->counts.outWrite.load() > writes + 2; }, 5000))
        << "state " << testsupport::CurrentState() << "\n" << engine().Log();
    EXPECT_TRUE(IsAudioFlowing(testsupport::CurrentState())) << testsupport::CurrentState();
    engine().Control("delay Stop 0");
    g_module.Stop();
    EXPECT_EQ(host->counts.outOpen.load(), host->counts.outClose.load());
}

// Quit with the playback's error box up answers the box itself: the host
// does not wait for the user, and the engine is not freed under the box.
TEST_F(Sessions, QuitWithAnErrorBoxUpAnswersItAndDoesNotWaitForTheUser) {
    boxes.SetAnswer(0);  // left up, as a user away from the screen leaves it
    engine().Control("length 60000; error open 0x80004005");
    Play(kStream);
    ASSERT_TRUE(boxes.WaitForCount(1)) << engine().Log();
    const HWND box = boxes.Boxes()[0].window;
    ASSERT_TRUE(IsWindow(box));
    const DWORD start = GetTickCount();
    host->QuitNow();
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 3000u) << "Quit waited for the user";
    EXPECT_FALSE(IsWindow(box));
    EXPECT_FALSE(ForcedStopSeen());
}

// A box the user takes long to answer is not a hung thread: Stop waits for
// the answer, however long, and forces nothing.
TEST_F(Sessions, ErrorBoxUpLongerThanStopsGuardIsWaitedFor) {
    boxes.SetAnswer(0);
    engine().Control("length 60000; error open 0x80004005");
    Play(kStream);
    ASSERT_TRUE(boxes.WaitForCount(1)) << engine().Log();
    const HWND box = boxes.Boxes()[0].window;
    testsupport::EngineThreadCall user([box] {
        Sleep(6000);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    const DWORD took = TimedStop();
    ASSERT_TRUE(user.Finish());
    EXPECT_GE(took, 5500u);
    EXPECT_FALSE(ForcedStopSeen()) << "the thread was killed while its box was up";
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

// An output call that hangs while the thread plays out the end does not
// hang Stop: Stop waits for the output a bounded time and then for the
// thread, which it ends by force, within its usual guard.
TEST_F(Sessions, OutputCallThatHangsDoesNotHangStop) {
    engine().Control("length 60000");
    host->settings.isPlaying = 1;
    ASSERT_EQ(Play(kStream), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outWrite.load() >= 1; }));
    host->settings.isPlayingHangMs = 30000;
    const int probes = host->counts.outIsPlaying.load();
    CurrentPlayback()->Post(CmdStreamEnded, 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outIsPlaying.load() > probes; }));
    const DWORD took = TimedStop();
    host->settings.isPlayingHangMs = 0;
    EXPECT_LT(took, 8000u) << "Stop waited for the hung output call";
    EXPECT_TRUE(ForcedStopSeen());
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
}

// The engine may end a presentation inside Begin: the playback hears of it
// (the thread marks its presentation begun before it calls Begin), and the
// host is told to stop instead of waiting for an end that never comes.
TEST_F(Sessions, EndReportedInsideBeginStopsThePlayback) {
    engine().Control("length 60000; stopinbegin");
    Play(kStream);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() >= 1; }, 5000)) << engine().Log();
    EXPECT_EQ(engine().Query("where Sink.OnStop"), 3) << "inside Begin";
    EXPECT_EQ(host->counts.stopCommands.load() + host->counts.endOfFileMessages.load(), 1);
}

// What the playback told the host and the host has not read yet is taken
// back at Stop, the Stop command as the end of file: neither may stop or
// skip the next track.  A playback tells the host once.
TEST_F(Sessions, StopCommandQueuedJustBeforeStopIsTakenBackAndComesOnce) {
    engine().Control("length 60000");
    ASSERT_EQ(Play(kStream), 0);
    const PlaybackRef playback = CurrentPlayback();
    PostMessageA(host->window(), WM_COMMAND, 40045, 0);  // the host's own, queued first
    ASSERT_TRUE(playback->PostToHost(WM_COMMAND, winamp::kStopCommand));
    EXPECT_FALSE(playback->PostToHost(winamp::kEndOfFileMessage, 0)) << "a second message of one playback";
    g_module.Stop();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, host->window(), WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 40045u) << "the host's own command is kept";
    EXPECT_FALSE(PeekMessageA(&msg, host->window(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) << msg.wParam;
    testsupport::PumpFor(50);
    EXPECT_EQ(host->counts.stopCommands.load() + host->counts.endOfFileMessages.load(), 0);
}

// An end of file that the playback posted just before the user's Stop, and
// the host has not read yet, is taken back: the host does not skip on.
// Also when the engine's Stop then hangs: the box Stop shows runs a message
// loop, which must not deliver the end of file first.
TEST_F(Sessions, EndOfFileQueuedJustBeforeStopIsTakenBack) {
    for (const char* hang : {"stophang 0", "stophang 6000"}) {
        SCOPED_TRACE(hang);
        engine().Control(std::string("length 60000; ") + hang);
        ASSERT_EQ(Play(kStream), 0);
        const PlaybackRef playback = CurrentPlayback();
        // The end, then no message dispatched until Stop: the thread plays
        // out the (empty) output, posts the end of file and stops the player.
        playback->Post(CmdStreamEnded, 0);
        MSG msg;
        const DWORD start = GetTickCount();
        while (!PeekMessageA(&msg, host->window(), winamp::kEndOfFileMessage, winamp::kEndOfFileMessage,
                             PM_NOREMOVE)) {
            ASSERT_LT(GetTickCount() - start, 10000u) << "no end of file";
            Sleep(10);
        }
        g_module.Stop();
        testsupport::PumpFor(100);
        EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
    }
}

}  // namespace
