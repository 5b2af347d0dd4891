// The shared main of the test executables, with a watchdog: one test case
// that runs longer than a minute is taken as hung.  ctest would otherwise
// wait for the whole executable's timeout and then show no case's name;
// here the case is named and the process ends at once with a failure.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kHungAfterMs = 60000;
constexpr DWORD kCheckEveryMs = 250;
constexpr UINT kHungExitCode = 3;

// The running case, written by the listener on the test thread and read by
// the watchdog, both under the lock.
struct Watch {
    CRITICAL_SECTION lock;
    bool running = false;
    DWORD startTick = 0;
    std::string name;
    HANDLE stop = nullptr;
};
Watch g_watch;

// Written straight to the handle: the hung case may hold the C runtime's
// lock on stdout, and nothing after this is flushed anyway.
void WriteOut(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE) {
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        FlushFileBuffers(out);
    }
}

DWORD WINAPI WatchdogThread(void*) {
    while (WaitForSingleObject(g_watch.stop, kCheckEveryMs) == WAIT_TIMEOUT) {
        EnterCriticalSection(&g_watch.lock);
        // Decided and acted on under the lock: a case that ends now waits in
        // OnTestEnd and is never counted as hung once it has ended.
        if (g_watch.running && GetTickCount() - g_watch.startTick > kHungAfterMs) {
            WriteOut("\n[  HUNG  ] " + g_watch.name + " ran over " + std::to_string(kHungAfterMs / 1000) + " s\n");
            // Not a normal exit: that would run destructors and wait for
            // threads that the hung case may hold.
            TerminateProcess(GetCurrentProcess(), kHungExitCode);
            _exit(kHungExitCode);
        }
        LeaveCriticalSection(&g_watch.lock);
    }
    return 0;
}

class WatchdogListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& info) override {
        fflush(stdout);
        EnterCriticalSection(&g_watch.lock);
        g_watch.name = std::string(info.test_suite_name()) + "." + info.name();
        g_watch.startTick = GetTickCount();
        g_watch.running = true;
        LeaveCriticalSection(&g_watch.lock);
    }
    void OnTestEnd(const testing::TestInfo&) override {
        EnterCriticalSection(&g_watch.lock);
        g_watch.running = false;
        LeaveCriticalSection(&g_watch.lock);
    }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    InitializeCriticalSection(&g_watch.lock);
    g_watch.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Owned by gtest once appended.
    testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    HANDLE watchdog = CreateThread(nullptr, 0, WatchdogThread, nullptr, 0, nullptr);
    if (!watchdog) std::fprintf(stderr, "warning: no watchdog thread (error %lu)\n", GetLastError());
    const int result = RUN_ALL_TESTS();
    if (watchdog) {
        SetEvent(g_watch.stop);
        WaitForSingleObject(watchdog, INFINITE);
        CloseHandle(watchdog);
    }
    return result;
}
