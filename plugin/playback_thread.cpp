#include "plugin/playback_thread.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "audio/output_gate.h"
#include "core/playback.h"
#include "core/trace.h"
#include "engine/engine_link.h"
#include "mediainfo/media_info.h"

namespace plugin {
namespace {

using namespace core;

constexpr DWORD kDrainLimitMs = 10000;
constexpr DWORD kDrainPollMs = 50;

// Lets the output module play out what it holds, for at most ten seconds.
// A Stop meanwhile ends the wait at once: it has closed the playback and
// the output, and the host must not see an end of file.  Every look at the
// output goes through the playback's output gate.
bool DrainOutput(Playback& playback) {
    // Time while the host has paused does not count: the end waits for the
    // user, as the output's sound does.
    DWORD playing = 0;
    DWORD last = GetTickCount();
    while (playing < kDrainLimitMs) {
        const audio::Playout playout = audio::ProbePlayout(playback);
        if (playout == audio::Playout::Closed) return false;
        if (playout == audio::Playout::Done) return true;
        // Close sets the event: a Stop does not wait for the poll.
        WaitForSingleObject(playback.WakeEvent(), kDrainPollMs);
        const DWORD now = GetTickCount();
        if (playout == audio::Playout::Playing) playing += now - last;
        last = now;
    }
    return !playback.Closed();
}

// Waits for the next command, dispatching whatever else comes to the
// thread meanwhile.  False when the thread is told to quit.
bool WaitForCommand(Playback& playback) {
    HANDLE wake = playback.WakeEvent();
    MsgWaitForMultipleObjects(1, &wake, FALSE, INFINITE, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return false;
        DispatchMessageA(&msg);
    }
    return true;
}

void RunPlayback(Playback& playback) {
    // A playback stopped before its thread ran has nothing to open or stop;
    // its end still wakes a Play that waits for it.
    if (playback.Closed()) return playback.Finish();

    // A local file's header tells the stream's bit rate, which the host
    // shows; read here, off the host's thread and outside the engine's lock.
    if (!std::strchr(playback.Path(), '/')) playback.SetStreamKbps(mediainfo::ReadStreamKbps(playback.Path()));

    rma::IRMAPlayer* player = engine::CurrentLink()->Player();
    const HRESULT opened = player->OpenURL(playback.Url());
    if (opened != 0) {
        TraceFailure("OpenURL", opened);
        // Nothing begins; the thread stays to show the box of the engine's
        // report of the refusal, and ends with the host's Stop.
        playback.Move(StateFailed);
    } else if (!playback.Closed()) {
        // A Stop during a slow OpenURL leaves nothing to begin: the engine
        // would only start connecting to be stopped.
        // Only from Starting: an error the engine reported meanwhile stands.
        playback.Move(StateStarting, StateOpened);
        // Marked first: the engine may report the end inside Begin.
        playback.MarkBegun();
        const HRESULT begun = player->Begin();
        TraceFailure("Begin", begun);
        // A presentation that cannot begin (it ended unheard, by an error
        // outside the error sink's range) would never end: the host is told
        // to stop.  One that failed aloud has its box, which does that.
        if (begun != 0 && playback.Move(StateFailed))
            playback.PostToHost(WM_COMMAND, winamp::kStopCommand);
    }

    for (;;) {
        int command = 0, argument = 0;
        if (!playback.TakeCommand(&command, &argument)) {
            if (!WaitForCommand(playback)) break;
            continue;
        }
        if (command == CmdStop) break;
        if (command == CmdOpenOutput) audio::OpenOutputModule(playback);
        if (command == CmdStreamEnded) {
            // A playback that failed meanwhile (its output refused to open)
            // has its box and its Stop waiting instead.
            if (playback.State() == StateFailed) continue;
            // A seek can no longer be carried out: the host does not wait
            // for one while the output plays out.
            playback.MarkPresentationEnded();
            // The output plays out what it holds first, whatever IsDone says:
            // the engine reports the end before IsDone turns true.
            if (DrainOutput(playback)) playback.PostToHost(winamp::kEndOfFileMessage, 0);
            break;
        }
        if (command == CmdSeek) {
            const std::uint32_t flushes = playback.Gate().engineFlushes.load();
            const HRESULT sought = player->Seek(static_cast<rma::ULONG32>(argument));
            TraceFailure("Seek", sought);
            // The engine drops the old place's sound inside Seek (the
            // device's Reset, OnPreSeek) and writes the new place's as soon
            // as Seek lets its lock go: a Flush now would drop that.  Only
            // a seek the engine flushed nothing for is flushed here.  A
            // refused seek (the presentation has ended) keeps what the
            // output still has to play.
            if (sought == 0 && playback.Gate().engineFlushes.load() == flushes) audio::FlushOutput(playback, argument);
            // The engine has the seek: SetOutputTime may return.  Its end
            // (OnPostSeek) comes with the engine's next time report.
            playback.Move(StateSeekRequested, sought == 0 ? StateSeeking : StatePlaying);
            playback.SeekHanded();
        }
        if (command == CmdShowBox) {
            FailureBox box;
            if (playback.TakeFailureBox(&box)) {
                playback.ShowBox(box);
                // The host still shows a playback that has been given up:
                // tell it to stop, unless it has stopped meanwhile.
                playback.PostToHost(WM_COMMAND, winamp::kStopCommand);
            }
        }
    }
    // Marked first: the engine's OnStop inside Stop answers this, it is not
    // the end of the presentation.
    playback.MarkStopping();
    TraceFailure("Stop", player->Stop());
    // Seeks still queued will not be carried out: nobody waits for them.
    playback.Finish();
}

// A thread waiting for its playback: the host sets `playback` (null: end
// without one) and then the event.  The thread owns the record.
struct ThreadStart {
    UniqueHandle go;
    PlaybackRef playback;
};

DWORD WINAPI PlaybackThread(void* parameter) noexcept {
    bool abandoned = false;
    {
        const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        WaitForSingleObject(start->go.get(), INFINITE);
        if (start->playback) {
            RunPlayback(*start->playback);
            abandoned = !start->playback->ThreadEnds();
        }
    }
    // Stop gave up waiting for this thread and took a reference on the
    // library for it, which goes with the thread's last step.
    constexpr DWORD kOwnModule = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    HMODULE self = nullptr;
    if (abandoned && GetModuleHandleExA(kOwnModule, reinterpret_cast<LPCSTR>(&PlaybackThread), &self))
        FreeLibraryAndExitThread(self, 0);
    return 0;
}

// The spare, held by the host's thread until a playback takes it.
struct Spare {
    UniqueHandle thread;
    DWORD id = 0;
    ThreadStart* start = nullptr;  // the thread's, valid until `go` is set
};
Spare g_spare;

bool StartThread(Spare* spare) noexcept {
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart);
    if (!start) return false;
    start->go.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!start->go) return false;
    DWORD id = 0;
    UniqueHandle thread(CreateThread(nullptr, 0, PlaybackThread, start.get(), 0, &id));
    if (!thread) return false;
    spare->start = start.release();  // the thread's now
    spare->thread = std::move(thread);
    spare->id = id;
    return true;
}

// Hands the spare's thread its playback (or none) and lets it go.
void Release(Spare* spare, PlaybackRef playback) noexcept {
    ThreadStart* start = std::exchange(spare->start, nullptr);
    start->playback = std::move(playback);
    SetEvent(start->go.get());
}

}  // namespace

bool StartPlaybackThread(const PlaybackRef& playback) noexcept {
    Spare spare = std::move(g_spare);
    g_spare = Spare{};
    if (!spare.start && !StartThread(&spare)) return false;
    playback->thread = std::move(spare.thread);
    playback->threadId = spare.id;
    Release(&spare, playback);
    return true;
}

void PrepareSpareThread() noexcept {
    if (!g_spare.start) StartThread(&g_spare);
}

void EndSpareThread() noexcept {
    if (!g_spare.start) return;
    Release(&g_spare, nullptr);
    WaitForSingleObject(g_spare.thread.get(), INFINITE);
    g_spare = Spare{};
}

}  // namespace plugin
