#include "audio/output_gate.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/playback_state.h"

namespace audio {

using core::g_module;
using core::g_state;

namespace {

std::mutex g_outputLock;
std::condition_variable g_closingBegan;
std::atomic<int> g_closing{0};

}  // namespace

void CloseOutputModule() noexcept {
    {
        std::lock_guard<std::mutex> lock(g_outputLock);
        g_closing = 1;
        if (g_state.outputOpen == 1) {
            if (g_module.outMod) g_module.outMod->Close();
            if (g_module.SAVSADeInit) g_module.SAVSADeInit();
            g_state.outputOpen = 0;
        }
    }
    g_closingBegan.notify_all();
}

OutputAccess::OutputAccess() noexcept { g_outputLock.lock(); }

OutputAccess::~OutputAccess() { g_outputLock.unlock(); }

bool OutputAccess::open() const noexcept { return g_closing == 0; }

void ReopenOutputGate() noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    g_closing = 0;
}

bool OutputAccess::WaitForRoom(int bytes) noexcept {
    // The lock is owned by this object; adopt it for the wait and hand it back.
    std::unique_lock<std::mutex> lock(g_outputLock, std::adopt_lock);
    bool room = false;
    while (g_closing == 0) {
        if (g_module.outMod->CanWrite() >= bytes) {
            room = true;
            break;
        }
        g_closingBegan.wait_for(lock, std::chrono::milliseconds(20), [] { return g_closing != 0; });
    }
    lock.release();
    return room;
}

void FlushOutput(int timeMs) noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing == 0 && g_module.outMod) g_module.outMod->Flush(timeMs);
}

Playout ProbePlayout() noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing != 0 || !g_module.outMod) return Playout::Closed;
    g_module.outMod->CanWrite();
    return g_module.outMod->IsPlaying() ? Playout::Playing : Playout::Done;
}

}  // namespace audio
