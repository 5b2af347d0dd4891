// The host's published plug-in records: the input module record that the
// plug-in exports and the output module record that the host hands it.
// Every operation on either side is cdecl.
#pragma once

#include <windows.h>

namespace winamp {

// Version 0x100: the host reads `description` as 8-bit text.  (0x101 would
// make it wide text.)
constexpr int kInModuleVersion = 0x100;

// Messages the host answers by calling the plug-in's Stop.
constexpr UINT kEndOfFileMessage = WM_USER + 2;  // 1026
constexpr WPARAM kStopCommand = 40047;           // WM_COMMAND id
// Output module SetVolume value meaning "apply the current volume".
constexpr int kApplyCurrentVolume = -666;

struct Out_Module {
    int version;
    char* description;
    int id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void(__cdecl* Config)(HWND parent);
    void(__cdecl* About)(HWND parent);
    void(__cdecl* Init)();
    void(__cdecl* Quit)();
    // Returns the latency in ms; negative means refused.
    int(__cdecl* Open)(int sampleRate, int channels, int bitsPerSample, int bufferLenMs, int preBufferMs);
    void(__cdecl* Close)();
    // Returns 0 when taken; at most 8192 bytes at a time.
    int(__cdecl* Write)(char* data, int length);
    int(__cdecl* CanWrite)();
    int(__cdecl* IsPlaying)();
    int(__cdecl* Pause)(int pause);
    void(__cdecl* SetVolume)(int volume);
    void(__cdecl* SetPan)(int pan);
    void(__cdecl* Flush)(int timeMs);
    int(__cdecl* GetOutputTime)();
    int(__cdecl* GetWrittenTime)();
};
#ifndef _WIN64  // the host's layout on 32-bit Windows
static_assert(sizeof(Out_Module) == 20 * 4, "Out_Module is twenty 32-bit fields");
#endif

struct In_Module {
    int version;                      // record layout version, 0x100
    char* description;                // shown in the host's plug-in list
    HWND hMainWindow;                 // written by the host
    HINSTANCE hDllInstance;           // written by the host
    char* FileExtensions;             // extension list / description pairs
    int is_seekable;                  // 1
    int UsesOutputPlug;               // 1: audio always goes through outMod
    void(__cdecl* Config)(HWND parent);
    void(__cdecl* About)(HWND parent);
    void(__cdecl* Init)();
    void(__cdecl* Quit)();
    void(__cdecl* GetFileInfo)(char* file, char* title, int* lengthMs);
    int(__cdecl* InfoBox)(char* file, HWND parent);
    int(__cdecl* IsOurFile)(char* file);
    int(__cdecl* Play)(char* file);   // 0 started, 1 failed
    void(__cdecl* Pause)();
    void(__cdecl* UnPause)();
    int(__cdecl* IsPaused)();
    void(__cdecl* Stop)();
    int(__cdecl* GetLength)();
    int(__cdecl* GetOutputTime)();
    void(__cdecl* SetOutputTime)(int timeMs);
    void(__cdecl* SetVolume)(int volume);
    void(__cdecl* SetPan)(int pan);
    // Host callbacks, written by the host before Init.
    void(__cdecl* SAVSAInit)(int latencyMs, int sampleRate);
    void(__cdecl* SAVSADeInit)();
    void(__cdecl* SAAddPCMData)(void* data, int channels, int bitsPerSample, int timeMs);
    int(__cdecl* SAGetMode)();
    void(__cdecl* SAAdd)(void* data, int timeMs, int type);
    void(__cdecl* VSAAddPCMData)(void* data, int channels, int bitsPerSample, int timeMs);
    int(__cdecl* VSAGetMode)(int* specNch, int* waveNch);
    void(__cdecl* VSAAdd)(void* data, int timeMs);
    void(__cdecl* VSASetInfo)(int sampleRate, int channels);
    int(__cdecl* dsp_isactive)();
    int(__cdecl* dsp_dosamples)(short* samples, int numSamples, int bitsPerSample, int channels, int sampleRate);
    void(__cdecl* EQSet)(int on, char data[10], int preamp);
    void(__cdecl* SetInfo)(int bitrate, int sampleRateKhz, int channels, int synched);
    Out_Module* outMod;               // written by the host
};
#ifndef _WIN64  // the host's layout on 32-bit Windows
static_assert(sizeof(In_Module) == 38 * 4, "In_Module is thirty-eight 32-bit fields");
#endif

}  // namespace winamp
