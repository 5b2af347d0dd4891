/* The system thread's timer, the timer thread, the core lock and the
 * scheduler's entries. */
#include <stdlib.h>

#include "scheduler.h"

#define SHUTDOWN_WAIT_MS 10000

typedef struct Entry {
    struct Entry* next;
    ULONG32 handle;
    void* callback; /* the client's IRMACallback, one counted reference */
    DWORD due;
    int interruptSafe;
} Entry;

static CRITICAL_SECTION g_core;
static CRITICAL_SECTION g_entriesLock; /* the list only; never held across a call out */
static Entry* g_entries;
static ULONG32 g_lastHandle;
static DWORD g_startTick;
static UINT_PTR g_systemTimer;
static volatile LONG g_inSystemTick;
static HANDLE g_timerThread;
static HANDLE g_timerQuit;
static void (*g_systemWork)(void);
static void (*g_timerWork)(void);
static void* g_device;

void SimCoreInit(void) {
    InitializeCriticalSection(&g_core);
    InitializeCriticalSection(&g_entriesLock);
    g_startTick = GetTickCount();
}

void SimCoreEnter(void) { EnterCriticalSection(&g_core); }
void SimCoreLeave(void) { LeaveCriticalSection(&g_core); }

UINT32 SimSchedulerNowMs(void) { return GetTickCount() - g_startTick; }

void SimSetDevice(void* device) {
    SimCoreEnter();
    void* old = g_device;
    g_device = device;
    SimCoreLeave();
    SimDrop(old, REF_DEVICE);
}

void* SimDevice(void) {
    SimCoreEnter();
    void* device = g_device;
    SimHold(device, REF_DEVICE);
    SimCoreLeave();
    return device;
}

/* ---- entries ------------------------------------------------------------------------ */

static int AnswersInterruptSafe(void* callback) {
    void* safe = NULL;
    if (((Unknown*)callback)->vtbl->QueryInterface(callback, &kIidInterruptSafe, &safe) != SIM_OK || !safe) return 0;
    int answer = SIM_VTBL(InterruptSafeVtbl, safe)->IsInterruptSafe(safe) != 0;
    ((Unknown*)safe)->vtbl->Release(safe);
    return answer;
}

ULONG32 SimSchedulerEnter(void* callback, UINT32 delayMs) {
    if (!callback || g_simEngines == 0) return 0;
    Entry* e = calloc(1, sizeof *e);
    if (!e) return 0;
    SimHold(callback, REF_OTHER);
    e->callback = callback;
    e->due = GetTickCount() + delayMs;
    e->interruptSafe = AnswersInterruptSafe(callback);
    EnterCriticalSection(&g_entriesLock);
    if (++g_lastHandle == 0) ++g_lastHandle;
    e->handle = g_lastHandle;
    Entry** at = &g_entries;
    while (*at && (LONG)((*at)->due - e->due) <= 0) at = &(*at)->next;
    e->next = *at;
    *at = e;
    ULONG32 handle = e->handle;
    LeaveCriticalSection(&g_entriesLock);
    return handle;
}

HRESULT SimSchedulerRemove(ULONG32 handle) {
    Entry* found = NULL;
    EnterCriticalSection(&g_entriesLock);
    for (Entry** at = &g_entries; *at; at = &(*at)->next) {
        if ((*at)->handle == handle) {
            found = *at;
            *at = found->next;
            break;
        }
    }
    LeaveCriticalSection(&g_entriesLock);
    if (!found) return SIM_E_FAIL;
    SimDrop(found->callback, REF_OTHER);
    free(found);
    return SIM_OK;
}

/* Takes the first entry due now that this thread may run, among those
 * entered before the pass began (`last`): one entered again while the pass
 * runs waits for the next pass, whatever its delay. */
static Entry* TakeDue(int systemThread, ULONG32 last) {
    Entry* found = NULL;
    DWORD now = GetTickCount();
    EnterCriticalSection(&g_entriesLock);
    for (Entry** at = &g_entries; *at; at = &(*at)->next) {
        if ((LONG)((*at)->due - now) > 0) break;
        if ((LONG)((*at)->handle - last) > 0) continue;
        if (systemThread || (*at)->interruptSafe) {
            found = *at;
            *at = found->next;
            break;
        }
    }
    LeaveCriticalSection(&g_entriesLock);
    return found;
}

/* Runs what is due; the caller holds the core lock. */
static void RunDue(int systemThread) {
    EnterCriticalSection(&g_entriesLock);
    ULONG32 last = g_lastHandle;
    LeaveCriticalSection(&g_entriesLock);
    Entry* e;
    while ((e = TakeDue(systemThread, last)) != NULL) {
        if (SimLogging(LOG_SCHEDULER)) SimLog("Callback.Func %lu", (unsigned long)e->handle);
        SimNoteThread("Callback.Func");
        SIM_VTBL(CallbackVtbl, e->callback)->Func(e->callback);
        SimDrop(e->callback, REF_OTHER);
        free(e);
    }
}

/* ---- the two threads ------------------------------------------------------------------- */

static void CALLBACK SystemTick(HWND window, UINT message, UINT_PTR id, DWORD time) {
    /* A client that pumps messages inside a callback would enter the tick
     * again; the real engine's scheduler does not nest either. */
    if (InterlockedExchange(&g_inSystemTick, 1)) return;
    SimCoreEnter();
    RunDue(1);
    if (g_systemWork) g_systemWork();
    SimCoreLeave();
    InterlockedExchange(&g_inSystemTick, 0);
}

static DWORD WINAPI TimerThreadMain(void* unused) {
    g_simTimerThread = GetCurrentThreadId();
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &g_timerQuit, FALSE, SIM_TIMER_TICK_MS, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        SimCoreEnter();
        RunDue(0);
        if (g_timerWork) g_timerWork();
        SimCoreLeave();
    }
    g_simTimerThread = 0;
    return 0;
}

int SimSchedulerStart(void (*systemWork)(void), void (*timerWork)(void)) {
    if (g_systemTimer) return 1;
    g_systemWork = systemWork;
    g_timerWork = timerWork;
    g_simSystemThread = GetCurrentThreadId();
    g_systemTimer = SetTimer(NULL, 0, SIM_SYSTEM_TICK_MS, SystemTick);
    if (!g_systemTimer) return 0;
    g_timerQuit = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_timerThread = g_timerQuit ? CreateThread(NULL, 0, TimerThreadMain, NULL, 0, NULL) : NULL;
    if (!g_timerThread) {
        SimSchedulerStop();
        return 0;
    }
    return 1;
}

void SimSchedulerStop(void) {
    if (g_systemTimer) {
        if (GetCurrentThreadId() != g_simSystemThread) SimCheck("CloseEngine off the engine's system thread");
        KillTimer(NULL, g_systemTimer);
        g_systemTimer = 0;
    }
    if (g_timerThread) {
        SetEvent(g_timerQuit);
        SimWaitPumping(g_timerThread, SHUTDOWN_WAIT_MS);
        CloseHandle(g_timerThread);
        g_timerThread = NULL;
    }
    if (g_timerQuit) CloseHandle(g_timerQuit);
    g_timerQuit = NULL;
    g_simSystemThread = 0;
    EnterCriticalSection(&g_entriesLock);
    Entry* pending = g_entries;
    g_entries = NULL;
    LeaveCriticalSection(&g_entriesLock);
    while (pending) {
        Entry* e = pending;
        pending = e->next;
        SimDrop(e->callback, REF_OTHER);
        free(e);
    }
}
