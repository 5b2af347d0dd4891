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
// Where the output's time restarted: 0 at Open, the target of the last Flush;
// and the bytes the engine gave and the output was given since then.
int g_flushedToMs = 0;
long long g_engineBytes = 0;
long long g_hostBytes = 0;

void RestartCounts(int timeMs) {
    g_flushedToMs = timeMs;
    g_engineBytes = 0;
    g_hostBytes = 0;
}

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
}

bool OutputAccess::HasRoom(int bytes) const noexcept { return g_module.outMod->CanWrite() >= bytes; }

void OutputAccess::RestartTime() noexcept { RestartCounts(0); }

void OutputAccess::CountWritten(int engineBytes, int hostBytes) noexcept {
    g_engineBytes += engineBytes;
    g_hostBytes += hostBytes;
}

void FlushOutput(int timeMs) noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing == 0 && g_module.outMod) {
        g_module.outMod->Flush(timeMs);
        RestartCounts(timeMs);
    }
}

void DiscardBufferedOutput() noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing != 0 || !g_module.outMod) return;
    const int now = g_module.outMod->GetOutputTime();
    g_module.outMod->Flush(now);
    RestartCounts(now);
}

unsigned long OutputTimeSinceFlush(unsigned long whenClosed) noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing != 0 || !g_module.outMod) return whenClosed;
    long long played = g_module.outMod->GetOutputTime() - g_flushedToMs;
    if (played <= 0) return 0;
    if (g_hostBytes > 0 && g_hostBytes != g_engineBytes) played = played * g_engineBytes / g_hostBytes;
    return static_cast<unsigned long>(played);
}

Playout ProbePlayout() noexcept {
    std::lock_guard<std::mutex> lock(g_outputLock);
    if (g_closing != 0 || !g_module.outMod) return Playout::Closed;
    g_module.outMod->CanWrite();
    return g_module.outMod->IsPlaying() ? Playout::Playing : Playout::Done;
}

}  // namespace audio
