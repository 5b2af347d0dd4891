/* The player object, shared by the player's operations (player.c) and the
 * presentation thread that plays what it opened (presentation.c). */
#ifndef SIM_ENGINE_PLAYER_H
#define SIM_ENGINE_PLAYER_H

#include "media.h"
#include "sim.h"

#define MAX_SINKS 16
#define MAX_SITES 16
#define URL_LIMIT 1024

typedef struct ErrorSinkEntry {
    void* sink;
    UINT8 low, high;
} ErrorSinkEntry;

/* One presentation, from Begin to its end, owned by its thread. */
typedef struct SimRun {
    SimPlayer* player;
    SimMedia media;
    SimScenario scenario;
    char url[URL_LIMIT];
    volatile LONG stop; /* the client or the engine asked this run to end */
} SimRun;

struct SimPlayer {
    const PlayerVtbl* vtbl;                    /* IRMAPlayer */
    const ErrorSinkControlVtbl* sinkControlVtbl; /* IRMAErrorSinkControl */
    const SchedulerVtbl* schedulerVtbl;        /* IRMAScheduler */
    const SiteManagerVtbl* siteManagerVtbl;    /* IRMASiteManager */
    const ClassFactoryVtbl* factoryVtbl;       /* IRMACommonClassFactory */
    volatile LONG refs;
    CRITICAL_SECTION lock;
    SimEngine* engine; /* null once the engine closed the player */
    void* context;
    void* adviseSinks[MAX_SINKS];
    int adviseCount;
    ErrorSinkEntry errorSinks[MAX_SINKS];
    int errorCount;
    void* sites[MAX_SITES]; /* registered through AddSite, one reference each */
    int siteCount;

    /* The URL opened and not yet begun. */
    SimRun* pending;
    /* The presentation thread and what it is asked to do. */
    HANDLE worker;
    DWORD workerId;
    HANDLE wake;
    SimRun* volatile current; /* the presentation running now */
    volatile LONG pauseRequested;
    volatile LONG seekRequested;
    volatile LONG seekTargetMs;
    volatile LONG ended;
    volatile LONG live; /* the presentation is a network stream */
    /* The thread that reports a refused OpenURL to the error sinks. */
    HANDLE reporter;
};

enum AdviseCall { ON_POS_LENGTH, ON_PRESENTATION_OPENED, ON_PRESENTATION_CLOSED, ON_PRE_SEEK, ON_POST_SEEK,
                  ON_STOP, ON_PAUSE, ON_BEGIN, ON_BUFFERING, ON_CONTACTING };

/* Calls every advise sink; never with the player's lock held. */
void SimAdvise(SimPlayer* p, int call, ULONG32 a, ULONG32 b, const char* text);
/* Calls every error sink whose severity range covers the report. */
void SimReportError(SimPlayer* p, UINT32 severity, HRESULT code, const char* userString);
/* The client context's answer for an interface, counted, or null. */
void* SimContextQuery(SimPlayer* p, const GUID* iid);

DWORD WINAPI SimPresentationMain(void* run);

#endif
