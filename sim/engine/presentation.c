/* One presentation, as the real engine plays it: opened on the system thread
 * (contacting, connecting, credentials, the site request), its audio written
 * by the audio session on the timer thread and inside the device's
 * OnTimeSync, its position taken from the device's time, and its end, its
 * errors and its timed events on the system thread.  Every function here
 * runs with the core lock held. */
#include <stdlib.h>
#include <string.h>

#include "player.h"

#define REPORT_EVERY_MS 100   /* time reports without a device */
#define END_SLACK_MS 20
#define AUTH_WAIT_MS 5000
#define BUFFERING_STEP_MS 20
#define BLOCK_MS 50           /* the audio session's blocks */
#define BLOCKS_PER_ROUND 3
#define ROUND_MS 30
#define START_BLOCKS 3
#define REALTIME_LEAD_MS 300
#define AHEAD_SLACK_MS 5      /* rounding of a time derived from bytes */
#define START_VOLUME 100

enum Phase { PHASE_OPENING, PHASE_OPEN, PHASE_ENDED };
enum EndReason { END_NATURAL, END_STOP, END_ERROR };

/* ---- IRMAAudioDeviceResponse: the device's clock reaches the engine here ---------------- */

typedef struct AudioResponse {
    SimSingle head;
    SimPresentation* presentation; /* null once the presentation is gone */
    int closed;                    /* the device has been closed */
} AudioResponse;

/* ---- IRMAAuthenticationManagerResponse ---------------------------------------------------- */

typedef struct AuthResponse {
    SimSingle head;
    volatile LONG result;
    volatile LONG answered;
} AuthResponse;

struct SimPresentation {
    volatile LONG refs; /* the player's, and each piece of work running on it */
    SimPlayer* p;
    SimMedia media;
    int mediaLoaded;
    SimScenario sc;
    char url[URL_LIMIT];
    HRESULT openError;
    int phase;
    int closed;
    int begun, paused, counted;
    DWORD openTick;
    /* credentials */
    AuthResponse* auth;
    DWORD authTick;
    int authDone;
    /* video */
    void* supplier;
    UINT32 requestId;
    /* audio */
    void* device;
    AudioResponse* response;
    int audioStarted, deviceOpen, devicePaused;
    UINT32 block;
    uint64_t writePos, resetPos; /* bytes of the presentation; resetPos at the last Open or Reset */
    UINT32 writes;
    uint64_t writtenBytes;
    DWORD lastRoundTick, resetTick, writeDoneTick;
    /* clock */
    UINT32 seekBase;   /* the position at the device's last Open or Reset */
    UINT32 deviceTime; /* the device's time since then, as last reported */
    int haveDeviceTime;
    DWORD deviceTimeTick; /* when the device's time last changed */
    UINT32 position;
    int postSeekPending;
    UINT32 seekOld;
    UINT32 wallBase;
    DWORD wallTick;
    DWORD lastWallReport;
    int reportedAny;
    /* the scenario's events */
    int fired[SIM_MAX_EVENTS];
    int bufferingStep[SIM_MAX_EVENTS];
    DWORD bufferingTick[SIM_MAX_EVENTS];
    int contactingDone;
    int errorPending;
    HRESULT errorCode;
    UINT32 errorSeverity;
    char errorText[SIM_TEXT];
};

static void Hold(SimPresentation* pr) { InterlockedIncrement(&pr->refs); }

static void Release(SimPresentation* pr) {
    if (InterlockedDecrement(&pr->refs) > 0) return;
    if (pr->mediaLoaded) SimMediaFree(&pr->media);
    free(pr);
}

/* Whether the presentation may go on after a call out to the client. */
static int Going(const SimPresentation* pr) { return !pr->closed && pr->phase != PHASE_ENDED; }

static const AudioDeviceVtbl* Device(SimPresentation* pr) { return SIM_VTBL(AudioDeviceVtbl, pr->device); }

static void ResponseDestroy(SimSingle* self) { free(self); }

static UINT32 WrittenMsSinceReset(const SimPresentation* pr) {
    return SimMediaTimeOf(&pr->media, pr->writePos) - SimMediaTimeOf(&pr->media, pr->resetPos);
}

static UINT32 Cap(const SimPresentation* pr, UINT32 t) { return t < pr->media.lengthMs ? t : pr->media.lengthMs; }

static UINT32 WallClock(const SimPresentation* pr) {
    if (pr->paused) return pr->wallBase;
    return pr->wallBase + (GetTickCount() - pr->wallTick);
}

static UINT32 Position(const SimPresentation* pr) {
    if (!pr->begun) return pr->seekBase;
    if (!pr->device) return Cap(pr, WallClock(pr));
    return pr->position;
}

ULONG32 SimPresentationPosition(const SimPresentation* pr) { return Position(pr); }
int SimPresentationLive(const SimPresentation* pr) { return pr->mediaLoaded && pr->media.network; }

static void WriteRound(SimPresentation* pr);

/* The device's Pause or Resume, unless it is so already; whether the
 * presentation and its device go on after the call out. */
static int PauseDevice(SimPresentation* pr, int pause) {
    if (!pr->deviceOpen || pr->devicePaused == pause) return Going(pr) && pr->deviceOpen;
    pr->devicePaused = pause;
    SimLog(pause ? "Device.Pause" : "Device.Resume");
    SimNoteThread(pause ? "Device.Pause" : "Device.Resume");
    if (pause)
        Device(pr)->Pause(pr->device);
    else
        Device(pr)->Resume(pr->device);
    return Going(pr) && pr->deviceOpen;
}

/* A time report: OnPostSeek first when a seek is waiting for it, then the
 * position, capped at the length. */
static void TimeReport(SimPresentation* pr, UINT32 position) {
    if (pr->postSeekPending) {
        pr->postSeekPending = 0;
        SimAdvise(pr->p, ON_POST_SEEK, pr->seekOld, pr->seekBase, NULL);
        if (!Going(pr)) return;
    }
    pr->position = Cap(pr, position);
    InterlockedExchange(&g_simPositionMs, (LONG)pr->position);
    SimAdvise(pr->p, ON_POS_LENGTH, pr->position, pr->media.lengthMs, NULL);
}

static HRESULT SIMCALL ResponseOnTimeSync(void* self, ULONG32 timeMs) {
    AudioResponse* r = self;
    if (SimLogging(LOG_TIMESYNC)) SimLog("Response.OnTimeSync %lu", (unsigned long)timeMs);
    SimCoreEnter();
    SimPresentation* pr = r->presentation;
    if (r->closed) {
        SimCheck("OnTimeSync %lu after the device's Close", (unsigned long)timeMs);
    } else if (pr && Going(pr) && pr->deviceOpen) {
        Hold(pr);
        if (pr->haveDeviceTime && timeMs < pr->deviceTime)
            SimCheck("time report went back: %lu after %lu", (unsigned long)timeMs, (unsigned long)pr->deviceTime);
        if (timeMs > WrittenMsSinceReset(pr) + AHEAD_SLACK_MS)
            SimCheck("time report %lu ahead of the %lu ms written", (unsigned long)timeMs,
                     (unsigned long)WrittenMsSinceReset(pr));
        if (!pr->haveDeviceTime || timeMs != pr->deviceTime) pr->deviceTimeTick = GetTickCount();
        pr->deviceTime = timeMs;
        pr->haveDeviceTime = 1;
        WriteRound(pr);
        if (Going(pr) && !pr->paused) {
            UINT32 position = SimKind(KIND_ABSOLUTE_CLOCK) ? timeMs : pr->seekBase + timeMs;
            TimeReport(pr, position);
        }
        Release(pr);
    }
    SimCoreLeave();
    return SIM_OK;
}

static const AudioResponseVtbl kResponseVtbl = {SimSingleQueryInterface, SimSingleAddRef, SimSingleRelease,
                                                ResponseOnTimeSync};

static void AuthDestroy(SimSingle* self) { free(self); }

static HRESULT SIMCALL AuthRequestDone(void* self, HRESULT result, const char* user, const char* password) {
    AuthResponse* r = self;
    SimLog("AuthResponse.AuthenticationRequestDone 0x%08lX %s %s", (unsigned long)result, user ? user : "(null)",
           password ? password : "(null)");
    InterlockedExchange(&r->result, result);
    InterlockedExchange(&r->answered, 1);
    return SIM_OK;
}

static const AuthResponseVtbl kAuthVtbl = {SimSingleQueryInterface, SimSingleAddRef, SimSingleRelease,
                                           AuthRequestDone};

/* ---- opening -------------------------------------------------------------------------------- */

static UINT32 BlockSize(const SimMedia* m, const SimScenario* sc) {
    if (sc->blockBytes) return sc->blockBytes;
    UINT32 frame = SimMediaFrameBytes(m);
    UINT32 bytes = m->rate * BLOCK_MS / 1000 * frame;
    if (bytes > 65535) bytes = 65535 - 65535 % frame;
    return bytes ? bytes : frame;
}

SimPresentation* SimPresentationOpen(SimPlayer* p, const char* url) {
    SimPresentation* pr = calloc(1, sizeof *pr);
    if (!pr) return NULL;
    pr->refs = 1;
    pr->p = p;
    SimScenarioSnapshot(&pr->sc);
    strncpy(pr->url, url, URL_LIMIT - 1);
    SimMediaDefaults defaults = {pr->sc.lengthMs, pr->sc.rate, pr->sc.channels, pr->sc.bits};
    HRESULT hr = SimFailure(FAIL_OPEN_URL);
    if (hr == SIM_OK) hr = (HRESULT)SimMediaOpen(url, &defaults, &pr->media);
    if (hr == SIM_OK) {
        pr->mediaLoaded = 1;
        if (pr->sc.video) pr->media.video = 1;
        pr->block = BlockSize(&pr->media, &pr->sc);
    } else {
        pr->openError = hr;
    }
    pr->phase = PHASE_OPENING;
    pr->openTick = GetTickCount();
    return pr;
}

HRESULT SimPresentationOpenError(const SimPresentation* pr) { return pr->openError; }

static void RequestSites(SimPresentation* pr) {
    pr->supplier = SimContextQuery(pr->p, &kIidSiteSupplier);
    if (!pr->supplier) {
        SimLog("Supplier missing");
        return;
    }
    void* values = SimValuesNew();
    if (!values) return;
    if (pr->sc.playTo[0]) SimValuesSetText(values, "playto", pr->sc.playTo);
    if (pr->sc.name[0]) SimValuesSetText(values, "name", pr->sc.name);
    const SiteSupplierVtbl* v = SIM_VTBL(SiteSupplierVtbl, pr->supplier);
    pr->requestId = ++pr->p->nextRequestId;
    SimLog("Supplier.BeginChangeLayout");
    SimNoteThread("Supplier.BeginChangeLayout");
    v->BeginChangeLayout(pr->supplier);
    SimLog("Supplier.SitesNeeded %u", pr->requestId);
    SimNoteThread("Supplier.SitesNeeded");
    HRESULT hr = v->SitesNeeded(pr->supplier, pr->requestId, values);
    SimLog("Supplier.SitesNeeded returned 0x%08lX", (unsigned long)hr);
    SimLog("Supplier.DoneChangeLayout");
    v->DoneChangeLayout(pr->supplier);
    ((Unknown*)values)->vtbl->Release(values);
}

/* The renderers close: at the next OpenURL or at the player's close, not at
 * the end of the presentation. */
static void ReleaseSites(SimPresentation* pr) {
    void* supplier = pr->supplier;
    if (!supplier) return;
    pr->supplier = NULL;
    SimLog("Supplier.SitesNotNeeded %u", pr->requestId);
    SimNoteThread("Supplier.SitesNotNeeded");
    HRESULT hr = SIM_VTBL(SiteSupplierVtbl, supplier)->SitesNotNeeded(supplier, pr->requestId);
    SimLog("Supplier.SitesNotNeeded returned 0x%08lX", (unsigned long)hr);
    SimDrop(supplier, REF_OTHER);
}

/* ---- the end -------------------------------------------------------------------------------- */

static void CloseDevice(SimPresentation* pr) {
    if (!pr->deviceOpen) return;
    pr->deviceOpen = 0;
    if (!SimLogging(LOG_WRITES))
        SimLog("Device.Writes %lu %llu", (unsigned long)pr->writes, (unsigned long long)pr->writtenBytes);
    SimLog("Device.Close 1");
    pr->response->closed = 1;
    SimNoteThread("Device.Close");
    Device(pr)->Close(pr->device, TRUE);
}

static void End(SimPresentation* pr, int reason, UINT32 finalPosition) {
    if (pr->phase == PHASE_ENDED) return;
    pr->phase = PHASE_ENDED;
    SimPlayer* p = pr->p;
    if (SimKind(KIND_IS_DONE)) InterlockedExchange(&p->done, 1);
    CloseDevice(pr);
    if (reason != END_STOP) {
        pr->position = Cap(pr, finalPosition);
        InterlockedExchange(&g_simPositionMs, (LONG)pr->position);
        SimAdvise(p, ON_POS_LENGTH, pr->position, pr->media.lengthMs, NULL);
    }
    SimAdvise(p, ON_STOP, 0, 0, NULL);
    SimAdvise(p, ON_PRESENTATION_CLOSED, 0, 0, NULL);
    if (SimKind(KIND_SITES_AT_STOP)) ReleaseSites(pr);
    void* device = pr->device;
    pr->device = NULL;
    SimDrop(device, REF_DEVICE);
    if (pr->counted) {
        pr->counted = 0;
        InterlockedDecrement(&g_simPlaying);
    }
    /* Only now: the real engine's IsDone turns true at the end of the chain. */
    InterlockedExchange(&p->done, 1);
}

/* A presentation that never began ends without a word to the sinks, and
 * Begin is refused from now on. */
static void EndUnbegun(SimPresentation* pr) {
    pr->phase = PHASE_ENDED;
    InterlockedExchange(&pr->p->done, 1);
}

static void Fail(SimPresentation* pr, UINT32 severity, HRESULT code, const char* text) {
    /* The audio session pauses its device before the error is told, as the
     * engine does; a device not open, or paused already (a seek's), is left
     * alone.  The error is told even if the client stopped meanwhile. */
    PauseDevice(pr, 1);
    SimReportError(pr->p, severity, code, text);
    if (pr->closed || pr->phase == PHASE_ENDED) return;
    if (pr->begun)
        End(pr, END_ERROR, Position(pr));
    else
        EndUnbegun(pr);
}

void SimPresentationStop(SimPresentation* pr) {
    if (pr->phase == PHASE_ENDED) return;
    if (pr->begun)
        End(pr, END_STOP, 0);
    else
        EndUnbegun(pr);
}

void SimPresentationClose(SimPresentation* pr) {
    Hold(pr);
    SimPresentationStop(pr);
    pr->closed = 1;
    ReleaseSites(pr);
    if (pr->response) {
        pr->response->presentation = NULL;
        SimSingleRelease(pr->response);
        pr->response = NULL;
    }
    if (pr->auth) {
        SimSingleRelease(pr->auth);
        pr->auth = NULL;
    }
    Release(pr);
    Release(pr); /* the player's */
}

/* ---- playing -------------------------------------------------------------------------------- */

/* Begin took effect (inside Begin, or on the system thread once the
 * presentation opened after an early Begin). */
static void StartPlaying(SimPresentation* pr) {
    pr->device = SimDevice();
    pr->wallBase = pr->seekBase;
    pr->wallTick = GetTickCount();
    pr->position = pr->seekBase;
    if (!pr->counted) {
        pr->counted = 1;
        InterlockedIncrement(&g_simPlaying);
    }
    SimAdvise(pr->p, ON_BEGIN, Position(pr), 0, NULL);
}

/* One block from the write position; 0 when the device would block (the
 * block stays, and is the first written next time). */
static int WriteBlock(SimPresentation* pr) {
    uint64_t left = pr->media.totalBytes - pr->writePos;
    UINT32 n = left < pr->block ? (UINT32)left : pr->block;
    void* buffer = SimBufferNew(NULL, n);
    if (!buffer) return 0;
    SimMediaRead(&pr->media, pr->writePos, SIM_VTBL(BufferVtbl, buffer)->GetBuffer(buffer), n);
    SimAudioData data = {buffer, SimMediaTimeOf(&pr->media, pr->writePos), 0};
    if (SimLogging(LOG_WRITES)) SimLog("Device.Write %lu", (unsigned long)n);
    SimNoteThread("Device.Write");
    HRESULT hr = Device(pr)->Write(pr->device, &data);
    ((Unknown*)buffer)->vtbl->Release(buffer);
    if (hr == SIM_E_WOULD_BLOCK) return 0;
    if (hr != SIM_OK) SimLog("Device.Write returned 0x%08lX", (unsigned long)hr);
    pr->writes++;
    pr->writtenBytes += n;
    pr->writePos += n;
    if (pr->writePos >= pr->media.totalBytes) pr->writeDoneTick = GetTickCount();
    return 1;
}

static int AllWritten(const SimPresentation* pr) { return pr->writePos >= pr->media.totalBytes; }

/* The audio session's round: a few blocks, while what was written since the
 * device's Open or Reset runs less than the lead ahead of the device's time. */
static void WriteRound(SimPresentation* pr) {
    if (!pr->deviceOpen || !Going(pr) || pr->paused) return;
    /* The internal Begin of a seek: the device resumes with the next writing. */
    if (!PauseDevice(pr, 0)) return;
    /* Three blocks of the session's own 50 ms; as much sound when a script
     * made the blocks another size. */
    const UINT32 roundMs = BLOCKS_PER_ROUND * BLOCK_MS;
    const UINT32 startMs = WrittenMsSinceReset(pr);
    for (int k = 0; (k < BLOCKS_PER_ROUND || WrittenMsSinceReset(pr) - startMs < roundMs) && !AllWritten(pr); ++k) {
        if (!SimKind(KIND_FAST_WRITE)) {
            ULONG32 now = 0;
            Device(pr)->GetCurrentAudioTime(pr->device, &now);
            if (WrittenMsSinceReset(pr) >= now + pr->sc.leadMs) break;
        }
        if (pr->sc.realtime && WrittenMsSinceReset(pr) > GetTickCount() - pr->resetTick + REALTIME_LEAD_MS) break;
        if (!WriteBlock(pr)) break;
        if (!Going(pr) || !pr->deviceOpen) return;
    }
}

/* Starting audio, on the timer thread: the format checked, the device
 * opened (once more at once if it refuses), paused, its volume set, a few
 * blocks written, then resumed.  A device that refuses twice is reported on
 * the system thread. */
static void StartAudio(SimPresentation* pr) {
    pr->audioStarted = 1;
    AudioResponse* r = calloc(1, sizeof *r);
    if (!r) return;
    SimSingleInit(&r->head, &kResponseVtbl, &kIidAudioResponse, OBJ_AUDIO_RESPONSE, ResponseDestroy);
    r->presentation = pr;
    pr->response = r;
    const SimMedia* m = &pr->media;
    SimAudioFormat format = {(UINT16)m->channels, (UINT16)m->bits, m->rate, (UINT16)pr->block, 0};
    SimLog("Device.CheckFormat %lu %lu %lu", (unsigned long)m->rate, (unsigned long)m->channels,
           (unsigned long)m->bits);
    Device(pr)->CheckFormat(pr->device, &format);
    if (!Going(pr)) return;
    HRESULT hr = SIM_E_FAIL;
    for (int attempt = 0; attempt < 2 && hr != SIM_OK && Going(pr); ++attempt) {
        SimLog("Device.Open %lu %lu %lu %lu", (unsigned long)m->rate, (unsigned long)m->channels,
               (unsigned long)m->bits, (unsigned long)pr->block);
        SimNoteThread("Device.Open");
        hr = Device(pr)->Open(pr->device, &format, r);
        if (hr != SIM_OK) SimLog("Device.Open returned 0x%08lX", (unsigned long)hr);
    }
    if (!Going(pr)) return;
    if (hr != SIM_OK) {
        pr->errorPending = 1;
        pr->errorCode = hr < 0 ? hr : SIM_E_FAIL;
        pr->errorSeverity = SIM_DEFAULT_SEVERITY;
        pr->errorText[0] = 0;
        return;
    }
    pr->deviceOpen = 1;
    pr->resetPos = pr->writePos;
    pr->resetTick = GetTickCount();
    pr->deviceTimeTick = pr->resetTick;
    if (!PauseDevice(pr, 1)) return;
    SimLog("Device.SetVolume %d", START_VOLUME);
    Device(pr)->SetVolume(pr->device, START_VOLUME);
    for (int k = 0; k < START_BLOCKS && !AllWritten(pr) && Going(pr) && pr->deviceOpen; ++k) WriteBlock(pr);
    if (!Going(pr) || !pr->deviceOpen || pr->paused) return;
    PauseDevice(pr, 0);
    pr->lastRoundTick = GetTickCount();
}

HRESULT SimPresentationBegin(SimPresentation* pr) {
    if (pr->phase == PHASE_ENDED) return SIM_E_UNEXPECTED;
    if (!pr->begun) {
        pr->begun = 1;
        /* A presentation with nothing left to play ends inside Begin, on the
         * caller's thread, as every player method's reports do. */
        if (pr->sc.stopInBegin) {
            End(pr, END_NATURAL, 0);
            return SIM_OK;
        }
        if (pr->phase == PHASE_OPEN) StartPlaying(pr);
        return SIM_OK;
    }
    if (!pr->paused) return SIM_OK;
    pr->paused = 0;
    pr->wallTick = GetTickCount();
    PauseDevice(pr, 0);
    if (!Going(pr)) return SIM_OK;
    SimAdvise(pr->p, ON_BEGIN, Position(pr), 0, NULL);
    return SIM_OK;
}

HRESULT SimPresentationPause(SimPresentation* pr) {
    if (pr->phase == PHASE_ENDED) return SIM_E_UNEXPECTED;
    if (pr->paused) return SIM_OK;
    pr->wallBase = WallClock(pr);
    pr->paused = 1;
    PauseDevice(pr, 1);
    if (!Going(pr)) return SIM_OK;
    SimAdvise(pr->p, ON_PAUSE, Position(pr), 0, NULL);
    return SIM_OK;
}

/* Inside Seek on the caller's thread: an internal pause, the device's
 * Reset, OnPreSeek and an internal Begin whose Resume comes with the next
 * writing.  OnPostSeek waits for the first time report after it. */
HRESULT SimPresentationSeek(SimPresentation* pr, ULONG32 timeMs) {
    if (pr->phase == PHASE_ENDED || !pr->mediaLoaded) return SIM_E_UNEXPECTED;
    UINT32 to = Cap(pr, timeMs);
    if (!pr->begun || pr->phase == PHASE_OPENING) {
        pr->seekBase = to;
        pr->writePos = pr->resetPos = SimMediaOffsetOf(&pr->media, to);
        return SIM_OK;
    }
    UINT32 old = Position(pr);
    if (pr->deviceOpen && PauseDevice(pr, 1)) {
        SimLog("Device.Reset");
        SimNoteThread("Device.Reset");
        Device(pr)->Reset(pr->device);
    }
    if (!Going(pr)) return SIM_OK;
    pr->seekBase = to;
    pr->position = to;
    pr->writePos = pr->resetPos = SimMediaOffsetOf(&pr->media, to);
    pr->resetTick = GetTickCount();
    pr->haveDeviceTime = 0;
    pr->deviceTime = 0;
    pr->deviceTimeTick = pr->resetTick;
    pr->wallBase = to;
    pr->wallTick = GetTickCount();
    pr->reportedAny = 0;
    pr->seekOld = old;
    pr->postSeekPending = 1;
    if (!pr->sc.noPreSeek) {
        SimAdvise(pr->p, ON_PRE_SEEK, old, to, NULL);
        if (!Going(pr)) return SIM_OK;
    }
    if (pr->sc.errorWhen == WHEN_SEEK) {
        pr->errorPending = 1;
        pr->errorCode = pr->sc.errorCode;
        pr->errorSeverity = pr->sc.errorSeverity;
        strcpy(pr->errorText, pr->sc.errorText);
    }
    if (SimKind(KIND_POST_SEEK)) {
        pr->postSeekPending = 0;
        SimAdvise(pr->p, ON_POST_SEEK, old, to, NULL);
    }
    return SIM_OK;
}

/* ---- the system thread's work ------------------------------------------------------------ */

/* Credentials for a URL with the scenario's marker; 1 while still waiting. */
static int Authenticate(SimPresentation* pr, HRESULT* result) {
    if (!pr->auth) {
        void* manager = SimContextQuery(pr->p, &kIidAuthManager);
        if (!manager) {
            SimLog("AuthManager missing");
            *result = SIM_E_NOT_AUTHORIZED;
            return 0;
        }
        AuthResponse* r = calloc(1, sizeof *r);
        if (!r) {
            SimDrop(manager, REF_OTHER);
            *result = SIM_E_FAIL;
            return 0;
        }
        SimSingleInit(&r->head, &kAuthVtbl, &kIidAuthResponse, OBJ_AUTH_RESPONSE, AuthDestroy);
        r->result = SIM_E_NOT_AUTHORIZED;
        pr->auth = r;
        pr->authTick = GetTickCount();
        SimLog("AuthManager.HandleAuthenticationRequest");
        SimNoteThread("AuthManager.HandleAuthenticationRequest");
        HRESULT returned = SIM_VTBL(AuthManagerVtbl, manager)->HandleAuthenticationRequest(manager, r);
        SimLog("AuthManager.HandleAuthenticationRequest returned 0x%08lX", (unsigned long)returned);
        SimDrop(manager, REF_OTHER);
        if (!Going(pr)) return 1;
    }
    if (!pr->auth->answered) {
        if (GetTickCount() - pr->authTick < AUTH_WAIT_MS) return 1;
        SimLog("AuthResponse no answer");
        *result = SIM_E_NOT_AUTHORIZED;
    } else {
        *result = pr->auth->result;
    }
    SimSingleRelease(pr->auth);
    pr->auth = NULL;
    return 0;
}

static void OpeningWork(SimPresentation* pr) {
    const SimScenario* sc = &pr->sc;
    if (!pr->contactingDone) {
        pr->contactingDone = 1;
        for (int i = 0; i < sc->eventCount && Going(pr); ++i) {
            if (sc->events[i].kind == EVENT_CONTACTING && sc->events[i].atMs == 0) {
                pr->fired[i] = 1;
                SimAdvise(pr->p, ON_CONTACTING, 0, 0, sc->events[i].text);
            }
        }
        if (!Going(pr)) return;
    }
    /* Connecting takes its time; a Stop meanwhile ends it. */
    if (GetTickCount() - pr->openTick < sc->connectMs) return;
    if (!pr->authDone && sc->authMarker[0] && strstr(pr->url, sc->authMarker)) {
        HRESULT result = SIM_OK;
        if (Authenticate(pr, &result) || !Going(pr)) return;
        if (result != SIM_OK) {
            Fail(pr, SIM_DEFAULT_SEVERITY, result, NULL);
            return;
        }
    }
    pr->authDone = 1;
    if (sc->errorWhen == WHEN_OPEN) {
        Fail(pr, sc->errorSeverity, sc->errorCode, sc->errorText);
        return;
    }
    SimAdvise(pr->p, ON_PRESENTATION_OPENED, 0, 0, NULL);
    if (!Going(pr)) return;
    SimAdvise(pr->p, ON_POS_LENGTH, pr->seekBase, pr->media.lengthMs, NULL);
    if (!Going(pr)) return;
    if (pr->media.video) {
        RequestSites(pr);
        if (!Going(pr)) return;
    }
    pr->phase = PHASE_OPEN;
    if (pr->begun) StartPlaying(pr);
}

/* The scenario's events due at this position; 0 once the presentation ended. */
static int TimedEvents(SimPresentation* pr, UINT32 clock) {
    const SimScenario* sc = &pr->sc;
    for (int i = 0; i < sc->eventCount && Going(pr); ++i) {
        const SimTimedEvent* e = &sc->events[i];
        if (pr->fired[i] || clock < e->atMs) continue;
        if (e->kind == EVENT_BUFFERING) {
            /* One report a tick, each a moment after the one before. */
            if (pr->bufferingStep[i] > 0 && GetTickCount() - pr->bufferingTick[i] < BUFFERING_STEP_MS) continue;
            int step = pr->bufferingStep[i]++;
            pr->bufferingTick[i] = GetTickCount();
            if (pr->bufferingStep[i] >= e->percentCount) pr->fired[i] = 1;
            if (step < e->percentCount) SimAdvise(pr->p, ON_BUFFERING, 0, e->percents[step], NULL);
        } else if (e->kind == EVENT_CONTACTING) {
            pr->fired[i] = 1;
            SimAdvise(pr->p, ON_CONTACTING, 0, 0, e->text);
        } else if (e->kind == EVENT_SEEK) {
            pr->fired[i] = 1;
            SimPresentationSeek(pr, e->toMs);
        }
    }
    if (!Going(pr)) return 0;
    if (sc->errorWhen == WHEN_PLAY && clock >= sc->errorAtMs) {
        Fail(pr, sc->errorSeverity, sc->errorCode, sc->errorText);
        return 0;
    }
    if (sc->stopAtSet && clock >= sc->stopAtMs) {
        End(pr, END_NATURAL, clock + END_SLACK_MS >= pr->media.lengthMs ? pr->media.lengthMs : clock);
        return 0;
    }
    return 1;
}

void SimPresentationSystemWork(SimPresentation* pr) {
    if (!Going(pr)) return;
    Hold(pr);
    if (pr->openError) {
        HRESULT hr = pr->openError;
        pr->openError = 0;
        Fail(pr, SIM_DEFAULT_SEVERITY, hr, NULL);
    } else if (pr->phase == PHASE_OPENING) {
        OpeningWork(pr);
    } else if (pr->begun && pr->errorPending) {
        pr->errorPending = 0;
        Fail(pr, pr->errorSeverity, pr->errorCode, pr->errorText);
    } else if (pr->begun && !pr->paused) {
        UINT32 clock = Position(pr);
        if (TimedEvents(pr, clock)) {
            clock = Position(pr);
            if (!pr->device) {
                DWORD now = GetTickCount();
                if (!pr->reportedAny || now - pr->lastWallReport >= REPORT_EVERY_MS) {
                    pr->reportedAny = 1;
                    pr->lastWallReport = now;
                    TimeReport(pr, clock);
                }
                if (Going(pr) && clock >= pr->media.lengthMs) End(pr, END_NATURAL, pr->media.lengthMs);
            } else if (pr->deviceOpen && AllWritten(pr)) {
                if (clock + END_SLACK_MS >= pr->media.lengthMs) {
                    End(pr, END_NATURAL, pr->media.lengthMs);
                } else if (pr->sc.stallEndMs) {
                    DWORD since = pr->deviceTimeTick;
                    if ((LONG)(pr->writeDoneTick - since) > 0) since = pr->writeDoneTick;
                    if (GetTickCount() - since > pr->sc.stallEndMs) {
                        SimLog("Device clock stalled at %lu", (unsigned long)clock);
                        End(pr, END_NATURAL, clock);
                    }
                }
            }
        }
    }
    Release(pr);
}

void SimPresentationTimerWork(SimPresentation* pr) {
    if (!Going(pr) || pr->phase != PHASE_OPEN || !pr->begun || !pr->device) return;
    Hold(pr);
    if (!pr->audioStarted) {
        if (!pr->paused) StartAudio(pr);
    } else if (GetTickCount() - pr->lastRoundTick >= ROUND_MS) {
        pr->lastRoundTick = GetTickCount();
        WriteRound(pr);
    }
    Release(pr);
}
