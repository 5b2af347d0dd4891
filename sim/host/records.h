// The host's side of the published plug-in records, declared here on their
// own (not shared with the plug-in's headers) so that hostsim checks the
// plug-in's layout independently.  Every field is one 32-bit word; every
// operation and callback is cdecl.
#pragma once

#include <windows.h>

#define HOST_CB __cdecl

enum {
    kInModuleVersion = 0x100,
    kEndOfFileMessage = WM_USER + 2,  // 1026
    kStopCommand = 40047,             // WM_COMMAND id
    kMaxWriteBytes = 8192,
};

struct OutModule {
    int version;
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void(HOST_CB* Config)(HWND parent);
    void(HOST_CB* About)(HWND parent);
    void(HOST_CB* Init)(void);
    void(HOST_CB* Quit)(void);
    int(HOST_CB* Open)(int sampleRate, int channels, int bitsPerSample, int bufferLenMs, int preBufferMs);
    void(HOST_CB* Close)(void);
    int(HOST_CB* Write)(char* data, int length);
    int(HOST_CB* CanWrite)(void);
    int(HOST_CB* IsPlaying)(void);
    int(HOST_CB* Pause)(int pause);
    void(HOST_CB* SetVolume)(int volume);
    void(HOST_CB* SetPan)(int pan);
    void(HOST_CB* Flush)(int timeMs);
    int(HOST_CB* GetOutputTime)(void);
    int(HOST_CB* GetWrittenTime)(void);
};

struct InModule {
    int version;
    char* description;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void(HOST_CB* Config)(HWND parent);
    void(HOST_CB* About)(HWND parent);
    void(HOST_CB* Init)(void);
    void(HOST_CB* Quit)(void);
    void(HOST_CB* GetFileInfo)(char* file, char* title, int* lengthMs);
    int(HOST_CB* InfoBox)(char* file, HWND parent);
    int(HOST_CB* IsOurFile)(char* file);
    int(HOST_CB* Play)(char* file);
    void(HOST_CB* Pause)(void);
    void(HOST_CB* UnPause)(void);
    int(HOST_CB* IsPaused)(void);
    void(HOST_CB* Stop)(void);
    int(HOST_CB* GetLength)(void);
    int(HOST_CB* GetOutputTime)(void);
    void(HOST_CB* SetOutputTime)(int timeMs);
    void(HOST_CB* SetVolume)(int volume);
    void(HOST_CB* SetPan)(int pan);
    void(HOST_CB* SAVSAInit)(int latencyMs, int sampleRate);
    void(HOST_CB* SAVSADeInit)(void);
    void(HOST_CB* SAAddPCMData)(void* data, int channels, int bitsPerSample, int timeMs);
    int(HOST_CB* SAGetMode)(void);
    void(HOST_CB* SAAdd)(void* data, int timeMs, int type);
    void(HOST_CB* VSAAddPCMData)(void* data, int channels, int bitsPerSample, int timeMs);
    int(HOST_CB* VSAGetMode)(int* specNch, int* waveNch);
    void(HOST_CB* VSAAdd)(void* data, int timeMs);
    void(HOST_CB* VSASetInfo)(int sampleRate, int channels);
    int(HOST_CB* dsp_isactive)(void);
    int(HOST_CB* dsp_dosamples)(short* samples, int numSamples, int bitsPerSample, int channels, int sampleRate);
    void(HOST_CB* EQSet)(int on, char data[10], int preamp);
    void(HOST_CB* SetInfo)(int bitrate, int sampleRateKhz, int channels, int synched);
    OutModule* outMod;
};

#ifndef _WIN64  /* the host's records as laid out on 32-bit Windows */
static_assert(sizeof(OutModule) == 20 * 4, "Out_Module is twenty 32-bit fields");
static_assert(sizeof(InModule) == 38 * 4, "In_Module is thirty-eight 32-bit fields");
static_assert(offsetof(InModule, SAVSAInit) == 24 * 4, "host callbacks start at field 25");
static_assert(offsetof(InModule, outMod) == 37 * 4, "outMod is field 38");
#endif

typedef InModule*(HOST_CB* GetInModuleFn)(void);
