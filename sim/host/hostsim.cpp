// hostsim: a headless host for an input plug-in.  It loads the plug-in,
// fills the module record as the host does, and drives it from the command
// line:  hostsim isours NAME... | play PATH_OR_URL [options] | info [--hex] FILE...
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
constexpr DWORD kSettleQuietMs = 150;
constexpr DWORD kHangGraceMs = 20000;
const char kEngineKey[] = "Software\\RealNetworks\\Preferences\\DT_Common";

enum End { Running, EndEof, EndStopped, EndTimeout, EndFailed };
const char* const kEndNames[] = {"running", "eof", "stopped", "timeout", "failed"};

struct Trigger { int at, value; };

struct Options {
    std::string command, plugin, engineDir, script, wavPath, listFile;
    std::vector<std::string> names;
    std::vector<Trigger> seeks, pauses;
    int stopAt = -1, timeoutMs = 60000, dsp = 0, refuseOpen = 0, repeat = 1, answerAfterMs = 0;
    bool realtime = false, verbose = false, answerOk = true, noEngineKey = false;
    bool hex = false, playing = false, engineDirGiven = false;
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

struct Host {
    HMODULE library;
    InModule* module;
    OutModule out;
    HWND window;
    std::atomic<int> end{Running};
    bool playIssued, stopCalled;
    int eofs;  // end-of-file messages in this Play
    DWORD playTick;
};
Host g_host;

void Usage() {
    fputs("usage: hostsim isours NAME...\n"
          "       hostsim play PATH_OR_URL [--seek AT_MS:TO_MS]... [--pause AT_MS:FOR_MS]... [--stop-at MS]\n"
          "            [--out FILE.wav] [--realtime] [--answer ok|cancel] [--answer-after MS] [--dsp invert|stretch] [--verbose]\n"
          "            [--refuse-open | --refuse-open-once] [--engine SCRIPT] [--engine-dir DIR | --no-engine-key]\n"
          "            [--plugin DLL] [--timeout MS] [--repeat N]\n"
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

bool Parse(int argc, char** argv, Options* o) {
    if (argc < 2) return false;
    o->command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto take = [&]() { ++i; return next; };
        Trigger t;
        if (a == "--plugin" && next) o->plugin = take();
        else if (a == "--seek" && next && ParsePair(next, &t)) { take(); o->seeks.push_back(t); }
        else if (a == "--pause" && next && ParsePair(next, &t)) { take(); o->pauses.push_back(t); }
        else if (a == "--stop-at" && next && ParseInt(next, &o->stopAt)) take();
        else if (a == "--timeout" && next && ParseInt(next, &o->timeoutMs)) take();
        else if (a == "--repeat" && next && ParseInt(next, &o->repeat) && o->repeat >= 1) take();
        else if (a == "--out" && next) o->wavPath = take();
        else if (a == "--realtime") o->realtime = true;
        else if (a == "--verbose") o->verbose = true;
        else if (a == "--answer" && next && (!strcmp(next, "ok") || !strcmp(next, "cancel"))) o->answerOk = !strcmp(take(), "ok");
        else if (a == "--answer-after" && next && ParseInt(next, &o->answerAfterMs)) take();
        else if (a == "--dsp" && next && !strcmp(next, "invert")) { take(); o->dsp = 1; }
        else if (a == "--dsp" && next && !strcmp(next, "stretch")) { take(); o->dsp = 2; }
        else if (a == "--refuse-open") o->refuseOpen = 1;
        else if (a == "--refuse-open-once") o->refuseOpen = 2;
        else if (a == "--engine" && next) o->script = take();
        else if (a == "--engine-dir" && next) { o->engineDir = take(); o->engineDirGiven = true; }
        else if (a == "--no-engine-key") o->noEngineKey = true;
        else if (a == "--hex") o->hex = true;
        else if (a == "--playing") o->playing = true;
        else if (a == "--list" && next) o->listFile = take();
        else if (a.size() > 2 && a.compare(0, 2, "--") == 0) return false;
        else o->names.push_back(a);
    }
    if (o->command == "isours") return true;
    if (o->command == "play") return o->names.size() == 1;
    if (o->command == "info") return !o->names.empty() || o->playing || !o->listFile.empty();
    return false;
}

// ---- the host window ---------------------------------------------------

void HostStop() {
    if (!g_host.playIssued || g_host.stopCalled) return;
    g_host.stopCalled = true;
    Event("stop");
    OutputHostStopping();
    PluginCall call;
    g_host.module->Stop();
}

void Finish(End end) {
    int expected = Running;
    g_host.end.compare_exchange_strong(expected, end);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEndOfFileMessage) {
        Event("eof");
        if (g_host.stopCalled) Unexpected("eof after stop");
        if (++g_host.eofs == 2) Unexpected("eof twice in one play");
        Finish(EndEof);
        HostStop();
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kStopCommand) {
        Event("stopcmd");
        Finish(EndStopped);
        HostStop();
        return 0;
    }
    if (message == WM_TIMER && wParam == kTimeoutTimer) {
        KillTimer(window, kTimeoutTimer);
        if (g_host.end.load() == Running) {
            Event("timeout");
            Finish(EndTimeout);
            HostStop();
        }
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
    g_host.module->hMainWindow = g_host.window;
    g_host.module->hDllInstance = g_host.library;
    OutputInstall(g_host.module, &g_host.out, g_host.window);
    g_host.module->Init();
    return true;
}

void UnloadPlugin() {
    g_host.module->Quit();
    OutputRetire();
}

// ---- play --------------------------------------------------------------

void __stdcall EngineAliveAtUnload(const char* alive) {
    Unexpected("engine objects alive at unload: %s", alive ? alive : "");
}

// The stand-in engine names the objects still alive when it is unloaded;
// another engine lacks the export and is left alone.
void WatchEngineUnload() {
    typedef void(__stdcall * ReportFn)(const char*);
    typedef void(__stdcall * SetReportFn)(ReportFn);
    HMODULE engine = GetModuleHandleA("pnen3260.dll");
    auto set = engine ? reinterpret_cast<SetReportFn>(reinterpret_cast<void*>(GetProcAddress(engine, "SimEngineOnUnload")))
                      : nullptr;
    if (set) set(EngineAliveAtUnload);
}

// The stand-in engine checks its client (time reports that go back or run
// ahead of the sound written, a time report after the device's Close, a
// window destroyed twice): each fault it saw is one of the plug-in's.
void ReportEngineChecks() {
    typedef int(__stdcall * QueryFn)(const char*);
    typedef int(__stdcall * LogFn)(char*, int);
    HMODULE engine = GetModuleHandleA("pnen3260.dll");
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

struct Schedule {
    size_t nextSeek = 0, nextPause = 0;
    bool paused = false, moved = false, stopDone = false;
    DWORD resumeTick = 0;
    int lastPos = -1, lastLen = -1;
};

void Tick(const Options& o, Schedule& s) {
    int pos = g_host.module->GetOutputTime();
    int len = g_host.module->GetLength();
    if (o.verbose && (pos != s.lastPos || len != s.lastLen)) Event("pos %d len %d", pos, len);
    s.lastPos = pos;
    s.lastLen = len;
    if (pos != 0) s.moved = true;
    DWORD elapsed = GetTickCount() - g_host.playTick;
    auto reached = [&](int at) { return s.moved ? pos >= at : elapsed >= static_cast<DWORD>(at); };

    if (s.paused && GetTickCount() - s.resumeTick < 0x80000000u) {
        s.paused = false;
        Event("unpause");
        g_host.module->UnPause();
    } else if (!s.paused && s.nextPause < o.pauses.size() && reached(o.pauses[s.nextPause].at)) {
        s.paused = true;
        s.resumeTick = GetTickCount() + o.pauses[s.nextPause++].value;
        Event("pause");
        g_host.module->Pause();
    }
    if (s.nextSeek < o.seeks.size() && reached(o.seeks[s.nextSeek].at)) {
        int to = o.seeks[s.nextSeek++].value;
        Event("seek %d", to);
        g_host.module->SetOutputTime(to);
    }
    // An end of file the plug-in posted before this moment comes first, as
    // it would in the host's own message loop.
    MSG pending;
    if (PeekMessageA(&pending, g_host.window, kEndOfFileMessage, kEndOfFileMessage, PM_NOREMOVE)) return;
    if (o.stopAt >= 0 && !s.stopDone && reached(o.stopAt)) {
        s.stopDone = true;
        Finish(EndStopped);
        HostStop();
    }
}

// One Play of the path, until the end of the presentation or a stop.
End PlayOnce(const Options& o) {
    g_host.end.store(Running);
    g_host.stopCalled = false;
    g_host.eofs = 0;
    SetTimer(g_host.window, kTimeoutTimer, o.timeoutMs, nullptr);
    OutputNewPlay();
    std::string path = o.names[0];
    g_host.playIssued = true;
    int result = g_host.module->Play(&path[0]);
    Event("play %d", result);
    WatchEngineUnload();
    g_host.playTick = GetTickCount();
    if (result != 0) Finish(EndFailed);
    Schedule schedule;
    g_stall.measuring = true;
    while (g_host.end.load() == Running) {
        PumpFor(10);
        if (g_host.end.load() == Running) Tick(o, schedule);
    }
    g_stall.measuring = false;
    KillTimer(g_host.window, kTimeoutTimer);
    Settle();
    return static_cast<End>(g_host.end.load());
}

int Play(const Options& o) {
    QueryPerformanceFrequency(&g_stall.frequency);
    SetEngineKey(o);
    if (!o.script.empty()) {
        // Both the system's block and the C runtime's copy, whichever the engine reads.
        SetEnvironmentVariableA("SIMENGINE_SCRIPT", o.script.c_str());
        _putenv(("SIMENGINE_SCRIPT=" + o.script).c_str());
    }
    if (!LoadPlugin(o)) return 2;
    Event("plugin %s", Quoted(g_host.module->description).c_str());
    if (o.verbose) {
        RECT r;
        GetWindowRect(g_host.window, &r);
        Event("host %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
        Event("types %s", Quoted(FileTypes(g_host.module->FileExtensions).c_str()).c_str());
    }
    WatchStart(g_host.window, o.answerOk, static_cast<DWORD>(o.answerAfterMs));
    UINT_PTR limit = static_cast<UINT_PTR>(o.timeoutMs) * o.repeat + kHangGraceMs;
    HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, reinterpret_cast<void*>(limit), 0, nullptr);
    if (watchdog) CloseHandle(watchdog);

    bool allEof = true;
    End end = Running;
    for (int i = 0; i < o.repeat; ++i) {
        end = PlayOnce(o);
        allEof = allEof && end == EndEof;
        if (i + 1 < o.repeat) Event("run %d %s", i + 1, kEndNames[end]);
    }
    Event("stall %d", LongestStallMs());
    Event("quit");
    UnloadPlugin();
    ReportEngineChecks();
    WatchStop();
    OutputFinish();
    OutputTotals t = OutputGetTotals();
    Event("end %s written=%lld writes=%d vis=%d dsp=%d", kEndNames[end], t.writtenBytes, t.writes, t.vis, t.dsp);
    DestroyWindow(g_host.window);
    FreeLibrary(g_host.library);
    if (UnexpectedCount()) return 2;
    return allEof ? 0 : 1;
}

// ---- isours and info ---------------------------------------------------

int IsOurs(const Options& o) {
    if (!LoadPlugin(o)) return 2;
    for (const std::string& name : o.names) {
        std::string copy = name;
        int r = g_host.module->IsOurFile(&copy[0]);
        printf("%d\n", r);
        if (r != 0 && r != 1) Unexpected("IsOurFile returned %d", r);
    }
    fflush(stdout);
    UnloadPlugin();
    return UnexpectedCount() ? 2 : 0;
}

void PrintInfo(const Options& o, const char* name) {
    std::vector<char> title(kTitleBytes + 64, '\xA5');
    int length = 0x7EADBEEF;
    std::string copy = name ? name : "";
    g_host.module->GetFileInfo(name ? &copy[0] : nullptr, title.data(), &length);
    for (size_t i = kTitleBytes; i < title.size(); ++i) {
        if (title[i] != '\xA5') {
            Unexpected("GetFileInfo wrote past the %d-byte title buffer", kTitleBytes);
            break;
        }
    }
    size_t n = strnlen(title.data(), kTitleBytes);
    if (n == kTitleBytes) Unexpected("GetFileInfo left the title without a terminator");
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
    if (o.playing) PrintInfo(o, nullptr);
    for (const std::string& name : names) PrintInfo(o, name.c_str());
    UnloadPlugin();
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
    OutputSetUp({o.realtime, o.refuseOpen, o.wavPath.empty() ? nullptr : o.wavPath.c_str(), o.dsp, o.verbose});
    if (o.command == "play") return Play(o);
    // isours and info print results only on stdout; anything else goes to stderr.
    EventStream(stderr);
    return o.command == "isours" ? IsOurs(o) : Info(o);
}
