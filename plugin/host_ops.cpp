#include "plugin/host_ops.h"

#include <cstring>
#include <memory>
#include <new>

#include "audio/output_gate.h"
#include "core/playback_state.h"
#include "core/trace.h"
#include "engine/engine_link.h"
#include "engine/site_supplier.h"
#include "plugin/file_types.h"
#include "plugin/playback_control.h"
#include "plugin/playback_thread.h"
#include "ui/status_window.h"

namespace plugin {
namespace {

using namespace core;

bool PlaybackThreadRunning() {
    const HANDLE thread = g_threadHandle.load();
    return thread != INVALID_HANDLE_VALUE && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
}

bool HasPlayer() {
    const engine::EngineLink* link = engine::CurrentLink();
    return link && link->Player();
}

}  // namespace

void Init() noexcept {
    char country[8] = {};
    g_state.koreanLocale = 0;
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVCTRYNAME, country, sizeof(country)) &&
        std::strcmp(country, "KOR") == 0) {
        g_state.koreanLocale = 1;
    }
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
    StopPlaybackThread();
    // The engine's library must not go while one of its threads is still in
    // the plug-in's code, in a box above all.
    WaitForEngineCallsToLeave();
    engine::UnloadEngine();
    ui::DestroyStatusWindow();
}

int Play(const char* path) noexcept {
    if (engine::LoadEngine() != 0) return 1;
    if (GetPlaybackState() != StateIdle) {
        Trace("Play refused: a playback is still in state %d", static_cast<int>(GetPlaybackState()));
        return 1;
    }
    // A path that does not fit, as a path or as the URL made of it, is
    // refused whole: a cut one would play another file.
    std::unique_ptr<PlaybackParams> params(new (std::nothrow) PlaybackParams{});
    if (!params || !path || std::strlen(path) >= sizeof(g_state.path) ||
        !FormPlaybackUrl(path, params->url, sizeof(params->url), &params->quietStatus)) {
        Trace("Play refused: no path, or one too long to play");
        return 1;
    }
    // A thread that ended by itself (the end of the last presentation) is
    // still held until now.
    StopPlaybackThread();

    std::strcpy(g_state.path, path);
    g_state.paused.store(0);
    const std::uint32_t generation = NewGeneration();
    params->generation = generation;
    audio::ReopenOutputGate();
    SetPlaybackStateFor(generation, StateStarting);
    g_state.positionMs.store(0);
    g_state.lengthMs.store(0);

    // Started suspended so that its handle and id are known before anything
    // the thread sets off can post a command to it.
    DWORD threadId = 0;
    const HANDLE thread = CreateThread(nullptr, 0, PlaybackThread, params.get(), CREATE_SUSPENDED, &threadId);
    if (!thread) {
        SetPlaybackStateFor(generation, StateIdle);
        return 1;
    }
    params.release();  // the thread's now
    PublishPlaybackThread(generation, thread, threadId);
    ResumeThread(thread);

    PumpMessagesWhile(IsStarting);
    const PlaybackState state = GetPlaybackState();
    return (state == StateOpened || state == StatePlaying) ? 0 : 1;
}

void Pause() noexcept {
    if (g_state.paused.load() == 1 || !HasPlayer()) return;
    g_state.paused.store(1);
    engine::CurrentLink()->PausePlayer();
    g_module.outMod->Pause(1);
}

void UnPause() noexcept {
    if (g_state.paused.load() == 0 || !HasPlayer()) return;
    g_state.paused.store(0);
    engine::CurrentLink()->ResumePlayer();
    g_module.outMod->Pause(0);
}

int IsPaused() noexcept { return g_state.paused.load(); }

void Stop() noexcept {
    // Everything the stopped playback set off is stale from here on.
    NewGeneration();
    audio::CloseOutputModule();
    engine::DestroyVideoSite();
    ui::DestroyStatusWindow();
    StopPlaybackThread();
    // An end of file the stopped playback posted before this Stop began, and
    // the host has not read yet, is taken back: the user stopped, and the
    // host must not go on to the next track.
    MSG msg;
    while (g_module.hMainWindow &&
           PeekMessageA(&msg, g_module.hMainWindow, winamp::kEndOfFileMessage, winamp::kEndOfFileMessage, PM_REMOVE))
        Trace("end of file of the stopped playback taken back");
    SetPlaybackState(StateIdle);
}

int GetLength() noexcept { return g_state.lengthMs.load(); }
int GetOutputTime() noexcept { return g_state.positionMs.load(); }

void SetOutputTime(int timeMs) noexcept {
    // Without a running thread nobody would carry the seek out, and the wait
    // below would never end.
    if (!PlaybackThreadRunning()) return;
    // The state goes first: an engine that seeks at once must not be
    // overtaken by this write.
    const std::uint32_t generation = CurrentGeneration();
    AskSeek();
    SetPlaybackStateFor(generation, StateSeekRequested);
    PostPlayerCommand(generation, CmdSeek, timeMs);
    // Until the thread has handed this seek to the engine, or has ended, or
    // a Stop meanwhile took it.
    PumpMessagesWhile([](PlaybackState state) {
        return state != StateIdle && SeekOutstanding() && PlaybackThreadRunning();
    });
}

void SetVolume(int volume) noexcept { g_module.outMod->SetVolume(volume); }
void SetPan(int pan) noexcept { g_module.outMod->SetPan(pan); }

int IsOurFile(const char* name) noexcept { return IsRealMediaName(name) ? 1 : 0; }
int InfoBox(const char*, HWND) noexcept { return 0; }
void EQSet(int, char[10], int) noexcept {}

}  // namespace plugin
