#include "ui/status_window.h"

#include <windows.h>

#include "core/playback_state.h"

namespace ui {

using core::g_module;
using core::g_state;

namespace {

constexpr DWORD kStatusStyle = WS_VISIBLE | WS_CAPTION;  // 0x10C00000
constexpr int kStatusWidth = 300;
constexpr char kVideoCaption[] = "Video Window";

}  // namespace

void ShowStatusText(const char* text) noexcept {
    if (!text) text = "";
    HWND video = g_state.videoWindow;
    if (SetWindowTextA(video, text) && IsWindowVisible(video)) return;
    if (g_state.quietStatus) return;

    HWND host = g_module.hMainWindow;
    RECT hostRect{};
    GetWindowRect(host, &hostRect);
    const int x = hostRect.right;
    const int y = hostRect.top;

    HWND status = g_state.statusWindow;
    // The window dies with the thread that created it; a handle that names
    // no window any more must not stop every later caption from showing.
    if (status && !IsWindow(status)) status = nullptr;
    if (status) {
        SetWindowTextA(status, text);
    } else {
        // Made hidden and shown below without activation: a window made
        // visible is activated.
        status = CreateWindowExA(0, "STATIC", text, kStatusStyle & ~WS_VISIBLE, x, y, kStatusWidth, 0, host,
                                 nullptr, g_module.hDllInstance, nullptr);
        g_state.statusWindow = status;
    }
    if (!status) return;
    // Shown without taking activation: the engine reports on the host's own
    // thread, and a caption must not take the keyboard from the user's window
    // (under Wine, activating it held the host's thread for two seconds).
    SetWindowPos(status, host, x, y, kStatusWidth, 0, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    ShowWindow(status, SW_SHOWNOACTIVATE);
}

void DestroyStatusWindow() noexcept {
    HWND status = g_state.statusWindow.exchange(nullptr);
    if (!status || !IsWindow(status)) return;
    // A window can be destroyed only by the thread that made it; one made
    // elsewhere is hidden and dies with its thread.
    DWORD owner = GetWindowThreadProcessId(status, nullptr);
    if (owner == GetCurrentThreadId())
        DestroyWindow(status);
    else
        ShowWindow(status, SW_HIDE);
}

void HideStatusWindow() noexcept {
    HWND status = g_state.statusWindow;
    if (status) ShowWindow(status, SW_HIDE);
    if (SetWindowTextA(g_state.videoWindow, kVideoCaption)) {
        if (status) DestroyWindow(status);
        g_state.statusWindow = nullptr;
    }
}

}  // namespace ui
