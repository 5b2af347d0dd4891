/* The engine's records, interface ids and interface tables, C-style.
 *
 * Everything here is declared afresh from the engine's published slot lists,
 * so that the plug-in's C++ layout is checked against an independent
 * description.  Every method is __stdcall with the object pointer first;
 * AddRef and Release return 32-bit unsigned counts.  Interface pointers
 * handed out are addresses of a vtable-pointer field inside the object
 * ("face"); SIM_OBJ turns a face back into its object.  The leaf of the
 * stand-in: it includes nothing of the stand-in's own. */
#ifndef SIM_ENGINE_ABI_H
#define SIM_ENGINE_ABI_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#define SIMCALL __stdcall
#define SIM_OBJ(type, field, face) ((type*)((char*)(face) - offsetof(type, field)))

/* Result codes used by the stand-in. */
#define SIM_OK ((HRESULT)0)
#define SIM_E_NOTIMPL ((HRESULT)0x80004001)
#define SIM_E_NOINTERFACE ((HRESULT)0x80004002)
#define SIM_E_POINTER ((HRESULT)0x80004003)
#define SIM_E_FAIL ((HRESULT)0x80004005)
#define SIM_E_UNEXPECTED ((HRESULT)0x80040009)
#define SIM_E_WOULD_BLOCK ((HRESULT)0x8004004E)
#define SIM_E_FILE_NOT_FOUND ((HRESULT)0x80040089)
#define SIM_E_NOT_AUTHORIZED ((HRESULT)0x800400CE)
#define SIM_E_CLASSNOTREG ((HRESULT)0x80040154)
#define SIM_E_INVALIDARG ((HRESULT)0x80070057)

/* ---- records ------------------------------------------------------------ */
#pragma pack(push, 4)
typedef struct SimAudioFormat {
    UINT16 channels;
    UINT16 bitsPerSample;
    UINT32 samplesPerSec;
    UINT16 maxBlockSize;
    UINT16 reserved;
} SimAudioFormat;

typedef struct SimAudioData {
    void* buffer; /* IRMABuffer */
    ULONG32 time;
    INT32 streamType;
} SimAudioData;

typedef struct SimPoint { INT32 x, y; } SimPoint;
typedef struct SimSize { INT32 cx, cy; } SimSize;
typedef struct SimRect { INT32 left, top, right, bottom; } SimRect;

typedef struct SimWindowRecord {
    void* window;
    ULONG32 x, y, width, height;
    SimRect clip;
} SimWindowRecord;

typedef struct SimEvent {
    ULONG32 event;
    void* window;
    void* param1;
    void* param2;
    UINT32 result;
    BOOL handled;
} SimEvent;

typedef struct SimTimeval { UINT32 sec, usec; } SimTimeval;
#pragma pack(pop)

_Static_assert(sizeof(SimAudioFormat) == 12, "audio format is 12 bytes");
#ifndef _WIN64  /* the engine's records as laid out on 32-bit Windows */
_Static_assert(sizeof(SimAudioData) == 12, "audio data is 12 bytes");
_Static_assert(sizeof(SimWindowRecord) == 36, "window record is 36 bytes");
_Static_assert(sizeof(SimEvent) == 24, "event record is 24 bytes");
#endif

/* ---- interface ids ------------------------------------------------------- */
/* Engine ids read {xxxxxxxx-0901-11D1-8B06-00A024406D59}. */
#define SIM_RMA_ID(first) {first, 0x0901, 0x11D1, {0x8B, 0x06, 0x00, 0xA0, 0x24, 0x40, 0x6D, 0x59}}
extern const GUID kIidUnknown;
extern const GUID kIidCallback;           /* 00000100 */
extern const GUID kIidInterruptSafe;      /* 0000010B */
extern const GUID kIidScheduler;          /* 00000101 */
extern const GUID kIidPlayer;             /* 00000402 */
extern const GUID kIidClientEngine;       /* 00000403 */
extern const GUID kIidAudioDevice;        /* 00000703 */
extern const GUID kIidAudioResponse;      /* 00000704 */
extern const GUID kIidAudioDeviceManager; /* 0000070A */
extern const GUID kIidErrorSink;          /* 00000801 */
extern const GUID kIidErrorSinkControl;   /* 00000802 */
extern const GUID kIidAdviseSink;         /* 00000B00 */
extern const GUID kIidSiteWindowed;       /* 00000D01, also the site class id */
extern const GUID kIidSite;               /* 00000D03 */
extern const GUID kIidSiteSupplier;       /* 00000D07 */
extern const GUID kIidSiteManager;        /* 00000D08 */
extern const GUID kIidClassFactory;       /* 00000000 */
extern const GUID kIidBuffer;             /* 00001300 */
extern const GUID kIidValues;             /* 00001302 */
extern const GUID kIidAuthManager;        /* 00001A00 */
extern const GUID kIidAuthResponse;       /* 00001A01 */

int SimSameId(const GUID* a, const GUID* b);

/* ---- interface tables ----------------------------------------------------- */
#define SIM_UNKNOWN_SLOTS                                                       \
    HRESULT(SIMCALL* QueryInterface)(void* self, const GUID* iid, void** out); \
    ULONG(SIMCALL* AddRef)(void* self);                                        \
    ULONG(SIMCALL* Release)(void* self)

typedef struct UnknownVtbl { SIM_UNKNOWN_SLOTS; } UnknownVtbl;
/* Any interface pointer, seen through its first three slots. */
typedef struct Unknown { const UnknownVtbl* vtbl; } Unknown;

typedef struct ClientEngineVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* CreatePlayer)(void* self, void** player);
    HRESULT(SIMCALL* ClosePlayer)(void* self, void* player);
    UINT16(SIMCALL* GetPlayerCount)(void* self);
    HRESULT(SIMCALL* GetPlayer)(void* self, UINT16 index, void** player);
    HRESULT(SIMCALL* EventOccurred)(void* self, SimEvent* event);
} ClientEngineVtbl;

typedef struct AudioDeviceManagerVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* Replace)(void* self, void* device);
    HRESULT(SIMCALL* Remove)(void* self, void* device);
    HRESULT(SIMCALL* SetFinalHook)(void* self, void* hook);
    HRESULT(SIMCALL* RemoveFinalHook)(void* self, void* hook);
    HRESULT(SIMCALL* GetAudioFormat)(void* self, SimAudioFormat* format);
} AudioDeviceManagerVtbl;

typedef struct PlayerVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* GetClientEngine)(void* self, void** engine);       /* 4 */
    BOOL(SIMCALL* IsDone)(void* self);                                  /* 5 */
    BOOL(SIMCALL* IsLive)(void* self);                                  /* 6 */
    ULONG32(SIMCALL* GetCurrentPlayTime)(void* self);                   /* 7 */
    HRESULT(SIMCALL* OpenURL)(void* self, const char* url);             /* 8 */
    HRESULT(SIMCALL* Begin)(void* self);                                /* 9 */
    HRESULT(SIMCALL* Stop)(void* self);                                 /* 10 */
    HRESULT(SIMCALL* Pause)(void* self);                                /* 11 */
    HRESULT(SIMCALL* Seek)(void* self, ULONG32 timeMs);                 /* 12 */
    UINT16(SIMCALL* GetSourceCount)(void* self);                        /* 13 */
    HRESULT(SIMCALL* GetSource)(void* self, UINT16 index, void** src);  /* 14 */
    HRESULT(SIMCALL* SetClientContext)(void* self, void* context);      /* 15 */
    HRESULT(SIMCALL* GetClientContext)(void* self, void** context);     /* 16 */
    HRESULT(SIMCALL* AddAdviseSink)(void* self, void* sink);            /* 17 */
    HRESULT(SIMCALL* RemoveAdviseSink)(void* self, void* sink);         /* 18 */
} PlayerVtbl;

typedef struct ErrorSinkControlVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* AddErrorSink)(void* self, void* sink, UINT8 low, UINT8 high);
    HRESULT(SIMCALL* RemoveErrorSink)(void* self, void* sink);
} ErrorSinkControlVtbl;

typedef struct SchedulerVtbl {
    SIM_UNKNOWN_SLOTS;
    ULONG32(SIMCALL* RelativeEnter)(void* self, void* callback, UINT32 delayMs);
    ULONG32(SIMCALL* AbsoluteEnter)(void* self, void* callback, SimTimeval when);
    HRESULT(SIMCALL* Remove)(void* self, ULONG32 handle);
    SimTimeval*(SIMCALL* GetCurrentSchedulerTime)(void* self, SimTimeval* result);
} SchedulerVtbl;

typedef struct SiteManagerVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* AddSite)(void* self, void* site);
    HRESULT(SIMCALL* RemoveSite)(void* self, void* site);
} SiteManagerVtbl;

typedef struct ClassFactoryVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* CreateInstance)(void* self, const GUID* classId, void** out);
    HRESULT(SIMCALL* CreateInstanceAggregatable)(void* self, const GUID* classId, void** out, void* outer);
} ClassFactoryVtbl;

typedef struct SiteVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* AttachUser)(void* self, void* user);
    HRESULT(SIMCALL* DetachUser)(void* self);
    HRESULT(SIMCALL* GetUser)(void* self, void** user);
    HRESULT(SIMCALL* CreateChild)(void* self, void** child);
    HRESULT(SIMCALL* DestroyChild)(void* self, void* child);
    HRESULT(SIMCALL* AttachWatcher)(void* self, void* watcher);
    HRESULT(SIMCALL* DetachWatcher)(void* self);
    HRESULT(SIMCALL* SetPosition)(void* self, SimPoint position);
    HRESULT(SIMCALL* GetPosition)(void* self, SimPoint* position);
    HRESULT(SIMCALL* SetSize)(void* self, SimSize size);
    HRESULT(SIMCALL* GetSize)(void* self, SimSize* size);
    HRESULT(SIMCALL* DamageRect)(void* self, SimRect rect);
    HRESULT(SIMCALL* DamageRegion)(void* self, void* region);
    HRESULT(SIMCALL* ForceRedraw)(void* self);
} SiteVtbl;

typedef struct SiteWindowedVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* AttachWindow)(void* self, SimWindowRecord* window);
    HRESULT(SIMCALL* DetachWindow)(void* self);
    HRESULT(SIMCALL* Create)(void* self, void* parent, UINT32 style);
    HRESULT(SIMCALL* Destroy)(void* self);
    SimWindowRecord*(SIMCALL* GetWindow)(void* self);
} SiteWindowedVtbl;

typedef struct ValuesVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* SetPropertyULONG32)(void* self, const char* name, ULONG32 value);
    HRESULT(SIMCALL* GetPropertyULONG32)(void* self, const char* name, ULONG32* value);
    HRESULT(SIMCALL* GetFirstPropertyULONG32)(void* self, const char** name, ULONG32* value);
    HRESULT(SIMCALL* GetNextPropertyULONG32)(void* self, const char** name, ULONG32* value);
    HRESULT(SIMCALL* SetPropertyBuffer)(void* self, const char* name, void* value);
    HRESULT(SIMCALL* GetPropertyBuffer)(void* self, const char* name, void** value);
    HRESULT(SIMCALL* GetFirstPropertyBuffer)(void* self, const char** name, void** value);
    HRESULT(SIMCALL* GetNextPropertyBuffer)(void* self, const char** name, void** value);
    HRESULT(SIMCALL* SetPropertyCString)(void* self, const char* name, void* value);
    HRESULT(SIMCALL* GetPropertyCString)(void* self, const char* name, void** value);
    HRESULT(SIMCALL* GetFirstPropertyCString)(void* self, const char** name, void** value);
    HRESULT(SIMCALL* GetNextPropertyCString)(void* self, const char** name, void** value);
} ValuesVtbl;

typedef struct BufferVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* Get)(void* self, UCHAR** data, ULONG32* length);
    HRESULT(SIMCALL* Set)(void* self, const UCHAR* data, ULONG32 length);
    HRESULT(SIMCALL* SetSize)(void* self, ULONG32 length);
    ULONG32(SIMCALL* GetSize)(void* self);
    UCHAR*(SIMCALL* GetBuffer)(void* self);
} BufferVtbl;

typedef struct AudioResponseVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* OnTimeSync)(void* self, ULONG32 timeMs);
} AudioResponseVtbl;

typedef struct AuthResponseVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* AuthenticationRequestDone)(void* self, HRESULT result, const char* user, const char* password);
} AuthResponseVtbl;

/* The client's interfaces that the engine calls. */
typedef struct AudioDeviceVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* Open)(void* self, const SimAudioFormat* format, void* response);
    HRESULT(SIMCALL* Close)(void* self, BOOL flush);
    HRESULT(SIMCALL* Resume)(void* self);
    HRESULT(SIMCALL* Pause)(void* self);
    HRESULT(SIMCALL* Write)(void* self, const SimAudioData* data);
    BOOL(SIMCALL* InitVolume)(void* self, UINT16 minimum, UINT16 maximum);
    HRESULT(SIMCALL* SetVolume)(void* self, UINT16 volume);
    UINT16(SIMCALL* GetVolume)(void* self);
    HRESULT(SIMCALL* Reset)(void* self);
    HRESULT(SIMCALL* Drain)(void* self);
    HRESULT(SIMCALL* CheckFormat)(void* self, const SimAudioFormat* format);
    HRESULT(SIMCALL* GetCurrentAudioTime)(void* self, ULONG32* timeMs);
} AudioDeviceVtbl;

typedef struct CallbackVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* Func)(void* self);
} CallbackVtbl;

typedef struct InterruptSafeVtbl {
    SIM_UNKNOWN_SLOTS;
    BOOL(SIMCALL* IsInterruptSafe)(void* self);
} InterruptSafeVtbl;

typedef struct AdviseSinkVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* OnPosLength)(void* self, ULONG32 positionMs, ULONG32 lengthMs);
    HRESULT(SIMCALL* OnPresentationOpened)(void* self);
    HRESULT(SIMCALL* OnPresentationClosed)(void* self);
    HRESULT(SIMCALL* OnStatisticsChanged)(void* self);
    HRESULT(SIMCALL* OnPreSeek)(void* self, ULONG32 oldMs, ULONG32 newMs);
    HRESULT(SIMCALL* OnPostSeek)(void* self, ULONG32 oldMs, ULONG32 newMs);
    HRESULT(SIMCALL* OnStop)(void* self);
    HRESULT(SIMCALL* OnPause)(void* self, ULONG32 timeMs);
    HRESULT(SIMCALL* OnBegin)(void* self, ULONG32 timeMs);
    HRESULT(SIMCALL* OnBuffering)(void* self, ULONG32 flags, UINT16 percent);
    HRESULT(SIMCALL* OnContacting)(void* self, const char* hostName);
} AdviseSinkVtbl;

typedef struct ErrorSinkVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* ErrorOccurred)(void* self, UINT8 severity, ULONG32 code, ULONG32 userCode,
                                    const char* userString, const char* moreInfoUrl);
} ErrorSinkVtbl;

typedef struct AuthManagerVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* HandleAuthenticationRequest)(void* self, void* response);
} AuthManagerVtbl;

typedef struct SiteSupplierVtbl {
    SIM_UNKNOWN_SLOTS;
    HRESULT(SIMCALL* SitesNeeded)(void* self, UINT32 requestId, void* siteProperties);
    HRESULT(SIMCALL* SitesNotNeeded)(void* self, UINT32 requestId);
    HRESULT(SIMCALL* BeginChangeLayout)(void* self);
    HRESULT(SIMCALL* DoneChangeLayout)(void* self);
} SiteSupplierVtbl;

/* Typed views of a client's interface pointer. */
#define SIM_VTBL(type, p) (*(const type* const*)(p))

#endif
