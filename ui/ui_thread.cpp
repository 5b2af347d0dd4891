#include "ui/ui_thread.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>

#include "core/host_module.h"
#include "core/trace.h"

namespace ui {
namespace {

constexpr char kClassName[] = "RealMediaPluginUi";
constexpr UINT kRunMessage = WM_APP + 1;

// Written by Init and Quit on the host's thread, read by any thread.
std::atomic<HWND> g_window{nullptr};
std::atomic<DWORD> g_thread{0};

using Work = std::function<void()>;

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kRunMessage) return DefWindowProcA(window, message, wParam, lParam);
    std::unique_ptr<Work> work(reinterpret_cast<Work*>(lParam));
    if (work && *work) (*work)();
    return 0;
}

}  // namespace

void CreateUiWindow() noexcept {
    if (g_window.load()) return;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = UiWindowProc;
    windowClass.hInstance = core::g_module.hDllInstance;
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);  // fails harmlessly when registered already
    HWND window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  core::g_module.hDllInstance, nullptr);
    if (!window) {
        core::Trace("no message-only window: other threads' windows are made where they ask");
        return;
    }
    g_thread.store(GetCurrentThreadId());
    g_window.store(window);
}

void DestroyUiWindow() noexcept {
    HWND window = g_window.exchange(nullptr);
    if (!window) return;
    MSG msg;
    while (TakePostedMessage(window, kRunMessage, &msg)) delete reinterpret_cast<Work*>(msg.lParam);
    DestroyWindow(window);
    g_thread.store(0);
    UnregisterClassA(kClassName, core::g_module.hDllInstance);
}

bool TakePostedMessage(HWND window, UINT message, MSG* msg) noexcept {
    if (!PeekMessageA(msg, window, message, message, PM_REMOVE)) return false;
    if (msg->message != WM_QUIT) return true;
    PostQuitMessage(static_cast<int>(msg->wParam));
    return false;
}

bool OnUiThread() noexcept {
    const DWORD thread = g_thread.load();
    return thread == 0 || thread == GetCurrentThreadId();
}

void RunPendingWork() noexcept {
    HWND window = g_window.load();
    MSG msg;
    while (window && OnUiThread() && TakePostedMessage(window, kRunMessage, &msg)) DispatchMessageA(&msg);
}

void PostWork(std::function<void()>&& work) noexcept {
    Work* posted = new (std::nothrow) Work(std::move(work));
    if (!posted) return;
    HWND window = g_window.load();
    if (!window || !PostMessageA(window, kRunMessage, 0, reinterpret_cast<LPARAM>(posted))) {
        core::Trace("work for the host's thread dropped: its window is gone");
        delete posted;
    }
}

}  // namespace ui
