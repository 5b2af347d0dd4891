/* The engine: IRMAClientEngine with its audio device manager, and the
 * creation and closing of engines that the library's exports ask for. */
#include <stdlib.h>
#include <string.h>

#include "engine.h"

#define MAX_PLAYERS 8
#define MAX_ENGINES 8

typedef struct SimEngine SimEngine;
struct SimEngine {
    const ClientEngineVtbl* vtbl;            /* IRMAClientEngine */
    const AudioDeviceManagerVtbl* admVtbl;   /* IRMAAudioDeviceManager */
    volatile LONG refs;
    SimPlayer* players[MAX_PLAYERS];
    int playerCount;
};

static SimEngine* g_engineList[MAX_ENGINES];



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
    SimCoreEnter();
    SimPlayer* p = e->playerCount < MAX_PLAYERS ? SimPlayerNew(&e->vtbl) : NULL;
    if (p) e->players[e->playerCount++] = p;
    SimCoreLeave();
    if (!p) return SIM_E_FAIL;
    void* face = SimPlayerFace(p);
    ((Unknown*)face)->vtbl->AddRef(face);
    *out = face;
    return SIM_OK;
}

/* Takes a player out of the engine's list; the list's reference goes to the caller. */
static SimPlayer* Unlist(SimEngine* e, void* face) {
    SimPlayer* found = NULL;
    SimCoreEnter();
    for (int i = 0; i < e->playerCount; ++i) {
        if (SimPlayerFace(e->players[i]) == face || !face) {
            found = e->players[i];
            memmove(&e->players[i], &e->players[i + 1], (size_t)(e->playerCount - i - 1) * sizeof found);
            --e->playerCount;
            break;
        }
    }
    SimCoreLeave();
    return found;
}

static void ClosePlayerOf(SimPlayer* p) {
    SimPlayerClose(p);
    /* What the client still holds once the player has let go of its sinks and
     * context and the engine of its own: its player pointer at most. */
    SimLog("Engine.ClosePlayer: the client holds %lu", (unsigned long)(SimPlayerRefs(p) - 1));
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
    SimCoreEnter();
    if (index < e->playerCount) {
        *out = SimPlayerFace(e->players[index]);
        ((Unknown*)*out)->vtbl->AddRef(*out);
    }
    SimCoreLeave();
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

/* As the real engine: the device's volume range is set at once, on the
 * caller's thread; a device already installed is not replaced. */
static HRESULT SIMCALL ManagerReplace(void* s, void* device) {
    SimLog("DeviceManager.Replace");
    HRESULT hr = SimFailure(FAIL_REPLACE);
    if (hr != SIM_OK) return hr;
    if (!device) return SIM_E_INVALIDARG;
    SimCoreEnter();
    void* current = SimDevice();
    if (current) {
        SimDrop(current, REF_DEVICE);
        SimCoreLeave();
        SimLog("DeviceManager.Replace: a device is installed already");
        return SIM_E_FAIL;
    }
    const AudioDeviceVtbl* v = SIM_VTBL(AudioDeviceVtbl, device);
    SimLog("Device.InitVolume 0 100");
    if (v->InitVolume(device, 0, 100)) SimLog("Device.GetVolume %u", (unsigned)v->GetVolume(device));
    SimHold(device, REF_DEVICE);
    SimSetDevice(device);
    SimCoreLeave();
    return SIM_OK;
}

static HRESULT SIMCALL ManagerRemove(void* s, void* device) {
    SimLog("DeviceManager.Remove");
    SimCoreEnter();
    void* current = SimDevice();
    int mine = device && current == device;
    SimDrop(current, REF_DEVICE);
    if (mine) SimSetDevice(NULL);
    SimCoreLeave();
    return mine ? SIM_OK : SIM_E_FAIL;
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

/* ---- the periodic work ------------------------------------------------------------------ */

/* Every player's presentation, on each system tick and each timer round;
 * the scheduler calls these with the core lock held. */
static void ForEachPresentation(void (*work)(SimPresentation*)) {
    for (int i = 0; i < MAX_ENGINES; ++i) {
        SimEngine* e = g_engineList[i];
        if (!e) continue;
        for (int k = 0; k < e->playerCount; ++k) {
            SimPresentation* pr = e->players[k]->presentation;
            if (pr) work(pr);
        }
    }
}

static void SystemWork(void) { ForEachPresentation(SimPresentationSystemWork); }
static void TimerWork(void) { ForEachPresentation(SimPresentationTimerWork); }

/* ---- creating and closing ------------------------------------------------------------- */

HRESULT SimEngineCreate(void** out) {
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    HRESULT hr = SimFailure(FAIL_CREATE_ENGINE);
    if (hr != SIM_OK) return hr;
    SimEngine* e = calloc(1, sizeof *e);
    if (!e) return SIM_E_FAIL;
    e->vtbl = &kEngineVtbl;
    e->admVtbl = &kManagerVtbl;
    e->refs = 1;
    SimCoreEnter();
    int slot = -1;
    for (int i = 0; i < MAX_ENGINES && slot < 0; ++i) {
        if (!g_engineList[i]) slot = i;
    }
    /* The first engine makes this thread the system thread. */
    int started = slot >= 0 && (g_simEngines > 0 || SimSchedulerStart(SystemWork, TimerWork));
    if (started) {
        g_engineList[slot] = e;
        InterlockedIncrement(&g_simEngines);
    }
    SimCoreLeave();
    if (!started) {
        free(e);
        return SIM_E_FAIL;
    }
    SimObjectCreated(OBJ_ENGINE);
    *out = &e->vtbl;
    return SIM_OK;
}

HRESULT SimEngineClose(void* face) {
    if (!face) return SIM_E_INVALIDARG;
    SimEngine* e = FromEngine(face);
    SimPlayer* p;
    while ((p = Unlist(e, NULL)) != NULL) ClosePlayerOf(p);
    SimCoreEnter();
    for (int i = 0; i < MAX_ENGINES; ++i) {
        if (g_engineList[i] == e) g_engineList[i] = NULL;
    }
    int last = InterlockedDecrement(&g_simEngines) == 0;
    SimCoreLeave();
    /* The library may be unloaded next: no thread of ours may outlive the last engine. */
    if (last) {
        SimSetDevice(NULL);
        SimSchedulerStop();
        SimSitesShutdown();
    }
    EngineReleaseOf(e);
    return SIM_OK;
}

static LONG QueryObjectRefs(const char* what) {
    LONG result = -1;
    SimCoreEnter();
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
        result = e && e->playerCount ? SimPlayerRefs(e->players[0]) : 0;
    }
    SimCoreLeave();
    return result;
}

void SimEngineInit(void) {
    SimCoreInit();
    SimSetObjectQuery(QueryObjectRefs);
}
