/* Windowed sites (IRMASite, IRMASiteWindowed and their own IRMAValues) and
 * the window thread that creates and destroys every site window. */
#ifndef SIM_ENGINE_SITE_H
#define SIM_ENGINE_SITE_H

#include "objects.h"

void SimSitesInit(void);
void* SimSiteNew(void);
/* Destroys every site window still standing and ends the window thread. */
void SimSitesShutdown(void);

#endif
