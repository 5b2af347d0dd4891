/* Scenario control, call log and state queries: the stand-in's exports for
 * tests and hostsim, and the bookkeeping every other part reports into. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime.h"

const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidCallback = SIM_RMA_ID(0x00000100);
const GUID kIidInterruptSafe = SIM_RMA_ID(0x0000010B);
const GUID kIidScheduler = SIM_RMA_ID(0x00000101);
const GUID kIidPlayer = SIM_RMA_ID(0x00000402);
const GUID kIidClientEngine = SIM_RMA_ID(0x00000403);
const GUID kIidAudioDevice = SIM_RMA_ID(0x00000703);
const GUID kIidAudioResponse = SIM_RMA_ID(0x00000704);
const GUID kIidAudioDeviceManager = SIM_RMA_ID(0x0000070A);
const GUID kIidErrorSink = SIM_RMA_ID(0x00000801);
const GUID kIidErrorSinkControl = SIM_RMA_ID(0x00000802);
const GUID kIidAdviseSink = SIM_RMA_ID(0x00000B00);
const GUID kIidSiteWindowed = SIM_RMA_ID(0x00000D01);
const GUID kIidSite = SIM_RMA_ID(0x00000D03);
const GUID kIidSiteSupplier = SIM_RMA_ID(0x00000D07);
const GUID kIidSiteManager = SIM_RMA_ID(0x00000D08);
const GUID kIidClassFactory = SIM_RMA_ID(0x00000000);
const GUID kIidBuffer = SIM_RMA_ID(0x00001300);
const GUID kIidValues = SIM_RMA_ID(0x00001302);
const GUID kIidAuthManager = SIM_RMA_ID(0x00001A00);
const GUID kIidAuthResponse = SIM_RMA_ID(0x00001A01);

int SimSameId(const GUID* a, const GUID* b) { return a && b && memcmp(a, b, sizeof(GUID)) == 0; }

HINSTANCE g_simInstance;
volatile LONG g_simEngines;
volatile LONG g_simPlaying;
volatile DWORD g_simSystemThread;
volatile DWORD g_simTimerThread;
volatile LONG g_simPositionMs;
volatile LONG g_simSiteWindows;

static CRITICAL_SECTION g_lock; /* scenario and log */
static SimScenario g_scenario;
static volatile LONG g_liveObjects;
static volatile LONG g_liveByKind[OBJ_KINDS];
static const char* const kObjectNames[OBJ_KINDS] = {"engine", "player", "buffer", "values", "site", "response",
                                                    "authresponse"};

/* Observers a test or host registers; neither is a scenario setting, so
 * `reset` leaves them. */
typedef void(SIMCALL* SimUnloadReport)(const char* alive);
typedef int(SIMCALL* SimSeekHook)(ULONG32 timeMs);
static SimUnloadReport volatile g_unloadReport;
static SimSeekHook volatile g_seekHook;
static volatile LONG g_clientRefs[REF_KINDS];
static volatile LONG g_checks;
static LONG (*volatile g_objectQuery)(const char* what);

/* The thread kind of the latest call into the client under each name. */
#define MAX_NOTED 64
static struct { char call[48]; int kind; } g_noted[MAX_NOTED];
static int g_notedCount;

#define LOG_LIMIT 65536
static char g_log[LOG_LIMIT];
static size_t g_logLength;

/* ---- scenario --------------------------------------------------------------- */

static void Defaults(SimScenario* s) {
    memset(s, 0, sizeof *s);
    s->isDone = -1;
    s->lengthMs = 3000;
    s->rate = 44100, s->channels = 2, s->bits = 16;
    s->errorSeverity = SIM_DEFAULT_SEVERITY;
    strcpy(s->name, "main");
    strcpy(s->authMarker, "auth=");
    s->log[LOG_POSITIONS] = 1;
    s->leadMs = 1500;
}

void SimScenarioSnapshot(SimScenario* out) {
    EnterCriticalSection(&g_lock);
    *out = g_scenario;
    LeaveCriticalSection(&g_lock);
}

HRESULT SimFailure(int kind) {
    EnterCriticalSection(&g_lock);
    HRESULT hr = g_scenario.failSet[kind] ? g_scenario.fail[kind] : SIM_OK;
    LeaveCriticalSection(&g_lock);
    return hr;
}

int SimHidden(int kind) { return g_scenario.hide[kind]; }
int SimKind(int kind) { return g_scenario.kind[kind]; }
int SimLogging(int kind) { return g_scenario.log[kind]; }

void SimDelay(int kind) {
    UINT32 ms = g_scenario.delayMs[kind];
    if (ms) Sleep(ms);
}

/* ---- parsing ---------------------------------------------------------------- */

typedef struct Words {
    char* word[24];
    int count;
    int offset[24]; /* where each word starts in the command */
} Words;

static void Split(char* text, Words* w) {
    w->count = 0;
    char* p = text;
    while (*p && w->count < 24) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        w->offset[w->count] = (int)(p - text);
        w->word[w->count++] = p;
        while (*p && *p != ' ' && *p != '\t') ++p;
        if (*p) *p++ = 0;
    }
}

/* The text of the command from word i on, with the original spacing. */
static void RestOf(const char* command, const Words* w, int i, char* out, size_t size) {
    out[0] = 0;
    if (i >= w->count) return;
    snprintf(out, size, "%s", command + w->offset[i]);
}

static int Number(const char* text, UINT32* value) {
    if (!text || !*text) return 0;
    char* end = NULL;
    unsigned long long v = strtoull(text, &end, 0);
    if (*end || v > 0xFFFFFFFFull) return 0;
    *value = (UINT32)v;
    return 1;
}

static int Pick(const char* word, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (word && _stricmp(word, names[i]) == 0) return i;
    }
    return -1;
}

static const char* const kFailNames[FAIL_KINDS] = {"CreateEngine", "CreatePlayer", "Replace", "OpenURL",
                                                   "AddSite", "CreateInstance", "SiteCreate"};
static const char* const kHideNames[HIDE_KINDS] = {"AudioDeviceManager", "ErrorSinkControl", "Scheduler",
                                                   "SiteManager", "ClassFactory"};
static const char* const kDelayNames[DELAY_KINDS] = {"OpenURL", "Begin", "Seek", "Stop"};
static const char* const kLogNames[LOG_KINDS] = {"writes", "scheduler", "timesync", "positions"};
static const char* const kKindNames[KIND_KINDS] = {"postseek", "isdone", "openurl", "sitesatstop", "clock",
                                                   "fastwrite"};

static int OnOff(const char* word, int* out) {
    if (word && (_stricmp(word, "on") == 0 || strcmp(word, "1") == 0)) return *out = 1, 1;
    if (word && (_stricmp(word, "off") == 0 || strcmp(word, "0") == 0)) return *out = 0, 1;
    return 0;
}

static SimTimedEvent* NewEvent(SimScenario* s, int kind, UINT32 atMs) {
    if (s->eventCount >= SIM_MAX_EVENTS) return NULL;
    SimTimedEvent* e = &s->events[s->eventCount++];
    memset(e, 0, sizeof *e);
    e->kind = kind;
    e->atMs = atMs;
    return e;
}

/* Applies one command to the scenario (the caller holds g_lock). */
static int Apply(const char* command) {
    char copy[1024];
    snprintf(copy, sizeof copy, "%s", command);
    Words w;
    Split(copy, &w);
    if (w.count == 0) return 0;
    SimScenario* s = &g_scenario;
    const char* verb = w.word[0];
    UINT32 a = 0, b = 0, c = 0;
    int k;
    if (_stricmp(verb, "reset") == 0 && w.count == 1) {
        Defaults(s);
        g_logLength = 0;
        g_log[0] = 0;
        g_notedCount = 0;
        InterlockedExchange(&g_checks, 0);
        return 0;
    }
    if (_stricmp(verb, "fail") == 0 && w.count == 3 && (k = Pick(w.word[1], kFailNames, FAIL_KINDS)) >= 0 &&
        Number(w.word[2], &a)) {
        s->failSet[k] = 1;
        s->fail[k] = (HRESULT)a;
        return 0;
    }
    if (_stricmp(verb, "hide") == 0 && w.count == 2 && (k = Pick(w.word[1], kHideNames, HIDE_KINDS)) >= 0) {
        s->hide[k] = 1;
        return 0;
    }
    if (_stricmp(verb, "isdone") == 0 && w.count == 2 && Number(w.word[1], &a) && a <= 1) {
        s->isDone = (int)a;
        return 0;
    }
    if (_stricmp(verb, "stophang") == 0 && (w.count == 2 || (w.count == 3 && _stricmp(w.word[2], "inside") == 0)) &&
        Number(w.word[1], &a)) {
        s->stopHangMs = a;
        s->stopHangInside = w.count == 3;
        return 0;
    }
    if (_stricmp(verb, "delay") == 0 && w.count == 3 && (k = Pick(w.word[1], kDelayNames, DELAY_KINDS)) >= 0 &&
        Number(w.word[2], &a)) {
        s->delayMs[k] = a;
        return 0;
    }
    if (_stricmp(verb, "length") == 0 && w.count == 2 && Number(w.word[1], &a) && a > 0) {
        s->lengthMs = a;
        return 0;
    }
    if (_stricmp(verb, "format") == 0 && w.count == 4 && Number(w.word[1], &a) && Number(w.word[2], &b) &&
        Number(w.word[3], &c) && a >= 1000 && a <= 192000 && b >= 1 && b <= 8 &&
        (c == 8 || c == 16 || c == 24 || c == 32)) {
        s->rate = a, s->channels = b, s->bits = c;
        return 0;
    }
    if (_stricmp(verb, "block") == 0 && w.count == 2 && Number(w.word[1], &a) && a <= 65535) {
        s->blockBytes = a;
        return 0;
    }
    if (_stricmp(verb, "pace") == 0 && w.count == 2) {
        if (_stricmp(w.word[1], "fast") == 0) return s->realtime = 0, 0;
        if (_stricmp(w.word[1], "realtime") == 0) return s->realtime = 1, 0;
        return -1;
    }
    if (_stricmp(verb, "buffering") == 0 && w.count >= 3 && Number(w.word[1], &a)) {
        SimTimedEvent e = {0};
        for (int i = 2; i < w.count; ++i) {
            if (e.percentCount == SIM_MAX_PERCENTS || !Number(w.word[i], &b) || b > 65535) return -1;
            e.percents[e.percentCount++] = (UINT16)b;
        }
        SimTimedEvent* slot = NewEvent(s, EVENT_BUFFERING, a);
        if (!slot) return -1;
        memcpy(slot->percents, e.percents, sizeof e.percents);
        slot->percentCount = e.percentCount;
        return 0;
    }
    if (_stricmp(verb, "contacting") == 0 && w.count >= 3 && Number(w.word[1], &a)) {
        SimTimedEvent* e = NewEvent(s, EVENT_CONTACTING, a);
        if (!e) return -1;
        RestOf(command, &w, 2, e->text, sizeof e->text);
        return 0;
    }
    if (_stricmp(verb, "connect") == 0 && w.count == 2 && Number(w.word[1], &a)) {
        s->connectMs = a;
        return 0;
    }
    if (_stricmp(verb, "stopinbegin") == 0 && w.count == 1) {
        s->stopInBegin = 1;
        return 0;
    }
    if (_stricmp(verb, "nopreseek") == 0 && w.count == 1) {
        s->noPreSeek = 1;
        return 0;
    }
    if (_stricmp(verb, "stopat") == 0 && w.count == 2 && Number(w.word[1], &a)) {
        s->stopAtSet = 1;
        s->stopAtMs = a;
        return 0;
    }
    if (_stricmp(verb, "seekat") == 0 && w.count == 3 && Number(w.word[1], &a) && Number(w.word[2], &b)) {
        SimTimedEvent* e = NewEvent(s, EVENT_SEEK, a);
        if (!e) return -1;
        e->toMs = b;
        return 0;
    }
    if (_stricmp(verb, "error") == 0 && w.count >= 3 && Number(w.word[2], &b)) {
        const char* when = w.word[1];
        if (_stricmp(when, "open") == 0) {
            s->errorWhen = WHEN_OPEN;
        } else if (_stricmp(when, "seek") == 0) {
            s->errorWhen = WHEN_SEEK;
        } else if (_strnicmp(when, "play:", 5) == 0 && Number(when + 5, &a)) {
            s->errorWhen = WHEN_PLAY;
            s->errorAtMs = a;
        } else {
            return -1;
        }
        s->errorCode = (HRESULT)b;
        s->errorSeverity = SIM_DEFAULT_SEVERITY;
        s->errorText[0] = 0;
        if (w.count >= 4) {
            if (!Number(w.word[3], &c) || c > 255) return -1;
            s->errorSeverity = c;
            RestOf(command, &w, 4, s->errorText, sizeof s->errorText);
        }
        return 0;
    }
    if (_stricmp(verb, "video") == 0 && w.count == 2 && OnOff(w.word[1], &s->video)) return 0;
    if (_stricmp(verb, "playto") == 0) return RestOf(command, &w, 1, s->playTo, sizeof s->playTo), 0;
    if (_stricmp(verb, "name") == 0) return RestOf(command, &w, 1, s->name, sizeof s->name), 0;
    if (_stricmp(verb, "authmarker") == 0 && w.count == 2) {
        RestOf(command, &w, 1, s->authMarker, sizeof s->authMarker);
        return 0;
    }
    if (_stricmp(verb, "kind") == 0 && w.count == 2 && (k = Pick(w.word[1], kKindNames, KIND_KINDS)) >= 0) {
        s->kind[k] = 1;
        return 0;
    }
    if (_stricmp(verb, "stall") == 0 && w.count == 2 && Number(w.word[1], &a)) {
        s->stallEndMs = a;
        return 0;
    }
    if (_stricmp(verb, "lead") == 0 && w.count == 2 && Number(w.word[1], &a) && a >= 100) {
        s->leadMs = a;
        return 0;
    }
    if (_stricmp(verb, "log") == 0 && w.count == 3 && (k = Pick(w.word[1], kLogNames, LOG_KINDS)) >= 0 &&
        OnOff(w.word[2], &s->log[k])) {
        return 0;
    }
    return -1;
}

int SIMCALL SimEngineControl(const char* commands) {
    if (!commands) return -1;
    int result = 0;
    EnterCriticalSection(&g_lock);
    const char* p = commands;
    while (*p) {
        size_t n = strcspn(p, ";\r\n");
        char one[1024];
        if (n >= sizeof one) {
            result = -1;
        } else {
            memcpy(one, p, n);
            one[n] = 0;
            if (Apply(one) != 0) result = -1;
        }
        p += n;
        if (*p) ++p;
    }
    LeaveCriticalSection(&g_lock);
    return result;
}

/* ---- log ---------------------------------------------------------------------- */

void SimLog(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) return;
    if (n > (int)sizeof line - 2) n = (int)sizeof line - 2;
    line[n++] = '\n';
    line[n] = 0;
    EnterCriticalSection(&g_lock);
    if (g_logLength + (size_t)n >= LOG_LIMIT) {
        /* Drop the oldest lines, whole. */
        size_t drop = g_logLength + (size_t)n - LOG_LIMIT + LOG_LIMIT / 4;
        while (drop < g_logLength && g_log[drop - 1] != '\n') ++drop;
        if (drop > g_logLength) drop = g_logLength;
        memmove(g_log, g_log + drop, g_logLength - drop);
        g_logLength -= drop;
    }
    memcpy(g_log + g_logLength, line, (size_t)n + 1);
    g_logLength += (size_t)n;
    LeaveCriticalSection(&g_lock);
}

void SimCheck(const char* format, ...) {
    char line[400];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    InterlockedIncrement(&g_checks);
    SimLog("Check: %s", line);
}

int SimThreadKindNow(void) {
    DWORD self = GetCurrentThreadId();
    if (self == g_simSystemThread) return THREAD_SYSTEM;
    if (self == g_simTimerThread) return THREAD_TIMER;
    return THREAD_CALLER;
}

void SimNoteThread(const char* call) {
    int kind = SimThreadKindNow();
    EnterCriticalSection(&g_lock);
    int i = 0;
    while (i < g_notedCount && strcmp(g_noted[i].call, call) != 0) ++i;
    if (i == g_notedCount && g_notedCount < MAX_NOTED) {
        snprintf(g_noted[i].call, sizeof g_noted[i].call, "%s", call);
        ++g_notedCount;
    }
    if (i < g_notedCount) g_noted[i].kind = kind;
    LeaveCriticalSection(&g_lock);
}

/* 1 system, 2 timer, 3 the caller's own thread, 0 never called. */
static int WhereCalled(const char* call) {
    int answer = 0;
    EnterCriticalSection(&g_lock);
    for (int i = 0; i < g_notedCount; ++i) {
        if (strcmp(g_noted[i].call, call) == 0) answer = g_noted[i].kind == THREAD_CALLER ? 3 : g_noted[i].kind;
    }
    LeaveCriticalSection(&g_lock);
    return answer;
}

int SIMCALL SimEngineLog(char* buffer, int size) {
    EnterCriticalSection(&g_lock);
    int length = (int)g_logLength;
    if (buffer && size > 0) {
        int n = length < size - 1 ? length : size - 1;
        memcpy(buffer, g_log, (size_t)n);
        buffer[n] = 0;
    }
    LeaveCriticalSection(&g_lock);
    return length;
}

/* ---- counters ------------------------------------------------------------------ */

void SimObjectCreated(int kind) {
    InterlockedIncrement(&g_liveObjects);
    InterlockedIncrement(&g_liveByKind[kind]);
}

void SimObjectDestroyed(int kind) {
    InterlockedDecrement(&g_liveObjects);
    InterlockedDecrement(&g_liveByKind[kind]);
}

/* "site=1 buffer=1": the kinds with objects alive, in a fixed order. */
static int DescribeAlive(char* out, size_t size) {
    size_t used = 0;
    int total = 0;
    out[0] = 0;
    for (int k = 0; k < OBJ_KINDS; ++k) {
        LONG n = g_liveByKind[k];
        if (n == 0) continue;
        total += (int)n;
        int wrote = snprintf(out + used, size - used, "%s%s=%ld", used ? " " : "", kObjectNames[k], (long)n);
        if (wrote < 0 || (size_t)wrote >= size - used) break;
        used += (size_t)wrote;
    }
    return total;
}

int SIMCALL SimEngineAlive(char* buffer, int size) {
    char text[256];
    int total = DescribeAlive(text, sizeof text);
    if (buffer && size > 0) snprintf(buffer, (size_t)size, "%s", text);
    return total;
}

void SIMCALL SimEngineOnUnload(SimUnloadReport report) { g_unloadReport = report; }

void SIMCALL SimEngineOnSeek(SimSeekHook hook) { g_seekHook = hook; }

void SimCallSeekHook(ULONG32 timeMs) {
    SimSeekHook hook = g_seekHook;
    if (hook) SimLog("Hook.Seek %d", hook(timeMs));
}

void SimHold(void* object, int kind) {
    if (!object) return;
    InterlockedIncrement(&g_clientRefs[kind]);
    ((Unknown*)object)->vtbl->AddRef(object);
}

void SimDrop(void* object, int kind) {
    if (!object) return;
    InterlockedDecrement(&g_clientRefs[kind]);
    ULONG left = ((Unknown*)object)->vtbl->Release(object);
    /* 0 here means the client had already let go of its own reference. */
    if (kind == REF_CONTEXT) SimLog("Player.ClientContext released %lu", (unsigned long)left);
}

void* SimQuery(void* object, const GUID* iid, int kind) {
    void* out = NULL;
    if (!object) return NULL;
    if (((Unknown*)object)->vtbl->QueryInterface(object, iid, &out) != SIM_OK || !out) return NULL;
    InterlockedIncrement(&g_clientRefs[kind]);
    return out;
}

void SimSetObjectQuery(LONG (*query)(const char* what)) { g_objectQuery = query; }

int SIMCALL SimEngineQuery(const char* what) {
    if (!what) return -1;
    static const char* const kRefNames[REF_KINDS] = {"device", "context", "advisesinks", "errorsinks", "other"};
    if (strcmp(what, "live") == 0) return (int)g_liveObjects;
    if (strcmp(what, "playing") == 0) return (int)g_simPlaying;
    if (strcmp(what, "positionMs") == 0) return (int)g_simPositionMs;
    if (strcmp(what, "sites") == 0) return (int)g_simSiteWindows;
    if (strcmp(what, "engines") == 0) return (int)g_simEngines;
    if (strcmp(what, "checks") == 0) return (int)g_checks;
    if (strncmp(what, "where ", 6) == 0) return WhereCalled(what + 6);
    if (strcmp(what, "clientrefs") == 0) {
        LONG total = 0;
        for (int i = 0; i < REF_KINDS; ++i) total += g_clientRefs[i];
        return (int)total;
    }
    if (strncmp(what, "refs ", 5) == 0) {
        int k = Pick(what + 5, kRefNames, REF_KINDS);
        if (k >= 0) return (int)g_clientRefs[k];
    }
    LONG (*query)(const char*) = g_objectQuery;
    return query ? (int)query(what) : -1;
}

/* ---- waiting and loading --------------------------------------------------------- */

int SimWaitPumping(HANDLE handle, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) return 0;
        DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - elapsed;
        DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return 1;
        if (r == WAIT_OBJECT_0 + 1) {
            MSG msg;
            /* Delivers sent messages only; posted ones stay queued. */
            PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (r == WAIT_FAILED) return 0;
    }
}

void SimRuntimeInit(HINSTANCE instance) {
    g_simInstance = instance;
    InitializeCriticalSection(&g_lock);
    Defaults(&g_scenario);
}

void SimRuntimeUnload(void) {
    /* FreeLibrary, not the process's end: every object handed out must be
     * gone, or its table would point into unloaded code. */
    char alive[256];
    SimUnloadReport report = g_unloadReport;
    if (DescribeAlive(alive, sizeof alive) > 0 && report) report(alive);
}
