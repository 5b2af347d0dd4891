#include "plugin/host_ops.h"

#include <cstring>
#include <memory>
#include <new>

#include "audio/output_gate.h"
#include "core/playback.h"
#include "core/trace.h"
#include "engine/engine_link.h"
#include "plugin/file_types.h"
#include "plugin/playback_control.h"
#include "plugin/playback_thread.h"
#include "ui/ui_thread.h"

namespace plugin {
namespace {

using namespace core;

// Set by Quit, cleared by Init; the host's thread's.  The host may run its
// whole shutdown, Quit included, from a message dispatched inside one of
// the plug-in's waits: the operation around it must not go on afterwards.
bool g_quitDone = false;

// How long Quit waits for threads that may still be inside the engine.
constexpr DWORD kQuitThreadWaitMs = 2000;
// How long Play waits for each thread still being ended, and for those Stop
// abandoned: a new URL would wait behind the engine's call they are in.
constexpr DWORD kEarlierThreadWaitMs = 5000;

bool HasPlayer() {
    const engine::EngineLink* link = engine::CurrentLink();
    return link && link->Player();
}

bool StillStarting(Playback& playback) { return !playback.Closed() && IsStarting(playback.State()); }

// Until the thread has handed every seek asked for to the engine, or has
// ended, or a Stop took the playback.
bool SeekNotHanded(Playback& playback) {
    return !playback.Closed() && playback.State() != StateIdle && playback.SeekOutstanding() &&
           PlaybackThreadRunning(playback);
}

// A URL the player refused is reported by the engine a moment later, on
// this thread: its report is waited for a short time, so that its box is
// not lost with the playback.
constexpr DWORD kFailureReportWaitMs = 1000;

void AwaitFailureReport(Playback& playback) {
    const DWORD start = GetTickCount();
    while (!playback.Closed() && !playback.HadFailureBox() && GetTickCount() - start < kFailureReportWaitMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Left for the host's own loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            DispatchAsHost(msg);
        }
    }
}

}  // namespace

void Init() noexcept {
    char country[8] = {};
    g_koreanLocale = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVCTRYNAME, country, sizeof(country)) &&
                     std::strcmp(country, "KOR") == 0;
    g_quitDone = false;
    ui::CreateUiWindow();
}

void Quit() noexcept {
    MSG msg;
    bool quitSeen = false;
    int quitCode = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quitSeen = true;
            quitCode = static_cast<int>(msg.wParam);
            continue;
        }
        DispatchMessageA(&msg);
    }
    if (quitSeen) PostQuitMessage(quitCode);
    g_quitDone = true;
    // The playback's box is answered first: Quit never waits for the user.
    EndPlayback(TakePlayback(), true);
    EndSpareThread();
    // Quit may run inside a Stop's wait; a thread still inside the engine
    // (one being ended around this Quit, or one Stop abandoned) must not
    // find the engine gone: it is left loaded then.
    const bool threadsEnded =
        EarlierPlaybacksEnded(kQuitThreadWaitMs, true) && AbandonedThreadsEnded(kQuitThreadWaitMs);
    // Nor may the engine's library go while one of its threads is still in
    // the plug-in's code.
    WaitForEngineCallsToLeave();
    // Work the engine's reports left for this thread may hold engine objects.
    ui::RunPendingWork();
    if (threadsEnded)
        engine::UnloadEngine();
    else
        Trace("a playback's thread is still inside the engine: the engine stays loaded");
    ui::DestroyUiWindow();
}

int Play(const char* path) noexcept {
    if (g_quitDone) return 1;
    if (engine::LoadEngine() != 0) return 1;
    if (const PlaybackRef current = CurrentPlayback(); current && current->State() != StateIdle) {
        Trace("Play refused: a playback is still in state %d", static_cast<int>(current->State()));
        return 1;
    }
    if (!g_module.outMod) {
        Trace("Play refused: the host gave no output");
        return 1;
    }
    // A path that does not fit, as a path or as the URL made of it, is
    // refused whole: a cut one would play another file.
    char url[kUrlCapacity];
    int quiet = 0;
    if (!path || std::strlen(path) >= kPathCapacity || !FormPlaybackUrl(path, url, sizeof(url), &quiet)) {
        Trace("Play refused: no path, or one too long to play");
        return 1;
    }
    // A playback that ended by itself (the end of the last presentation) is
    // still held until now; one that a Stop around this Play is ending has
    // to be through first.
    EndPlayback(TakePlayback(), false);
    if (!EarlierPlaybacksEnded(kEarlierThreadWaitMs, false) || !AbandonedThreadsEnded(kEarlierThreadWaitMs) ||
        g_quitDone) {
        Trace("Play refused: an earlier playback's thread has not ended");
        return 1;
    }

    PlaybackRef playback;
    try {
        playback = std::make_shared<Playback>(path, url, quiet != 0, GetCurrentThreadId());
    } catch (...) {
        return 1;
    }
    // Installed first: the thread's first call into the player may report.
    InstallPlayback(playback);
    if (!StartPlaybackThread(playback)) {
        EndPlayback(TakePlayback(), false);
        return 1;
    }

    PumpMessagesWhile(*playback, StillStarting);
    // A Quit that ran inside the wait has ended this playback, and no
    // thread may be started after it.
    if (g_quitDone) return 1;
    // The next track's thread gets ready while this one plays.
    PrepareSpareThread();
    const PlaybackState state = playback->State();
    // A presentation so short that it ended before Play could look has
    // played: its end of file waits for Play to return.
    const bool endedAlready = state == StateIdle && playback->HoldsHostMessage();
    if (!playback->Closed() && (state == StateOpened || state == StatePlaying || endedAlready)) {
        playback->PlayReturned();
        return 0;
    }

    // The host never calls Stop after a failed Play and goes on to the next
    // entry: the playback ends here, leaving nothing behind, and the user
    // still learns why (its box is shown before its thread ends).
    if (state == StateFailed) AwaitFailureReport(*playback);
    if (CurrentPlayback() == playback) EndPlayback(TakePlayback(), false);
    return 1;
}

// The playback's gate keeps the one mark of the host's pause.
void Pause() noexcept {
    const PlaybackRef playback = CurrentPlayback();
    if (!playback || playback->Gate().paused || !HasPlayer()) return;
    playback->Gate().paused = true;
    engine::CurrentLink()->PausePlayer();
    audio::PauseOutput(*playback, true);
}

void UnPause() noexcept {
    const PlaybackRef playback = CurrentPlayback();
    if (!playback || !playback->Gate().paused || !HasPlayer()) return;
    playback->Gate().paused = false;
    engine::CurrentLink()->ResumePlayer();
    audio::PauseOutput(*playback, false);
}

int IsPaused() noexcept {
    const PlaybackRef playback = CurrentPlayback();
    return playback && playback->Gate().paused ? 1 : 0;
}

// Only the playback Stop takes from the slot is touched: a Play that runs
// inside Stop's wait (a message another thread sends) keeps its own.
// The host's decode path (CD burning) plays on a thread of its own, and
// calls Stop there even after a Play that was refused because a track
// plays on the host's thread: that track is not its to stop.
void Stop() noexcept {
    const PlaybackRef current = CurrentPlayback();
    if (current && current->StarterThread() && current->StarterThread() != GetCurrentThreadId()) {
        Trace("Stop from a thread that did not start the playback ignored");
        return;
    }
    EndPlayback(TakePlayback(), false);
}

int GetLength() noexcept {
    const PlaybackRef playback = CurrentPlayback();
    return playback ? playback->LengthMs() : 0;
}

int GetOutputTime() noexcept {
    const PlaybackRef playback = CurrentPlayback();
    return playback ? playback->PositionMs() : 0;
}

void SetOutputTime(int timeMs) noexcept {
    const PlaybackRef playback = CurrentPlayback();
    // Without a running thread nobody would carry the seek out, and the wait
    // below would never end.
    // A failed playback stays failed until the host's Stop.  A presentation
    // that has ended cannot seek: its end of file comes once the output has
    // played out.
    if (!playback || !PlaybackThreadRunning(*playback) || playback->PresentationEnded()) return;
    // The state goes first: an engine that seeks at once must not be
    // overtaken by this write.  An error reported before it stands.
    if (!playback->Move(StateSeekRequested)) return;
    playback->AskSeek();
    playback->Post(CmdSeek, timeMs);
    PumpMessagesWhile(*playback, SeekNotHanded);
}

// The host sets these whenever its slider moves, playing or not; its
// output keeps them for its next Open.
void SetVolume(int volume) noexcept {
    if (g_module.outMod && g_module.outMod->SetVolume) g_module.outMod->SetVolume(volume);
}
void SetPan(int pan) noexcept {
    if (g_module.outMod && g_module.outMod->SetPan) g_module.outMod->SetPan(pan);
}

int IsOurFile(const char* name) noexcept { return IsRealMediaName(name) ? 1 : 0; }
int InfoBox(const char*, HWND) noexcept { return 0; }
void EQSet(int, char[10], int) noexcept {}

}  // namespace plugin
