#include "core/playback.h"

#include <cstdio>
#include <new>
#include <string_view>
#include <utility>

#include "core/trace.h"

namespace core {

namespace {

constexpr size_t kCommandQueueLimit = 64;

// Guards the slot only.
std::mutex g_slotLock;
PlaybackRef g_current;

std::atomic<int> g_engineCallsInside{0};

bool IsBoxWindow(HWND window) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    return std::string_view(className) == "#32770";
}

BOOL CALLBACK CloseBoxWindow(HWND window, LPARAM) {
    if (IsBoxWindow(window)) PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

BOOL CALLBACK FindBoxWindow(HWND window, LPARAM found) {
    if (!IsBoxWindow(window) || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

}  // namespace

Playback::Playback(const char* path, const char* url, bool quiet, DWORD starter)
    : output_(g_module.outMod), starter_(starter), quiet_(quiet) {
    std::snprintf(path_, sizeof path_, "%s", path ? path : "");
    std::snprintf(url_, sizeof url_, "%s", url ? url : "");
    wake_.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!wake_) throw std::bad_alloc();
}

Playback::~Playback() = default;

// A waiting host thread may sit in GetMessage on a quiet queue: a message
// makes it look again.
void Playback::Changed() {
    if (waiter_) PostThreadMessageA(waiter_, WM_NULL, 0, 0);
}

bool Playback::Close() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) return false;
    closed_.store(true);
    seeksHanded_ = seeksAsked_;
    Changed();
    SetEvent(wake_.get());
    return true;
}

PlaybackState Playback::State() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return state_;
}

bool Playback::MoveLocked(PlaybackState to) {
    if (!MayMove(state_, to)) return false;
    state_ = to;
    Changed();
    return true;
}

bool Playback::Move(PlaybackState to) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return !closed_.load() && MoveLocked(to);
}

bool Playback::Move(PlaybackState from, PlaybackState to) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return !closed_.load() && state_ == from && MoveLocked(to);
}

void Playback::ForceStateForTesting(PlaybackState state) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) return;
    state_ = state;
    Changed();
}

bool Playback::IsOrBecomesFailed() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) return false;
    MoveLocked(StateFailed);
    return state_ == StateFailed;
}

void Playback::Finish() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    MoveLocked(StateIdle);
    seeksHanded_ = seeksAsked_;
    Changed();
}

void Playback::MarkBegun() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    begun_ = true;
}

void Playback::MarkStopping() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    stopping_ = true;
}

bool Playback::PresentationIsOurs() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return begun_ && !stopping_ && !closed_.load();
}

void Playback::SetPosLength(std::int32_t positionMs, std::int32_t lengthMs) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) return;
    positionMs_ = positionMs;
    lengthMs_ = lengthMs;
}

std::int32_t Playback::PositionMs() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return positionMs_;
}

std::int32_t Playback::LengthMs() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return lengthMs_;
}

bool Playback::Post(int command, int argument) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) {
        Trace("player command %d dropped: its playback has ended", command);
        return false;
    }
    if (commands_.size() >= kCommandQueueLimit) {
        Trace("player command %d dropped: the queue is full", commands_.front().command);
        commands_.pop_front();
    }
    try {
        commands_.push_back({command, argument});
    } catch (const std::bad_alloc&) {
        Trace("player command %d dropped: no memory", command);
        return false;
    }
    SetEvent(wake_.get());
    return true;
}

bool Playback::TakeCommand(int* command, int* argument) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) {
        // The user still learns why the playback failed, then it stops.
        *command = boxWaiting_ ? CmdShowBox : CmdStop;
        *argument = 0;
        return true;
    }
    if (commands_.empty()) return false;
    *command = commands_.front().command;
    *argument = commands_.front().argument;
    commands_.pop_front();
    return true;
}

bool Playback::PostToHost(UINT message, WPARAM wParam) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) {
        Trace("message %u of a stopped playback not posted", message);
        return false;
    }
    if (hostTold_) {
        Trace("message %u not posted: the host has been told already", message);
        return false;
    }
    hostTold_ = true;
    heldMessage_ = message;
    heldWParam_ = wParam;
    if (playReturned_) PostHeldMessage();
    return true;
}

void Playback::PostHeldMessage() {
    hostPosted_ = PostMessageA(g_module.hMainWindow, heldMessage_, heldWParam_, 0) != 0;
}

bool Playback::PostedHostMessage(UINT* message, WPARAM* wParam) const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (!hostPosted_) return false;
    *message = heldMessage_;
    *wParam = heldWParam_;
    return true;
}

bool Playback::HoldsHostMessage() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return hostTold_ && !playReturned_;
}

void Playback::PlayReturned() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    playReturned_ = true;
    if (hostTold_ && !hostPosted_ && !closed_.load()) PostHeldMessage();
}

void Playback::AskSeek() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    ++seeksAsked_;
}

void Playback::SeekHanded() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (seeksHanded_ != seeksAsked_) ++seeksHanded_;
    Changed();
}

bool Playback::SeekOutstanding() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return !presentationEnded_ && seeksHanded_ != seeksAsked_;
}

void Playback::MarkPresentationEnded() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    presentationEnded_ = true;
    Changed();
}

bool Playback::PresentationEnded() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return presentationEnded_;
}

DWORD Playback::ExchangeWaiter(DWORD threadId) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return std::exchange(waiter_, threadId);
}

bool Playback::QueueFailureBox(const char* text, const char* caption) noexcept {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (boxQueued_ || closed_.load()) return false;
        boxQueued_ = true;
        boxWaiting_ = true;
        std::snprintf(box_.text, sizeof box_.text, "%s", text ? text : "");
        std::snprintf(box_.caption, sizeof box_.caption, "%s", caption ? caption : "");
    }
    Post(CmdShowBox, 0);
    return true;
}

bool Playback::HadFailureBox() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return boxQueued_;
}

bool Playback::TakeFailureBox(FailureBox* box) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (!boxWaiting_) return false;
    boxWaiting_ = false;
    *box = box_;
    return true;
}

Playback::MayShowBox::MayShowBox(Playback& playback) noexcept : playback_(playback) {
    std::lock_guard<std::mutex> lock(playback_.lock_);
    playback_.boxThread_ = GetCurrentThreadId();
}

Playback::MayShowBox::~MayShowBox() {
    std::lock_guard<std::mutex> lock(playback_.lock_);
    playback_.boxThread_ = 0;
}

int Playback::ShowBox(const FailureBox& box) noexcept {
    MayShowBox showing(*this);
    return MessageBoxA(g_module.hMainWindow, box.text, box.caption, MB_OK | MB_ICONERROR);
}

bool Playback::BoxShowing() const noexcept {
    DWORD thread;
    {
        std::lock_guard<std::mutex> lock(lock_);
        thread = boxThread_;
    }
    bool found = false;
    if (thread) EnumThreadWindows(thread, FindBoxWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

void Playback::CloseBoxes() noexcept {
    DWORD thread;
    {
        std::lock_guard<std::mutex> lock(lock_);
        thread = boxThread_;
    }
    if (thread) EnumThreadWindows(thread, CloseBoxWindow, 0);
}

bool Playback::AdoptVideoSite(ComPtr<rma::IRMASiteWindowed> site, HWND window) noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    if (closed_.load()) return false;
    try {
        videoSites_.push_back(std::move(site));
    } catch (const std::bad_alloc&) {
        return false;
    }
    videoWindow_ = window;
    return true;
}

std::vector<ComPtr<rma::IRMASiteWindowed>> Playback::TakeVideoSites() noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return std::move(videoSites_);
}

bool Playback::ThreadEnds() noexcept {
    int running = ThreadRunning;
    return threadEnd_.compare_exchange_strong(running, ThreadEnded);
}

bool Playback::AbandonThread() noexcept {
    int running = ThreadRunning;
    return threadEnd_.compare_exchange_strong(running, ThreadAbandoned);
}

HWND Playback::VideoWindow() const noexcept {
    std::lock_guard<std::mutex> lock(lock_);
    return videoWindow_;
}

PlaybackRef CurrentPlayback() noexcept {
    std::lock_guard<std::mutex> lock(g_slotLock);
    return g_current;
}

void InstallPlayback(PlaybackRef playback) noexcept {
    // The old one is let go outside the lock: its last reference may run
    // its destructor.
    PlaybackRef old;
    {
        std::lock_guard<std::mutex> lock(g_slotLock);
        old = std::exchange(g_current, std::move(playback));
    }
}

PlaybackRef TakePlayback() noexcept {
    std::lock_guard<std::mutex> lock(g_slotLock);
    return std::move(g_current);
}

EngineCallScope::EngineCallScope() noexcept { ++g_engineCallsInside; }
EngineCallScope::~EngineCallScope() { --g_engineCallsInside; }
int EngineCallsInside() noexcept { return g_engineCallsInside.load(); }

}  // namespace core
