/* The picture in a site window: colour bars that move with the window's own
 * timer, drawn on the thread that owns the window.  The phase comes from
 * that timer alone, so the picture needs nothing of the presentation. */
#ifndef SIM_ENGINE_PAINT_H
#define SIM_ENGINE_PAINT_H

#include <windows.h>

/* Offered every message of a site window before anything else: starts the
 * frame timer at WM_CREATE, advances the phase at each tick and paints.
 * TRUE when the message is fully handled, its result in *result; FALSE
 * when the window's procedure should go on with it. */
BOOL SimPaintMessage(HWND window, UINT message, WPARAM w, LPARAM l, LRESULT* result);

#endif
