/* The moving test picture of a site window (see paint.h). */
#include "paint.h"

#define FRAME_TIMER 0x5EE0
#define FRAME_MS 50
#define STEP 4 /* pixels the bars move to the right each frame */
static const char kPhaseProperty[] = "SimPaintPhase";

/* The seven bars of the usual video test picture, left to right. */
static const COLORREF kBars[] = {RGB(192, 192, 192), RGB(192, 192, 0), RGB(0, 192, 192), RGB(0, 192, 0),
                                 RGB(192, 0, 192),   RGB(192, 0, 0),   RGB(0, 0, 192)};
#define BAR_COUNT ((int)(sizeof kBars / sizeof kBars[0]))

static void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    if (!brush) return;
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

/* Draws the frame of `phase` over a client area of width x height. */
static void Frame(HDC dc, int width, int height, unsigned phase) {
    if (width <= 0 || height <= 0) return;
    /* The bars fill the upper three quarters and wrap around as they move. */
    const int barsBottom = height * 3 / 4;
    const int shift = (int)((phase * STEP) % (unsigned)width);
    for (int copy = -1; copy <= 0; ++copy) {
        for (int i = 0; i < BAR_COUNT; ++i) {
            const int left = i * width / BAR_COUNT + shift + copy * width;
            const int right = (i + 1) * width / BAR_COUNT + shift + copy * width;
            if (right > 0 && left < width) Fill(dc, left, 0, right, barsBottom, kBars[i]);
        }
    }
    /* Below them a white block crosses a black strip once a second or so,
     * and the frame number stands in the corner. */
    Fill(dc, 0, barsBottom, width, height, RGB(16, 16, 16));
    const int block = height / 8 > 4 ? height / 8 : 4;
    const int travel = width - block > 1 ? width - block : 1;
    const int x = (int)((phase * STEP * 2) % (unsigned)(2 * travel));
    const int at = x < travel ? x : 2 * travel - x;
    const int top = barsBottom + (height - barsBottom - block) / 2;
    Fill(dc, at, top, at + block, top + block, RGB(255, 255, 255));
    char text[32];
    const int length = wsprintfA(text, "frame %u", phase);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 4, barsBottom + 2, text, length);
}

static unsigned Phase(HWND window) { return (unsigned)(ULONG_PTR)GetPropA(window, kPhaseProperty); }

static void PaintClient(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right - client.left, height = client.bottom - client.top;
    /* Drawn off screen first, so a frame never shows half drawn. */
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, width, height) : NULL;
    if (!bitmap) {
        if (memory) DeleteDC(memory);
        Frame(dc, width, height, Phase(window));
        return;
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    Frame(memory, width, height, Phase(window));
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

BOOL SimPaintMessage(HWND window, UINT message, WPARAM w, LPARAM l, LRESULT* result) {
    (void)l;
    switch (message) {
    case WM_CREATE:
        SetPropA(window, kPhaseProperty, (HANDLE)0);
        SetTimer(window, FRAME_TIMER, FRAME_MS, NULL);
        return FALSE;
    case WM_TIMER:
        if (w != FRAME_TIMER) return FALSE;
        SetPropA(window, kPhaseProperty, (HANDLE)(ULONG_PTR)(Phase(window) + 1));
        InvalidateRect(window, NULL, FALSE);
        *result = 0;
        return TRUE;
    case WM_ERASEBKGND:
        /* Every pixel is painted; erasing first would only flicker. */
        *result = 1;
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (dc) PaintClient(window, dc);
        EndPaint(window, &ps);
        *result = 0;
        return TRUE;
    }
    case WM_PRINTCLIENT:
        PaintClient(window, (HDC)w);
        *result = 0;
        return TRUE;
    case WM_DESTROY:
        KillTimer(window, FRAME_TIMER);
        RemovePropA(window, kPhaseProperty);
        return FALSE;
    default:
        return FALSE;
    }
}
