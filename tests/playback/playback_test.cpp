// Playback control, the engine link and the playback thread, driven through
// the module record against the stand-in engine and a host of real windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "plugin/host_ops.h"
#include "core/playback.h"
#include "support/test_support.h"

using namespace core;

namespace {

// The current playback's thread; INVALID_HANDLE_VALUE when none is current.
HANDLE ThreadHandle() {
    const PlaybackRef playback = CurrentPlayback();
    return playback && playback->thread ? playback->thread.get() : INVALID_HANDLE_VALUE;
}
DWORD ThreadIdNow() {
    const PlaybackRef playback = CurrentPlayback();
    return playback ? playback->threadId : 0;
}

using testsupport::FakeHost;
using testsupport::LinkPart;
using testsupport::MessageBoxWatcher;
using testsupport::PumpUntil;
using testsupport::SimEngine;

bool IsKoreanRun() {
    char country[8] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVCTRYNAME, country, sizeof(country));
    return std::string(country) == "KOR";
}

class Playback : public testing::Test {
protected:
    void SetUp() override {
        engine().Reset();
        host = std::make_unique<FakeHost>();
        wav = testsupport::WriteTempWav(22050, 1, 16, 300);
    }

    void TearDown() override {
        // A box the engine's late report raised must not outlive the scenario.
        testsupport::PumpFor(50);
        host.reset();  // Quit: thread stopped, engine link down
        testsupport::ExpectCleanPluginState();
        // Every reference the plug-in took on the engine's objects, and the
        // engine on the plug-in's, has been given back.
        EXPECT_EQ(engine().Query("live"), 0) << engine().Alive();
        EXPECT_EQ(engine().Query("clientrefs"), 0);
    }

    static SimEngine& engine() { return SimEngine::Get(); }
    int Play(const std::string& path) { return host->Play(path.c_str()); }
    static bool WaitForState(PlaybackState state, DWORD timeoutMs = 10000) {
        return PumpUntil([&] { return testsupport::CurrentState() == state; }, timeoutMs);
    }
    // Plays until the playback thread waits for the output to play out what it
    // holds; the output says it still plays.
    void StartDraining() {
        engine().Control("length 60000; isdone 1");
        ASSERT_EQ(Play(wav), 0);
        // The drain asks an open output: a closed one would play nothing.
        ASSERT_TRUE(PumpUntil([&] { return host->counts.outOpened.load() == 1; }));
        host->settings.isPlaying = 1;
        CurrentPlayback()->Post(CmdStreamEnded, 0);
        ASSERT_TRUE(PumpUntil([&] { return host->counts.outIsPlaying.load() >= 2; }));
    }

    MessageBoxWatcher boxes;  // answers every box; outlives the host
    std::unique_ptr<FakeHost> host;
    std::string wav;
};

// ---- engine loading ---------------------------------------------------------

TEST_F(Playback, FirstPlayBuildsTheLinkAndLaterPlaysReuseIt) {
    ASSERT_EQ(Play(wav), 0);
    EXPECT_NE(LinkPart(&engine::EngineLink::Library), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::Player), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::AudioDevice), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::Context), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::ErrorSinkControl), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::ErrorSink), nullptr);
    EXPECT_TRUE(engine().LogHas("Player.OpenURL file:" + wav)) << engine().Log();
    EXPECT_TRUE(PumpUntil([] { return SimEngine::Get().LogHas("Player.Begin"); }));
    EXPECT_TRUE(engine().LogHas("ErrorSinkControl.AddErrorSink 0 6"));
    g_module.Stop();
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);

    ASSERT_EQ(Play(wav), 0) << engine().Log();
    EXPECT_EQ(engine().CountInLog("CreateEngine"), 1);
    EXPECT_EQ(engine().CountInLog("Engine.CreatePlayer"), 1);
    EXPECT_EQ(engine().CountInLog("DeviceManager.Replace"), 1);
    EXPECT_EQ(engine().CountInLog("Player.SetClientContext"), 1);
    EXPECT_EQ(engine().CountInLog("Player.OpenURL"), 2);
    g_module.Stop();
}

TEST_F(Playback, BareLibraryNameWhenTheRegistryKeyIsMissing) {
    testsupport::DeleteClassesRootTree(testsupport::kEngineKey);
    // The test's own directory is on the system's search path for the bare name.
    EXPECT_EQ(Play(wav), 0);
    g_module.Stop();
}

TEST_F(Playback, MissingLibraryWarnsAndEveryPlayTriesAgain) {
    // A value without the trailing separator points beside the directory.
    testsupport::SetEngineDirectory(testsupport::BinDir());
    boxes.SetAnswer(IDCANCEL);
    EXPECT_EQ(Play(wav), 1);
    ASSERT_TRUE(boxes.WaitForCount(1));
    auto box = boxes.Boxes()[0];
    if (IsKoreanRun()) {
        EXPECT_EQ(box.caption, "\xBF\xC0\xB7\xF9");
        // "리얼 플레이어가 설치되어있지 않거나 제대로 설정되지 않았습니다.", "최신 버전의
        // 리얼 플레이러를 설치하시기 바랍니다.", "확인을 누르면 CNet의 리얼플레이어
        // 다운로드 페이지로 갈 것입니다." in code page 949.
        EXPECT_EQ(box.text,
                  "\xB8\xAE\xBE\xF3 \xC7\xC3\xB7\xB9\xC0\xCC\xBE\xEE\xB0\xA1 \xBC\xB3\xC4\xA1\xB5\xC7\xBE\xEE"
                  "\xC0\xD6\xC1\xF6 \xBE\xCA\xB0\xC5\xB3\xAA \xC1\xA6\xB4\xEB\xB7\xCE \xBC\xB3\xC1\xA4\xB5\xC7"
                  "\xC1\xF6 \xBE\xCA\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.\r\n"
                  "\xC3\xD6\xBD\xC5 \xB9\xF6\xC0\xFC\xC0\xC7 \xB8\xAE\xBE\xF3 \xC7\xC3\xB7\xB9\xC0\xCC\xB7\xAF"
                  "\xB8\xA6 \xBC\xB3\xC4\xA1\xC7\xCF\xBD\xC3\xB1\xE2 \xB9\xD9\xB6\xF8\xB4\xCF\xB4\xD9.\r\n\r\n"
                  "\xC8\xAE\xC0\xCE\xC0\xBB \xB4\xA9\xB8\xA3\xB8\xE9 CNet\xC0\xC7 \xB8\xAE\xBE\xF3\xC7\xC3\xB7\xB9"
                  "\xC0\xCC\xBE\xEE \xB4\xD9\xBF\xEE\xB7\xCE\xB5\xE5 \xC6\xE4\xC0\xCC\xC1\xF6\xB7\xCE \xB0\xA5 "
                  "\xB0\xCD\xC0\xD4\xB4\xCF\xB4\xD9.");
    } else {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text,
                  "Real Player is not installed or not configured properly.\r\n"
                  "Please install latest version of Real Player.\r\n\r\n"
                  "Click Ok to go to RealPlayer download page of CNet.");
    }
    EXPECT_EQ(box.owner, host->window());
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.buttons, 2);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Library), nullptr);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);

    // The host goes on to the next entry after a failed Play: one warning
    // serves the whole playlist, and every Play still looks for the engine.
    EXPECT_EQ(Play(wav), 1);
    testsupport::PumpFor(100);
    EXPECT_EQ(boxes.Count(), 1u);

    testsupport::SetEngineDirectory(testsupport::BinDir() + "\\");
    EXPECT_EQ(Play(wav), 0);
    g_module.Stop();
}

TEST_F(Playback, RegistryValueWithoutRoomForTheFileNameIsNeverCut) {
    // 250 characters leave no room for "pnen3260.dll" in 260 bytes.
    testsupport::SetEngineDirectory(testsupport::BinDir() + "\\" + std::string(250, 'x') + "\\");
    boxes.SetAnswer(IDCANCEL);
    EXPECT_EQ(Play(wav), 1);
    EXPECT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ(LinkPart(&engine::EngineLink::Library), nullptr);
}

TEST_F(Playback, MissingExportFailsSilentlyAndIsLookedUpAgain) {
    testsupport::SetEngineDirectory(testsupport::BinDir() + "\\noexport\\");
    boxes.Clear();
    EXPECT_EQ(Play(wav), 1);
    EXPECT_NE(LinkPart(&engine::EngineLink::Library), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Engine), nullptr);
    EXPECT_EQ(Play(wav), 1);
    testsupport::PumpFor(50);
    EXPECT_EQ(boxes.Count(), 0u);
    // The library stays loaded: Quit unloads it.
}

TEST_F(Playback, FailedCreationsKeepWhatStandsAndRetryTheRest) {
    engine().Control("fail CreateEngine 0x80004005");
    EXPECT_EQ(Play(wav), 1);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Engine), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::CreateEngineExport), nullptr);

    engine().Control("reset");
    engine().Control("fail CreatePlayer 0x80004005");
    EXPECT_EQ(Play(wav), 1);
    EXPECT_NE(LinkPart(&engine::EngineLink::Engine), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Player), nullptr);

    engine().Control("reset");
    EXPECT_EQ(Play(wav), 0);
    EXPECT_EQ(engine().CountInLog("CreateEngine"), 0);  // the log was reset after the engine stood
    EXPECT_EQ(engine().CountInLog("Engine.CreatePlayer"), 1);
    g_module.Stop();
}

TEST_F(Playback, RefusedAudioDeviceIsDroppedAndTriedAgain) {
    engine().Control("fail Replace 0x80004005");
    EXPECT_EQ(Play(wav), 0);
    EXPECT_EQ(LinkPart(&engine::EngineLink::AudioDevice), nullptr);
    EXPECT_NE(LinkPart(&engine::EngineLink::Context), nullptr);
    g_module.Stop();
    engine().Control("reset");
    EXPECT_EQ(Play(wav), 0);
    EXPECT_NE(LinkPart(&engine::EngineLink::AudioDevice), nullptr);
    EXPECT_EQ(engine().CountInLog("DeviceManager.Replace"), 1);
    g_module.Stop();
}

TEST_F(Playback, EngineWithoutDeviceManagerKeepsTheDeviceUninstalled) {
    engine().Control("hide AudioDeviceManager");
    EXPECT_EQ(Play(wav), 0);
    EXPECT_NE(LinkPart(&engine::EngineLink::AudioDevice), nullptr);
    g_module.Stop();
    EXPECT_EQ(Play(wav), 0);
    EXPECT_EQ(engine().CountInLog("DeviceManager.Replace"), 0);
    g_module.Stop();
}

TEST_F(Playback, PlayerWithoutErrorSinkControlStillPlays) {
    engine().Control("hide ErrorSinkControl");
    EXPECT_EQ(Play(wav), 0);
    EXPECT_EQ(LinkPart(&engine::EngineLink::ErrorSinkControl), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::ErrorSink), nullptr);
    g_module.Stop();
}

TEST_F(Playback, QuitWithoutAnyPlayTouchesNothing) {
    host->QuitNow();
    EXPECT_EQ(engine().Log(), "");
}

// The link comes down last part first.  The player lets go of the client
// context during ClosePlayer; "released 0" shows that the link had dropped
// its own reference before.
TEST_F(Playback, QuitTakesTheEngineLinkDownInOrder) {
    ASSERT_EQ(Play(wav), 0);
    g_module.Stop();
    engine().Control("reset");
    host->QuitNow();
    const std::string log = engine().Log();
    // The link's own player pointer is all the client holds at ClosePlayer:
    // the device, the sinks and the context have let go of theirs.
    const char* const steps[] = {"ErrorSinkControl.RemoveErrorSink", "DeviceManager.Remove", "Engine.ClosePlayer",
                                 "Player.ClientContext released 0", "Engine.ClosePlayer: the client holds 1",
                                 "CloseEngine"};
    size_t previous = 0;
    for (const char* step : steps) {
        const size_t at = log.find(step);
        ASSERT_NE(at, std::string::npos) << step << " missing from:\n" << log;
        EXPECT_GE(at, previous) << step << " out of order in:\n" << log;
        previous = at;
    }
    EXPECT_FALSE(engine().LogHas("not a registered sink")) << "the sink removed is the one added";
    EXPECT_EQ(engine::CurrentLink(), nullptr);
    EXPECT_EQ(engine().Query("engines"), 0);
}

namespace {
std::atomic<int> g_appMessages{0};
LRESULT CALLBACK CountAppMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 7) ++g_appMessages;
    return DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

// Quit serves what waits in the host thread's queue, and a quit request
// among it stays for the host's own message loop.
TEST_F(Playback, QuitDispatchesWaitingMessagesAndLeavesTheQuitToTheHost) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountAppMessages;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuitQueueProbe";
    RegisterClassA(&windowClass);
    HWND probe = CreateWindowA("QuitQueueProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(probe, nullptr);

    g_appMessages = 0;
    PostMessageA(probe, WM_APP + 7, 0, 0);
    PostQuitMessage(42);
    PostMessageA(probe, WM_APP + 7, 0, 0);
    host->QuitNow();

    EXPECT_EQ(g_appMessages.load(), 2);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 42u);
    DestroyWindow(probe);
}

// ---- playback control ---------------------------------------------------------

// An engine that refuses a URL at once (the real one answers 0 and reports
// later, kind openurl makes it answer at once): OpenURL's failure path.
// The host never calls Stop after a failed Play, and goes on to the next
// entry: the failed playback leaves nothing behind, no Stop command of its
// own, and the user still sees the engine's report of the refusal.
TEST_F(Playback, RefusedUrlEndsWithItsPlayAndLeavesNothingBehind) {
    engine().Control("fail OpenURL 0x80040089; kind openurl");
    host->settings.stopOnMessages = false;  // a Stop would hide what is left
    EXPECT_EQ(Play(wav), 1);
    EXPECT_FALSE(engine().LogHas("Player.Begin"));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "File not found");
    EXPECT_EQ(CurrentPlayback(), nullptr);
    testsupport::PumpFor(100);
    EXPECT_EQ(host->counts.stopCommands.load(), 0);
    engine().Control("reset");
    EXPECT_EQ(Play(wav), 0);
    g_module.Stop();
}

// A presentation that ended before Begin without a report the plug-in hears
// (an error outside the error sink's range): Begin is refused, and the host
// is told to stop instead of waiting for an end that never comes.
TEST_F(Playback, RefusedBeginStopsThePlaybackItCannotStart) {
    engine().Control("length 400; delay Begin 800; error open 0x80070057 7");
    EXPECT_EQ(Play(wav), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() >= 1; }, 5000)) << engine().Log();
    EXPECT_EQ(host->counts.stopCommands.load(), 1);
    EXPECT_EQ(boxes.Count(), 0u) << "the engine reported nothing to tell";
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

// The engine opens any URL and reports a missing file later, on its system
// thread (the host's): one box, the playback failed, one Stop command.
TEST_F(Playback, MissingFileIsReportedByTheEngine) {
    boxes.Clear();
    host->settings.stopOnMessages = false;  // the host's Stop comes from the test here
    EXPECT_EQ(Play("C:\\no\\such\\file.rm"), 0);
    EXPECT_TRUE(engine().LogHas("Player.OpenURL file:C:\\no\\such\\file.rm"));
    ASSERT_TRUE(boxes.WaitForCount(1));
    EXPECT_EQ(boxes.Boxes()[0].caption, "Error");
    EXPECT_EQ(boxes.Boxes()[0].text, "File not found");
    EXPECT_EQ(engine().Query("where ErrorSink.ErrorOccurred"), 1) << "reported on the system thread";
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCommands.load() >= 1; }));
    testsupport::PumpFor(300);
    EXPECT_EQ(testsupport::CurrentState(), StateFailed);
    EXPECT_EQ(host->counts.stopCommands.load(), 1);
    EXPECT_EQ(boxes.Count(), 1u);
    g_module.Stop();
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

TEST_F(Playback, PlayWhilePlayingIsRefusedAndLeavesPlaybackAlone) {
    engine().Control("length 5000");
    ASSERT_EQ(Play(wav), 0);
    const HANDLE thread = ThreadHandle();
    EXPECT_EQ(Play(wav), 1);
    EXPECT_EQ(ThreadHandle(), thread);
    EXPECT_EQ(engine().CountInLog("Player.OpenURL"), 1);
    g_module.Stop();
}

// The host's names are up to 1039 characters; a longer one is refused whole,
// never cut into the name of another file.
// The host's decode path (CD burning) drives the plug-in from a thread of
// its own, with an output without Pause, and calls Stop there even after a
// refused Play: the track playing on the host's thread goes on.
TEST_F(Playback, DecodePathOnAnotherThreadLeavesTheHostsTrackPlaying) {
    engine().Control("length 60000");
    ASSERT_EQ(Play(wav), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outOpened.load() == 1; }));
    const PlaybackRef playing = CurrentPlayback();
    winamp::Out_Module* const own = g_module.outMod;
    winamp::Out_Module dummy = *own;
    dummy.Pause = nullptr;
    g_module.outMod = &dummy;
    int played = -1;
    testsupport::EngineThreadCall decode([&] {
        played = g_module.Play(const_cast<char*>(wav.c_str()));
        g_module.Stop();
    });
    ASSERT_TRUE(decode.Finish());
    EXPECT_EQ(played, 1);
    EXPECT_EQ(CurrentPlayback(), playing);
    EXPECT_FALSE(playing->Closed());
    g_module.Pause();  // the playback's own output, not the dummy without Pause
    EXPECT_EQ(host->counts.lastPause.load(), 1);
    g_module.UnPause();
    g_module.Stop();
    EXPECT_EQ(CurrentPlayback(), nullptr);
    g_module.outMod = own;
}

TEST_F(Playback, PathsThatDoNotFitAreRefusedWhole) {
    const std::string tooLong = "C:\\" + std::string(1034, 'a') + ".rm";  // 1040 characters
    EXPECT_EQ(Play(tooLong), 1);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    EXPECT_EQ(engine().CountInLog("Player.OpenURL"), 0);
    const std::string longest = "http://test.invalid/" + std::string(1016, 'a') + ".rm";  // 1039
    EXPECT_EQ(Play(longest), 0);
    EXPECT_EQ(engine().CountInLog("Player.OpenURL http://test.invalid/aaaa"), 1) << engine().Log();
    g_module.Stop();
}

TEST_F(Playback, StopWithoutPlaybackChangesNothingElse) {
    g_module.Stop();
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    EXPECT_EQ(host->counts.outClose.load(), 0);
    EXPECT_EQ(host->counts.savsaDeInit.load(), 0);
}

TEST_F(Playback, PauseAndUnPauseReachPlayerAndOutputOnce) {
    engine().Control("length 5000");
    // Without a player they do nothing.
    g_module.Pause();
    EXPECT_EQ(g_module.IsPaused(), 0);
    EXPECT_EQ(host->counts.outPause.load(), 0);

    ASSERT_EQ(Play(wav), 0);
    // Play returns once the URL is open; the thread's Begin, and the
    // output's Open, come after.
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outOpened.load() == 1; }));
    g_module.Pause();
    g_module.Pause();
    EXPECT_EQ(g_module.IsPaused(), 1);
    EXPECT_EQ(host->counts.outPause.load(), 1);
    EXPECT_EQ(host->counts.lastPause.load(), 1);
    EXPECT_EQ(engine().CountInLog("Player.Pause"), 1);
    g_module.UnPause();
    g_module.UnPause();
    EXPECT_EQ(g_module.IsPaused(), 0);
    EXPECT_EQ(host->counts.outPause.load(), 2);
    EXPECT_EQ(host->counts.lastPause.load(), 0);
    EXPECT_EQ(engine().CountInLog("Player.Begin"), 2);
    g_module.Pause();
    g_module.Stop();
    EXPECT_EQ(g_module.IsPaused(), 0) << "the pause went with its playback";
    ASSERT_EQ(Play(wav), 0);
    EXPECT_EQ(g_module.IsPaused(), 0);
    g_module.Stop();
}

TEST_F(Playback, VolumeAndPanPassStraightThrough) {
    g_module.SetVolume(-666);
    EXPECT_EQ(host->counts.lastVolume.load(), -666);
    g_module.SetPan(-127);
    EXPECT_EQ(host->counts.lastPan.load(), -127);
}

// The host never reads one playback's length or position during the next.
TEST_F(Playback, LengthAndPositionAreThePlaybacksOwn) {
    engine().Control("length 5000");
    ASSERT_EQ(Play("rtsp://test.invalid/stream.rm"), 0);
    ASSERT_TRUE(PumpUntil([] { return g_module.GetLength() == 5000 && g_module.GetOutputTime() > 0; }));
    g_module.Stop();
    EXPECT_EQ(g_module.GetLength(), 0);
    EXPECT_EQ(g_module.GetOutputTime(), 0);
    ASSERT_EQ(Play(wav), 0);
    EXPECT_NE(g_module.GetLength(), 5000);
    EXPECT_LT(g_module.GetOutputTime(), 300);
    g_module.Stop();
}

// A Stop that hangs in the engine: after five seconds the box, and the
// thread is left to end on its own.  Killed, it would leave the engine's
// lock owned by a dead thread (or broken, had it waited for it), and what
// it holds leaked.  The next Play waits until the engine lets it go.
TEST_F(Playback, HungStopIsAbandonedAfterFiveSecondsWithABoxAndEndsLater) {
    // The hang outlasts Stop's wait and its box by seconds, and ends within
    // the next Play's wait for it.
    // A stream of a minute: the short WAV could end by itself before Stop,
    // and its end's OnStop would be taken for the hung Stop's.
    const std::string stream = "rtsp://test.invalid/stream.rm";
    engine().Control("length 60000; stophang 9000");
    ASSERT_EQ(Play(stream), 0);
    boxes.Clear();
    const DWORD start = GetTickCount();
    g_module.Stop();
    // About five seconds of waiting, then the box (answered at once here).
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 4800u);
    EXPECT_LT(took, 8000u);
    EXPECT_EQ(engine().CountInLog("Sink.OnStop"), 0) << "the thread still waits in the engine";
    ASSERT_EQ(boxes.Count(), 1u);
    auto box = boxes.Boxes()[0];
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.text, "Error asking thread to die: Terminating\n");
    EXPECT_EQ(box.owner, host->window());
    EXPECT_FALSE(box.hasIcon);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    EXPECT_EQ(ThreadHandle(), INVALID_HANDLE_VALUE);
    engine().Control("stophang 0");

    EXPECT_EQ(Play(stream), 0);
    EXPECT_GE(GetTickCount() - start, 8900u) << "the next Play came before the hung Stop ended";
    EXPECT_EQ(engine().CountInLog("Sink.OnStop"), 1) << "the abandoned thread's Stop went through";
    g_module.Stop();
}

TEST_F(Playback, QuitMessageDuringPlaysWaitIsKeptForTheHost) {
    engine().Control("length 5000; delay OpenURL 300");
    PostQuitMessage(7);
    EXPECT_EQ(Play(wav), 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    // A failed Play gets no Stop from the host: it has ended its playback
    // itself (the thread opened the URL and stopped it), and the next Play
    // is free to start.
    EXPECT_EQ(CurrentPlayback(), nullptr);
    EXPECT_EQ(Play(wav), 0);
    g_module.Stop();
}

// Keys the user types while Play waits for the engine reach the host's
// windows as its own loop would deliver them: as characters.
TEST_F(Playback, KeysTypedWhilePlayWaitsArriveAsCharacters) {
    engine().Control("delay OpenURL 300");
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    PostMessageA(edit, WM_KEYDOWN, 'A', 0x001E0001);
    ASSERT_EQ(Play(wav), 0);
    char text[8] = {};
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "a");
    DestroyWindow(edit);
    g_module.Stop();
}

TEST_F(Playback, CommandPostedRightAfterPlayIsServed) {
    // A stream of the scenario's length: the short WAV would end, and clamp
    // the seeks to its end, before they are served.
    engine().Control("length 5000");
    ASSERT_EQ(Play("rtsp://test.invalid/stream.rm"), 0);
    CurrentPlayback()->Post(CmdSeek, 1500);
    CurrentPlayback()->Post(CmdSeek, 700);
    CurrentPlayback()->Post(9, 0);  // unknown: ignored
    ASSERT_TRUE(PumpUntil([] { return SimEngine::Get().LogHas("Player.Seek 700"); }));
    const std::string log = engine().Log();
    EXPECT_LT(log.find("Player.Seek 1500"), log.find("Player.Seek 700"));
    // Both before the output opened: the presentation begins at the last
    // place, and no Flush reaches an output that is not open.
    ASSERT_TRUE(PumpUntil([] { return SimEngine::Get().LogHas("Sink.OnBegin 700"); })) << engine().Log();
    EXPECT_EQ(host->counts.callsAfterClose.load() + host->counts.outFlush.load(), 0);
    EXPECT_NE(ThreadHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(WaitForSingleObject(ThreadHandle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    g_module.Stop();
}

int __stdcall PlaybackStateAtSeek(unsigned int) { return testsupport::CurrentState(); }

TEST_F(Playback, SeekReachesTheEngineWhileTheHostWaitsAndNeedsNoPreSeek) {
    // An engine that announces no seek: the host's wait ends when the engine
    // has the seek, and OnPostSeek alone ends the seek.
    engine().Control("length 60000; nopreseek");
    engine().OnSeek(PlaybackStateAtSeek);
    ASSERT_EQ(Play("rtsp://test.invalid/stream.rm"), 0);
    EXPECT_EQ(engine().Alive().rfind("engine=1 player=1", 0), 0u) << engine().Alive();
    // Once the device is open: its opening, too, sets the playback state.
    ASSERT_TRUE(WaitForState(StatePlaying));
    g_module.SetOutputTime(2500);
    engine().OnSeek(nullptr);
    EXPECT_TRUE(IsSeekPending(testsupport::CurrentState()) || testsupport::CurrentState() == StatePlaying) << testsupport::CurrentState();
    EXPECT_TRUE(engine().LogHas("Hook.Seek " + std::to_string(StateSeekRequested))) << engine().Log();
    // The device's Reset inside Seek dropped the old place's sound; a Flush
    // after Seek would drop the new place's, which the engine writes as
    // soon as Seek lets its lock go.
    EXPECT_EQ(host->counts.outFlush.load(), 1) << "the device's Reset's Flush only";
    EXPECT_NE(host->counts.lastFlush.load(), 2500);
    ASSERT_TRUE(WaitForState(StatePlaying));
    EXPECT_FALSE(engine().LogHas("Sink.OnPreSeek"));
    EXPECT_TRUE(engine().LogHas("Sink.OnPostSeek")) << engine().Log();
    g_module.Stop();
}

// The output is neither opened nor written after the host's Stop, and so not
// left open at Quit.
TEST_F(Playback, StopBeforeTheEngineBeginsOpensNoOutput) {
    engine().Control("length 5000; delay Begin 300; delay Stop 600");
    ASSERT_EQ(Play(wav), 0);
    g_module.Stop();
    testsupport::PumpFor(300);
    EXPECT_EQ(host->counts.outOpened.load(), 0);
    EXPECT_EQ(host->counts.outWrite.load(), 0);
    host->QuitNow();
    EXPECT_EQ(host->counts.leftOpenAtQuit.load(), 0);
}

// ---- the end of a presentation --------------------------------------------------

TEST_F(Playback, StreamEndedWaitsForTheOutputThenTellsTheHost) {
    ASSERT_NO_FATAL_FAILURE(StartDraining());
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
    EXPECT_GE(host->counts.outCanWrite.load(), 2);
    // The presentation has ended: a seek (the arrow key's) cannot be carried
    // out, and the host's thread is not held waiting for one.
    const DWORD start = GetTickCount();
    g_module.SetOutputTime(5000);
    EXPECT_LT(GetTickCount() - start, 1000u);
    // While the host has paused, the end waits for the user, however long.
    g_module.Pause();
    host->settings.isPlaying = 0;
    testsupport::PumpFor(300);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
    g_module.UnPause();
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() == 1; }));
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 1);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    EXPECT_TRUE(engine().LogHas("Player.Stop"));
}

TEST_F(Playback, StopDuringTheDrainEndsItWithoutEndOfFile) {
    ASSERT_NO_FATAL_FAILURE(StartDraining());
    boxes.Clear();
    g_module.Stop();
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    testsupport::PumpFor(100);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
}

// The drain stops polling the output once Stop has closed it.
TEST_F(Playback, StopDuringTheDrainMakesNoOutputCallAfterClose) {
    ASSERT_NO_FATAL_FAILURE(StartDraining());
    g_module.Stop();
    testsupport::PumpFor(200);
    EXPECT_EQ(host->counts.callsAfterClose.load(), 0);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
}

// The engine reports the end before IsDone turns true: the output still
// plays out what it holds before the host hears of the end.
TEST_F(Playback, StreamEndedBeforeTheEngineIsDoneStillDrains) {
    engine().Control("length 60000; isdone 0");
    ASSERT_EQ(Play("rtsp://test.invalid/stream.rm"), 0);
    ASSERT_TRUE(WaitForState(StatePlaying));
    host->settings.isPlaying = 1;
    const int isPlayingBefore = host->counts.outIsPlaying.load();
    CurrentPlayback()->Post(CmdStreamEnded, 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.outIsPlaying.load() >= isPlayingBefore + 2; }));
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0) << "the end of file came before the output played out";
    host->settings.isPlaying = 0;
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() == 1; }));
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 1);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

TEST_F(Playback, QuitMessageInTheThreadsQueueStopsWithoutEndOfFile) {
    engine().Control("length 60000");
    ASSERT_EQ(Play(wav), 0);
    PostThreadMessageA(ThreadIdNow(), WM_QUIT, 0, 0);
    ASSERT_EQ(WaitForSingleObject(ThreadHandle(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    EXPECT_TRUE(engine().LogHas("Player.Stop"));
    testsupport::PumpFor(50);
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 0);
    boxes.Clear();
    g_module.Stop();  // the thread has ended by itself: no box, no wait
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(Playback, PresentationPlaysToItsEndAndTheHostStops) {
    ASSERT_EQ(Play(wav), 0);
    // The host keeps the playing entry's length it reads right after Play:
    // the engine has none yet, so unknown, not a 0:00.
    EXPECT_EQ(host->counts.playingEntryLengthMs.load(), -1000);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() == 1; }, 20000)) << engine().Log();
    // Where the engine called (1 its system thread, the host's here; 2 its
    // timer thread; 3 inside a player method on the caller's thread).
    EXPECT_EQ(engine().Query("where Sink.OnBegin"), 1) << "a Begin before the URL opened takes effect there";
    EXPECT_EQ(engine().Query("where Device.Open"), 2);
    EXPECT_EQ(engine().Query("where Sink.OnStop"), 1) << "the natural end";
    EXPECT_EQ(engine().Query("where Callback.Func"), 1) << "the device's time callback is not interrupt-safe";
    EXPECT_EQ(host->counts.endOfFileMessages.load(), 1);
    EXPECT_EQ(host->counts.stopCommands.load(), 0);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
    EXPECT_EQ(ThreadHandle(), INVALID_HANDLE_VALUE);
    // And the next one plays too.
    ASSERT_EQ(Play(wav), 0);
    ASSERT_TRUE(PumpUntil([&] { return host->counts.stopCalls.load() == 2; }, 20000));
}

TEST_F(Playback, SeekWaitsUntilTheEngineHasSeeked) {
    engine().Control("length 60000");
    ASSERT_EQ(Play("rtsp://test.invalid/stream.rm"), 0);
    ASSERT_TRUE(WaitForState(StatePlaying));
    g_module.SetOutputTime(2500);
    EXPECT_TRUE(engine().LogHas("Player.Seek 2500"));
    EXPECT_TRUE(engine().LogHas("Sink.OnPreSeek")) << "SetOutputTime returned before the engine had the seek";
    // The seek ends with the engine's next time report, from the new place.
    ASSERT_TRUE(WaitForState(StatePlaying));
    ASSERT_TRUE(PumpUntil([] { return g_module.GetOutputTime() >= 2500; }));
    g_module.Stop();
    // No thread: nothing to wait for.
    g_module.SetOutputTime(100);
    EXPECT_EQ(testsupport::CurrentState(), StateIdle);
}

// The engine ends a seek (OnPostSeek) only with its next time report, and
// makes none while paused: seeks while paused return at once, do not nest,
// and the playback goes on from the last place after UnPause.  (Should a
// seek wait for the end anyway, the host's timer unpauses after 3 s, so the
// test fails on the time taken instead of hanging.)
void CALLBACK UnPauseLate(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    g_module.UnPause();
}

TEST_F(Playback, SeeksWhilePausedReturnAtOnceAndPlayOnFromTheLastPlace) {
    engine().Control("length 60000");
    ASSERT_EQ(Play("rtsp://test.invalid/stream.rm"), 0);
    ASSERT_TRUE(WaitForState(StatePlaying));
    g_module.Pause();
    SetTimer(host->window(), 77, 3000, UnPauseLate);
    const DWORD start = GetTickCount();
    g_module.SetOutputTime(2500);
    g_module.SetOutputTime(4000);
    const DWORD took = GetTickCount() - start;
    KillTimer(host->window(), 77);
    EXPECT_LT(took, 2000u) << "a seek while paused waited for the engine's next time report";
    EXPECT_EQ(g_module.IsPaused(), 1);
    EXPECT_TRUE(engine().LogHas("Player.Seek 4000"));
    EXPECT_FALSE(engine().LogHas("Sink.OnPostSeek")) << engine().Log();
    g_module.UnPause();
    ASSERT_TRUE(WaitForState(StatePlaying));
    EXPECT_TRUE(engine().LogHas("Sink.OnPostSeek 2500 4000")) << engine().Log();
    ASSERT_TRUE(PumpUntil([] { return g_module.GetOutputTime() >= 4000; }));
    EXPECT_LT(g_module.GetOutputTime(), 6000);
    g_module.Stop();
}

// ---- locale ----------------------------------------------------------------------

TEST_F(Playback, InitReadsTheLocaleCountry) {
    // The Korean run says so, so that a system without the locale fails
    // here instead of quietly testing English twice.
    char expected[8] = {};
    if (GetEnvironmentVariableA("EXPECT_LOCALE_COUNTRY", expected, sizeof(expected))) {
        EXPECT_EQ(IsKoreanRun(), std::string(expected) == "KOR");
    }
    EXPECT_EQ(g_koreanLocale, IsKoreanRun());
}

}  // namespace
