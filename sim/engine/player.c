/* The player: IRMAPlayer with its error-sink control, scheduler, site manager
 * and class factory faces.  As in the real engine, every IRMAPlayer method
 * holds the core lock, and what it sets off (OnBegin inside Begin, the seek's
 * reports inside Seek, the end inside Stop) runs synchronously inside it on
 * the caller's thread. */
#include <stdlib.h>
#include <string.h>

#include "player.h"

static SimPlayer* FromPlayer(void* f) { return SIM_OBJ(SimPlayer, vtbl, f); }
static SimPlayer* FromSinkControl(void* f) { return SIM_OBJ(SimPlayer, sinkControlVtbl, f); }
static SimPlayer* FromScheduler(void* f) { return SIM_OBJ(SimPlayer, schedulerVtbl, f); }
static SimPlayer* FromSiteManager(void* f) { return SIM_OBJ(SimPlayer, siteManagerVtbl, f); }
static SimPlayer* FromFactory(void* f) { return SIM_OBJ(SimPlayer, factoryVtbl, f); }

void* SimPlayerFace(SimPlayer* p) { return &p->vtbl; }
LONG SimPlayerRefs(SimPlayer* p) { return p->refs; }

/* ---- references shared by all faces --------------------------------------------- */

static HRESULT Query(SimPlayer* p, const GUID* iid, void** out) {
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    if (SimSameId(iid, &kIidUnknown) || SimSameId(iid, &kIidPlayer)) {
        *out = &p->vtbl;
    } else if (SimSameId(iid, &kIidErrorSinkControl) && !SimHidden(HIDE_ERROR_SINK_CONTROL)) {
        *out = &p->sinkControlVtbl;
    } else if (SimSameId(iid, &kIidScheduler) && !SimHidden(HIDE_SCHEDULER)) {
        *out = &p->schedulerVtbl;
    } else if (SimSameId(iid, &kIidSiteManager) && !SimHidden(HIDE_SITE_MANAGER)) {
        *out = &p->siteManagerVtbl;
    } else if (SimSameId(iid, &kIidClassFactory) && !SimHidden(HIDE_CLASS_FACTORY)) {
        *out = &p->factoryVtbl;
    } else {
        return SIM_E_NOINTERFACE;
    }
    InterlockedIncrement(&p->refs);
    return SIM_OK;
}

static ULONG AddRefOf(SimPlayer* p) { return (ULONG)InterlockedIncrement(&p->refs); }

static ULONG ReleaseOf(SimPlayer* p) {
    LONG left = InterlockedDecrement(&p->refs);
    if (left > 0) return (ULONG)left;
    SimPlayerClose(p);
    free(p);
    SimObjectDestroyed(OBJ_PLAYER);
    return 0;
}

#define FACE_UNKNOWN(prefix, from)                                                               \
    static HRESULT SIMCALL prefix##QueryInterface(void* s, const GUID* iid, void** out) {        \
        return Query(from(s), iid, out);                                                         \
    }                                                                                            \
    static ULONG SIMCALL prefix##AddRef(void* s) { return AddRefOf(from(s)); }                   \
    static ULONG SIMCALL prefix##Release(void* s) { return ReleaseOf(from(s)); }

FACE_UNKNOWN(Player, FromPlayer)
FACE_UNKNOWN(SinkControl, FromSinkControl)
FACE_UNKNOWN(Scheduler, FromScheduler)
FACE_UNKNOWN(SiteManager, FromSiteManager)
FACE_UNKNOWN(Factory, FromFactory)

/* ---- calling the client's sinks ----------------------------------------------------- */

typedef struct Snapshot {
    void* items[MAX_SINKS];
    UINT8 low[MAX_SINKS], high[MAX_SINKS];
    int count;
    int kind;
} Snapshot;

static void TakeAdviseSinks(SimPlayer* p, Snapshot* s) {
    s->kind = REF_OTHER;
    SimCoreEnter();
    s->count = p->adviseCount;
    for (int i = 0; i < s->count; ++i) {
        s->items[i] = p->adviseSinks[i];
        SimHold(s->items[i], s->kind);
    }
    SimCoreLeave();
}

static void TakeErrorSinks(SimPlayer* p, Snapshot* s) {
    s->kind = REF_OTHER;
    SimCoreEnter();
    s->count = p->errorCount;
    for (int i = 0; i < s->count; ++i) {
        s->items[i] = p->errorSinks[i].sink;
        s->low[i] = p->errorSinks[i].low;
        s->high[i] = p->errorSinks[i].high;
        SimHold(s->items[i], s->kind);
    }
    SimCoreLeave();
}

static void DropSnapshot(Snapshot* s) {
    for (int i = 0; i < s->count; ++i) SimDrop(s->items[i], s->kind);
    s->count = 0;
}

void SimAdvise(SimPlayer* p, int call, ULONG32 a, ULONG32 b, const char* text) {
    Snapshot s;
    TakeAdviseSinks(p, &s);
    for (int i = 0; i < s.count; ++i) {
        void* sink = s.items[i];
        const AdviseSinkVtbl* v = SIM_VTBL(AdviseSinkVtbl, sink);
        switch (call) {
        case ON_POS_LENGTH:
            if (SimLogging(LOG_POSITIONS)) SimLog("Sink.OnPosLength %lu %lu", (unsigned long)a, (unsigned long)b);
            SimNoteThread("Sink.OnPosLength");
            v->OnPosLength(sink, a, b);
            break;
        case ON_PRESENTATION_OPENED:
            SimLog("Sink.OnPresentationOpened");
            SimNoteThread("Sink.OnPresentationOpened");
            v->OnPresentationOpened(sink);
            break;
        case ON_PRESENTATION_CLOSED:
            SimLog("Sink.OnPresentationClosed");
            SimNoteThread("Sink.OnPresentationClosed");
            v->OnPresentationClosed(sink);
            break;
        case ON_PRE_SEEK:
            SimLog("Sink.OnPreSeek %lu %lu", (unsigned long)a, (unsigned long)b);
            SimNoteThread("Sink.OnPreSeek");
            v->OnPreSeek(sink, a, b);
            break;
        case ON_POST_SEEK:
            SimLog("Sink.OnPostSeek %lu %lu", (unsigned long)a, (unsigned long)b);
            SimNoteThread("Sink.OnPostSeek");
            v->OnPostSeek(sink, a, b);
            break;
        case ON_STOP:
            SimLog("Sink.OnStop");
            SimNoteThread("Sink.OnStop");
            v->OnStop(sink);
            break;
        case ON_PAUSE:
            SimLog("Sink.OnPause %lu", (unsigned long)a);
            SimNoteThread("Sink.OnPause");
            v->OnPause(sink, a);
            break;
        case ON_BEGIN:
            SimLog("Sink.OnBegin %lu", (unsigned long)a);
            SimNoteThread("Sink.OnBegin");
            v->OnBegin(sink, a);
            break;
        case ON_BUFFERING:
            SimLog("Sink.OnBuffering %lu", (unsigned long)b);
            SimNoteThread("Sink.OnBuffering");
            v->OnBuffering(sink, a, (UINT16)b);
            break;
        case ON_CONTACTING:
            SimLog("Sink.OnContacting %s", text);
            SimNoteThread("Sink.OnContacting");
            v->OnContacting(sink, text);
            break;
        }
    }
    DropSnapshot(&s);
}

void SimReportError(SimPlayer* p, UINT32 severity, HRESULT code, const char* userString) {
    Snapshot s;
    TakeErrorSinks(p, &s);
    const char* text = userString && *userString ? userString : NULL;
    for (int i = 0; i < s.count; ++i) {
        if (severity < s.low[i] || severity > s.high[i]) continue;
        SimLog("ErrorSink.ErrorOccurred 0x%08lX %u%s%s", (unsigned long)code, (unsigned)severity, text ? " " : "",
               text ? text : "");
        SimNoteThread("ErrorSink.ErrorOccurred");
        SIM_VTBL(ErrorSinkVtbl, s.items[i])->ErrorOccurred(s.items[i], (UINT8)severity, (ULONG32)code, 0, text, NULL);
    }
    DropSnapshot(&s);
}

void* SimContextQuery(SimPlayer* p, const GUID* iid) {
    SimCoreEnter();
    void* context = p->context;
    SimHold(context, REF_OTHER);
    SimCoreLeave();
    void* answer = SimQuery(context, iid, REF_OTHER);
    SimDrop(context, REF_OTHER);
    return answer;
}

/* ---- IRMAPlayer -------------------------------------------------------------------------------- */

static HRESULT SIMCALL PlayerGetClientEngine(void* s, void** out) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.GetClientEngine");
    if (!out) return SIM_E_POINTER;
    SimCoreEnter();
    *out = p->engineFace;
    if (*out) ((Unknown*)*out)->vtbl->AddRef(*out);
    SimCoreLeave();
    return *out ? SIM_OK : SIM_E_UNEXPECTED;
}

/* Read without the core lock: a flag that the end's call chain sets last. */
static BOOL SIMCALL PlayerIsDone(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimScenario sc;
    SimScenarioSnapshot(&sc);
    BOOL done = sc.isDone >= 0 ? sc.isDone : p->done != 0;
    SimLog("Player.IsDone %d", done);
    return done;
}

static BOOL SIMCALL PlayerIsLive(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.IsLive");
    SimCoreEnter();
    BOOL live = p->presentation && SimPresentationLive(p->presentation);
    SimCoreLeave();
    return live;
}

static ULONG32 SIMCALL PlayerGetCurrentPlayTime(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.GetCurrentPlayTime");
    SimCoreEnter();
    ULONG32 t = p->presentation ? SimPresentationPosition(p->presentation) : 0;
    SimCoreLeave();
    return t;
}

/* Ends what the player has open and gives up its sites: the renderers close. */
static void CloseCurrent(SimPlayer* p) {
    SimPresentation* old = p->presentation;
    p->presentation = NULL;
    if (old) SimPresentationClose(old);
}

static HRESULT SIMCALL PlayerOpenURL(void* s, const char* url) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.OpenURL %s", url ? url : "(null)");
    /* The scripted delays and the hang come before the core lock, so that a
     * slow call slows its caller only. */
    SimDelay(DELAY_OPEN_URL);
    SimCoreEnter();
    HRESULT hr = SIM_OK;
    if (!url || !*url) {
        hr = SIM_E_INVALIDARG;
    } else {
        CloseCurrent(p);
        SimPresentation* pr = SimPresentationOpen(p, url);
        if (!pr) {
            hr = SIM_E_FAIL;
        } else {
            p->presentation = pr;
            InterlockedExchange(&p->done, 0);
            /* A missing file or a refused URL is reported later, on the
             * system thread; answering at once is kinder than the engine. */
            if (SimKind(KIND_OPEN_URL)) hr = SimPresentationOpenError(pr);
        }
    }
    SimCoreLeave();
    return hr;
}

static HRESULT SIMCALL PlayerBegin(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.Begin");
    SimDelay(DELAY_BEGIN);
    SimCoreEnter();
    HRESULT hr = p->presentation ? SimPresentationBegin(p->presentation) : SIM_E_UNEXPECTED;
    SimCoreLeave();
    return hr;
}

static HRESULT SIMCALL PlayerStop(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.Stop");
    SimDelay(DELAY_STOP);
    SimScenario sc;
    SimScenarioSnapshot(&sc);
    /* A thread the client terminates here holds no lock of the engine's. */
    if (sc.stopHangMs && !sc.stopHangInside) Sleep(sc.stopHangMs);
    SimCoreEnter();
    /* The engine's own Stop can also hang holding its core lock: its system
     * and timer threads then wait too, and a client that terminates the
     * thread here leaves the engine locked for good. */
    if (sc.stopHangMs && sc.stopHangInside) Sleep(sc.stopHangMs);
    if (p->presentation) SimPresentationStop(p->presentation);
    SimCoreLeave();
    return SIM_OK;
}

static HRESULT SIMCALL PlayerPause(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.Pause");
    SimCoreEnter();
    HRESULT hr = p->presentation ? SimPresentationPause(p->presentation) : SIM_E_UNEXPECTED;
    SimCoreLeave();
    return hr;
}

static HRESULT SIMCALL PlayerSeek(void* s, ULONG32 timeMs) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.Seek %lu", (unsigned long)timeMs);
    SimCallSeekHook(timeMs);
    SimDelay(DELAY_SEEK);
    SimCoreEnter();
    HRESULT hr = p->presentation ? SimPresentationSeek(p->presentation, timeMs) : SIM_E_UNEXPECTED;
    SimCoreLeave();
    return hr;
}

static UINT16 SIMCALL PlayerGetSourceCount(void* s) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.GetSourceCount");
    return (UINT16)(p->presentation ? 1 : 0);
}

static HRESULT SIMCALL PlayerGetSource(void* s, UINT16 index, void** out) {
    SimLog("Player.GetSource %u", (unsigned)index);
    if (out) *out = NULL;
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL PlayerSetClientContext(void* s, void* context) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.SetClientContext");
    SimHold(context, REF_CONTEXT);
    SimCoreEnter();
    void* old = p->context;
    p->context = context;
    SimCoreLeave();
    SimDrop(old, REF_CONTEXT);
    return SIM_OK;
}

static HRESULT SIMCALL PlayerGetClientContext(void* s, void** out) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.GetClientContext");
    if (!out) return SIM_E_POINTER;
    SimCoreEnter();
    *out = p->context;
    /* This reference is the caller's, not the engine's: not counted. */
    if (*out) ((Unknown*)*out)->vtbl->AddRef(*out);
    SimCoreLeave();
    return *out ? SIM_OK : SIM_E_FAIL;
}

static int IndexOf(void* const* items, int count, void* item) {
    for (int i = 0; i < count; ++i) {
        if (items[i] == item) return i;
    }
    return -1;
}

static HRESULT SIMCALL PlayerAddAdviseSink(void* s, void* sink) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.AddAdviseSink");
    if (!sink) return SIM_E_INVALIDARG;
    SimCoreEnter();
    HRESULT hr = p->adviseCount < MAX_SINKS ? SIM_OK : SIM_E_FAIL;
    if (hr == SIM_OK) {
        SimHold(sink, REF_ADVISE_SINKS);
        p->adviseSinks[p->adviseCount++] = sink;
    }
    SimCoreLeave();
    return hr;
}

static HRESULT SIMCALL PlayerRemoveAdviseSink(void* s, void* sink) {
    SimPlayer* p = FromPlayer(s);
    SimLog("Player.RemoveAdviseSink");
    SimCoreEnter();
    int i = IndexOf(p->adviseSinks, p->adviseCount, sink);
    if (i >= 0) {
        memmove(&p->adviseSinks[i], &p->adviseSinks[i + 1], (size_t)(p->adviseCount - i - 1) * sizeof(void*));
        --p->adviseCount;
    }
    SimCoreLeave();
    if (i < 0) return SIM_E_FAIL;
    SimDrop(sink, REF_ADVISE_SINKS);
    return SIM_OK;
}

static const PlayerVtbl kPlayerVtbl = {
    PlayerQueryInterface, PlayerAddRef,          PlayerRelease,          PlayerGetClientEngine,
    PlayerIsDone,         PlayerIsLive,          PlayerGetCurrentPlayTime, PlayerOpenURL,
    PlayerBegin,          PlayerStop,            PlayerPause,            PlayerSeek,
    PlayerGetSourceCount, PlayerGetSource,       PlayerSetClientContext, PlayerGetClientContext,
    PlayerAddAdviseSink,  PlayerRemoveAdviseSink};

/* ---- IRMAErrorSinkControl ------------------------------------------------------------------------ */

static HRESULT SIMCALL SinkControlAddErrorSink(void* s, void* sink, UINT8 low, UINT8 high) {
    SimPlayer* p = FromSinkControl(s);
    SimLog("ErrorSinkControl.AddErrorSink %u %u", (unsigned)low, (unsigned)high);
    if (!sink) return SIM_E_INVALIDARG;
    SimCoreEnter();
    HRESULT hr = p->errorCount < MAX_SINKS ? SIM_OK : SIM_E_FAIL;
    if (hr == SIM_OK) {
        SimHold(sink, REF_ERROR_SINKS);
        ErrorSinkEntry* e = &p->errorSinks[p->errorCount++];
        e->sink = sink, e->low = low, e->high = high;
    }
    SimCoreLeave();
    return hr;
}

static HRESULT SIMCALL SinkControlRemoveErrorSink(void* s, void* sink) {
    SimPlayer* p = FromSinkControl(s);
    SimLog("ErrorSinkControl.RemoveErrorSink");
    int found = -1;
    SimCoreEnter();
    for (int i = 0; i < p->errorCount && found < 0; ++i) {
        if (p->errorSinks[i].sink == sink) found = i;
    }
    if (found >= 0) {
        memmove(&p->errorSinks[found], &p->errorSinks[found + 1],
                (size_t)(p->errorCount - found - 1) * sizeof(ErrorSinkEntry));
        --p->errorCount;
    }
    SimCoreLeave();
    if (found < 0) {
        SimLog("ErrorSinkControl.RemoveErrorSink: not a registered sink");
        return SIM_E_FAIL;
    }
    SimDrop(sink, REF_ERROR_SINKS);
    return SIM_OK;
}

static const ErrorSinkControlVtbl kSinkControlVtbl = {SinkControlQueryInterface, SinkControlAddRef,
                                                      SinkControlRelease, SinkControlAddErrorSink,
                                                      SinkControlRemoveErrorSink};

/* ---- IRMAScheduler ---------------------------------------------------------------------------------- */

static ULONG32 SIMCALL SchedulerRelativeEnter(void* s, void* callback, UINT32 delayMs) {
    ULONG32 handle = SimSchedulerEnter(callback, delayMs);
    if (SimLogging(LOG_SCHEDULER)) SimLog("Scheduler.RelativeEnter %lu %lu", (unsigned long)delayMs, (unsigned long)handle);
    return handle;
}


static ULONG32 SIMCALL SchedulerAbsoluteEnter(void* s, void* callback, SimTimeval when) {
    UINT32 at = when.sec * 1000 + when.usec / 1000;
    UINT32 now = SimSchedulerNowMs();
    ULONG32 handle = SimSchedulerEnter(callback, at > now ? at - now : 0);
    if (SimLogging(LOG_SCHEDULER)) SimLog("Scheduler.AbsoluteEnter %lu %lu", (unsigned long)at, (unsigned long)handle);
    return handle;
}

static HRESULT SIMCALL SchedulerRemove(void* s, ULONG32 handle) {
    HRESULT hr = SimSchedulerRemove(handle);
    if (SimLogging(LOG_SCHEDULER)) SimLog("Scheduler.Remove %lu", (unsigned long)handle);
    return hr;
}

/* The engine's compiler returns the record through a hidden pointer after
 * `this` and hands that pointer back; written out so here. */
static SimTimeval* SIMCALL SchedulerGetCurrentSchedulerTime(void* s, SimTimeval* result) {
    UINT32 now = SimSchedulerNowMs();
    if (!result) return NULL;
    result->sec = now / 1000;
    result->usec = (now % 1000) * 1000;
    return result;
}

static const SchedulerVtbl kSchedulerVtbl = {SchedulerQueryInterface, SchedulerAddRef,        SchedulerRelease,
                                             SchedulerRelativeEnter,  SchedulerAbsoluteEnter, SchedulerRemove,
                                             SchedulerGetCurrentSchedulerTime};

/* ---- IRMASiteManager -------------------------------------------------------------------------------- */

static HRESULT SIMCALL SiteManagerAddSite(void* s, void* site) {
    SimPlayer* p = FromSiteManager(s);
    SimLog("SiteManager.AddSite");
    HRESULT hr = SimFailure(FAIL_ADD_SITE);
    if (hr != SIM_OK) return hr;
    if (!site) return SIM_E_INVALIDARG;
    SimCoreEnter();
    hr = p->siteCount < MAX_SITES && IndexOf(p->sites, p->siteCount, site) < 0 ? SIM_OK : SIM_E_FAIL;
    if (hr == SIM_OK) {
        ((Unknown*)site)->vtbl->AddRef(site);
        p->sites[p->siteCount++] = site;
    }
    SimCoreLeave();
    return hr;
}

static HRESULT SIMCALL SiteManagerRemoveSite(void* s, void* site) {
    SimPlayer* p = FromSiteManager(s);
    SimLog("SiteManager.RemoveSite");
    SimCoreEnter();
    int i = IndexOf(p->sites, p->siteCount, site);
    if (i >= 0) {
        memmove(&p->sites[i], &p->sites[i + 1], (size_t)(p->siteCount - i - 1) * sizeof(void*));
        --p->siteCount;
    }
    SimCoreLeave();
    if (i < 0) return SIM_E_FAIL;
    ((Unknown*)site)->vtbl->Release(site);
    return SIM_OK;
}

static const SiteManagerVtbl kSiteManagerVtbl = {SiteManagerQueryInterface, SiteManagerAddRef, SiteManagerRelease,
                                                 SiteManagerAddSite, SiteManagerRemoveSite};

/* ---- IRMACommonClassFactory ----------------------------------------------------------------------------- */

static HRESULT SIMCALL FactoryCreateInstance(void* s, const GUID* classId, void** out) {
    SimLog("ClassFactory.CreateInstance %08lX", classId ? (unsigned long)classId->Data1 : 0ul);
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    HRESULT hr = SimFailure(FAIL_CREATE_INSTANCE);
    if (hr != SIM_OK) return hr;
    if (SimSameId(classId, &kIidSiteWindowed)) {
        *out = SimSiteNew();
    } else if (SimSameId(classId, &kIidBuffer)) {
        *out = SimBufferNew(NULL, 0);
    } else if (SimSameId(classId, &kIidValues)) {
        *out = SimValuesNew();
    } else {
        return SIM_E_CLASSNOTREG;
    }
    return *out ? SIM_OK : SIM_E_FAIL;
}

static HRESULT SIMCALL FactoryCreateInstanceAggregatable(void* s, const GUID* classId, void** out, void* outer) {
    SimLog("ClassFactory.CreateInstanceAggregatable");
    if (out) *out = NULL;
    return SIM_E_NOTIMPL;
}

static const ClassFactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                              FactoryCreateInstance, FactoryCreateInstanceAggregatable};

/* ---- life ----------------------------------------------------------------------------------------------------- */

SimPlayer* SimPlayerNew(void* engineFace) {
    SimPlayer* p = calloc(1, sizeof *p);
    if (!p) return NULL;
    p->vtbl = &kPlayerVtbl;
    p->sinkControlVtbl = &kSinkControlVtbl;
    p->schedulerVtbl = &kSchedulerVtbl;
    p->siteManagerVtbl = &kSiteManagerVtbl;
    p->factoryVtbl = &kFactoryVtbl;
    p->refs = 1;
    p->engineFace = engineFace;
    SimObjectCreated(OBJ_PLAYER);
    return p;
}

void SimPlayerClose(SimPlayer* p) {
    void* context;
    void* advise[MAX_SINKS];
    ErrorSinkEntry errors[MAX_SINKS];
    void* sites[MAX_SITES];
    SimCoreEnter();
    CloseCurrent(p);
    p->engineFace = NULL;
    context = p->context;
    p->context = NULL;
    int adviseCount = p->adviseCount, errorCount = p->errorCount, siteCount = p->siteCount;
    memcpy(advise, p->adviseSinks, sizeof advise);
    memcpy(errors, p->errorSinks, sizeof errors);
    memcpy(sites, p->sites, sizeof sites);
    p->adviseCount = p->errorCount = p->siteCount = 0;
    SimCoreLeave();
    for (int i = 0; i < adviseCount; ++i) SimDrop(advise[i], REF_ADVISE_SINKS);
    for (int i = 0; i < errorCount; ++i) SimDrop(errors[i].sink, REF_ERROR_SINKS);
    for (int i = 0; i < siteCount; ++i) ((Unknown*)sites[i])->vtbl->Release(sites[i]);
    SimDrop(context, REF_CONTEXT);
}
