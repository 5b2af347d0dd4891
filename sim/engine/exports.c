/* The library's exports: CreateEngine and CloseEngine as the real engine
 * has them, and the control exports for tests and hostsim (the others are
 * in control.c). */
#include "engine.h"

int SIMCALL SimEngineControl(const char* commands);

HRESULT SIMCALL CreateEngine(void** out) {
    SimLog("CreateEngine");
    return SimEngineCreate(out);
}

HRESULT SIMCALL CloseEngine(void* face) {
    SimLog("CloseEngine");
    return SimEngineClose(face);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        SimRuntimeInit(instance);
        SimEngineInit();
        SimSitesInit();
        char script[4096];
        DWORD n = GetEnvironmentVariableA("SIMENGINE_SCRIPT", script, sizeof script);
        if (n > 0 && n < sizeof script) SimEngineControl(script);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        SimRuntimeUnload();
    }
    return TRUE;
}
