// Shows one window of the plug-in, for real, and holds it still while
// tools/screenshots photographs the screen:
//
//   showcase WHAT DIR
//
// WHAT is buffering, about, config, no-engine, engine-error, refused-output,
// hung-stop, video or credentials.  The plug-in runs in the test support's fake host (its main
// window shown here) with the stand-in engine.  Once the window is up this
// writes DIR\ready.txt holding "LEFT TOP RIGHT BOTTOM", the screen area to
// photograph, then waits for DIR\done.txt, closes the window and exits.
// When WHAT shows no window within 15 s, ready.txt holds "none".
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "core/playback.h"
#include "support/test_support.h"

using core::g_module;

namespace {

using testsupport::FakeHost;
using testsupport::SimEngine;

constexpr DWORD kWaitForWindowMs = 15000;
constexpr DWORD kWaitForPhotoMs = 60000;
// Wine paints a new window shortly after showing it.
constexpr DWORD kSettleMs = 400;
constexpr int kMargin = 12;

std::string g_dir;
HWND g_host = nullptr;
std::atomic<bool> g_pauseNow{false};
std::atomic<bool> g_unpauseNow{false};
std::atomic<bool> g_finished{false};
// When nonzero, the host's Stop comes this long after Play.
DWORD g_stopAfterMs = 0;

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteReady(const char* text) {
    FILE* f = std::fopen((g_dir + "\\ready.txt.part").c_str(), "w");
    if (!f) return;
    std::fputs(text, f);
    std::fclose(f);
    MoveFileA((g_dir + "\\ready.txt.part").c_str(), (g_dir + "\\ready.txt").c_str());
}

struct Found {
    HWND box = nullptr;     // a message box of this process
    HWND status = nullptr;  // the visible status window
    HWND video = nullptr;   // the visible video window
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd) || hwnd == g_host) return TRUE;
    Found* found = reinterpret_cast<Found*>(param);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (_stricmp(cls, "#32770") == 0) found->box = hwnd;
    else if (_stricmp(cls, "Static") == 0 && GetWindow(hwnd, GW_OWNER) == g_host) found->status = hwnd;
    else if (GetWindow(hwnd, GW_OWNER) == g_host && (GetWindowLongA(hwnd, GWL_STYLE) & WS_CAPTION)) found->video = hwnd;
    return TRUE;
}

Found Look() {
    Found found;
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&found));
    return found;
}

RECT Around(HWND a, HWND b) {
    RECT r{}, other{};
    GetWindowRect(a, &r);
    if (b && GetWindowRect(b, &other)) UnionRect(&r, &r, &other);
    InflateRect(&r, kMargin, kMargin);
    return r;
}

// Waits for the window WHAT shows, reports its area, waits for the photo,
// then closes the window (a box by Cancel, which never opens a browser).
DWORD WINAPI Photographer(void* param) {
    const std::string what = static_cast<const char*>(param);
    const DWORD start = GetTickCount();
    HWND subject = nullptr, companion = nullptr;
    while (!subject && GetTickCount() - start < kWaitForWindowMs) {
        Sleep(5);
        const Found found = Look();
        if (what == "buffering" && found.status) {
            // Read without a message: the window's thread, the engine's, may not be pumping.
            wchar_t text[64] = {};
            InternalGetWindowText(found.status, text, 64);
            if (std::wcsncmp(text, L"Buffering", 9) != 0) continue;
            // Held still: the next position report would hide the caption.
            g_pauseNow = true;
            subject = g_host;
            companion = found.status;
        } else if (what == "video" && found.video) {
            subject = found.video;
        } else if (what != "buffering" && what != "video" && found.box) {
            subject = found.box;
        }
    }
    if (!subject) {
        WriteReady("none");
        g_finished = true;
        return 0;
    }
    Sleep(kSettleMs);
    // A position report that came before the pause hid the caption: play on
    // to the next buffering report.
    if (companion && !IsWindowVisible(companion)) {
        g_unpauseNow = true;
        Sleep(kSettleMs);
        return Photographer(param);
    }
    const RECT r = Around(subject, companion);
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    WriteReady(text);
    const DWORD shown = GetTickCount();
    while (!FileExists(g_dir + "\\done.txt") && GetTickCount() - shown < kWaitForPhotoMs) Sleep(20);
    const Found now = Look();
    if (now.box) PostMessageA(now.box, WM_COMMAND, IDCANCEL, 0);
    g_finished = true;
    return 0;
}

// Plays PATH with the stand-in engine following SCRIPT, pumping messages
// until the photo is taken, then stops.
void Play(const std::string& path, const std::string& script) {
    SimEngine::Get().Control(script);
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%s", path.c_str());
    if (g_module.Play(name) != 0) {
        // A failed Play may still have shown its box; wait for the photo,
        // then let the Stop command the plug-in posts arrive before Quit.
        while (!g_finished) testsupport::PumpFor(20);
        testsupport::PumpFor(500);
        return;
    }
    // The fake host's output plays nothing: its clock is made to run here,
    // and the engine's timed events follow it.
    const DWORD start = GetTickCount();
    bool paused = false;
    while (!g_finished) {
        testsupport::PumpFor(5);
        if (g_pauseNow.exchange(false)) {
            g_module.Pause();
            paused = true;
        }
        if (g_unpauseNow.exchange(false)) {
            g_module.UnPause();
            paused = false;
        }
        if (!paused) FakeHost::Current()->settings.outputTimeMs = static_cast<int>(GetTickCount() - start);
        if (g_stopAfterMs && GetTickCount() - start >= g_stopAfterMs) {
            g_stopAfterMs = 0;
            g_module.Stop();
        }
    }
    g_module.Stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: showcase buffering|about|config|no-engine|engine-error|refused-output|hung-stop|"
                     "video|credentials DIR\n");
        return 2;
    }
    const std::string what = argv[1];
    g_dir = argv[2];
    SimEngine::Get().Reset();
    FakeHost host;
    g_host = host.window();
    SetWindowPos(g_host, HWND_TOP, 100, 50, 275, 116, SWP_SHOWWINDOW);
    UpdateWindow(g_host);
    HANDLE photographer = CreateThread(nullptr, 0, Photographer, argv[1], 0, nullptr);

    // A network address, as a user would open one: the stand-in engine plays
    // a tone for it, and the plug-in shows captions only for such addresses.
    const std::string url = "rtsp://media.example.com/news/today.rm";
    const std::string stream = "length 60000; pace realtime; ";
    if (what == "about") {
        g_module.About(g_host);
    } else if (what == "config") {
        g_module.Config(g_host);
    } else if (what == "no-engine") {
        testsupport::SetEngineDirectory("C:\\RealPlayer is not here\\");
        Play(url, "reset");
    } else if (what == "buffering") {
        Play(url, stream + "buffering 600 45; buffering 1600 45; buffering 2600 45; buffering 3600 45; "
                           "buffering 4600 45; buffering 5600 45; buffering 6600 45; buffering 7600 45");
    } else if (what == "engine-error") {
        Play(url, stream + "error play:500 0x8004004D 2 " + url);
    } else if (what == "refused-output") {
        host.settings.openResult = -1;
        Play(url, stream);
    } else if (what == "hung-stop") {
        // The engine's Stop hangs: the host's Stop waits five seconds, then says so.
        g_stopAfterMs = 500;
        Play(url, stream + "stophang 20000");
    } else if (what == "video") {
        Play(url, stream + "video on");
    } else if (what == "credentials") {
        // The stand-in engine asks for credentials for an address holding "auth=".
        Play("rtsp://media.example.com/members/auth=1/today.rm", stream);
    } else {
        std::fprintf(stderr, "showcase: no window called %s\n", what.c_str());
        return 2;
    }
    while (!g_finished) testsupport::PumpFor(20);
    WaitForSingleObject(photographer, 5000);
    CloseHandle(photographer);
    return 0;
}
