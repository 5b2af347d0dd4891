#include "audio/output_gate.h"

#include <atomic>
#include <mutex>

#include "core/playback_state.h"

namespace audio {

using core::g_module;
using core::g_state;

namespace {

// Guards the output module's calls and the two fields below.
std::mutex g_outputLock;
std::atomic<int> g_closing{0};
// Where the output's time restarted: 0 at Open, the target of the last Flush.
int g_flushedToMs = 0;

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
}

OutputAccess::OutputAccess() noexcept { g_outputLock.lock(); }

OutputAccess::~OutputAccess() { g_outputLock.unlock(); }

bool OutputAccess::open() const noexcept { return g_closing == 0; }

void ReopenOutputGate() noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    g_closing = 0;
    g_flushedToMs = 0;
}

bool OutputAccess::HasRoom(int bytes) const noexcept { return g_module.outMod->CanWrite() >= bytes; }

void OutputAccess::RestartTime() noexcept { g_flushedToMs = 0; }

void FlushOutput(int timeMs) noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing == 0 && g_module.outMod) {
        g_module.outMod->Flush(timeMs);
        g_flushedToMs = timeMs;
    }
}

unsigned long OutputTimeSinceFlush(unsigned long whenClosed) noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing != 0 || !g_module.outMod) return whenClosed;
    const int played = g_module.outMod->GetOutputTime() - g_flushedToMs;
    return played > 0 ? static_cast<unsigned long>(played) : 0;
}

Playout ProbePlayout() noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing != 0 || !g_module.outMod) return Playout::Closed;
    g_module.outMod->CanWrite();
    return g_module.outMod->IsPlaying() ? Playout::Playing : Playout::Done;
}

}  // namespace audio
