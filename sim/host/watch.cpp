// A thread that polls the top-level windows of this process every few
// milliseconds: it reports and answers message boxes, and reports the status
// and video windows owned by the host window.  It reads windows only through
// calls that send no message (InternalGetWindowText, GetWindowRect,
// IsWindowVisible), so a window whose thread is busy never blocks it.
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "sim/host/host.h"

namespace {

constexpr DWORD kPollMs = 5;
constexpr int kBoxTextId = 0xFFFF;

struct Tracked {
    bool visible;
    std::string caption;
    RECT rect;
};

// A box seen and not yet answered: the button, and when to press it.
struct Pending {
    int id;
    DWORD due;
};

struct Watch {
    HWND host;
    bool answerOk;
    DWORD answerAfterMs;
    bool stopOnBox;  // the user presses Stop in the host while a box is up
    bool remoteStopOnVideo;  // a remote control sends Stop as a video window appears
    std::map<HWND, Pending> pending;
    HANDLE thread;
    std::atomic<int> stop, answered, boxOpen;
    std::set<HWND> answeredBoxes;
    std::map<HWND, Tracked> status, video;
};
Watch g_watch;

std::string TextOf(HWND window) {
    WCHAR wide[1024];
    int n = InternalGetWindowText(window, wide, 1024);
    char text[2048];
    int m = WideCharToMultiByte(CP_ACP, 0, wide, n, text, sizeof text - 1, nullptr, nullptr);
    return std::string(text, m > 0 ? m : 0);
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId()) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The button that gives the wanted answer, in the order a user would read it.
struct Answer { int id; const char* name; };
Answer PickAnswer(HWND box) {
    static const Answer kOk[] = {{IDOK, "ok"}, {IDYES, "yes"}, {IDRETRY, "retry"}};
    static const Answer kCancel[] = {{IDCANCEL, "cancel"}, {IDNO, "no"}, {IDABORT, "abort"}, {IDOK, "ok"}};
    const Answer* list = g_watch.answerOk ? kOk : kCancel;
    int n = g_watch.answerOk ? 3 : 4;
    for (int i = 0; i < n; ++i)
        if (GetDlgItem(box, list[i].id)) return list[i];
    return {IDCANCEL, "cancel"};
}

BOOL CALLBACK FindTextStatic(HWND child, LPARAM found) {
    if (_stricmp(ClassOf(child).c_str(), "STATIC") != 0) return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON || TextOf(child).empty()) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// The box's text sits in the static control 0xFFFF; should a system number
// its controls otherwise, the first static with text stands in.
HWND BoxText(HWND box) {
    HWND text = GetDlgItem(box, kBoxTextId);
    if (!text) EnumChildWindows(box, FindTextStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

void HandleBox(HWND box) {
    if (g_watch.answeredBoxes.count(box) || !IsWindowVisible(box)) return;
    HWND textItem = BoxText(box);
    std::string caption = TextOf(box);
    std::string text = textItem ? TextOf(textItem) : "";
    Answer answer = PickAnswer(box);
    g_watch.answeredBoxes.insert(box);
    Event("msgbox %s %s -> %s", Quoted(caption.c_str()).c_str(), Quoted(text.c_str()).c_str(), answer.name);
    // The outputs' own boxes are theirs to own (or not), as the player's are.
    if (GetWindow(box, GW_OWNER) != g_watch.host && !OutputOwnsBox(caption))
        Unexpected("msgbox not owned by the host window");
    g_watch.pending[box] = Pending{answer.id, GetTickCount() + g_watch.answerAfterMs};
    if (g_watch.stopOnBox && !OutputOwnsBox(caption)) {
        Event("stop pressed");
        PostMessageA(g_watch.host, WM_COMMAND, kStopCommand, 0);
    }
}

// Presses the buttons whose time has come, as a user who read the box would.
void AnswerDue(const std::set<HWND>& boxes) {
    for (auto it = g_watch.pending.begin(); it != g_watch.pending.end();) {
        if (!boxes.count(it->first)) {
            it = g_watch.pending.erase(it);
        } else if (static_cast<LONG>(GetTickCount() - it->second.due) >= 0) {
            PostMessageA(it->first, WM_COMMAND, MAKEWPARAM(it->second.id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(it->first, it->second.id)));
            g_watch.answered.fetch_add(1);
            it = g_watch.pending.erase(it);
        } else {
            ++it;
        }
    }
}

Tracked Read(HWND window) {
    Tracked t{IsWindowVisible(window) != 0, TextOf(window), {}};
    GetWindowRect(window, &t.rect);
    return t;
}

void ReportStatus(HWND window, const Tracked* before, const Tracked& now) {
    bool wasShown = before && before->visible;
    if (now.visible && (!wasShown || before->caption != now.caption))
        Event("status show %s %ld %ld %ld %ld", Quoted(now.caption.c_str()).c_str(), now.rect.left, now.rect.top,
              now.rect.right - now.rect.left, now.rect.bottom - now.rect.top);
    else if (!now.visible && wasShown)
        Event("status hide");
}

// A remote-control plug-in's thread: it sends the host window the Stop
// command and waits for the answer, as such plug-ins do.  A thread of its
// own, so that the watch goes on answering boxes meanwhile.
DWORD WINAPI RemoteStop(void*) {
    SendMessageA(g_watch.host, WM_COMMAND, kStopCommand, 0);
    return 0;
}

void ReportVideo(HWND window, const Tracked* before, const Tracked& now) {
    if (!before && g_watch.remoteStopOnVideo) {
        Event("remote stop sent");
        if (HANDLE thread = CreateThread(nullptr, 0, RemoteStop, nullptr, 0, nullptr)) CloseHandle(thread);
    }
    if (!before) {
        Event("video show %s %ld %ld %ld %ld %d", Quoted(now.caption.c_str()).c_str(), now.rect.left, now.rect.top,
              now.rect.right - now.rect.left, now.rect.bottom - now.rect.top, now.visible ? 1 : 0);
        return;
    }
    if (before->caption != now.caption) Event("video caption %s", Quoted(now.caption.c_str()).c_str());
    if (before->visible != now.visible) Event("video visible %d", now.visible ? 1 : 0);
}

void Update(std::map<HWND, Tracked>& known, const std::set<HWND>& present, const char* kind,
            void (*report)(HWND, const Tracked*, const Tracked&)) {
    for (auto it = known.begin(); it != known.end();) {
        if (present.count(it->first)) {
            ++it;
        } else {
            Event("%s gone", kind);
            it = known.erase(it);
        }
    }
    for (HWND window : present) {
        Tracked now = Read(window);
        auto it = known.find(window);
        report(window, it == known.end() ? nullptr : &it->second, now);
        known[window] = now;
    }
}

void Scan() {
    std::vector<HWND> windows;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    std::set<HWND> boxes, status, video;
    for (HWND window : windows) {
        std::string cls = ClassOf(window);
        if (cls == "#32770") {
            boxes.insert(window);
            HandleBox(window);
        } else if (GetWindow(window, GW_OWNER) == g_watch.host) {
            // Captioned windows only: the system's helper windows (IME) have none.
            bool captioned = (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
            if (_stricmp(cls.c_str(), "STATIC") == 0) {
                // The plug-in's windows are the host thread's, whichever
                // thread asked for them: one made elsewhere dies with its
                // thread and cannot be destroyed by Stop.
                if (!g_watch.status.count(window) &&
                    GetWindowThreadProcessId(window, nullptr) != GetWindowThreadProcessId(g_watch.host, nullptr))
                    Unexpected("status window made off the host's thread");
                status.insert(window);
            } else if (captioned) {
                video.insert(window);
            }
        }
    }
    AnswerDue(boxes);
    for (auto it = g_watch.answeredBoxes.begin(); it != g_watch.answeredBoxes.end();)
        it = boxes.count(*it) ? std::next(it) : g_watch.answeredBoxes.erase(it);
    g_watch.boxOpen.store(!boxes.empty());
    Update(g_watch.status, status, "status", ReportStatus);
    Update(g_watch.video, video, "video", ReportVideo);
}

DWORD WINAPI WatchThread(void*) {
    while (!g_watch.stop.load()) {
        Scan();
        Sleep(kPollMs);
    }
    Scan();
    return 0;
}

}  // namespace

void WatchStart(HWND hostWindow, bool answerOk, DWORD answerAfterMs, bool stopOnBox, bool remoteStopOnVideo) {
    g_watch.host = hostWindow;
    g_watch.stopOnBox = stopOnBox;
    g_watch.remoteStopOnVideo = remoteStopOnVideo;
    g_watch.answerOk = answerOk;
    g_watch.answerAfterMs = answerAfterMs;
    g_watch.thread = CreateThread(nullptr, 0, WatchThread, nullptr, 0, nullptr);
}

void WatchStop() {
    if (!g_watch.thread) return;
    g_watch.stop.store(1);
    WaitForSingleObject(g_watch.thread, INFINITE);
    CloseHandle(g_watch.thread);
    g_watch.thread = nullptr;
    if (!g_watch.status.empty()) Event("status left");
    if (!g_watch.video.empty()) Event("video left");
}

int WatchBoxesAnswered() { return g_watch.answered.load(); }
bool WatchBoxOpen() { return g_watch.boxOpen.load() != 0; }
