/* The player and the presentation it plays.
 *
 * Everything here runs with the core lock held, as in the real engine:
 * IRMAPlayer's methods on the caller's thread (and what they set off,
 * synchronously, inside them), the presentation's periodic work on the
 * system thread, and the audio session's writing on the timer thread and
 * inside the device's OnTimeSync. */
#ifndef SIM_ENGINE_PLAYER_H
#define SIM_ENGINE_PLAYER_H

#include "media.h"
#include "scheduler.h"
#include "site.h"

#define MAX_SINKS 16
#define MAX_SITES 16
#define URL_LIMIT 1024

typedef struct SimPlayer SimPlayer;
typedef struct SimPresentation SimPresentation;

typedef struct ErrorSinkEntry {
    void* sink;
    UINT8 low, high;
} ErrorSinkEntry;

struct SimPlayer {
    const PlayerVtbl* vtbl;                      /* IRMAPlayer */
    const ErrorSinkControlVtbl* sinkControlVtbl; /* IRMAErrorSinkControl */
    const SchedulerVtbl* schedulerVtbl;          /* IRMAScheduler */
    const SiteManagerVtbl* siteManagerVtbl;      /* IRMASiteManager */
    const ClassFactoryVtbl* factoryVtbl;         /* IRMACommonClassFactory */
    volatile LONG refs;
    void* engineFace; /* IRMAClientEngine, not counted; null once closed */
    void* context;
    void* adviseSinks[MAX_SINKS];
    int adviseCount;
    ErrorSinkEntry errorSinks[MAX_SINKS];
    int errorCount;
    void* sites[MAX_SITES]; /* registered through AddSite, one reference each */
    int siteCount;
    SimPresentation* presentation; /* from OpenURL to the next OpenURL or the close */
    volatile LONG done;            /* what IsDone answers */
    UINT32 nextRequestId;          /* the site requests' ids */
};

enum AdviseCall { ON_POS_LENGTH, ON_PRESENTATION_OPENED, ON_PRESENTATION_CLOSED, ON_PRE_SEEK, ON_POST_SEEK,
                  ON_STOP, ON_PAUSE, ON_BEGIN, ON_BUFFERING, ON_CONTACTING };

/* ---- player.c ---- */
SimPlayer* SimPlayerNew(void* engineFace);
void* SimPlayerFace(SimPlayer* player);
/* Stops the presentation and lets go of everything the player holds. */
void SimPlayerClose(SimPlayer* player);
LONG SimPlayerRefs(SimPlayer* player);
/* Calls every advise sink. */
void SimAdvise(SimPlayer* p, int call, ULONG32 a, ULONG32 b, const char* text);
/* Calls every error sink whose severity range covers the report. */
void SimReportError(SimPlayer* p, UINT32 severity, HRESULT code, const char* userString);
/* The client context's answer for an interface, counted, or null. */
void* SimContextQuery(SimPlayer* p, const GUID* iid);

/* ---- presentation.c ---- */
/* A new presentation of `url` for the player; what fails to open is
 * reported later, on the system thread. */
SimPresentation* SimPresentationOpen(SimPlayer* p, const char* url);
/* Why it cannot play, until that has been reported; 0 when it can. */
HRESULT SimPresentationOpenError(const SimPresentation* pr);
/* Ends it if it runs (as Stop does), gives its sites up and frees it. */
void SimPresentationClose(SimPresentation* pr);
HRESULT SimPresentationBegin(SimPresentation* pr);
HRESULT SimPresentationPause(SimPresentation* pr);
HRESULT SimPresentationSeek(SimPresentation* pr, ULONG32 timeMs);
/* IRMAPlayer::Stop: the end without OnPosLength, once per presentation. */
void SimPresentationStop(SimPresentation* pr);
ULONG32 SimPresentationPosition(const SimPresentation* pr);
int SimPresentationLive(const SimPresentation* pr);
/* The periodic work of the system thread and of the timer thread. */
void SimPresentationSystemWork(SimPresentation* pr);
void SimPresentationTimerWork(SimPresentation* pr);

#endif
