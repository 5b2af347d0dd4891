// The RealPlayer client engine's interfaces, as the plug-in sees them.
//
// Every interface is COM-style for 32-bit Windows: each method is __stdcall
// with the object pointer first, results are 32-bit signed, AddRef and
// Release return 32-bit unsigned.  Each interface is declared with its whole
// slot list, in slot order, so that every slot the plug-in calls sits where
// the engine expects it, including the ones we never call.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <cstdint>
#include <cstring>

namespace rma {

using HRESULT32 = LONG;
using ULONG32 = std::uint32_t;
using UINT32 = std::uint32_t;
using UINT16 = std::uint16_t;
using UINT8 = std::uint8_t;
using INT32 = std::int32_t;
using BOOL32 = std::int32_t;

#define RMA_METHOD virtual HRESULT STDMETHODCALLTYPE
#define RMA_METHOD_(type) virtual type STDMETHODCALLTYPE

// Ids of the engine's interfaces all read {xxxxxxxx-0901-11D1-8B06-00A024406D59}.
constexpr GUID MakeRmaId(unsigned long first) {
    return GUID{first, 0x0901, 0x11D1, {0x8B, 0x06, 0x00, 0xA0, 0x24, 0x40, 0x6D, 0x59}};
}

inline constexpr GUID IID_Unknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IRMACallback = MakeRmaId(0x00000100);
inline constexpr GUID IID_IRMAScheduler = MakeRmaId(0x00000101);
inline constexpr GUID IID_IRMAInterruptSafe = MakeRmaId(0x0000010B);
inline constexpr GUID IID_IRMAPlayer = MakeRmaId(0x00000402);
inline constexpr GUID IID_IRMAClientEngine = MakeRmaId(0x00000403);
inline constexpr GUID IID_IRMAAudioDevice = MakeRmaId(0x00000703);
inline constexpr GUID IID_IRMAAudioDeviceResponse = MakeRmaId(0x00000704);
inline constexpr GUID IID_IRMAAudioDeviceManager = MakeRmaId(0x0000070A);
inline constexpr GUID IID_IRMAErrorSink = MakeRmaId(0x00000801);
inline constexpr GUID IID_IRMAErrorSinkControl = MakeRmaId(0x00000802);
inline constexpr GUID IID_IRMAClientAdviseSink = MakeRmaId(0x00000B00);
inline constexpr GUID IID_IRMASiteWindowed = MakeRmaId(0x00000D01);
inline constexpr GUID IID_IRMASite = MakeRmaId(0x00000D03);
inline constexpr GUID IID_IRMASiteSupplier = MakeRmaId(0x00000D07);
inline constexpr GUID IID_IRMASiteManager = MakeRmaId(0x00000D08);
inline constexpr GUID IID_IRMACommonClassFactory = MakeRmaId(0x00000000);
inline constexpr GUID IID_IRMABuffer = MakeRmaId(0x00001300);
inline constexpr GUID IID_IRMAValues = MakeRmaId(0x00001302);
inline constexpr GUID IID_IRMAAuthenticationManager = MakeRmaId(0x00001A00);
inline constexpr GUID IID_IRMAAuthenticationManagerResponse = MakeRmaId(0x00001A01);
// The windowed-site class id is the IRMASiteWindowed id.
inline constexpr GUID CLSID_IRMASiteWindowed = IID_IRMASiteWindowed;

inline bool SameId(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Result codes the plug-in produces or tests for.
inline constexpr HRESULT32 kOk = 0;
inline constexpr HRESULT32 kNoInterface = static_cast<HRESULT32>(0x80004002);
inline constexpr HRESULT32 kPointer = static_cast<HRESULT32>(0x80004003);
inline constexpr HRESULT32 kFail = static_cast<HRESULT32>(0x80004005);
inline constexpr HRESULT32 kUnexpected = static_cast<HRESULT32>(0x80040009);
// A Write the device cannot take now: the engine keeps the block and writes
// it first next time.
inline constexpr HRESULT32 kWouldBlock = static_cast<HRESULT32>(0x8004004E);
inline constexpr HRESULT32 kFileNotFound = static_cast<HRESULT32>(0x80040089);
inline constexpr HRESULT32 kNotAuthorized = static_cast<HRESULT32>(0x800400CE);
inline constexpr HRESULT32 kOutOfMemory = static_cast<HRESULT32>(0x8007000E);
inline constexpr HRESULT32 kInvalidArg = static_cast<HRESULT32>(0x80070057);

// Records shared with the engine.  Layouts are fixed by the engine.
#pragma pack(push, 4)
struct AudioFormat {
    UINT16 channels;
    UINT16 bitsPerSample;
    ULONG32 samplesPerSec;
    UINT16 maxBlockSize;
    UINT16 reserved;
};
static_assert(sizeof(AudioFormat) == 12, "engine audio format is 12 bytes");

struct IRMABuffer;
struct AudioData {
    IRMABuffer* data;
    ULONG32 time;
    INT32 streamType;
};
#ifndef _WIN64  // the engine's layout on 32-bit Windows
static_assert(sizeof(AudioData) == 12, "engine audio data is 12 bytes");
#endif

struct Point { INT32 x, y; };
struct Size { INT32 cx, cy; };
struct Rect { INT32 left, top, right, bottom; };
struct WindowRecord {
    void* window;
    ULONG32 x, y, width, height;
    Rect clip;
};
#ifndef _WIN64  // the engine's layout on 32-bit Windows
static_assert(sizeof(WindowRecord) == 36, "window record layout");
#endif

struct Event {
    ULONG32 event;
    void* window;
    void* param1;
    void* param2;
    UINT32 result;
    BOOL32 handled;
};
#ifndef _WIN64  // the engine's layout on 32-bit Windows
static_assert(sizeof(Event) == 24, "event record layout");
#endif

struct Timeval { UINT32 tv_sec, tv_usec; };
#pragma pack(pop)

// All interfaces derive from IUnknown: slots 1 to 3.
struct IRMAClientAdviseSink;
struct IRMAErrorSink;
struct IRMAAudioDeviceResponse;
struct IRMACallback;
struct IRMASite;
struct IRMAValues;
struct IRMAClientEngine;

struct IRMAPlayer : IUnknown {
    RMA_METHOD GetClientEngine(IRMAClientEngine** engine) = 0;                 // 4
    RMA_METHOD_(BOOL32) IsDone() = 0;                                          // 5
    RMA_METHOD_(BOOL32) IsLive() = 0;                                          // 6
    RMA_METHOD_(ULONG32) GetCurrentPlayTime() = 0;                             // 7
    RMA_METHOD OpenURL(const char* url) = 0;                                   // 8
    RMA_METHOD Begin() = 0;                                                    // 9
    RMA_METHOD Stop() = 0;                                                     // 10
    RMA_METHOD Pause() = 0;                                                    // 11
    RMA_METHOD Seek(ULONG32 timeMs) = 0;                                       // 12
    RMA_METHOD_(UINT16) GetSourceCount() = 0;                                  // 13
    RMA_METHOD GetSource(UINT16 index, IUnknown** source) = 0;                 // 14
    RMA_METHOD SetClientContext(IUnknown* context) = 0;                        // 15
    RMA_METHOD GetClientContext(IUnknown** context) = 0;                       // 16
    RMA_METHOD AddAdviseSink(IRMAClientAdviseSink* sink) = 0;                  // 17
    RMA_METHOD RemoveAdviseSink(IRMAClientAdviseSink* sink) = 0;               // 18
};

struct IRMAClientEngine : IUnknown {
    RMA_METHOD CreatePlayer(IRMAPlayer** player) = 0;                          // 4
    RMA_METHOD ClosePlayer(IUnknown* player) = 0;                              // 5
    RMA_METHOD_(UINT16) GetPlayerCount() = 0;                                  // 6
    RMA_METHOD GetPlayer(UINT16 index, IUnknown** player) = 0;                 // 7
    RMA_METHOD EventOccurred(Event* event) = 0;                                // 8
};

struct IRMAAudioDevice : IUnknown {
    RMA_METHOD Open(const AudioFormat* format, IRMAAudioDeviceResponse* response) = 0;  // 4
    RMA_METHOD Close(BOOL32 flush) = 0;                                        // 5
    RMA_METHOD Resume() = 0;                                                   // 6
    RMA_METHOD Pause() = 0;                                                    // 7
    RMA_METHOD Write(const AudioData* data) = 0;                               // 8
    RMA_METHOD_(BOOL32) InitVolume(UINT16 minimum, UINT16 maximum) = 0;        // 9
    RMA_METHOD SetVolume(UINT16 volume) = 0;                                   // 10
    RMA_METHOD_(UINT16) GetVolume() = 0;                                       // 11
    RMA_METHOD Reset() = 0;                                                    // 12
    RMA_METHOD Drain() = 0;                                                    // 13
    RMA_METHOD CheckFormat(const AudioFormat* format) = 0;                     // 14
    RMA_METHOD GetCurrentAudioTime(ULONG32* timeMs) = 0;                       // 15
};

struct IRMAAudioDeviceResponse : IUnknown {
    RMA_METHOD OnTimeSync(ULONG32 timeMs) = 0;                                 // 4
};

struct IRMAAudioDeviceManager : IUnknown {
    RMA_METHOD Replace(IRMAAudioDevice* device) = 0;                           // 4
    RMA_METHOD Remove(IRMAAudioDevice* device) = 0;                            // 5
    RMA_METHOD SetFinalHook(IUnknown* hook) = 0;                               // 6
    RMA_METHOD RemoveFinalHook(IUnknown* hook) = 0;                            // 7
    RMA_METHOD GetAudioFormat(AudioFormat* format) = 0;                        // 8
};

struct IRMAErrorSinkControl : IUnknown {
    RMA_METHOD AddErrorSink(IRMAErrorSink* sink, UINT8 lowSeverity, UINT8 highSeverity) = 0;  // 4
    RMA_METHOD RemoveErrorSink(IRMAErrorSink* sink) = 0;                       // 5
};

struct IRMAErrorSink : IUnknown {
    RMA_METHOD ErrorOccurred(UINT8 severity, ULONG32 code, ULONG32 userCode,
                             const char* userString, const char* moreInfoUrl) = 0;  // 4
};

struct IRMAClientAdviseSink : IUnknown {
    RMA_METHOD OnPosLength(ULONG32 positionMs, ULONG32 lengthMs) = 0;          // 4
    RMA_METHOD OnPresentationOpened() = 0;                                     // 5
    RMA_METHOD OnPresentationClosed() = 0;                                     // 6
    RMA_METHOD OnStatisticsChanged() = 0;                                      // 7
    RMA_METHOD OnPreSeek(ULONG32 oldTimeMs, ULONG32 newTimeMs) = 0;            // 8
    RMA_METHOD OnPostSeek(ULONG32 oldTimeMs, ULONG32 newTimeMs) = 0;           // 9
    RMA_METHOD OnStop() = 0;                                                   // 10
    RMA_METHOD OnPause(ULONG32 timeMs) = 0;                                    // 11
    RMA_METHOD OnBegin(ULONG32 timeMs) = 0;                                    // 12
    RMA_METHOD OnBuffering(ULONG32 flags, UINT16 percentComplete) = 0;         // 13
    RMA_METHOD OnContacting(const char* hostName) = 0;                         // 14
};

struct IRMAAuthenticationManagerResponse : IUnknown {
    RMA_METHOD AuthenticationRequestDone(HRESULT32 result, const char* user,
                                         const char* password) = 0;            // 4
};

struct IRMAAuthenticationManager : IUnknown {
    RMA_METHOD HandleAuthenticationRequest(IRMAAuthenticationManagerResponse* response) = 0;  // 4
};

struct IRMABuffer : IUnknown {
    RMA_METHOD Get(UCHAR** data, ULONG32* length) = 0;                         // 4
    RMA_METHOD Set(const UCHAR* data, ULONG32 length) = 0;                     // 5
    RMA_METHOD SetSize(ULONG32 length) = 0;                                    // 6
    RMA_METHOD_(ULONG32) GetSize() = 0;                                        // 7
    RMA_METHOD_(UCHAR*) GetBuffer() = 0;                                       // 8
};

struct IRMAValues : IUnknown {
    RMA_METHOD SetPropertyULONG32(const char* name, ULONG32 value) = 0;                    // 4
    RMA_METHOD GetPropertyULONG32(const char* name, ULONG32* value) = 0;                   // 5
    RMA_METHOD GetFirstPropertyULONG32(const char** name, ULONG32* value) = 0;             // 6
    RMA_METHOD GetNextPropertyULONG32(const char** name, ULONG32* value) = 0;              // 7
    RMA_METHOD SetPropertyBuffer(const char* name, IRMABuffer* value) = 0;                 // 8
    RMA_METHOD GetPropertyBuffer(const char* name, IRMABuffer** value) = 0;                // 9
    RMA_METHOD GetFirstPropertyBuffer(const char** name, IRMABuffer** value) = 0;          // 10
    RMA_METHOD GetNextPropertyBuffer(const char** name, IRMABuffer** value) = 0;           // 11
    RMA_METHOD SetPropertyCString(const char* name, IRMABuffer* value) = 0;                // 12
    RMA_METHOD GetPropertyCString(const char* name, IRMABuffer** value) = 0;               // 13
    RMA_METHOD GetFirstPropertyCString(const char** name, IRMABuffer** value) = 0;         // 14
    RMA_METHOD GetNextPropertyCString(const char** name, IRMABuffer** value) = 0;          // 15
};

struct IRMACallback : IUnknown {
    RMA_METHOD Func() = 0;                                                     // 4
};

// Asked of every scheduled callback: true lets the engine run it on its
// timer thread as well as on its system thread.
struct IRMAInterruptSafe : IUnknown {
    RMA_METHOD_(BOOL32) IsInterruptSafe() = 0;                                 // 4
};

struct IRMAScheduler : IUnknown {
    RMA_METHOD_(ULONG32) RelativeEnter(IRMACallback* callback, UINT32 delayMs) = 0;  // 4
    RMA_METHOD_(ULONG32) AbsoluteEnter(IRMACallback* callback, Timeval when) = 0;    // 5
    RMA_METHOD Remove(ULONG32 handle) = 0;                                     // 6
    // The engine's compiler returns this 8-byte record through a hidden
    // pointer after `this` and hands the pointer back; declared that way so
    // that no caller can use a by-value form, which GCC would return in
    // EDX:EAX instead.
    RMA_METHOD_(Timeval*) GetCurrentSchedulerTime(Timeval* result) = 0;      // 7
};

struct IRMASiteManager : IUnknown {
    RMA_METHOD AddSite(IRMASite* site) = 0;                                    // 4
    RMA_METHOD RemoveSite(IRMASite* site) = 0;                                 // 5
};

struct IRMACommonClassFactory : IUnknown {
    RMA_METHOD CreateInstance(REFCLSID classId, void** object) = 0;            // 4
    RMA_METHOD CreateInstanceAggregatable(REFCLSID classId, void** object,
                                          IUnknown* outer) = 0;                // 5
};

struct IRMASite : IUnknown {
    RMA_METHOD AttachUser(IUnknown* user) = 0;                                 // 4
    RMA_METHOD DetachUser() = 0;                                               // 5
    RMA_METHOD GetUser(IUnknown** user) = 0;                                   // 6
    RMA_METHOD CreateChild(IRMASite** child) = 0;                              // 7
    RMA_METHOD DestroyChild(IRMASite* child) = 0;                              // 8
    RMA_METHOD AttachWatcher(IUnknown* watcher) = 0;                           // 9
    RMA_METHOD DetachWatcher() = 0;                                            // 10
    RMA_METHOD SetPosition(Point position) = 0;                                // 11
    RMA_METHOD GetPosition(Point* position) = 0;                               // 12
    RMA_METHOD SetSize(Size size) = 0;                                         // 13
    RMA_METHOD GetSize(Size* size) = 0;                                        // 14
    RMA_METHOD DamageRect(Rect rect) = 0;                                      // 15
    RMA_METHOD DamageRegion(void* region) = 0;                                 // 16
    RMA_METHOD ForceRedraw() = 0;                                              // 17
};

struct IRMASiteWindowed : IUnknown {
    RMA_METHOD AttachWindow(WindowRecord* window) = 0;                         // 4
    RMA_METHOD DetachWindow() = 0;                                             // 5
    RMA_METHOD Create(void* parentWindow, UINT32 style) = 0;                   // 6
    RMA_METHOD Destroy() = 0;                                                  // 7
    RMA_METHOD_(WindowRecord*) GetWindow() = 0;                                // 8
};

struct IRMASiteSupplier : IUnknown {
    RMA_METHOD SitesNeeded(UINT32 requestId, IRMAValues* siteProperties) = 0;  // 4
    RMA_METHOD SitesNotNeeded(UINT32 requestId) = 0;                           // 5
    RMA_METHOD BeginChangeLayout() = 0;                                        // 6
    RMA_METHOD DoneChangeLayout() = 0;                                         // 7
};

// The engine library's two exports, looked up by these plain names.
using CreateEngineFn = HRESULT32(STDMETHODCALLTYPE*)(IRMAClientEngine** engine);
using CloseEngineFn = HRESULT32(STDMETHODCALLTYPE*)(IRMAClientEngine* engine);

// The id each interface answers to, for objects that list their interfaces
// as template arguments.  An interface without its id here does not
// compile: it would otherwise answer to IUnknown's id alone.
template <class Interface> struct InterfaceIdOf;
template <class Interface> inline constexpr const GUID& InterfaceId = InterfaceIdOf<Interface>::value;
#define RMA_INTERFACE_ID(Interface, id) \
    template <> struct InterfaceIdOf<Interface> { static constexpr const GUID& value = id; }
RMA_INTERFACE_ID(IUnknown, IID_Unknown);
RMA_INTERFACE_ID(IRMACallback, IID_IRMACallback);
RMA_INTERFACE_ID(IRMAInterruptSafe, IID_IRMAInterruptSafe);
RMA_INTERFACE_ID(IRMAAudioDevice, IID_IRMAAudioDevice);
RMA_INTERFACE_ID(IRMAErrorSink, IID_IRMAErrorSink);
RMA_INTERFACE_ID(IRMAClientAdviseSink, IID_IRMAClientAdviseSink);
RMA_INTERFACE_ID(IRMASiteSupplier, IID_IRMASiteSupplier);
RMA_INTERFACE_ID(IRMAAuthenticationManager, IID_IRMAAuthenticationManager);

#undef RMA_INTERFACE_ID

}  // namespace rma
