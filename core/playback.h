// One playback: everything that belongs to one Play, from the host's Play
// until its Stop, in one object.  The host's thread keeps the current one
// in a slot; whatever acts later on behalf of a playback (its thread, an
// engine report, the audio device, a queued box, a video site) holds a
// reference to it and acts only through it, and every act is refused once
// the playback is closed.  A late event of a stopped playback therefore
// reaches nothing of the next one.
//
// ---- Threads ------------------------------------------------------------------
// The host's thread
//   Runs every host operation: Init, Quit, Play, Stop, Pause, UnPause,
//   SetOutputTime, SetVolume, SetPan, GetOutputTime, GetLength,
//   GetFileInfo.  It created the engine (the first Play), so it is also
//   the engine's system thread, and
//   the engine's scheduled work, its time callbacks (and the device's
//   Writes inside them) and its reports (advise sink, error sink, site
//   supplier) run on it whenever it dispatches messages, with the engine's
//   lock held.  It owns the plug-in's message-only window (ui/), and every
//   window of the plug-in's is created and destroyed here: the status
//   caption, the video sites' windows.  Other threads only ask, and so do
//   the engine's reports on this thread: their window work is posted and
//   runs from a plain dispatch, without the engine's lock (ui/ui_thread.h).
// The playback thread, one per playback
//   Calls OpenURL, Begin, Seek and Stop into the player, opens the host's
//   output when the engine has opened the audio device, plays out the
//   output at the end of a stream, and shows the playback's failure box.
//   It takes its commands from the playback's queue, woken by an event.
//   The engine reports on it too, inside those calls and with its lock
//   held: SitesNotNeeded and errors inside OpenURL, OnBegin inside Begin,
//   the device's Reset, OnPreSeek and OnPostSeek inside Seek, the device's
//   Close and OnStop inside Stop.
//   It is started ahead, as the spare of the Play before (plugin/), and
//   ends with its playback; Stop joins it, or, when it does not end in
//   time, abandons it: it then ends on its own, holding a reference on the
//   plug-in's library until it has.
// The engine's timer thread
//   Opens the audio device, writes audio into it, pauses, resumes and
//   resets it (audio/).  It holds the engine's own lock throughout, so it
//   never waits for the host's thread: the host's output is opened by the
//   playback thread.  Writes also come inside the device's time callback,
//   on the host's thread.
// The host's other threads
//   GetOutputTime and GetLength also come from the host's visualisation
//   thread (about every 16 ms, at the highest priority), from visualisation
//   plug-ins' threads and from any thread through the host's messages
//   (IPC_GETOUTPUTTIME): they read the current playback under its lock and
//   touch nothing else.  The
//   host's decode path (CD burning) calls Play and Stop from a thread of its
//   own with an output of its own: each playback keeps the output it was
//   started with, and Stop leaves a playback another thread started.
// The engine's other threads (network, decoders)
//   May report too: every report takes the current playback from the slot
//   and acts through it, and asks the host's thread for any window.
//
// Stop may run inside the message pumps of Play, SetOutputTime and the
// failure box: another thread may send the host's window a message whose
// handler calls Stop and Play (a remote-control plug-in does).  So no pump
// holds a lock, and each host operation acts only on the playback it took
// from the slot, never on whatever is current when its pump returns.
//
// ---- Locks, and what each guards --------------------------------------------
// - The slot's lock (playback.cpp): the current playback.
// - Playback::lock_: the state, the closed mark, the engine phase, the
//   position and length, the command queue, the seek counts, the waiting
//   host thread, the message told to the host, the failure box and the box
//   on screen, the video sites.  Every state change goes through MayMove.
//   Held for a few field writes only, never across a call out.
// - OutputGate::lock: every call into the host's output module but its
//   Open (the playback thread's, outside it), and the gate's fields.  Stop
//   waits for it at most a bounded time.  lock_ is never taken while it
//   is held.
// - AudioDevice's lock (audio/): its response, its playback, its DSP buffer.
// - AudioDevice's lock also guards its visualisation window.
// - The abandoned threads' lock (plugin/): the threads Stop gave up on.
// Atomics: closed_ (read by the gate without lock_), the gate's output
// mark (read by the per-block path without the gate), its count of the
// engine's flushes and its Flush left for later, the thread's end, the
// stream's kbps, the count of engine threads inside the plug-in (below),
// the device's own flags (audio/), and the message-only window with its
// thread (ui/), read by any thread.
// Plain fields, each touched by one thread only: the playback's thread
// handle and id and the status caption; the spare thread,
// the playbacks being ended and Quit's mark (plugin/).  All the host's
// thread's.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "core/com_ptr.h"
#include "core/host_module.h"
#include "core/rma.h"
#include "core/unique_any.h"

namespace core {

enum PlaybackState : std::int32_t {
    StateIdle = 0,
    StateStarting = 1,
    StateSeekRequested = 3,
    StateOpened = 5,
    StatePlaying = 16,
    StateSeeking = 17,
    StateFailed = 128,
};

// The states grouped as the code tests them.
// Play waits while the playback thread has not opened the URL yet.
constexpr bool IsStarting(PlaybackState state) noexcept { return state == StateStarting; }
// A seek asked for and not yet finished by the engine.
constexpr bool IsSeekPending(PlaybackState state) noexcept {
    return state == StateSeekRequested || state == StateSeeking;
}
// Audio flows to the host: playing, or seeking within a playing presentation
// (the 0x10 group of the state codes).
constexpr bool IsAudioFlowing(PlaybackState state) noexcept { return (state & 0xF0) == 0x10; }

// Every change of a playback's state, in one table: whoever moves it
// (the thread, the engine's reports, the device, SetOutputTime) asks for a
// state, and the move happens only when the table allows it from the state
// the playback is in at that moment.  Failed and Idle are ends: an error
// stands until the host's Stop, and nothing overwrites it.
constexpr bool MayMove(PlaybackState from, PlaybackState to) noexcept {
    switch (to) {
    case StateOpened:  // the URL is open
        return from == StateStarting;
    case StatePlaying:  // the device opened, a seek ended, or a seek was refused
        return from == StateOpened || from == StateSeekRequested || from == StateSeeking;
    case StateSeekRequested:  // the host asked for a seek
        return from == StateOpened || from == StatePlaying || from == StateSeekRequested || from == StateSeeking;
    case StateSeeking:  // the engine began a seek
        return from == StateOpened || from == StatePlaying || from == StateSeekRequested || from == StateSeeking;
    case StateFailed:
    case StateIdle:  // the thread's end
        return from != StateFailed && from != StateIdle;
    default:
        return false;
    }
}

// CmdShowBox: show the failure box queued with QueueFailureBox.
// CmdOpenOutput: open the host's output for the format the device was
// opened with (audio/output_gate.h).
enum PlayerCommand : int { CmdStop = 1, CmdStreamEnded = 2, CmdSeek = 3, CmdShowBox = 4, CmdOpenOutput = 5 };

// The host's names are up to 1039 characters; the URL adds "file:".
constexpr int kPathCapacity = 1040;
constexpr int kUrlCapacity = kPathCapacity + 5;

struct FailureBox {
    char text[1024];
    char caption[64];
};

// The gate between the audio device and the host's output module of one
// playback; audio/output_gate.h works it.
struct OutputGate {
    std::timed_mutex lock;
    // Guarded by lock.  rate, channels, bits: the format the audio device
    // was opened with, for the output's Open.  outputOpen: this playback
    // opened the host's output and has not closed it; written under the
    // lock, also read without it, so that the device's per-block path does
    // not wait for the gate while the output is not open yet.  flushedToMs:
    // where the output's time restarted (0 at Open, the target of the last
    // Flush); the bytes the engine gave and the output was given since then.
    int rate = 0, channels = 0, bits = 0;
    std::atomic<bool> outputOpen{false};
    // The host's pause, the one mark of it: written by the host's thread
    // without the lock, and made the output's by whoever holds the gate
    // next (at the output's Open when it came before: the output's lock may
    // be held inside that Open meanwhile).  outputPaused: what the output
    // was last told.
    std::atomic<bool> paused{false};
    bool outputPaused = false;
    int flushedToMs = 0;
    // The engine's own flushes (the device's Reset, OnPreSeek), counted
    // whether or not the output was open: a seek the engine flushed for
    // needs no Flush of the playback thread's.
    std::atomic<std::uint32_t> engineFlushes{0};
    long long engineBytes = 0;
    long long hostBytes = 0;
    // What the output's Write refused (it answers 1 while paused, say) of
    // a block it was given: written before anything else.
    std::vector<char> pending;
    size_t pendingAt = 0;
    // A Flush that could not wait for the gate (an output call of another
    // thread had not returned): made by the next holder, before anything
    // else.  Set without the lock.
    static constexpr int kNoFlush = -1;
    static constexpr int kFlushToNow = -2;  // the output's own present time
    std::atomic<int> pendingFlushMs{kNoFlush};
};

class Playback {
public:
    // A playback of `path`, played as `url`; false `quiet` shows the status
    // caption.  It starts in StateStarting.  Throws std::bad_alloc.
    Playback(const char* path, const char* url, bool quiet, DWORD starter = 0);
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // The host's output for this playback, as the record held it at Play:
    // the host sets outMod before every Play, and may change it (its decode
    // path swaps in an output of its own) while this one still plays.
    winamp::Out_Module* Output() const noexcept { return output_; }
    // The stream's average bit rate from its file's header, for the host's
    // kbps display; 0 while unknown.  Set by the playback's thread.
    void SetStreamKbps(int kbps) noexcept { streamKbps_ = kbps; }
    int StreamKbps() const noexcept { return streamKbps_.load(); }
    // The thread whose Play made this playback; 0 for one made otherwise.
    DWORD StarterThread() const noexcept { return starter_; }

    const char* Path() const noexcept { return path_; }
    const char* Url() const noexcept { return url_; }
    bool Quiet() const noexcept { return quiet_; }

    // ---- the end ---------------------------------------------------------
    // Stop's: every later act of the playback is refused, its seeks count as
    // handed over, and its thread and waiting host thread wake.  False when
    // it was closed already.
    bool Close() noexcept;
    bool Closed() const noexcept { return closed_.load(); }

    // ---- the state: each change wakes the host thread waiting on it -----
    PlaybackState State() const noexcept;
    // Moves to `to` when MayMove allows it from the present state and the
    // playback is open; false otherwise.
    bool Move(PlaybackState to) noexcept;
    // The same, only from `from`.
    bool Move(PlaybackState from, PlaybackState to) noexcept;
    // Failed now, whoever failed it: false when it ended or closed first.
    bool IsOrBecomesFailed() noexcept;
    // The thread's last word: StateIdle, unless the playback failed, which
    // stands until the host's Stop; every seek counts as handed over.
    void Finish() noexcept;
    // Tests' only: puts an open playback in `state`, past the table.
    void ForceStateForTesting(PlaybackState state) noexcept;

    // ---- the engine's presentation ---------------------------------------
    // The thread has told the player to begin (marked before Begin: the
    // engine may report inside it), and then to stop (marked before Stop:
    // the OnStop inside it answers the thread, it is not the end).
    void MarkBegun() noexcept;
    void MarkStopping() noexcept;
    // Begun, not stopping, not closed: the engine's reports are ours.
    bool PresentationIsOurs() const noexcept;

    void SetPosLength(std::int32_t positionMs, std::int32_t lengthMs) noexcept;
    std::int32_t PositionMs() const noexcept;
    std::int32_t LengthMs() const noexcept;

    // ---- the command queue -------------------------------------------------
    // Queues a command and wakes the thread; false once closed.  Nothing is
    // lost before the thread runs or while a box's modal loop runs on it.
    bool Post(int command, int argument) noexcept;
    // The oldest command; once closed, CmdShowBox while the failure box
    // waits and then CmdStop, whatever else waits.  False when none waits.
    bool TakeCommand(int* command, int* argument) noexcept;
    // Set by Post and Close; the thread waits on it.
    HANDLE WakeEvent() const noexcept { return wake_.get(); }

    // Posts a message to the host's window while the playback is open, in
    // one step with Close: nothing of a closed playback reaches the host.
    // Before its Play has returned the message is held back: the host
    // ignores its end of file and Stop command while Play runs, and one
    // dispatched inside Play's pump would be lost.  A playback tells the
    // host once (its end, or its failure's Stop): the host stops at the
    // first, and a second would stop whatever plays next.
    bool PostToHost(UINT message, WPARAM wParam) noexcept;
    // The message that went to the host's queue, for Stop to take back
    // should the host not have read it yet; false when none went.
    bool PostedHostMessage(UINT* message, WPARAM* wParam) const noexcept;
    // Play is returning 0: a message held back goes now.
    void PlayReturned() noexcept;
    // A message waits for Play to return (a presentation that ended
    // before Play could tell, and whose end waits).
    bool HoldsHostMessage() const noexcept;

    // ---- seeks -----------------------------------------------------------
    // SetOutputTime waits until the thread has handed its seek to the
    // engine, not until the engine has finished it (that comes with the
    // engine's next time report, never while paused).  The state cannot
    // tell (a seek asked for meanwhile looks the same), so seeks are
    // counted: asked by SetOutputTime, handed over by the thread one by
    // one, and all at once when the thread ends or the playback closes.
    void AskSeek() noexcept;
    void SeekHanded() noexcept;
    bool SeekOutstanding() const noexcept;
    // The engine has ended the presentation and the thread plays out what
    // the output holds: no seek will be carried out any more, and none is
    // waited for.
    void MarkPresentationEnded() noexcept;
    bool PresentationEnded() const noexcept;

    // A host thread announces that it waits for this playback to change, so
    // that every change wakes it; returns the waiter it replaces.
    DWORD ExchangeWaiter(DWORD threadId) noexcept;

    // ---- the failure box ---------------------------------------------------
    // Queues the playback's box and asks its thread to show it: never inside
    // an engine's call, whose lock a box's message loop would hold while the
    // host's Stop waits for the thread.  One box a playback: false when it
    // has had one, or is closed.
    bool QueueFailureBox(const char* text, const char* caption) noexcept;
    bool HadFailureBox() const noexcept;
    bool TakeFailureBox(FailureBox* box) noexcept;
    // The thread shows its box through this: while it is up, Stop's wait
    // does not run out, and CloseBoxes can answer it.
    int ShowBox(const FailureBox& box) noexcept;
    // A box of the thread's is on screen: its own, or one an output shows
    // inside its Open.
    bool BoxShowing() const noexcept;
    // Around a call on the playback's thread that may show a box, as the
    // output's Open does when it fails: the box counts as the playback's.
    class MayShowBox {
    public:
        explicit MayShowBox(Playback& playback) noexcept;
        ~MayShowBox();
        MayShowBox(const MayShowBox&) = delete;
        MayShowBox& operator=(const MayShowBox&) = delete;

    private:
        Playback& playback_;
    };
    // Answers the playback's box as its close button would.
    void CloseBoxes() noexcept;

    // ---- the video sites ----------------------------------------------------
    // Keeps every video site the presentation was given a window for, for
    // Stop to destroy.  False once closed: the caller destroys the site.
    bool AdoptVideoSite(ComPtr<rma::IRMASiteWindowed> site, HWND window) noexcept;
    std::vector<ComPtr<rma::IRMASiteWindowed>> TakeVideoSites() noexcept;
    // The newest site's window, which carries the status text; kept after
    // the window is gone.
    HWND VideoWindow() const noexcept;

    // ---- the thread's end ----------------------------------------------------
    // The thread's last step and Stop's giving up on it race; whichever
    // comes second learns of the first.  ThreadEnds (the thread's) is false
    // when Stop abandoned it; AbandonThread (Stop's) is false when the
    // thread had ended after all.
    bool ThreadEnds() noexcept;
    bool AbandonThread() noexcept;

    OutputGate& Gate() noexcept { return gate_; }

    // ---- the host's thread only ------------------------------------------
    UniqueHandle thread;
    DWORD threadId = 0;
    HWND caption = nullptr;  // the status caption, made and destroyed by ui/

private:
    void Changed();          // lock_ held
    void PostHeldMessage();  // lock_ held
    // The one place a state changes, as MayMove allows.  lock_ held.
    bool MoveLocked(PlaybackState to);

    winamp::Out_Module* const output_;
    std::atomic<int> streamKbps_{0};
    const DWORD starter_;
    char path_[kPathCapacity] = {};
    char url_[kUrlCapacity] = {};
    const bool quiet_;

    mutable std::mutex lock_;
    std::atomic<bool> closed_{false};  // written under lock_; read without by the gate
    PlaybackState state_ = StateStarting;
    bool begun_ = false;
    bool stopping_ = false;
    std::int32_t positionMs_ = 0;
    std::int32_t lengthMs_ = 0;
    struct Command {
        int command;
        int argument;
    };
    std::deque<Command> commands_;
    std::uint32_t seeksAsked_ = 0;
    std::uint32_t seeksHanded_ = 0;
    DWORD waiter_ = 0;
    bool playReturned_ = false;
    bool presentationEnded_ = false;
    bool hostTold_ = false;   // a message went to the host, or is held for it
    bool hostPosted_ = false; // and is in the host's queue
    UINT heldMessage_ = 0;    // the message, held until Play returns
    WPARAM heldWParam_ = 0;
    bool boxQueued_ = false;   // this playback has had its box
    bool boxWaiting_ = false;  // queued and not yet taken
    FailureBox box_{};
    DWORD boxThread_ = 0;      // the thread that shows, or may show, a box; or 0
    std::vector<ComPtr<rma::IRMASiteWindowed>> videoSites_;
    HWND videoWindow_ = nullptr;
    enum ThreadEnd : int { ThreadRunning, ThreadEnded, ThreadAbandoned };
    std::atomic<int> threadEnd_{ThreadRunning};

    UniqueHandle wake_;
    OutputGate gate_;
};

using PlaybackRef = std::shared_ptr<Playback>;

// The current playback, with a reference; null when none.  Any thread.
PlaybackRef CurrentPlayback() noexcept;
// The host's thread: Play installs its new playback, Stop takes it out.
void InstallPlayback(PlaybackRef playback) noexcept;
PlaybackRef TakePlayback() noexcept;

// Counts the engine's threads inside the plug-in's code that may stay long
// (the audio device's Open and time callback), so that the engine is never
// closed or its library freed under them.
class EngineCallScope {
public:
    EngineCallScope() noexcept;
    ~EngineCallScope();
    EngineCallScope(const EngineCallScope&) = delete;
    EngineCallScope& operator=(const EngineCallScope&) = delete;
};
int EngineCallsInside() noexcept;

}  // namespace core
