/* The engine: IRMAClientEngine with its audio device manager.  The first
 * engine created makes its creator's thread the system thread; closing the
 * last ends the engine's threads, so that the library may be unloaded. */
#ifndef SIM_ENGINE_ENGINE_H
#define SIM_ENGINE_ENGINE_H

#include "player.h"

void SimEngineInit(void);
HRESULT SimEngineCreate(void** engine);
HRESULT SimEngineClose(void* engine);

#endif
