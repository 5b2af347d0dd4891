// The DLL's face: its entry point and its one export.
#include <windows.h>

#include "core/host_module.h"

namespace plugin {

// Start-up work is done in Init and shutdown work in Quit, never here.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" __declspec(dllexport) winamp::In_Module* __cdecl winampGetInModule2() { return &core::g_module; }

}  // namespace plugin
