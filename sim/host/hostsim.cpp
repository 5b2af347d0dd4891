// hostsim: a headless host for an input plug-in.  It loads the plug-in,
// fills the module record as the player does, and drives it from the
// command line as the player's playlist, buttons and timers would:
//   hostsim isours NAME... | which NAME... | play ENTRY... [options] | info [--hex] FILE...
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/host/host.h"

namespace {

constexpr int kTitleBytes = 2048;
constexpr UINT_PTR kTimeoutTimer = 1;
constexpr UINT_PTR kMainTimer = 2;
constexpr UINT kMainTimerMs = 100;  // the player's main timer
constexpr DWORD kVisPeriodMs = 16;  // its classic visualisation thread
constexpr DWORD kSettleQuietMs = 150;
constexpr DWORD kHangGraceMs = 20000;
constexpr int kPlayCommand = 40045;  // WM_COMMAND ids of the player's buttons
constexpr int kNextCommand = 40048;
// Marks the end-of-file message the host posts itself after a failed Play,
// so that it is told apart in the events; the handler treats both alike.
constexpr LPARAM kHostAdvance = 0x484F5354;
constexpr int kUnmaskedPluginFlags = ~(2 | 4 | 8 | 16);
const char kEngineKey[] = "Software\\RealNetworks\\Preferences\\DT_Common";

enum End { Running, EndEof, EndStopped, EndTimeout, EndFailed, EndNext };
const char* const kEndNames[] = {"running", "eof", "stopped", "timeout", "failed", "next"};

struct Trigger { int at, value; };

struct Options {
    std::string command, plugin, engineDir, script, wavPath, listFile;
    std::vector<std::string> names;
    std::vector<Trigger> seeks, pauses;
    std::vector<int> nexts;
    int stopAt = -1, timeoutMs = 60000, dsp = 0, refuseOpen = 0, repeat = 1, answerAfterMs = 0;
    int output = OutputDs, busyWrite = 0, flushMs = 0, volume = 255, pan = 0;
    bool realtime = false, verbose = false, answerOk = true, noEngineKey = false, stopOnBox = false,
         remoteStopOnVideo = false;
    bool hex = false, playing = false, engineDirGiven = false;
    // Kinder than the player, each letting a fault through (see Parse).
    bool kinderStop = false, kinderSettle = false;
};

// The longest stretch the host's own message loop spent in one message
// outside calls into the plug-in (the engine's work on this thread, its
// callbacks into the plug-in among it): how long the host's window could
// not answer the user.
struct StallClock {
    LARGE_INTEGER frequency{};
    long long inPlugin = 0;  // counts spent inside calls into the plug-in
    long long longest = 0;
    bool measuring = false;
};
StallClock g_stall;

long long Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Marks a call into the plug-in made from inside a dispatched message.
struct PluginCall {
    long long start = Now();
    ~PluginCall() { g_stall.inPlugin += Now() - start; }
};

int LongestStallMs() {
    return g_stall.frequency.QuadPart ? static_cast<int>(g_stall.longest * 1000 / g_stall.frequency.QuadPart) : 0;
}

// One playlist entry as the host's queue met it.
struct Entry {
    std::string name;
    End end = Running;
    bool started = false;
    bool stopCalled = false;  // hostsim called Stop for it
    int eofs = 0;             // end-of-file messages while it was current
};

struct Host {
    HMODULE library;
    InModule* module;
    OutModule out;
    HWND window;
    const Options* options;
    std::vector<Entry> list;
    int current = -1;
    // The player's own flags: in_play while Play runs, playing once Play
    // returned 0 and until Stop, paused as the host counts it.
    bool inPlay = false;
    std::atomic<bool> playing{false}, paused{false};
    int failedInRow = 0;       // consecutive failed Plays
    bool advancePending = false;
    bool queueStopped = true;  // nothing more comes from the queue itself
    int newEntry = 0;          // counts entries started, so the triggers restart
    DWORD playTick;
    int setInfoSeen = 0;
    std::atomic<bool> visStop{false};
};
Host g_host;

void Usage() {
    fputs("usage: hostsim isours NAME...\n"
          "       hostsim which NAME...\n"
          "       hostsim play ENTRY... [--output ds|wave|disk|wasapi] [--seek AT_MS:TO_MS]... [--pause AT_MS:FOR_MS]...\n"
          "            [--stop-at MS] [--next-at MS]... [--out FILE.wav] [--realtime] [--busy-write N]\n"
          "            [--answer ok|cancel] [--answer-after MS] [--stop-on-box] [--remote-stop-on-video] [--dsp invert|stretch] [--verbose]\n"
          "            [--volume V] [--pan P] [--refuse-open | --refuse-open-once] [--engine SCRIPT]\n"
          "            [--engine-dir DIR | --no-engine-key] [--plugin DLL] [--timeout MS] [--repeat N]\n"
          "            [--flush-ms MS] [--kinder-stop] [--kinder-settle]\n"
          "       hostsim info [--hex] [--playing] [--list FILE] [FILE...]\n"
          "common: --plugin DLL (default: in_realmedia.dll beside hostsim.exe)\n",
          stderr);
}

std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

bool ParsePair(const char* text, Trigger* t) {
    return sscanf(text, "%d:%d", &t->at, &t->value) == 2 && t->at >= 0 && t->value >= 0;
}

bool ParseInt(const char* text, int* value) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end || v < 0) return false;
    *value = static_cast<int>(v);
    return true;
}

bool ParseSigned(const char* text, int* value) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end) return false;
    *value = static_cast<int>(v);
    return true;
}

bool ParseOutput(const char* text, int* output) {
    for (int i = OutputDs; i <= OutputWasapi; ++i) {
        if (!strcmp(text, OutputName(i))) {
            *output = i;
            return true;
        }
    }
    return false;
}

bool Parse(int argc, char** argv, Options* o) {
    if (argc < 2) return false;
    o->command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto take = [&]() { ++i; return next; };
        Trigger t;
        int n;
        if (a == "--plugin" && next) o->plugin = take();
        else if (a == "--seek" && next && ParsePair(next, &t)) { take(); o->seeks.push_back(t); }
        else if (a == "--pause" && next && ParsePair(next, &t)) { take(); o->pauses.push_back(t); }
        else if (a == "--stop-at" && next && ParseInt(next, &o->stopAt)) take();
        else if (a == "--next-at" && next && ParseInt(next, &n)) { take(); o->nexts.push_back(n); }
        else if (a == "--timeout" && next && ParseInt(next, &o->timeoutMs)) take();
        else if (a == "--repeat" && next && ParseInt(next, &o->repeat) && o->repeat >= 1) take();
        else if (a == "--output" && next && ParseOutput(next, &o->output)) take();
        else if (a == "--busy-write" && next && ParseInt(next, &o->busyWrite) && o->busyWrite >= 1) take();
        else if (a == "--flush-ms" && next && ParseInt(next, &o->flushMs)) take();
        else if (a == "--volume" && next && ParseInt(next, &o->volume) && o->volume <= 255) take();
        else if (a == "--pan" && next && ParseSigned(next, &o->pan) && o->pan >= -127 && o->pan <= 127) take();
        else if (a == "--out" && next) o->wavPath = take();
        else if (a == "--realtime") o->realtime = true;
        else if (a == "--verbose") o->verbose = true;
        else if (a == "--answer" && next && (!strcmp(next, "ok") || !strcmp(next, "cancel"))) o->answerOk = !strcmp(take(), "ok");
        else if (a == "--answer-after" && next && ParseInt(next, &o->answerAfterMs)) take();
        else if (a == "--stop-on-box") o->stopOnBox = true;
        else if (a == "--remote-stop-on-video") o->remoteStopOnVideo = true;
        else if (a == "--dsp" && next && !strcmp(next, "invert")) { take(); o->dsp = 1; }
        else if (a == "--dsp" && next && !strcmp(next, "stretch")) { take(); o->dsp = 2; }
        else if (a == "--refuse-open") o->refuseOpen = 1;
        else if (a == "--refuse-open-once") o->refuseOpen = 2;
        else if (a == "--engine" && next) o->script = take();
        else if (a == "--engine-dir" && next) { o->engineDir = take(); o->engineDirGiven = true; }
        else if (a == "--no-engine-key") o->noEngineKey = true;
        // Kinder: the Stop command stops whenever a Play was issued, also
        // while Play runs and after a failed Play.  Lets through a plug-in
        // left wedged by a failed Play that needs a Stop to recover, and one
        // that relies on a Stop reaching it inside Play.
        else if (a == "--kinder-stop") o->kinderStop = true;
        // Kinder: after an end of file the next entry plays only once
        // 150 ms passed without an event, not in the same handler.  Lets
        // through late reports of the old presentation that would reach
        // the new one.
        else if (a == "--kinder-settle") o->kinderSettle = true;
        else if (a == "--hex") o->hex = true;
        else if (a == "--playing") o->playing = true;
        else if (a == "--list" && next) o->listFile = take();
        else if (a.size() > 2 && a.compare(0, 2, "--") == 0) return false;
        else o->names.push_back(a);
    }
    if (o->busyWrite && o->output != OutputDs) return false;
    if (o->command == "isours" || o->command == "which") return true;
    if (o->command == "play") return !o->names.empty();
    if (o->command == "info") return !o->names.empty() || o->playing || !o->listFile.empty();
    return false;
}

// ---- the player's ways -------------------------------------------------

void Finish(End end) {
    if (g_host.current >= 0 && g_host.list[g_host.current].end == Running) g_host.list[g_host.current].end = end;
}

// The plug-in's Stop for the current entry, with the host's guard up
// around it as the player's StopPlaying sets it.
void CallPluginStop() {
    Entry& e = g_host.list[g_host.current];
    e.stopCalled = true;
    const bool wasInPlay = g_host.inPlay;
    g_host.inPlay = true;
    g_host.playing.store(false);
    Event("stop");
    OutputHostStopping();
    {
        PluginCall call;
        g_host.module->Stop();
    }
    g_host.inPlay = wasInPlay;
}

// The player's StopPlaying: nothing while Play runs or while nothing plays.
void StopPlaying() {
    if (g_host.inPlay || !g_host.playing.load()) return;
    g_host.paused.store(false);
    CallPluginStop();
    KillTimer(g_host.window, kTimeoutTimer);
}

// The playlist's length of the playing entry, re-read as the player does:
// GetFileInfo with "" (its null name for the current entry, as converted
// for a module of version 0x100) into a 2048-byte title.
// GetFileInfo with the host's 2048-byte title buffer and a guard behind it;
// returns the title's length.
size_t CheckedFileInfo(char* name, std::vector<char>* title, int* length) {
    title->assign(kTitleBytes + 64, '\xA5');
    *length = 0x7EADBEEF;
    g_host.module->GetFileInfo(name, title->data(), length);
    for (size_t i = kTitleBytes; i < title->size(); ++i) {
        if ((*title)[i] != '\xA5') {
            Unexpected("GetFileInfo wrote past the %d-byte title buffer", kTitleBytes);
            break;
        }
    }
    size_t n = strnlen(title->data(), kTitleBytes);
    if (n == kTitleBytes) Unexpected("GetFileInfo left the title without a terminator");
    return n;
}

void ReadPlayingTitle() {
    if (g_host.current < 0) return;
    std::vector<char> title;
    int length = 0;
    char empty[1] = "";
    size_t n;
    {
        PluginCall call;
        n = CheckedFileInfo(empty, &title, &length);
    }
    title[n < kTitleBytes ? n : kTitleBytes - 1] = 0;
    // Stored in seconds; a negative length shows nothing.
    char shown[32] = "-";
    if (length >= 0) snprintf(shown, sizeof shown, "%d:%02d", length / 1000 / 60, length / 1000 % 60);
    Event("playlist %d %d %s %s", g_host.current + 1, length, shown, Quoted(title.data()).c_str());
}

void WatchEngineUnload();

// Play of one entry, as the player's StartPlaying does it after its Stop.
void PlayEntry(int index) {
    const Options& o = *g_host.options;
    g_host.current = index;
    Entry& e = g_host.list[index];
    e.started = true;
    g_host.queueStopped = false;
    g_host.paused.store(false);
    ++g_host.newEntry;
    OutputNewPlay();
    // The output chosen in Preferences is set before every Play, then the
    // user's volume and pan.
    g_host.module->outMod = &g_host.out;
    g_host.module->SetInfo = OutputSetInfo();
    g_host.module->SetVolume(o.volume);
    g_host.module->SetPan(o.pan);
    SetTimer(g_host.window, kTimeoutTimer, o.timeoutMs, nullptr);
    g_host.inPlay = true;
    int result;
    {
        PluginCall call;
        result = g_host.module->Play(&e.name[0]);
    }
    g_host.inPlay = false;
    Event("play %d", result);
    WatchEngineUnload();
    g_host.playTick = GetTickCount();
    if (result == 0) {
        g_host.failedInRow = 0;
        g_host.playing.store(true);
        g_host.setInfoSeen = OutputSetInfoCalls();
        ReadPlayingTitle();
        return;
    }
    // No Stop for a failed Play: the player goes on to the next entry, up
    // to the list's length less one in a row, and then stops.
    KillTimer(g_host.window, kTimeoutTimer);
    Finish(EndFailed);
    if (++g_host.failedInRow < static_cast<int>(g_host.list.size())) {
        Event("advance");
        g_host.advancePending = true;
        PostMessageA(g_host.window, kEndOfFileMessage, 0, kHostAdvance);
    } else {
        g_host.failedInRow = 0;
        StopPlaying();
        g_host.queueStopped = true;
    }
}

// The player's StartPlaying: Stop, then Play of the entry, back to back.
void StartPlaying(int index) {
    if (g_host.inPlay) return;
    StopPlaying();
    PlayEntry(index);
}

// The end of file, the player's own after a failed Play among them: Stop,
// then Play of the next entry in the same handler; at the list's end only
// Stop.
void OnEndOfFile(bool hostAdvance) {
    if (hostAdvance) {
        g_host.advancePending = false;
    } else {
        Event("eof");
        if (g_host.current >= 0) {
            Entry& e = g_host.list[g_host.current];
            if (e.stopCalled && !g_host.playing.load()) Unexpected("eof after stop");
            if (e.end == EndFailed) Unexpected("eof after a failed play");
            if (++e.eofs == 2) Unexpected("eof twice in one play");
        }
    }
    if (g_host.inPlay) return;
    Finish(EndEof);
    int next = g_host.current + 1;
    if (next < static_cast<int>(g_host.list.size()) && !g_host.options->kinderSettle) {
        StartPlaying(next);
        return;
    }
    StopPlaying();
    g_host.queueStopped = true;
}

void OnStopCommand() {
    const Options& o = *g_host.options;
    if (o.kinderStop && g_host.current >= 0 && !g_host.list[g_host.current].stopCalled) {
        Event("stopcmd");
        Finish(EndStopped);
        const bool wasInPlay = g_host.inPlay;
        CallPluginStop();
        if (!wasInPlay) g_host.queueStopped = true;
        return;
    }
    if (g_host.inPlay) {
        Event("stopcmd ignored in play");
        return;
    }
    if (!g_host.playing.load()) {
        Event("stopcmd ignored not playing");
        if (g_host.current >= 0 && g_host.list[g_host.current].end == EndFailed && !g_host.list[g_host.current].stopCalled)
            Unexpected("stopcmd after a failed play");
        return;
    }
    Event("stopcmd");
    Finish(EndStopped);
    StopPlaying();
    g_host.queueStopped = true;
}

void OnNext() {
    if (g_host.inPlay) return;
    Event("next");
    Finish(EndNext);
    int next = g_host.current + 1;
    if (next < static_cast<int>(g_host.list.size())) {
        StartPlaying(next);
        return;
    }
    StopPlaying();
    g_host.queueStopped = true;
}

// The player's main timer: the position and length while playing, and the
// title again on the tick after a SetInfo.
void OnMainTimer() {
    if (g_host.playing.load()) {
        PluginCall call;
        g_host.module->GetOutputTime();
        g_host.module->GetLength();
    }
    int setInfos = OutputSetInfoCalls();
    if (setInfos != g_host.setInfoSeen && g_host.current >= 0) {
        g_host.setInfoSeen = setInfos;
        ReadPlayingTitle();
    }
}

void Shutdown(HWND window);

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEndOfFileMessage) {
        OnEndOfFile(lParam == kHostAdvance);
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kStopCommand) {
        OnStopCommand();
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kPlayCommand) {
        if (!g_host.inPlay) StartPlaying(static_cast<int>(lParam));
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kNextCommand) {
        OnNext();
        return 0;
    }
    if (message == WM_TIMER && wParam == kMainTimer) {
        OnMainTimer();
        return 0;
    }
    if (message == WM_TIMER && wParam == kTimeoutTimer) {
        KillTimer(window, kTimeoutTimer);
        if (g_host.current >= 0 && g_host.list[g_host.current].end == Running && g_host.playing.load()) {
            Event("timeout");
            Finish(EndTimeout);
            StopPlaying();
            g_host.queueStopped = true;
        }
        return 0;
    }
    if (message == WM_DESTROY) {
        Shutdown(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HostSim";
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&wc);
    // A fixed place, so that windows placed beside it can be checked.
    HWND window = CreateWindowExA(0, "HostSim", "hostsim", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                  100, 50, 275, 116, nullptr, nullptr, wc.hInstance, nullptr);
    if (window) ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

// ---- loading the plug-in -----------------------------------------------

#define REQUIRE_OP(field) \
    if (!m->field) { Unexpected("module record has no " #field); ok = false; }

bool CheckRecord(InModule* m) {
    bool ok = true;
    if (m->version != kInModuleVersion) Unexpected("module version 0x%x", m->version);
    if (!m->description) Unexpected("module record has no description");
    if (m->hMainWindow || m->hDllInstance || m->outMod || m->SAVSAInit || m->SetInfo || m->dsp_dosamples)
        Unexpected("host fields are not zero in the module record");
    REQUIRE_OP(Init) REQUIRE_OP(Quit) REQUIRE_OP(GetFileInfo) REQUIRE_OP(IsOurFile) REQUIRE_OP(Play)
    REQUIRE_OP(Pause) REQUIRE_OP(UnPause) REQUIRE_OP(IsPaused) REQUIRE_OP(Stop) REQUIRE_OP(GetLength)
    REQUIRE_OP(GetOutputTime) REQUIRE_OP(SetOutputTime) REQUIRE_OP(SetVolume) REQUIRE_OP(SetPan)
    return ok;
}

std::string FileTypes(const char* list) {
    std::string s;
    for (const char* p = list; p && *p; p += strlen(p) + 1) s += (s.empty() ? "" : "|") + std::string(p);
    return s;
}

// Loads the plug-in and fills the record in the player's order: the DLL's
// handle, the visualisation and DSP callbacks, the main window, SetInfo
// null and the flags the player does not honour masked off; then Init.
// outMod stays null until the first Play.
bool LoadPlugin(const Options& o) {
    std::string path = o.plugin.empty() ? ExeDir() + "in_realmedia.dll" : o.plugin;
    g_host.library = LoadLibraryA(path.c_str());
    if (!g_host.library) {
        Event("error cannot load %s (error %lu)", path.c_str(), GetLastError());
        return false;
    }
    auto get = reinterpret_cast<GetInModuleFn>(
        reinterpret_cast<void*>(GetProcAddress(g_host.library, "winampGetInModule2")));
    if (!get) {
        Event("error %s has no winampGetInModule2", path.c_str());
        return false;
    }
    g_host.module = get();
    if (!g_host.module) {
        Unexpected("winampGetInModule2 returned null");
        return false;
    }
    if (get() != g_host.module) Unexpected("winampGetInModule2 returned another record");
    if (!CheckRecord(g_host.module)) return false;
    g_host.window = CreateHostWindow();
    if (!g_host.window) {
        Event("error cannot create the host window");
        return false;
    }
    InModule* m = g_host.module;
    m->hDllInstance = g_host.library;
    OutputInstall(m, &g_host.out, g_host.window);
    m->hMainWindow = g_host.window;
    m->SetInfo = nullptr;
    m->UsesOutputPlug &= kUnmaskedPluginFlags;
    m->Init();
    // The player reads a SetInfo left set by Init as a string, then sets its own.
    if (m->SetInfo) Event("init setinfo %s", Quoted(reinterpret_cast<const char*>(m->SetInfo)).c_str());
    m->SetInfo = OutputSetInfo();
    return true;
}

// The player's WM_DESTROY: WM_QUIT queued, then the output's Quit before
// the plug-in's.  The plug-in's DLL is never freed.
void Shutdown(HWND) {
    PostQuitMessage(0);
    OutputHostQuit();
    if (g_host.options->command == "play") Event("quit");
    g_host.module->Quit();
    OutputRetire();
}

// Closing the player: Stop if something plays, then the main window goes.
void ClosePlayer() {
    StopPlaying();
    DestroyWindow(g_host.window);
}

// ---- play --------------------------------------------------------------

void __stdcall EngineAliveAtUnload(const char* alive) {
    Unexpected("engine objects alive at unload: %s", alive ? alive : "");
}

// The engine library, held by hostsim too so that its checks can be read
// after the plug-in's Quit; released last, when its unload report comes.
HMODULE g_engineHeld = nullptr;

// The stand-in engine names the objects still alive when it is unloaded;
// another engine lacks the export and is left alone.
void WatchEngineUnload() {
    typedef void(__stdcall * ReportFn)(const char*);
    typedef void(__stdcall * SetReportFn)(ReportFn);
    HMODULE engine = GetModuleHandleA("pnen3260.dll");
    auto set = engine ? reinterpret_cast<SetReportFn>(reinterpret_cast<void*>(GetProcAddress(engine, "SimEngineOnUnload")))
                      : nullptr;
    if (!set) return;
    set(EngineAliveAtUnload);
    char path[MAX_PATH];
    if (!g_engineHeld && GetModuleFileNameA(engine, path, MAX_PATH)) g_engineHeld = LoadLibraryA(path);
}

// The stand-in engine checks its client (time reports that go back or run
// ahead of the sound written, a time report after the device's Close, a
// window destroyed twice): each fault it saw is one of the plug-in's.
void ReportEngineChecks() {
    typedef int(__stdcall * QueryFn)(const char*);
    typedef int(__stdcall * LogFn)(char*, int);
    HMODULE engine = g_engineHeld;
    if (!engine) return;
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(engine, "SimEngineQuery")));
    auto log = reinterpret_cast<LogFn>(reinterpret_cast<void*>(GetProcAddress(engine, "SimEngineLog")));
    if (!query || !log || query("checks") <= 0) return;
    std::string text(static_cast<size_t>(log(nullptr, 0)) + 1, '\0');
    log(&text[0], static_cast<int>(text.size()));
    int shown = 0;
    for (size_t at = 0; at < text.size() && shown < 5;) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.compare(0, 7, "Check: ") == 0) {
            Unexpected("engine saw: %s", line.c_str() + 7);
            ++shown;
        }
        at = end + 1;
    }
}

void SetEngineKey(const Options& o) {
    if (o.noEngineKey) {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, kEngineKey);
        return;
    }
    std::string dir = o.engineDirGiven ? o.engineDir : ExeDir();
    HKEY key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kEngineKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        Event("error cannot write the engine key");
        return;
    }
    RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()), static_cast<DWORD>(dir.size() + 1));
    RegCloseKey(key);
}

void PumpFor(DWORD ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        const long long start = Now();
        const long long inPlugin = g_stall.inPlugin;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        const long long spent = Now() - start - (g_stall.inPlugin - inPlugin);
        if (g_stall.measuring && spent > g_stall.longest) g_stall.longest = spent;
    }
}

// Lets late events (message boxes, window changes, stray calls) show up.
void Settle() {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 5000) {
        PumpFor(10);
        if (!WatchBoxOpen() && GetTickCount() - LastEventTick() >= kSettleQuietMs) break;
    }
}

DWORD WINAPI Watchdog(void* limit) {
    Sleep(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(limit)));
    Unexpected("hang: the run did not end %lu ms after its timeout", kHangGraceMs);
    Event("end timeout");
    fflush(nullptr);
    ExitProcess(2);
}

// The player's classic visualisation thread: the position and the length
// about every 16 ms, at the highest priority, while playing and not paused.
DWORD WINAPI VisThread(void*) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    while (!g_host.visStop.load()) {
        if (g_host.playing.load() && !g_host.paused.load()) {
            g_host.module->GetOutputTime();
            g_host.module->GetLength();
        }
        Sleep(kVisPeriodMs);
    }
    return 0;
}

// Starts a thread and joins it when the scope ends.
struct Thread {
    HANDLE handle;
    explicit Thread(LPTHREAD_START_ROUTINE routine) : handle(CreateThread(nullptr, 0, routine, nullptr, 0, nullptr)) {}
    ~Thread() {
        if (!handle) return;
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
    }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
};

// The user's moves for the entry playing now, fired from the position.
struct Schedule {
    size_t nextSeek = 0, nextPause = 0, nextNext = 0;
    bool paused = false, moved = false, stopDone = false;
    DWORD resumeTick = 0;
    int lastPos = -1, lastLen = -1;
};

// Calls a window handler of the host as if its message were dispatched now.
struct Dispatched {
    long long start = Now();
    long long inPlugin = g_stall.inPlugin;
    ~Dispatched() {
        const long long spent = Now() - start - (g_stall.inPlugin - inPlugin);
        if (g_stall.measuring && spent > g_stall.longest) g_stall.longest = spent;
    }
};

void Tick(const Options& o, Schedule& s) {
    int pos, len;
    {
        PluginCall call;
        pos = g_host.module->GetOutputTime();
        len = g_host.module->GetLength();
    }
    if (o.verbose && (pos != s.lastPos || len != s.lastLen)) Event("pos %d len %d", pos, len);
    s.lastPos = pos;
    s.lastLen = len;
    if (pos != 0) s.moved = true;
    DWORD elapsed = GetTickCount() - g_host.playTick;
    auto reached = [&](int at) { return s.moved ? pos >= at : elapsed >= static_cast<DWORD>(at); };

    if (s.paused && GetTickCount() - s.resumeTick < 0x80000000u) {
        s.paused = false;
        g_host.paused.store(false);
        Event("unpause");
        PluginCall call;
        g_host.module->UnPause();
    } else if (!s.paused && s.nextPause < o.pauses.size() && reached(o.pauses[s.nextPause].at)) {
        s.paused = true;
        s.resumeTick = GetTickCount() + o.pauses[s.nextPause++].value;
        g_host.paused.store(true);
        Event("pause");
        PluginCall call;
        g_host.module->Pause();
    }
    if (s.nextSeek < o.seeks.size() && reached(o.seeks[s.nextSeek].at)) {
        int to = o.seeks[s.nextSeek++].value;
        Event("seek %d", to);
        PluginCall call;
        g_host.module->SetOutputTime(to);
        if (!g_host.playing.load()) return;
    }
    // An end of file the plug-in posted before this moment comes first, as
    // it would in the host's own message loop.
    MSG pending;
    if (PeekMessageA(&pending, g_host.window, kEndOfFileMessage, kEndOfFileMessage, PM_NOREMOVE)) return;
    if (o.stopAt >= 0 && !s.stopDone && reached(o.stopAt)) {
        s.stopDone = true;
        Dispatched handler;
        Finish(EndStopped);
        StopPlaying();
        g_host.queueStopped = true;
        return;
    }
    if (s.nextNext < o.nexts.size() && reached(o.nexts[s.nextNext])) {
        ++s.nextNext;
        Dispatched handler;
        OnNext();
    }
}

// The entries left to play once the queue has stopped: the user presses
// Play for the next one when all is quiet, as after --stop-at or a stop.
int NextUnplayed() {
    for (size_t i = 0; i < g_host.list.size(); ++i)
        if (!g_host.list[i].started) return static_cast<int>(i);
    return -1;
}

int Play(const Options& o) {
    QueryPerformanceFrequency(&g_stall.frequency);
    SetEngineKey(o);
    if (!o.script.empty()) {
        // Both the system's block and the C runtime's copy, whichever the engine reads.
        SetEnvironmentVariableA("SIMENGINE_SCRIPT", o.script.c_str());
        _putenv(("SIMENGINE_SCRIPT=" + o.script).c_str());
    }
    for (int r = 0; r < o.repeat; ++r)
        for (const std::string& name : o.names) {
            Entry e;
            e.name = name;
            g_host.list.push_back(e);
        }
    if (!LoadPlugin(o)) return 2;
    Event("plugin %s", Quoted(g_host.module->description).c_str());
    if (o.verbose) {
        RECT r;
        GetWindowRect(g_host.window, &r);
        Event("host %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
        Event("types %s", Quoted(FileTypes(g_host.module->FileExtensions).c_str()).c_str());
    }
    WatchStart(g_host.window, o.answerOk, static_cast<DWORD>(o.answerAfterMs), o.stopOnBox, o.remoteStopOnVideo);
    UINT_PTR limit = static_cast<UINT_PTR>(o.timeoutMs) * g_host.list.size() + kHangGraceMs;
    HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, reinterpret_cast<void*>(limit), 0, nullptr);
    if (watchdog) CloseHandle(watchdog);
    SetTimer(g_host.window, kMainTimer, kMainTimerMs, nullptr);

    {
        Thread vis(VisThread);
        Schedule schedule;
        int entrySeen = -1;
        g_stall.measuring = true;
        for (;;) {
            if (g_host.queueStopped && !g_host.advancePending && !g_host.inPlay) {
                int next = NextUnplayed();
                if (next < 0) break;
                if (g_host.current >= 0) Settle();
                PostMessageA(g_host.window, WM_COMMAND, kPlayCommand, next);
            }
            PumpFor(10);
            if (entrySeen != g_host.newEntry) {
                entrySeen = g_host.newEntry;
                schedule = Schedule();
            }
            if (g_host.playing.load() && !g_host.inPlay) Tick(o, schedule);
        }
        g_stall.measuring = false;
        Settle();
        for (size_t i = 0; i + 1 < g_host.list.size(); ++i)
            Event("run %d %s", static_cast<int>(i + 1), kEndNames[g_host.list[i].end]);
        Event("stall %d", LongestStallMs());
        KillTimer(g_host.window, kMainTimer);
        ClosePlayer();
        g_host.visStop.store(true);
    }
    ReportEngineChecks();
    if (g_engineHeld) FreeLibrary(g_engineHeld);
    WatchStop();
    OutputFinish();
    OutputTotals t = OutputGetTotals();
    bool allEof = true;
    for (const Entry& e : g_host.list) allEof = allEof && e.end == EndEof;
    Event("end %s written=%lld writes=%d vis=%d dsp=%d", kEndNames[g_host.list.back().end], t.writtenBytes, t.writes,
          t.vis, t.dsp);
    if (UnexpectedCount()) return 2;
    return allEof ? 0 : 1;
}

// ---- isours, which and info --------------------------------------------

int IsOurs(const Options& o) {
    if (!LoadPlugin(o)) return 2;
    for (const std::string& name : o.names) {
        std::string copy = name;
        int r = g_host.module->IsOurFile(&copy[0]);
        printf("%d\n", r);
        if (r != 0 && r != 1) Unexpected("IsOurFile returned %d", r);
    }
    fflush(stdout);
    DestroyWindow(g_host.window);
    return UnexpectedCount() ? 2 : 0;
}

// The extension as the player computes it: what follows the last dot of
// the last path piece, "" without one (so for http://host:8000/), with a
// URL's query left out.
std::string ExtensionOf(const std::string& name) {
    std::string s = name;
    if (s.find("://") != std::string::npos) s = s.substr(0, s.find('?'));
    size_t slash = s.find_last_of("\\/");
    std::string last = slash == std::string::npos ? s : s.substr(slash + 1);
    size_t dot = last.rfind('.');
    return dot == std::string::npos ? "" : last.substr(dot + 1);
}

// The player's mp3 input, the default type, claims these streams by its
// IsOurFile; loaded before this plug-in (its name sorts first).
bool DefaultClaims(const std::string& name) {
    static const char* const kPrefixes[] = {"uvox://", "icy://", "sc://", "shoutcast://"};
    for (const char* p : kPrefixes)
        if (_strnicmp(name.c_str(), p, strlen(p)) == 0) return true;
    return false;
}

// Whether one of the plug-in's extension lists has a piece equal to the
// extension: each list split at ';', an empty piece after a trailing ';'
// included.
bool ExtensionListed(const char* lists, const std::string& extension) {
    int index = 0;
    for (const char* p = lists; p && *p; p += strlen(p) + 1, ++index) {
        if (index % 2) continue;  // the description after each list
        std::string list = p;
        size_t at = 0;
        for (;;) {
            size_t semi = list.find(';', at);
            std::string piece = list.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
            if (_stricmp(piece.c_str(), extension.c_str()) == 0) return true;
            if (semi == std::string::npos) break;
            at = semi + 1;
        }
    }
    return false;
}

int Which(const Options& o) {
    if (!LoadPlugin(o)) return 2;
    for (const std::string& name : o.names) {
        std::string copy = name;
        const char* pick = "default";
        if (!DefaultClaims(name)) {
            int r = g_host.module->IsOurFile(&copy[0]);
            if (r != 0 && r != 1) Unexpected("IsOurFile returned %d", r);
            if (r || ExtensionListed(g_host.module->FileExtensions, ExtensionOf(name))) pick = "in_realmedia";
        }
        printf("%s\n", pick);
    }
    fflush(stdout);
    DestroyWindow(g_host.window);
    return UnexpectedCount() ? 2 : 0;
}

void PrintInfo(const Options& o, const char* name) {
    std::vector<char> title;
    int length = 0;
    std::string copy = name;
    size_t n = CheckedFileInfo(&copy[0], &title, &length);
    printf("%d\t", length);
    if (o.hex) {
        for (size_t i = 0; i < n; ++i) printf("%02x", static_cast<unsigned char>(title[i]));
    } else {
        fwrite(title.data(), 1, n, stdout);
    }
    putchar('\n');
    fflush(stdout);
}

int Info(const Options& o) {
    std::vector<std::string> names = o.names;
    if (!o.listFile.empty()) {
        FILE* f = fopen(o.listFile.c_str(), "rb");
        if (!f) {
            fprintf(stderr, "error cannot read %s\n", o.listFile.c_str());
            return 2;
        }
        char line[4096];
        while (fgets(line, sizeof line, f)) {
            line[strcspn(line, "\r\n")] = 0;
            if (*line) names.push_back(line);
        }
        fclose(f);
    }
    if (!LoadPlugin(o)) return 2;
    if (o.playing) PrintInfo(o, "");
    for (const std::string& name : names) PrintInfo(o, name.c_str());
    DestroyWindow(g_host.window);
    return UnexpectedCount() ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Lines end in \n only, also under the Windows C runtime.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Options o;
    if (!Parse(argc, argv, &o)) {
        Usage();
        return 2;
    }
    g_host.options = &o;
    OutputSetUp({o.realtime, o.refuseOpen, o.wavPath.empty() ? nullptr : o.wavPath.c_str(), o.dsp, o.verbose,
                 o.output, o.busyWrite, o.flushMs});
    if (o.command == "play") return Play(o);
    // isours, which and info print results only on stdout; anything else goes to stderr.
    EventStream(stderr);
    if (o.command == "which") return Which(o);
    return o.command == "isours" ? IsOurs(o) : Info(o);
}
