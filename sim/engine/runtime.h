/* The stand-in's runtime: the scenario a script sets, the call log, the
 * checks of the client, the object and reference counters and the waits.
 * Every other part reports into it; it calls none of them. */
#ifndef SIM_ENGINE_RUNTIME_H
#define SIM_ENGINE_RUNTIME_H

#include "abi.h"

/* ---- scenario ------------------------------------------------------------------- */
enum SimFailKind { FAIL_CREATE_ENGINE, FAIL_CREATE_PLAYER, FAIL_REPLACE, FAIL_OPEN_URL, FAIL_ADD_SITE,
                   FAIL_CREATE_INSTANCE, FAIL_SITE_CREATE, FAIL_KINDS };
enum SimHideKind { HIDE_DEVICE_MANAGER, HIDE_ERROR_SINK_CONTROL, HIDE_SCHEDULER, HIDE_SITE_MANAGER,
                   HIDE_CLASS_FACTORY, HIDE_KINDS };
enum SimDelayKind { DELAY_OPEN_URL, DELAY_BEGIN, DELAY_SEEK, DELAY_STOP, DELAY_KINDS };
enum SimEventKind { EVENT_BUFFERING, EVENT_CONTACTING, EVENT_SEEK };
enum SimErrorWhen { WHEN_NEVER, WHEN_OPEN, WHEN_PLAY, WHEN_SEEK };
enum SimLogKind { LOG_WRITES, LOG_SCHEDULER, LOG_TIMESYNC, LOG_POSITIONS, LOG_KINDS };
/* Kinder ways than the real engine's, each only for a test that names it on
 * purpose (the script's `kind` command says which fault each lets through). */
enum SimKindness { KIND_POST_SEEK, KIND_IS_DONE, KIND_OPEN_URL, KIND_SITES_AT_STOP, KIND_ABSOLUTE_CLOCK,
                   KIND_FAST_WRITE, KIND_KINDS };

#define SIM_MAX_EVENTS 16
#define SIM_DEFAULT_SEVERITY 3 /* an error, in the engine's 0 (emergency) to 7 (debug) scale */
#define SIM_MAX_PERCENTS 16
#define SIM_TEXT 256

typedef struct SimTimedEvent {
    int kind;
    UINT32 atMs;
    UINT32 toMs;
    UINT16 percents[SIM_MAX_PERCENTS];
    int percentCount;
    char text[SIM_TEXT];
} SimTimedEvent;

typedef struct SimScenario {
    int failSet[FAIL_KINDS];
    HRESULT fail[FAIL_KINDS];
    int hide[HIDE_KINDS];
    int isDone; /* what IsDone answers; -1: whether the presentation has ended */
    UINT32 stopHangMs;
    int stopHangInside; /* the hang holds the core lock */
    UINT32 delayMs[DELAY_KINDS];
    UINT32 lengthMs;
    UINT32 rate, channels, bits;
    UINT32 blockBytes; /* 0: a tenth of a second of audio */
    int realtime;
    SimTimedEvent events[SIM_MAX_EVENTS];
    int eventCount;
    UINT32 connectMs; /* after the contacting texts due at 0 */
    int noPreSeek;
    int stopInBegin;  /* Begin ends the presentation inside it */
    int stopAtSet;
    UINT32 stopAtMs;
    int errorWhen;
    UINT32 errorAtMs;
    HRESULT errorCode;
    UINT32 errorSeverity;
    char errorText[SIM_TEXT];
    int video;
    char playTo[SIM_TEXT];
    char name[SIM_TEXT];
    char authMarker[SIM_TEXT];
    int log[LOG_KINDS];
    int kind[KIND_KINDS];
    UINT32 stallEndMs; /* a device clock standing that long after the last block ends it; 0: never */
    UINT32 leadMs;     /* how far the engine writes ahead of the device's time */
} SimScenario;

void SimScenarioSnapshot(SimScenario* out);
/* The result a call must give because the scenario says so, or 0. */
HRESULT SimFailure(int kind);
int SimHidden(int kind);
int SimLogging(int kind);
void SimDelay(int kind);
/* Calls the hook a test registered for the moment a Seek arrives, and logs its answer. */
void SimCallSeekHook(ULONG32 timeMs);

int SimKind(int kind);

/* ---- log, checks, counters and client references ------------------------------ */
void SimLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* A fault of the client seen by the engine: logged as "Check: ..." and counted
 * (query `checks`). */
void SimCheck(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* The engine's threads, as the scheduler names them. */
enum SimThreadKind { THREAD_CALLER, THREAD_SYSTEM, THREAD_TIMER };
extern volatile DWORD g_simSystemThread;
extern volatile DWORD g_simTimerThread;
int SimThreadKindNow(void);
/* Notes the thread of a call the engine makes into the client, under its
 * log name ("Sink.OnStop"): query `where Sink.OnStop` answers it. */
void SimNoteThread(const char* call);

/* Every object the engine hands out is counted by kind, so that what is
 * still alive when the library is unloaded can be named. */
enum SimObjectKind { OBJ_ENGINE, OBJ_PLAYER, OBJ_BUFFER, OBJ_VALUES, OBJ_SITE, OBJ_AUDIO_RESPONSE,
                     OBJ_AUTH_RESPONSE, OBJ_KINDS };
void SimObjectCreated(int kind);
void SimObjectDestroyed(int kind);

enum SimRefKind { REF_DEVICE, REF_CONTEXT, REF_ADVISE_SINKS, REF_ERROR_SINKS, REF_OTHER, REF_KINDS };
/* AddRef/Release on a client's object, counted by kind. */
void SimHold(void* object, int kind);
void SimDrop(void* object, int kind);
/* QueryInterface on a client's object; a reference given is counted. */
void* SimQuery(void* object, const GUID* iid, int kind);

extern volatile LONG g_simEngines;
extern volatile LONG g_simPlaying;
extern volatile LONG g_simPositionMs;
extern volatile LONG g_simSiteWindows;
extern HINSTANCE g_simInstance;

/* Waits for a handle while answering messages other threads send to this one,
 * so a wait never blocks a window owner that needs this thread. */
int SimWaitPumping(HANDLE handle, DWORD timeoutMs);

/* Answers for queries the runtime does not know itself ("players", "refs
 * engine"); the engine registers it. */
void SimSetObjectQuery(LONG (*query)(const char* what));
/* At the library's load: the defaults and the SIMENGINE_SCRIPT environment. */
void SimRuntimeInit(HINSTANCE instance);
/* At FreeLibrary: tells the registered observer what is still alive. */
void SimRuntimeUnload(void);

#endif
