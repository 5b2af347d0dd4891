/* The engine's threads, its core lock and its scheduler.
 *
 * As in the real engine: the thread that creates the first engine becomes
 * the engine's system thread.  Its work runs from a thread timer without a
 * window, so it runs only while that thread dispatches messages, and work
 * that fell due meanwhile runs in one pass when it does.  A second thread,
 * the timer thread, runs its own loop and does only work that declares
 * itself interrupt-safe (and the audio session's writing).  Every scheduled
 * callback, every player method and all writing of audio hold one recursive
 * core lock. */
#ifndef SIM_ENGINE_SCHEDULER_H
#define SIM_ENGINE_SCHEDULER_H

#include "runtime.h"

#define SIM_SYSTEM_TICK_MS 10
#define SIM_TIMER_TICK_MS 10

void SimCoreInit(void);
void SimCoreEnter(void);
void SimCoreLeave(void);

/* Makes the calling thread the system thread and starts the timer thread;
 * `systemWork` runs on every system tick and `timerWork` on every timer
 * thread round, both with the core lock held.  0 on failure. */
int SimSchedulerStart(void (*systemWork)(void), void (*timerWork)(void));
/* Ends both, on the system thread; callbacks still entered are dropped. */
void SimSchedulerStop(void);

/* IRMAScheduler's entries: the callback runs once, `delayMs` from now, on the
 * system thread, or on either thread when it answers IRMAInterruptSafe with
 * true.  0 when it could not be entered. */
ULONG32 SimSchedulerEnter(void* callback, UINT32 delayMs);
HRESULT SimSchedulerRemove(ULONG32 handle);
/* Milliseconds since the library was loaded. */
UINT32 SimSchedulerNowMs(void);

/* The client's audio device installed with IRMAAudioDeviceManager::Replace,
 * engine-wide as the real engine's audio session is. */
void SimSetDevice(void* device);  /* takes over a counted reference; the old one is dropped */
void* SimDevice(void);            /* a counted reference, or null */

#endif
