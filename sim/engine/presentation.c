/* One presentation on a thread of the engine's own: credentials, the audio
 * device (open, blocks, pause, seek, close), the site request for video,
 * position reports, the scenario's timed events, and the final OnStop. */
#include <stdlib.h>
#include <string.h>

#include "player.h"

#define REPORT_EVERY_MS 100
#define END_SLACK_MS 20
#define STALL_MS 2000
#define REALTIME_LEAD_MS 300
#define AUTH_WAIT_MS 5000
#define TICK_MS 20
#define SITE_REQUEST_ID 1

/* ---- IRMAAudioDeviceResponse: the device's clock reaches the engine here ---- */

typedef struct AudioResponse {
    SimSingle head;
    volatile LONG timeMs;
} AudioResponse;

static void ResponseDestroy(SimSingle* self) { free(self); }

static HRESULT SIMCALL ResponseOnTimeSync(void* self, ULONG32 timeMs) {
    if (SimLogging(LOG_TIMESYNC)) SimLog("Response.OnTimeSync %lu", (unsigned long)timeMs);
    InterlockedExchange(&((AudioResponse*)self)->timeMs, (LONG)timeMs);
    return SIM_OK;
}

static const AudioResponseVtbl kResponseVtbl = {SimSingleQueryInterface, SimSingleAddRef, SimSingleRelease,
                                                ResponseOnTimeSync};

/* ---- IRMAAuthenticationManagerResponse ----------------------------------------------- */

typedef struct AuthResponse {
    SimSingle head;
    volatile LONG result;
    HANDLE answered;
} AuthResponse;

static void AuthDestroy(SimSingle* self) {
    CloseHandle(((AuthResponse*)self)->answered);
    free(self);
}

static HRESULT SIMCALL AuthRequestDone(void* self, HRESULT result, const char* user, const char* password) {
    AuthResponse* r = self;
    SimLog("AuthResponse.AuthenticationRequestDone 0x%08lX %s %s", (unsigned long)result, user ? user : "(null)",
           password ? password : "(null)");
    InterlockedExchange(&r->result, result);
    SetEvent(r->answered);
    return SIM_OK;
}

static const AuthResponseVtbl kAuthVtbl = {SimSingleQueryInterface, SimSingleAddRef, SimSingleRelease,
                                           AuthRequestDone};

/* ---- the presentation -------------------------------------------------------------------- */

enum EndReason { END_NATURAL, END_STOP, END_ERROR };

typedef struct Playback {
    SimRun* run;
    SimPlayer* p;
    const SimMedia* m;
    const SimScenario* sc;
    void* device;  /* the client's device, counted reference */
    int deviceOpen;
    AudioResponse* response;
    UINT32 block;
    uint64_t writePos;
    UINT32 writes;
    uint64_t writtenBytes;
    DWORD writeDoneTick;
    /* Wall clock: the presentation clock without a device, and the pace of
     * writing in real time. */
    UINT32 wallBaseMs;
    DWORD wallBaseTick;
    int paused;
    /* The last value the device reported, and when it changed. */
    LONG lastSync;
    DWORD lastSyncTick;
    UINT32 lastReportedMs;
    int reportedAny;
    int fired[SIM_MAX_EVENTS];
    void* supplier;
} Playback;

static const AudioDeviceVtbl* DeviceVtbl(Playback* pb) { return SIM_VTBL(AudioDeviceVtbl, pb->device); }

static UINT32 WallClock(Playback* pb) {
    if (pb->paused) return pb->wallBaseMs;
    return pb->wallBaseMs + (GetTickCount() - pb->wallBaseTick);
}

static UINT32 Clock(Playback* pb) {
    UINT32 t = pb->deviceOpen ? (UINT32)pb->response->timeMs : WallClock(pb);
    return t < pb->m->lengthMs ? t : pb->m->lengthMs;
}

static void ReportPosition(Playback* pb, UINT32 clock) {
    if (pb->reportedAny && clock < pb->lastReportedMs + REPORT_EVERY_MS && clock >= pb->lastReportedMs) return;
    pb->reportedAny = 1;
    pb->lastReportedMs = clock;
    SimAdvise(pb->p, ON_POS_LENGTH, clock, pb->m->lengthMs, NULL);
}

static void ReportScenarioError(Playback* pb) {
    SimReportError(pb->p, pb->sc->errorSeverity, pb->sc->errorCode, pb->sc->errorText);
}

/* Credentials for a URL with the scenario's marker: the client's
 * authentication manager answers through our response, within a bound. */
static HRESULT Authenticate(Playback* pb) {
    void* manager = SimContextQuery(pb->p, &kIidAuthManager);
    if (!manager) {
        SimLog("AuthManager missing");
        return SIM_E_NOT_AUTHORIZED;
    }
    AuthResponse* r = calloc(1, sizeof *r);
    HANDLE answered = r ? CreateEventA(NULL, TRUE, FALSE, NULL) : NULL;
    if (!answered) {
        free(r);
        SimDrop(manager, REF_OTHER);
        return SIM_E_FAIL;
    }
    SimSingleInit(&r->head, &kAuthVtbl, &kIidAuthResponse, OBJ_AUTH_RESPONSE, AuthDestroy);
    r->result = SIM_E_NOT_AUTHORIZED;
    r->answered = answered;
    SimLog("AuthManager.HandleAuthenticationRequest");
    HRESULT returned = SIM_VTBL(AuthManagerVtbl, manager)->HandleAuthenticationRequest(manager, r);
    SimLog("AuthManager.HandleAuthenticationRequest returned 0x%08lX", (unsigned long)returned);
    HRESULT hr = r->result;
    if (WaitForSingleObject(answered, AUTH_WAIT_MS) != WAIT_OBJECT_0) {
        SimLog("AuthResponse no answer");
        hr = SIM_E_NOT_AUTHORIZED;
    } else {
        hr = r->result;
    }
    SimSingleRelease(r);
    SimDrop(manager, REF_OTHER);
    return hr;
}

static void RequestSites(Playback* pb) {
    pb->supplier = SimContextQuery(pb->p, &kIidSiteSupplier);
    if (!pb->supplier) {
        SimLog("Supplier missing");
        return;
    }
    void* values = SimValuesNew();
    if (!values) return;
    if (pb->sc->playTo[0]) SimValuesSetText(values, "playto", pb->sc->playTo);
    if (pb->sc->name[0]) SimValuesSetText(values, "name", pb->sc->name);
    SimLog("Supplier.SitesNeeded %u", SITE_REQUEST_ID);
    HRESULT hr = SIM_VTBL(SiteSupplierVtbl, pb->supplier)->SitesNeeded(pb->supplier, SITE_REQUEST_ID, values);
    SimLog("Supplier.SitesNeeded returned 0x%08lX", (unsigned long)hr);
    ((Unknown*)values)->vtbl->Release(values);
}

static void ReleaseSites(Playback* pb) {
    if (!pb->supplier) return;
    SimLog("Supplier.SitesNotNeeded %u", SITE_REQUEST_ID);
    HRESULT hr = SIM_VTBL(SiteSupplierVtbl, pb->supplier)->SitesNotNeeded(pb->supplier, SITE_REQUEST_ID);
    SimLog("Supplier.SitesNotNeeded returned 0x%08lX", (unsigned long)hr);
    SimDrop(pb->supplier, REF_OTHER);
    pb->supplier = NULL;
}

static UINT32 BlockSize(const SimMedia* m, const SimScenario* sc) {
    if (sc->blockBytes) return sc->blockBytes;
    UINT32 frame = SimMediaFrameBytes(m);
    UINT32 bytes = m->rate / 10 * frame;
    if (bytes > 65535) bytes = 65535 - 65535 % frame;
    return bytes ? bytes : frame;
}

static HRESULT OpenDevice(Playback* pb) {
    const SimMedia* m = pb->m;
    pb->response = calloc(1, sizeof *pb->response);
    if (!pb->response) return SIM_E_FAIL;
    SimSingleInit(&pb->response->head, &kResponseVtbl, &kIidAudioResponse, OBJ_AUDIO_RESPONSE, ResponseDestroy);
    SimAudioFormat format = {(UINT16)m->channels, (UINT16)m->bits, m->rate, (UINT16)pb->block, 0};
    SimLog("Device.Open %lu %lu %lu %lu", (unsigned long)m->rate, (unsigned long)m->channels, (unsigned long)m->bits,
           (unsigned long)pb->block);
    HRESULT hr = DeviceVtbl(pb)->Open(pb->device, &format, pb->response);
    if (hr != SIM_OK) {
        SimLog("Device.Open returned 0x%08lX", (unsigned long)hr);
        return hr;
    }
    pb->deviceOpen = 1;
    pb->lastSyncTick = GetTickCount();
    return SIM_OK;
}

static void WriteBlock(Playback* pb) {
    uint64_t left = pb->m->totalBytes - pb->writePos;
    UINT32 n = left < pb->block ? (UINT32)left : pb->block;
    void* buffer = SimBufferNew(NULL, n);
    if (!buffer) return;
    SimMediaRead(pb->m, pb->writePos, SIM_VTBL(BufferVtbl, buffer)->GetBuffer(buffer), n);
    SimAudioData data = {buffer, SimMediaTimeOf(pb->m, pb->writePos), 0};
    if (SimLogging(LOG_WRITES)) SimLog("Device.Write %lu", (unsigned long)n);
    HRESULT hr = DeviceVtbl(pb)->Write(pb->device, &data);
    if (hr != SIM_OK) SimLog("Device.Write returned 0x%08lX", (unsigned long)hr);
    ((Unknown*)buffer)->vtbl->Release(buffer);
    pb->writes++;
    pb->writtenBytes += n;
    pb->writePos += n;
    if (pb->writePos >= pb->m->totalBytes) pb->writeDoneTick = GetTickCount();
}

static void ApplyPause(Playback* pb) {
    int want = pb->p->pauseRequested != 0;
    if (want == pb->paused) return;
    UINT32 clock = Clock(pb);
    if (want) {
        pb->wallBaseMs = WallClock(pb);
        pb->paused = 1;
        if (pb->deviceOpen) {
            SimLog("Device.Pause");
            DeviceVtbl(pb)->Pause(pb->device);
        }
        SimAdvise(pb->p, ON_PAUSE, clock, 0, NULL);
    } else {
        pb->paused = 0;
        pb->wallBaseTick = GetTickCount();
        pb->lastSyncTick = pb->wallBaseTick;
        if (pb->deviceOpen) {
            SimLog("Device.Resume");
            DeviceVtbl(pb)->Resume(pb->device);
        }
        SimAdvise(pb->p, ON_BEGIN, clock, 0, NULL);
    }
}

/* OnPreSeek, device Reset, the first block from the new place, OnPostSeek.
 * Returns 0 when the scenario makes the seek fail. */
static int Seek(Playback* pb, UINT32 to) {
    UINT32 old = Clock(pb);
    if (to > pb->m->lengthMs) to = pb->m->lengthMs;
    if (!pb->sc->noPreSeek) SimAdvise(pb->p, ON_PRE_SEEK, old, to, NULL);
    if (pb->sc->errorWhen == WHEN_SEEK) {
        ReportScenarioError(pb);
        return 0;
    }
    if (pb->deviceOpen) {
        SimLog("Device.Reset");
        DeviceVtbl(pb)->Reset(pb->device);
        InterlockedExchange(&pb->response->timeMs, (LONG)to);
        pb->writePos = SimMediaOffsetOf(pb->m, to);
    }
    pb->wallBaseMs = to;
    pb->wallBaseTick = GetTickCount();
    pb->lastSyncTick = pb->wallBaseTick;
    pb->lastSync = (LONG)to;
    if (pb->deviceOpen && pb->writePos < pb->m->totalBytes) WriteBlock(pb);
    SimAdvise(pb->p, ON_POST_SEEK, old, to, NULL);
    pb->reportedAny = 0;
    return 1;
}

/* The scenario's events due at this clock; returns -1 to go on, else how the
 * presentation ends. */
static int TimedEvents(Playback* pb, UINT32 clock) {
    const SimScenario* sc = pb->sc;
    for (int i = 0; i < sc->eventCount; ++i) {
        const SimTimedEvent* e = &sc->events[i];
        if (pb->fired[i] || clock < e->atMs) continue;
        pb->fired[i] = 1;
        if (e->kind == EVENT_BUFFERING) {
            for (int k = 0; k < e->percentCount; ++k) {
                if (k) Sleep(TICK_MS);
                SimAdvise(pb->p, ON_BUFFERING, 0, e->percents[k], NULL);
            }
        } else if (e->kind == EVENT_CONTACTING) {
            SimAdvise(pb->p, ON_CONTACTING, 0, 0, e->text);
        } else if (e->kind == EVENT_SEEK) {
            if (!Seek(pb, e->toMs)) return END_ERROR;
        }
    }
    if (sc->errorWhen == WHEN_PLAY && clock >= sc->errorAtMs) {
        ReportScenarioError(pb);
        return END_ERROR;
    }
    if (sc->stopAtSet && clock >= sc->stopAtMs) return END_NATURAL;
    return -1;
}

static int AllWritten(Playback* pb) { return pb->writePos >= pb->m->totalBytes; }

/* The device said nothing new for a while after the last block: end rather
 * than hang on a clock that does not move. */
static int Stalled(Playback* pb) {
    LONG now = pb->response->timeMs;
    if (now != pb->lastSync) {
        pb->lastSync = now;
        pb->lastSyncTick = GetTickCount();
    }
    DWORD since = pb->lastSyncTick;
    if ((LONG)(pb->writeDoneTick - since) > 0) since = pb->writeDoneTick;
    return GetTickCount() - since > STALL_MS;
}

static int Play(Playback* pb) {
    SimPlayer* p = pb->p;
    const SimScenario* sc = pb->sc;
    for (int i = 0; i < sc->eventCount; ++i) {
        if (sc->events[i].kind == EVENT_CONTACTING && sc->events[i].atMs == 0) {
            pb->fired[i] = 1;
            SimAdvise(p, ON_CONTACTING, 0, 0, sc->events[i].text);
        }
    }
    /* Connecting takes its time; a Stop meanwhile ends it. */
    for (DWORD start = GetTickCount(); !pb->run->stop && GetTickCount() - start < sc->connectMs;)
        WaitForSingleObject(p->wake, TICK_MS);
    if (sc->authMarker[0] && strstr(pb->run->url, sc->authMarker)) {
        HRESULT hr = Authenticate(pb);
        if (hr != SIM_OK) {
            SimReportError(p, SIM_DEFAULT_SEVERITY, hr, NULL);
            return END_ERROR;
        }
    }
    if (sc->errorWhen == WHEN_OPEN) {
        ReportScenarioError(pb);
        return END_ERROR;
    }
    if (pb->run->stop) return END_STOP;
    SimAdvise(p, ON_PRESENTATION_OPENED, 0, 0, NULL);
    EnterCriticalSection(&p->lock);
    pb->device = p->engine ? SimEngineDevice(p->engine) : NULL;
    LeaveCriticalSection(&p->lock);
    pb->block = BlockSize(pb->m, sc);
    pb->wallBaseTick = GetTickCount();
    if (pb->device && OpenDevice(pb) != SIM_OK) return END_ERROR;
    if (!pb->deviceOpen) pb->writePos = pb->m->totalBytes;
    if (pb->m->video) RequestSites(pb);
    SimAdvise(p, ON_BEGIN, 0, 0, NULL);
    for (;;) {
        if (pb->run->stop) return END_STOP;
        ApplyPause(pb);
        if (InterlockedExchange(&p->seekRequested, 0) && !Seek(pb, (UINT32)p->seekTargetMs)) return END_ERROR;
        if (pb->paused) {
            WaitForSingleObject(p->wake, 100);
            continue;
        }
        UINT32 clock = Clock(pb);
        InterlockedExchange(&g_simPositionMs, (LONG)clock);
        int end = TimedEvents(pb, clock);
        if (end >= 0) return end;
        clock = Clock(pb);
        ReportPosition(pb, clock);
        if (!AllWritten(pb)) {
            if (sc->realtime && SimMediaTimeOf(pb->m, pb->writePos) > WallClock(pb) + REALTIME_LEAD_MS) {
                WaitForSingleObject(p->wake, TICK_MS);
            } else {
                WriteBlock(pb);
            }
            continue;
        }
        if (clock + END_SLACK_MS >= pb->m->lengthMs) return END_NATURAL;
        if (pb->deviceOpen && Stalled(pb)) {
            SimLog("Device clock stalled at %lu", (unsigned long)clock);
            return END_NATURAL;
        }
        WaitForSingleObject(p->wake, TICK_MS);
    }
}

static void Finish(Playback* pb, int reason) {
    SimPlayer* p = pb->p;
    if (reason == END_NATURAL) {
        UINT32 clock = Clock(pb);
        if (!pb->sc->stopAtSet || clock + END_SLACK_MS >= pb->m->lengthMs) clock = pb->m->lengthMs;
        InterlockedExchange(&g_simPositionMs, (LONG)clock);
        pb->reportedAny = 0;
        ReportPosition(pb, clock);
    }
    if (pb->deviceOpen) {
        if (!SimLogging(LOG_WRITES))
            SimLog("Device.Writes %lu %llu", (unsigned long)pb->writes, (unsigned long long)pb->writtenBytes);
        BOOL flush = reason == END_NATURAL;
        SimLog("Device.Close %d", flush);
        DeviceVtbl(pb)->Close(pb->device, flush);
    }
    if (pb->response) SimSingleRelease(pb->response);
    SimDrop(pb->device, REF_DEVICE);
    ReleaseSites(pb);
    InterlockedExchange(&p->ended, 1);
    SimAdvise(p, ON_STOP, 0, 0, NULL);
}

DWORD WINAPI SimPresentationMain(void* arg) {
    SimRun* run = arg;
    Playback pb;
    memset(&pb, 0, sizeof pb);
    pb.run = run;
    pb.p = run->player;
    pb.m = &run->media;
    pb.sc = &run->scenario;
    Finish(&pb, Play(&pb));
    SimPlayer* p = pb.p;
    EnterCriticalSection(&p->lock);
    if (p->current == run) p->current = NULL;
    LeaveCriticalSection(&p->lock);
    SimMediaFree(&run->media);
    free(run);
    InterlockedDecrement(&g_simPlaying);
    void* face = SimPlayerFace(p);
    ((Unknown*)face)->vtbl->Release(face);
    return 0;
}
