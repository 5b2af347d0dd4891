/* Windowed sites (IRMASite, IRMASiteWindowed and their own IRMAValues) and
 * the engine's window thread.  Every site window is created and destroyed on
 * that one thread, which always runs a message loop, whichever thread calls
 * Create or Destroy. */
#include <stdlib.h>
#include <string.h>

#include "paint.h"
#include "site.h"

#define WM_SIM_CREATE (WM_APP + 1)
#define WM_SIM_DESTROY (WM_APP + 2)
#define DEFAULT_WIDTH 320
#define DEFAULT_HEIGHT 240
#define UI_START_WAIT_MS 5000

static const char kHelperClass[] = "SimEngineHelper";
static const char kSiteClass[] = "SimEngineSite";

typedef struct SimSite {
    const SiteVtbl* vtbl;                 /* IRMASite */
    const SiteWindowedVtbl* windowedVtbl; /* IRMASiteWindowed */
    SimValuesFace values;                 /* IRMAValues */
    volatile LONG refs;
    SimPoint position;
    SimSize size;
    SimWindowRecord record;
    HWND volatile window;
    volatile LONG destroyed; /* Destroy has taken down the window it made */
} SimSite;

typedef struct CreateArgs {
    SimSite* site;
    HWND parent;
    DWORD style;
} CreateArgs;

static CRITICAL_SECTION g_uiLock;
static HANDLE g_uiThread;
static DWORD g_uiThreadId;
static HWND g_uiHelper;

/* ---- the window thread ------------------------------------------------------------------ */

static LRESULT CALLBACK SiteWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    LRESULT painted;
    if (SimPaintMessage(window, message, w, l, &painted)) return painted;
    if (message == WM_NCDESTROY) {
        SimSite* site = (SimSite*)GetWindowLongPtrA(window, GWLP_USERDATA);
        if (site) InterlockedCompareExchangePointer((void* volatile*)&site->window, NULL, window);
        InterlockedDecrement(&g_simSiteWindows);
    }
    return DefWindowProcA(window, message, w, l);
}

static LRESULT CALLBACK HelperWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SIM_CREATE) {
        CreateArgs* a = (CreateArgs*)l;
        SimSite* site = a->site;
        /* Created hidden and shown without activation, so the owner's thread
         * is not asked to give up activation while the engine waits here. */
        HWND made = CreateWindowExA(0, kSiteClass, "", a->style & ~WS_VISIBLE, site->position.x, site->position.y,
                                    site->size.cx, site->size.cy, a->parent, NULL, g_simInstance, NULL);
        if (!made) return 0;
        InterlockedIncrement(&g_simSiteWindows);
        SetWindowLongPtrA(made, GWLP_USERDATA, (LONG_PTR)site);
        if (a->style & WS_VISIBLE) ShowWindow(made, SW_SHOWNOACTIVATE);
        return (LRESULT)made;
    }
    if (message == WM_SIM_DESTROY) {
        HWND target = (HWND)w;
        SetWindowLongPtrA(target, GWLP_USERDATA, 0);
        return DestroyWindow(target);
    }
    return DefWindowProcA(window, message, w, l);
}

static BOOL CALLBACK DestroySiteWindow(HWND window, LPARAM unused) {
    char name[64];
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, kSiteClass) == 0) DestroyWindow(window);
    return TRUE;
}

static DWORD WINAPI WindowThreadMain(void* ready) {
    WNDCLASSA helper = {0};
    helper.lpfnWndProc = HelperWindowProc;
    helper.hInstance = g_simInstance;
    helper.lpszClassName = kHelperClass;
    RegisterClassA(&helper);
    WNDCLASSA site = {0};
    site.lpfnWndProc = SiteWindowProc;
    site.hInstance = g_simInstance;
    site.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    site.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    site.lpszClassName = kSiteClass;
    RegisterClassA(&site);
    g_uiHelper = CreateWindowExA(0, kHelperClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, g_simInstance, NULL);
    SetEvent((HANDLE)ready);
    if (g_uiHelper) {
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        EnumThreadWindows(GetCurrentThreadId(), DestroySiteWindow, 0);
        DestroyWindow(g_uiHelper);
    }
    UnregisterClassA(kSiteClass, g_simInstance);
    UnregisterClassA(kHelperClass, g_simInstance);
    return 0;
}

static HWND Helper(void) {
    EnterCriticalSection(&g_uiLock);
    if (!g_uiThread) {
        HANDLE ready = CreateEventA(NULL, TRUE, FALSE, NULL);
        g_uiHelper = NULL;
        g_uiThread = ready ? CreateThread(NULL, 0, WindowThreadMain, ready, 0, &g_uiThreadId) : NULL;
        if (g_uiThread) WaitForSingleObject(ready, UI_START_WAIT_MS);
        if (ready) CloseHandle(ready);
    }
    HWND helper = g_uiHelper;
    LeaveCriticalSection(&g_uiLock);
    return helper;
}

void SimSitesInit(void) { InitializeCriticalSection(&g_uiLock); }

void SimSitesShutdown(void) {
    EnterCriticalSection(&g_uiLock);
    HANDLE thread = g_uiThread;
    DWORD id = g_uiThreadId;
    g_uiThread = NULL;
    LeaveCriticalSection(&g_uiLock);
    if (!thread) return;
    PostThreadMessageA(id, WM_QUIT, 0, 0);
    SimWaitPumping(thread, 10000);
    CloseHandle(thread);
    g_uiHelper = NULL;
}

static void DestroyWindowOf(SimSite* site) {
    HWND window = InterlockedExchangePointer((void* volatile*)&site->window, NULL);
    HWND helper = g_uiHelper;
    if (window && helper) SendMessageA(helper, WM_SIM_DESTROY, (WPARAM)window, 0);
}

/* ---- references shared by the three faces ---------------------------------------------------- */

static SimSite* FromSite(void* f) { return SIM_OBJ(SimSite, vtbl, f); }
static SimSite* FromWindowed(void* f) { return SIM_OBJ(SimSite, windowedVtbl, f); }

static HRESULT Query(SimSite* s, const GUID* iid, void** out) {
    if (!out) return SIM_E_POINTER;
    *out = NULL;
    if (SimSameId(iid, &kIidUnknown) || SimSameId(iid, &kIidSite)) {
        *out = &s->vtbl;
    } else if (SimSameId(iid, &kIidSiteWindowed)) {
        *out = &s->windowedVtbl;
    } else if (SimSameId(iid, &kIidValues)) {
        *out = &s->values;
    } else {
        return SIM_E_NOINTERFACE;
    }
    InterlockedIncrement(&s->refs);
    return SIM_OK;
}

static ULONG AddRefOf(SimSite* s) { return (ULONG)InterlockedIncrement(&s->refs); }

static ULONG ReleaseOf(SimSite* s) {
    LONG left = InterlockedDecrement(&s->refs);
    if (left > 0) return (ULONG)left;
    DestroyWindowOf(s);
    SimPropertiesFree(&s->values.props);
    free(s);
    SimObjectDestroyed(OBJ_SITE);
    return 0;
}

static HRESULT SIMCALL SiteQueryInterface(void* f, const GUID* iid, void** out) { return Query(FromSite(f), iid, out); }
static ULONG SIMCALL SiteAddRef(void* f) { return AddRefOf(FromSite(f)); }
static ULONG SIMCALL SiteRelease(void* f) { return ReleaseOf(FromSite(f)); }
static HRESULT SIMCALL WindowedQueryInterface(void* f, const GUID* iid, void** out) {
    return Query(FromWindowed(f), iid, out);
}
static ULONG SIMCALL WindowedAddRef(void* f) { return AddRefOf(FromWindowed(f)); }
static ULONG SIMCALL WindowedRelease(void* f) { return ReleaseOf(FromWindowed(f)); }

/* ---- IRMASite ------------------------------------------------------------------------------------- */

static HRESULT SIMCALL SiteAttachUser(void* f, void* user) { SimLog("Site.AttachUser"); return SIM_E_NOTIMPL; }
static HRESULT SIMCALL SiteDetachUser(void* f) { SimLog("Site.DetachUser"); return SIM_E_NOTIMPL; }

static HRESULT SIMCALL SiteGetUser(void* f, void** user) {
    SimLog("Site.GetUser");
    if (user) *user = NULL;
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL SiteCreateChild(void* f, void** child) {
    SimLog("Site.CreateChild");
    if (child) *child = NULL;
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL SiteDestroyChild(void* f, void* child) { SimLog("Site.DestroyChild"); return SIM_E_NOTIMPL; }
static HRESULT SIMCALL SiteAttachWatcher(void* f, void* w) { SimLog("Site.AttachWatcher"); return SIM_E_NOTIMPL; }
static HRESULT SIMCALL SiteDetachWatcher(void* f) { SimLog("Site.DetachWatcher"); return SIM_E_NOTIMPL; }

static void Place(SimSite* s) {
    HWND window = s->window;
    s->record.x = (ULONG32)s->position.x;
    s->record.y = (ULONG32)s->position.y;
    s->record.width = (ULONG32)s->size.cx;
    s->record.height = (ULONG32)s->size.cy;
    SimRect clip = {0, 0, s->size.cx, s->size.cy};
    s->record.clip = clip;
    if (window) {
        SetWindowPos(window, NULL, s->position.x, s->position.y, s->size.cx, s->size.cy,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    }
}

static HRESULT SIMCALL SiteSetPosition(void* f, SimPoint position) {
    SimSite* s = FromSite(f);
    SimLog("Site.SetPosition %ld %ld", (long)position.x, (long)position.y);
    s->position = position;
    Place(s);
    return SIM_OK;
}

static HRESULT SIMCALL SiteGetPosition(void* f, SimPoint* position) {
    SimLog("Site.GetPosition");
    if (!position) return SIM_E_POINTER;
    *position = FromSite(f)->position;
    return SIM_OK;
}

static HRESULT SIMCALL SiteSetSize(void* f, SimSize size) {
    SimSite* s = FromSite(f);
    SimLog("Site.SetSize %ld %ld", (long)size.cx, (long)size.cy);
    s->size = size;
    Place(s);
    return SIM_OK;
}

static HRESULT SIMCALL SiteGetSize(void* f, SimSize* size) {
    SimLog("Site.GetSize");
    if (!size) return SIM_E_POINTER;
    *size = FromSite(f)->size;
    return SIM_OK;
}

static HRESULT SIMCALL SiteDamageRect(void* f, SimRect rect) {
    SimLog("Site.DamageRect %ld %ld %ld %ld", (long)rect.left, (long)rect.top, (long)rect.right, (long)rect.bottom);
    return SIM_OK;
}

static HRESULT SIMCALL SiteDamageRegion(void* f, void* region) { SimLog("Site.DamageRegion"); return SIM_OK; }

static HRESULT SIMCALL SiteForceRedraw(void* f) {
    HWND window = FromSite(f)->window;
    SimLog("Site.ForceRedraw");
    if (window) InvalidateRect(window, NULL, TRUE);
    return SIM_OK;
}

static const SiteVtbl kSiteVtbl = {SiteQueryInterface, SiteAddRef,         SiteRelease,       SiteAttachUser,
                                   SiteDetachUser,     SiteGetUser,        SiteCreateChild,   SiteDestroyChild,
                                   SiteAttachWatcher,  SiteDetachWatcher,  SiteSetPosition,   SiteGetPosition,
                                   SiteSetSize,        SiteGetSize,        SiteDamageRect,    SiteDamageRegion,
                                   SiteForceRedraw};

/* ---- IRMASiteWindowed ------------------------------------------------------------------------------ */

static HRESULT SIMCALL WindowedAttachWindow(void* f, SimWindowRecord* window) {
    SimLog("Site.AttachWindow");
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL WindowedDetachWindow(void* f) {
    SimLog("Site.DetachWindow");
    return SIM_E_NOTIMPL;
}

static HRESULT SIMCALL WindowedCreate(void* f, void* parent, UINT32 style) {
    SimSite* s = FromWindowed(f);
    SimLog("Site.Create 0x%lX 0x%08lX", (unsigned long)(ULONG_PTR)parent, (unsigned long)style);
    HRESULT hr = SimFailure(FAIL_SITE_CREATE);
    if (hr != SIM_OK) return hr;
    if (s->window) return SIM_E_UNEXPECTED;
    HWND helper = Helper();
    if (!helper) return SIM_E_FAIL;
    CreateArgs args = {s, (HWND)parent, style};
    HWND made = (HWND)SendMessageA(helper, WM_SIM_CREATE, 0, (LPARAM)&args);
    if (!made) {
        SimLog("Site.Create failed");
        return SIM_E_FAIL;
    }
    s->window = made;
    s->record.window = made;
    Place(s);
    return SIM_OK;
}

static HRESULT SIMCALL WindowedDestroy(void* f) {
    SimSite* s = FromWindowed(f);
    SimLog("Site.Destroy");
    if (s->destroyed) SimCheck("Site.Destroy of a site already destroyed");
    if (s->record.window) InterlockedExchange(&s->destroyed, 1);
    s->record.window = NULL;
    DestroyWindowOf(s);
    return SIM_OK;
}

static SimWindowRecord* SIMCALL WindowedGetWindow(void* f) {
    SimLog("Site.GetWindow");
    return &FromWindowed(f)->record;
}

static const SiteWindowedVtbl kWindowedVtbl = {WindowedQueryInterface, WindowedAddRef,        WindowedRelease,
                                               WindowedAttachWindow,   WindowedDetachWindow,  WindowedCreate,
                                               WindowedDestroy,        WindowedGetWindow};

void* SimSiteNew(void) {
    SimSite* s = calloc(1, sizeof *s);
    if (!s) return NULL;
    s->vtbl = &kSiteVtbl;
    s->windowedVtbl = &kWindowedVtbl;
    SimValuesFaceInit(&s->values, (Unknown*)&s->vtbl);
    s->refs = 1;
    s->size.cx = DEFAULT_WIDTH;
    s->size.cy = DEFAULT_HEIGHT;
    Place(s);
    SimObjectCreated(OBJ_SITE);
    return &s->windowedVtbl;
}
