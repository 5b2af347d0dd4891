/* The library's exports, the engine (IRMAClientEngine with its audio device
 * manager) and the scheduler whose callbacks fire on a thread of its own. */
#include <stdlib.h>
#include <string.h>

#include "sim.h"

#define MAX_PLAYERS 8
#define MAX_ENGINES 8

struct SimEngine {
    const ClientEngineVtbl* vtbl;            /* IRMAClientEngine */
    const AudioDeviceManagerVtbl* admVtbl;   /* IRMAAudioDeviceManager */
    volatile LONG refs;
    CRITICAL_SECTION lock;
    void* device; /* the client's audio device from Replace */
    SimPlayer* players[MAX_PLAYERS];
    int playerCount;
};

volatile LONG g_simEngines;
static CRITICAL_SECTION g_enginesLock;
static SimEngine* g_engineList[MAX_ENGINES];

void* SimEngineFace(SimEngine* engine) { return &engine->vtbl; }

/* ---- IRMAClientEngine --------------------------------------------------------- */

static SimEngine* FromEngine(void* face) { return SIM_OBJ(SimEngine, vtbl, face); }
static SimEngine* FromManager(void* face) { return SIM_OBJ(SimEngine, admVtbl, face); }

static HRESULT EngineQuery(SimEngine* e, const GUID* iid, void** out) {
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    if (SimSameId(iid, &kIidUnknown) || SimSameId(iid, &kIidClientEngine)) {
        *out = &e->vtbl;
    } else if (SimSameId(iid, &kIidAudioDeviceManager) && !SimHidden(HIDE_DEVICE_MANAGER)) {
        *out = &e->admVtbl;
    } else {
        return SIM_E_NOINTERFACE;
    }
    InterlockedIncrement(&e->refs);
    return SIM_OK;
}

static ULONG EngineAddRefOf(SimEngine* e) { return (ULONG)InterlockedIncrement(&e->refs); }

static ULONG EngineReleaseOf(SimEngine* e) {
    LONG left = InterlockedDecrement(&e->refs);
    if (left > 0) return (ULONG)left;
    DeleteCriticalSection(&e->lock);
    free(e);
    SimObjectDestroyed(OBJ_ENGINE);
    return 0;
}

static HRESULT SIMCALL EngineQueryInterface(void* s, const GUID* iid, void** out) {
    return EngineQuery(FromEngine(s), iid, out);
}
static ULONG SIMCALL EngineAddRef(void* s) { return EngineAddRefOf(FromEngine(s)); }
static ULONG SIMCALL EngineRelease(void* s) { return EngineReleaseOf(FromEngine(s)); }

static HRESULT SIMCALL EngineCreatePlayer(void* s, void** out) {
    SimEngine* e = FromEngine(s);
    SimLog("Engine.CreatePlayer");
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    HRESULT hr = SimFailure(FAIL_CREATE_PLAYER);
    if (hr != SIM_OK) return hr;
    EnterCriticalSection(&e->lock);
    SimPlayer* p = e->playerCount < MAX_PLAYERS ? SimPlayerNew(e) : NULL;
    if (p) e->players[e->playerCount++] = p;
    LeaveCriticalSection(&e->lock);
    if (!p) return SIM_E_FAIL;
    void* face = SimPlayerFace(p);
    ((Unknown*)face)->vtbl->AddRef(face);
    *out = face;
    return SIM_OK;
}

/* Takes a player out of the engine's list; the list's reference goes to the caller. */
static SimPlayer* Unlist(SimEngine* e, void* face) {
    SimPlayer* found = NULL;
    EnterCriticalSection(&e->lock);
    for (int i = 0; i < e->playerCount; ++i) {
        if (SimPlayerFace(e->players[i]) == face || !face) {
            found = e->players[i];
            memmove(&e->players[i], &e->players[i + 1], (size_t)(e->playerCount - i - 1) * sizeof found);
            --e->playerCount;
            break;
        }
    }
    LeaveCriticalSection(&e->lock);
    return found;
}

static void ClosePlayerOf(SimPlayer* p) {
    SimPlayerClose(p);
    void* face = SimPlayerFace(p);
    ((Unknown*)face)->vtbl->Release(face);
}

static HRESULT SIMCALL EngineClosePlayer(void* s, void* player) {
    SimLog("Engine.ClosePlayer");
    if (!player) return SIM_E_INVALIDARG;
    SimPlayer* p = Unlist(FromEngine(s), player);
    if (!p) return SIM_E_FAIL;
    ClosePlayerOf(p);
    return SIM_OK;
}

static UINT16 SIMCALL EngineGetPlayerCount(void* s) {
    SimLog("Engine.GetPlayerCount");
    return (UINT16)FromEngine(s)->playerCount;
}

static HRESULT SIMCALL EngineGetPlayer(void* s, UINT16 index, void** out) {
    SimEngine* e = FromEngine(s);
    SimLog("Engine.GetPlayer %u", (unsigned)index);
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    EnterCriticalSection(&e->lock);
    if (index < e->playerCount) {
        *out = SimPlayerFace(e->players[index]);
        ((Unknown*)*out)->vtbl->AddRef(*out);
    }
    LeaveCriticalSection(&e->lock);
    return *out ? SIM_OK : SIM_E_INVALIDARG;
}

static HRESULT SIMCALL EngineEventOccurred(void* s, SimEvent* event) {
    SimLog("Engine.EventOccurred %lu", event ? (unsigned long)event->event : 0ul);
    return SIM_OK;
}

static const ClientEngineVtbl kEngineVtbl = {EngineQueryInterface, EngineAddRef,         EngineRelease,
                                             EngineCreatePlayer,   EngineClosePlayer,    EngineGetPlayerCount,
                                             EngineGetPlayer,      EngineEventOccurred};

/* ---- IRMAAudioDeviceManager ----------------------------------------------------- */

static HRESULT SIMCALL ManagerQueryInterface(void* s, const GUID* iid, void** out) {
    return EngineQuery(FromManager(s), iid, out);
}
static ULONG SIMCALL ManagerAddRef(void* s) { return EngineAddRefOf(FromManager(s)); }
static ULONG SIMCALL ManagerRelease(void* s) { return EngineReleaseOf(FromManager(s)); }

static HRESULT SIMCALL ManagerReplace(void* s, void* device) {
    SimEngine* e = FromManager(s);
    SimLog("DeviceManager.Replace");
    HRESULT hr = SimFailure(FAIL_REPLACE);
    if (hr != SIM_OK) return hr;
    if (!device) return SIM_E_INVALIDARG;
    SimHold(device, REF_DEVICE);
    EnterCriticalSection(&e->lock);
    void* old = e->device;
    e->device = device;
    LeaveCriticalSection(&e->lock);
    SimDrop(old, REF_DEVICE);
    return SIM_OK;
}

static HRESULT SIMCALL ManagerRemove(void* s, void* device) {
    SimEngine* e = FromManager(s);
    SimLog("DeviceManager.Remove");
    EnterCriticalSection(&e->lock);
    void* old = device && e->device == device ? e->device : NULL;
    if (old) e->device = NULL;
    LeaveCriticalSection(&e->lock);
    if (!old) return SIM_E_FAIL;
    SimDrop(old, REF_DEVICE);
    return SIM_OK;
}

static HRESULT SIMCALL ManagerSetFinalHook(void* s, void* hook) {
    SimLog("DeviceManager.SetFinalHook");
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL ManagerRemoveFinalHook(void* s, void* hook) {
    SimLog("DeviceManager.RemoveFinalHook");
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL ManagerGetAudioFormat(void* s, SimAudioFormat* format) {
    SimLog("DeviceManager.GetAudioFormat");
    if (!format) return SIM_E_POINTER;
    SimScenario sc;
    SimScenarioSnapshot(&sc);
    memset(format, 0, sizeof *format);
    format->channels = (UINT16)sc.channels;
    format->bitsPerSample = (UINT16)sc.bits;
    format->samplesPerSec = sc.rate;
    return SIM_OK;
}

static const AudioDeviceManagerVtbl kManagerVtbl = {
    ManagerQueryInterface, ManagerAddRef,          ManagerRelease,       ManagerReplace,
    ManagerRemove,         ManagerSetFinalHook,    ManagerRemoveFinalHook, ManagerGetAudioFormat};

void* SimEngineDevice(SimEngine* engine) {
    EnterCriticalSection(&engine->lock);
    void* device = engine->device;
    SimHold(device, REF_DEVICE);
    LeaveCriticalSection(&engine->lock);
    return device;
}

/* ---- scheduler ------------------------------------------------------------------------ */

typedef struct Entry {
    struct Entry* next;
    ULONG32 handle;
    void* callback; /* the client's IRMACallback, one counted reference */
    DWORD due;
} Entry;

static CRITICAL_SECTION g_schedLock;
static HANDLE g_schedThread;
static HANDLE g_schedWake;
static volatile LONG g_schedQuit;
static Entry* g_entries;
static ULONG32 g_lastHandle;
static DWORD g_schedStart;

DWORD SimSchedulerStartTick(void) { return g_schedStart; }

static DWORD WINAPI SchedulerMain(void* unused) {
    EnterCriticalSection(&g_schedLock);
    while (!g_schedQuit) {
        DWORD wait = INFINITE;
        if (g_entries) {
            LONG ahead = (LONG)(g_entries->due - GetTickCount());
            if (ahead <= 0) {
                Entry* e = g_entries;
                g_entries = e->next;
                LeaveCriticalSection(&g_schedLock);
                if (SimLogging(LOG_SCHEDULER)) SimLog("Callback.Func %lu", (unsigned long)e->handle);
                SIM_VTBL(CallbackVtbl, e->callback)->Func(e->callback);
                SimDrop(e->callback, REF_OTHER);
                free(e);
                EnterCriticalSection(&g_schedLock);
                continue;
            }
            wait = (DWORD)ahead;
        }
        LeaveCriticalSection(&g_schedLock);
        WaitForSingleObject(g_schedWake, wait);
        EnterCriticalSection(&g_schedLock);
    }
    LeaveCriticalSection(&g_schedLock);
    return 0;
}

ULONG32 SimSchedulerEnter(void* callback, UINT32 delayMs) {
    if (!callback || g_simEngines == 0) return 0;
    Entry* e = calloc(1, sizeof *e);
    if (!e) return 0;
    SimHold(callback, REF_OTHER);
    e->callback = callback;
    e->due = GetTickCount() + delayMs;
    EnterCriticalSection(&g_schedLock);
    if (!g_schedThread) {
        g_schedQuit = 0;
        g_schedThread = CreateThread(NULL, 0, SchedulerMain, NULL, 0, NULL);
    }
    if (!g_schedThread) {
        LeaveCriticalSection(&g_schedLock);
        SimDrop(callback, REF_OTHER);
        free(e);
        return 0;
    }
    if (++g_lastHandle == 0) ++g_lastHandle;
    e->handle = g_lastHandle;
    Entry** at = &g_entries;
    while (*at && (LONG)((*at)->due - e->due) <= 0) at = &(*at)->next;
    e->next = *at;
    *at = e;
    ULONG32 handle = e->handle;
    LeaveCriticalSection(&g_schedLock);
    SetEvent(g_schedWake);
    return handle;
}

HRESULT SimSchedulerRemove(ULONG32 handle) {
    Entry* found = NULL;
    EnterCriticalSection(&g_schedLock);
    for (Entry** at = &g_entries; *at; at = &(*at)->next) {
        if ((*at)->handle == handle) {
            found = *at;
            *at = found->next;
            break;
        }
    }
    LeaveCriticalSection(&g_schedLock);
    if (!found) return SIM_E_FAIL;
    SimDrop(found->callback, REF_OTHER);
    free(found);
    return SIM_OK;
}

/* Ends the scheduler thread and drops every callback still entered. */
static void SchedulerShutdown(void) {
    EnterCriticalSection(&g_schedLock);
    HANDLE thread = g_schedThread;
    g_schedThread = NULL;
    g_schedQuit = 1;
    Entry* pending = g_entries;
    g_entries = NULL;
    LeaveCriticalSection(&g_schedLock);
    if (thread) {
        SetEvent(g_schedWake);
        SimWaitPumping(thread, 10000);
        CloseHandle(thread);
    }
    while (pending) {
        Entry* e = pending;
        pending = e->next;
        SimDrop(e->callback, REF_OTHER);
        free(e);
    }
}

/* ---- exports --------------------------------------------------------------------------- */

void SimEngineInit(void) {
    InitializeCriticalSection(&g_enginesLock);
    InitializeCriticalSection(&g_schedLock);
    g_schedWake = CreateEventA(NULL, FALSE, FALSE, NULL);
    g_schedStart = GetTickCount();
}

HRESULT SIMCALL CreateEngine(void** out) {
    SimLog("CreateEngine");
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    HRESULT hr = SimFailure(FAIL_CREATE_ENGINE);
    if (hr != SIM_OK) return hr;
    SimEngine* e = calloc(1, sizeof *e);
    if (!e) return SIM_E_FAIL;
    e->vtbl = &kEngineVtbl;
    e->admVtbl = &kManagerVtbl;
    e->refs = 1;
    InitializeCriticalSection(&e->lock);
    SimObjectCreated(OBJ_ENGINE);
    EnterCriticalSection(&g_enginesLock);
    for (int i = 0; i < MAX_ENGINES; ++i) {
        if (!g_engineList[i]) {
            g_engineList[i] = e;
            break;
        }
    }
    InterlockedIncrement(&g_simEngines);
    LeaveCriticalSection(&g_enginesLock);
    *out = &e->vtbl;
    return SIM_OK;
}

HRESULT SIMCALL CloseEngine(void* face) {
    SimLog("CloseEngine");
    if (!face) return SIM_E_INVALIDARG;
    SimEngine* e = FromEngine(face);
    SimPlayer* p;
    while ((p = Unlist(e, NULL)) != NULL) ClosePlayerOf(p);
    EnterCriticalSection(&e->lock);
    void* device = e->device;
    e->device = NULL;
    LeaveCriticalSection(&e->lock);
    SimDrop(device, REF_DEVICE);
    EnterCriticalSection(&g_enginesLock);
    for (int i = 0; i < MAX_ENGINES; ++i) {
        if (g_engineList[i] == e) g_engineList[i] = NULL;
    }
    int last = InterlockedDecrement(&g_simEngines) == 0;
    LeaveCriticalSection(&g_enginesLock);
    /* The library may be unloaded next: no thread of ours may outlive the last engine. */
    if (last) {
        SchedulerShutdown();
        SimSitesShutdown();
    }
    EngineReleaseOf(e);
    return SIM_OK;
}

LONG SimQueryObjectRefs(const char* what) {
    LONG result = -1;
    EnterCriticalSection(&g_enginesLock);
    SimEngine* e = NULL;
    for (int i = 0; i < MAX_ENGINES && !e; ++i) e = g_engineList[i];
    if (strcmp(what, "players") == 0) {
        result = 0;
        for (int i = 0; i < MAX_ENGINES; ++i) {
            if (g_engineList[i]) result += g_engineList[i]->playerCount;
        }
    } else if (strcmp(what, "refs engine") == 0) {
        result = e ? e->refs : 0;
    } else if (strcmp(what, "refs player") == 0) {
        result = 0;
        if (e) {
            EnterCriticalSection(&e->lock);
            if (e->playerCount) result = SimPlayerRefs(e->players[0]);
            LeaveCriticalSection(&e->lock);
        }
    }
    LeaveCriticalSection(&g_enginesLock);
    return result;
}
