#include "core/playback_state.h"

#include <cstdio>
#include <deque>
#include <mutex>
#include <string_view>

#include "core/trace.h"

namespace core {

PluginState g_state{};
std::atomic<HANDLE> g_threadHandle{INVALID_HANDLE_VALUE};

namespace {

// Makes the generation's advance and the generation-checked state writes
// one step each; never held across a call out of the plug-in.
std::mutex g_stateLock;
std::atomic<std::uint32_t> g_generation{0};
std::atomic<std::uint32_t> g_begunGeneration{0};
std::atomic<std::uint32_t> g_stoppingGeneration{0};

// The host thread currently waiting for a state change, or 0.
std::atomic<DWORD> g_waitingThread{0};

// The playback thread with the generation it serves.
std::mutex g_threadLock;
std::uint32_t g_threadGeneration = 0;


std::atomic<int> g_engineCallsInside{0};

// The failure box waiting for its playback thread.
std::mutex g_failureBoxLock;
bool g_failureBoxQueued = false;
std::uint32_t g_failureBoxGeneration = 0;  // the latest playback that had one
FailureBox g_failureBox;

// Threads that have a playback box up.
constexpr int kBoxSlots = 8;
std::mutex g_boxLock;
DWORD g_boxThreads[kBoxSlots] = {};
std::atomic<int> g_boxesShowing{0};

// A waiting host thread may be blocked in GetMessage on a quiet queue:
// give it a message so it looks again.
void WakeWaiter() {
    if (DWORD waiter = g_waitingThread.load()) PostThreadMessageA(waiter, WM_NULL, 0, 0);
}

void StoreState(PlaybackState state) {
    g_state.playbackState.store(state);
    WakeWaiter();
}

// Seeks SetOutputTime asked for, and those a playback thread has handed to
// the engine (or given up when it ended).
std::atomic<std::uint32_t> g_seeksAsked{0};
std::atomic<std::uint32_t> g_seeksHanded{0};

// Commands wait here for their thread, which takes them in order.  A posted
// thread message alone is lost while a modal loop (a box) runs on the
// thread, or before the thread has a message queue; the message posted with
// each command only wakes the thread.
struct QueuedCommand {
    DWORD thread;
    int command;
    int argument;
};
constexpr size_t kCommandQueueLimit = 64;
std::mutex g_commandLock;
std::deque<QueuedCommand> g_commands;

// `generation` null means the thread is taken and the command goes to it
// whatever comes after.
void QueueAndWake(DWORD id, const std::uint32_t* generation, int command, int argument) {
    {
        std::lock_guard<std::mutex> lock(g_commandLock);
        if (generation && !IsCurrentGeneration(*generation)) {
            Trace("player command %d dropped: its playback has ended", command);
            return;
        }
        if (g_commands.size() >= kCommandQueueLimit) {
            Trace("player command %d of thread %lu dropped: the queue is full", g_commands.front().command,
                  static_cast<unsigned long>(g_commands.front().thread));
            g_commands.pop_front();
        }
        g_commands.push_back({id, command, argument});
    }
    PostThreadMessageA(id, PlayerCommandMessage, static_cast<WPARAM>(command), static_cast<LPARAM>(argument));
}

BOOL CALLBACK CloseBoxWindow(HWND window, LPARAM) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string_view(className) == "#32770") PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

}  // namespace

std::uint32_t CurrentGeneration() noexcept { return g_generation.load(); }

std::uint32_t NewGeneration() noexcept {
    std::lock_guard<std::mutex> lock(g_stateLock);
    return g_generation.fetch_add(1) + 1;
}

void MarkPlayerBegun(std::uint32_t generation) noexcept { g_begunGeneration.store(generation); }
void MarkPlayerStopping(std::uint32_t generation) noexcept { g_stoppingGeneration.store(generation); }
bool PlayerBegunFor(std::uint32_t generation) noexcept {
    return IsCurrentGeneration(generation) && g_begunGeneration.load() == generation &&
           g_stoppingGeneration.load() != generation;
}

void SetPlaybackState(PlaybackState state) noexcept {
    std::lock_guard<std::mutex> lock(g_stateLock);
    StoreState(state);
}

bool SetPlaybackStateFor(std::uint32_t generation, PlaybackState state) noexcept {
    std::lock_guard<std::mutex> lock(g_stateLock);
    if (g_generation.load() != generation) return false;
    StoreState(state);
    return true;
}

namespace {
bool StoreWhilePlaying(std::uint32_t generation, PlaybackState state) {
    std::lock_guard<std::mutex> lock(g_stateLock);
    if (g_generation.load() != generation || GetPlaybackState() == StateIdle) return false;
    StoreState(state);
    return true;
}
}  // namespace

bool AdvancePlaybackState(std::uint32_t generation, PlaybackState from, PlaybackState to) noexcept {
    std::lock_guard<std::mutex> lock(g_stateLock);
    if (g_generation.load() != generation || GetPlaybackState() != from) return false;
    StoreState(to);
    return true;
}

bool FinishPlayback(std::uint32_t generation) noexcept {
    std::lock_guard<std::mutex> lock(g_stateLock);
    if (g_generation.load() != generation || GetPlaybackState() == StateFailed) return false;
    StoreState(StateIdle);
    return true;
}

bool SetSeekStateFor(std::uint32_t generation, PlaybackState state) noexcept {
    return StoreWhilePlaying(generation, state);
}

bool FailPlayback(std::uint32_t generation) noexcept { return StoreWhilePlaying(generation, StateFailed); }

bool PostToHostFor(std::uint32_t generation, UINT message, WPARAM wParam) noexcept {
    std::lock_guard<std::mutex> lock(g_stateLock);
    if (g_generation.load() != generation) {
        Trace("message %u of a stopped playback not posted", message);
        return false;
    }
    PostMessageA(g_module.hMainWindow, message, wParam, 0);
    return true;
}

void AskSeek() noexcept { ++g_seeksAsked; }

void SeekHanded() noexcept {
    ++g_seeksHanded;
    WakeWaiter();
}

void AllSeeksHanded() noexcept {
    g_seeksHanded.store(g_seeksAsked.load());
    WakeWaiter();
}

bool SeekOutstanding() noexcept { return static_cast<std::int32_t>(g_seeksAsked - g_seeksHanded) > 0; }

DWORD ExchangeStateWaiter(DWORD threadId) noexcept { return g_waitingThread.exchange(threadId); }

void PublishPlaybackThread(std::uint32_t generation, HANDLE handle, DWORD id) noexcept {
    std::lock_guard<std::mutex> lock(g_threadLock);
    g_threadGeneration = generation;
    g_state.threadId.store(id);
    g_threadHandle.store(handle);
}

PlaybackThreadRef TakePlaybackThread() noexcept {
    std::lock_guard<std::mutex> lock(g_threadLock);
    PlaybackThreadRef taken{g_threadHandle.exchange(INVALID_HANDLE_VALUE), g_state.threadId.exchange(0)};
    return taken;
}

void PostPlayerCommand(std::uint32_t generation, int command, int argument) noexcept {
    DWORD id = 0;
    {
        std::lock_guard<std::mutex> lock(g_threadLock);
        if (g_threadHandle.load() == INVALID_HANDLE_VALUE) return;
        if (g_threadGeneration != generation) {
            Trace("player command %d dropped: its playback has ended", command);
            return;
        }
        id = g_state.threadId.load();
    }
    QueueAndWake(id, &generation, command, argument);
}

void PostPlayerCommandTo(const PlaybackThreadRef& thread, int command, int argument) noexcept {
    if (thread.handle == INVALID_HANDLE_VALUE) return;
    QueueAndWake(thread.id, nullptr, command, argument);
}

bool TakePlayerCommand(int* command, int* argument) noexcept {
    const DWORD self = GetCurrentThreadId();
    std::lock_guard<std::mutex> lock(g_commandLock);
    for (auto it = g_commands.begin(); it != g_commands.end(); ++it) {
        if (it->thread != self) continue;
        *command = it->command;
        *argument = it->argument;
        g_commands.erase(it);
        return true;
    }
    return false;
}

void ForgetPlayerCommands(DWORD threadId) noexcept {
    std::lock_guard<std::mutex> lock(g_commandLock);
    for (auto it = g_commands.begin(); it != g_commands.end();)
        it = it->thread == threadId ? g_commands.erase(it) : it + 1;
}

EngineCallScope::EngineCallScope() noexcept { ++g_engineCallsInside; }
EngineCallScope::~EngineCallScope() { --g_engineCallsInside; }
int EngineCallsInside() noexcept { return g_engineCallsInside.load(); }

int ShowPlaybackBox(const char* text, const char* caption, UINT style) noexcept {
    EngineCallScope inside;
    const DWORD self = GetCurrentThreadId();
    int slot = -1;
    {
        std::lock_guard<std::mutex> lock(g_boxLock);
        for (int i = 0; i < kBoxSlots && slot < 0; ++i) {
            if (g_boxThreads[i] == 0) {
                g_boxThreads[i] = self;
                slot = i;
            }
        }
    }
    ++g_boxesShowing;
    const int answer = MessageBoxA(g_module.hMainWindow, text, caption, style);
    --g_boxesShowing;
    if (slot >= 0) {
        std::lock_guard<std::mutex> lock(g_boxLock);
        g_boxThreads[slot] = 0;
    }
    return answer;
}

int PlaybackBoxesShowing() noexcept { return g_boxesShowing.load(); }

bool QueueFailureBox(std::uint32_t generation, const char* text, const char* caption) noexcept {
    {
        std::lock_guard<std::mutex> lock(g_failureBoxLock);
        if (g_failureBoxGeneration == generation) return false;
        g_failureBoxQueued = true;
        g_failureBoxGeneration = generation;
        std::snprintf(g_failureBox.text, sizeof g_failureBox.text, "%s", text);
        std::snprintf(g_failureBox.caption, sizeof g_failureBox.caption, "%s", caption);
    }
    PostPlayerCommand(generation, CmdShowBox, 0);
    return true;
}

bool TakeFailureBox(std::uint32_t generation, FailureBox* box) noexcept {
    std::lock_guard<std::mutex> lock(g_failureBoxLock);
    if (!g_failureBoxQueued || g_failureBoxGeneration != generation) return false;
    g_failureBoxQueued = false;
    *box = g_failureBox;
    return true;
}

void ClosePlaybackBoxes() noexcept {
    std::lock_guard<std::mutex> lock(g_boxLock);
    for (DWORD thread : g_boxThreads) {
        if (thread) EnumThreadWindows(thread, CloseBoxWindow, 0);
    }
}

}  // namespace core
