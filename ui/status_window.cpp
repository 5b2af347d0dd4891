#include "ui/status_window.h"

#include <windows.h>

#include <string>

#include "ui/ui_thread.h"

namespace ui {

using core::g_module;
using core::Playback;
using core::PlaybackRef;

namespace {

constexpr DWORD kStatusStyle = WS_VISIBLE | WS_CAPTION;  // 0x10C00000
constexpr int kStatusWidth = 300;
constexpr char kVideoCaption[] = "Video Window";

// The three below run on the host's thread only.
void ShowNow(Playback& playback, const char* text) {
    if (playback.Closed()) return;
    HWND video = playback.VideoWindow();
    // The video window is the engine's window thread's: its caption waits
    // for that thread, serving sent messages, and a Stop may run meanwhile.
    const bool captioned = SetWindowTextA(video, text) && IsWindowVisible(video);
    if (captioned || playback.Quiet() || playback.Closed()) return;

    HWND host = g_module.hMainWindow;
    RECT hostRect{};
    GetWindowRect(host, &hostRect);
    const int x = hostRect.right;
    const int y = hostRect.top;

    HWND status = playback.caption;
    if (status && !IsWindow(status)) status = nullptr;
    if (status) {
        SetWindowTextA(status, text);
    } else {
        // Made hidden and shown below without activation: a window made
        // visible is activated.
        status = CreateWindowExA(0, "STATIC", text, kStatusStyle & ~WS_VISIBLE, x, y, kStatusWidth, 0, host,
                                 nullptr, g_module.hDllInstance, nullptr);
        playback.caption = status;
    }
    if (!status) return;
    // Shown without taking activation: a caption must not take the keyboard
    // from the user's window (under Wine, activating it held the host's
    // thread for two seconds).
    SetWindowPos(status, host, x, y, kStatusWidth, 0, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    ShowWindow(status, SW_SHOWNOACTIVATE);
}

void HideNow(Playback& playback) {
    HWND status = playback.caption;
    if (status) ShowWindow(status, SW_HIDE);
    if (SetWindowTextA(playback.VideoWindow(), kVideoCaption)) {
        if (status) DestroyWindow(status);
        playback.caption = nullptr;
    }
}

void DestroyNow(Playback& playback) {
    if (HWND status = playback.caption) DestroyWindow(status);
    playback.caption = nullptr;
}

}  // namespace

void ShowStatusText(const PlaybackRef& playback, const char* text) noexcept {
    if (!playback) return;
    try {
        std::string caption(text ? text : "");
        PostToUiThread([playback, caption = std::move(caption)] { ShowNow(*playback, caption.c_str()); });
    } catch (...) {
        // No memory for the caption: it is not shown.
    }
}

void HideStatusWindow(const PlaybackRef& playback) noexcept {
    if (playback) PostToUiThread([playback] { HideNow(*playback); });
}

void DestroyStatusWindow(const PlaybackRef& playback) noexcept {
    if (playback) RunOnUiThread([playback] { DestroyNow(*playback); });
}

}  // namespace ui
