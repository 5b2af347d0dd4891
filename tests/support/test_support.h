// Shared by the plug-in's test executables: a host of real windows around
// the plug-in's module record, a watcher that reads and answers real message
// boxes, registry helpers for the test's Wine prefix, and the stand-in
// engine's control exports.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/playback.h"
#include "engine/engine_link.h"

namespace testsupport {

// One part of the engine link (Player, Engine, Library, ...), or null when
// there is no link: the form the tests read the link's state in.
template <class T>
T LinkPart(T (engine::EngineLink::*part)() const noexcept) {
    const engine::EngineLink* link = engine::CurrentLink();
    return link ? (link->*part)() : T{};
}

// Directory of the running test executable (build/bin), without a trailing separator.
std::string BinDir();
// A new empty directory under the system's temporary directory.
std::string MakeTempDir();
void WriteFileBytes(const std::string& path, const std::string& bytes);
// A RIFF WAV file of PCM samples (a pseudo-random pattern from `seed`).
std::string MakeWavBytes(int rate, int channels, int bits, int durationMs, unsigned seed = 1);
// The sample bytes of a WAV made by MakeWavBytes.
std::string WavSamples(const std::string& wav);
// Writes a WAV into a new temporary directory and returns its path.
std::string WriteTempWav(int rate, int channels, int bits, int durationMs, unsigned seed = 1);

// Registry helpers under HKEY_CLASSES_ROOT.
void SetClassesRootDefault(const char* key, const char* value);
void DeleteClassesRootTree(const char* key);
// The RealPlayer directory the plug-in reads the engine's location from.
constexpr char kEngineKey[] = "Software\\RealNetworks\\Preferences\\DT_Common";
void SetEngineDirectory(const std::string& directory);

// Dispatches this thread's messages for `ms` milliseconds.
void PumpFor(DWORD ms);
// Dispatches the messages waiting now: the work engine reports posted to
// the host's thread runs, as from the host's own loop.
void DispatchWaiting();
// Dispatches this thread's messages until `done` holds; false after `timeoutMs`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// Runs `work` on a thread of its own, as the engine calls the plug-in, while
// the test's thread goes on; Finish serves the test thread's messages (a box
// owned by the host window needs them) until the work is done.
class EngineThreadCall {
public:
    explicit EngineThreadCall(std::function<void()> work);
    ~EngineThreadCall();
    EngineThreadCall(const EngineThreadCall&) = delete;
    EngineThreadCall& operator=(const EngineThreadCall&) = delete;
    // False when the work did not end within `timeoutMs`.
    bool Finish(DWORD timeoutMs = 10000);

private:
    static DWORD WINAPI Run(void* self);
    std::function<void()> work_;
    std::atomic<bool> done_{false};
    HANDLE thread_ = nullptr;
};

// What hostsim.exe (beside the test executable) printed and how it ended.
struct HostsimRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};
// Runs hostsim.exe with `arguments` and collects what it prints.
HostsimRun RunHostsim(const std::string& arguments, DWORD timeoutMs = 90000);

// A message box seen by the watcher.
struct SeenBox {
    std::string caption;
    std::string text;
    HWND window = nullptr;
    HWND owner = nullptr;
    LONG style = 0;        // window style of the dialog
    bool hasIcon = false;  // the dialog shows an icon
    int buttons = 0;       // number of push buttons
};

// Finds the process's message boxes (#32770 dialogs) from a thread of its
// own, records each once, and answers it with the configured button (0
// leaves it up, for the test to answer through SeenBox.window).
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(int answer = IDOK);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    void SetAnswer(int answer) { answer_.store(answer); }
    std::vector<SeenBox> Boxes();
    size_t Count();
    void Clear();
    // Waits (pumping this thread's messages) until `count` boxes were seen.
    bool WaitForCount(size_t count, DWORD timeoutMs = 10000);

private:
    static DWORD WINAPI Run(void* self);
    void Scan();

    std::atomic<int> answer_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> boxes_;
    std::vector<HWND> answered_;
    HANDLE thread_ = nullptr;
};

// Counters and settings of the fake host.  Every output module call and
// host callback is counted; the settings steer the answers.
struct HostCounts {
    std::atomic<int> outOpen{0}, outClose{0}, outWrite{0}, outCanWrite{0}, outIsPlaying{0}, outPause{0},
        outSetVolume{0}, outSetPan{0}, outFlush{0}, outGetOutputTime{0}, outGetWrittenTime{0};
    std::atomic<long long> bytesWritten{0};
    std::atomic<int> savsaInit{0}, savsaDeInit{0}, saAddPcm{0}, vsaAddPcm{0}, vsaSetInfo{0}, dspIsActive{0},
        dspDoSamples{0}, setInfo{0};
    std::atomic<int> endOfFileMessages{0}, stopCommands{0}, stopCalls{0};
    // The length GetFileInfo("") gave right after the last Play returned 0,
    // as the host shows it in the playlist.
    std::atomic<int> playingEntryLengthMs{0};
    // Arguments of the latest calls.
    std::atomic<int> openRate{0}, openChannels{0}, openBits{0}, openBufferMs{-1}, openPrebufferMs{-1};
    std::atomic<int> lastPause{-1}, lastVolume{0}, lastPan{0}, lastFlush{-1};
    std::atomic<int> setInfoArgs[4] = {};
    std::atomic<int> savsaInitArgs[2] = {};
    std::atomic<int> vsaSetInfoArgs[2] = {};
    std::atomic<int> writesAfterClose{0};
    // Opens that succeeded; output calls other than Open made while the
    // output was closed after an Open; Closes of an output not open; and
    // whether Quit left the output open (1).
    std::atomic<int> outOpened{0}, callsAfterClose{0}, closesWhileNotOpen{0}, leftOpenAtQuit{0};
};

struct HostSettings {
    std::atomic<int> openResult{0};            // latency; negative refuses
    // While the output is open; a closed or never opened output answers 0
    // to both, as a real output does.
    std::atomic<int> canWrite{1 << 20};        // bytes CanWrite reports
    std::atomic<int> isPlaying{0};             // what IsPlaying answers
    std::atomic<int> isPlayingHangMs{0};       // IsPlaying returns after that long, or once it is 0
    // What GetOutputTime and GetWrittenTime answer; -1: the time of the bytes
    // written since Open or the last Flush(ms), counted from ms, as an
    // output that plays what it is given at once.
    std::atomic<int> outputTimeMs{-1};
    std::atomic<int> writtenTimeMs{-1};
    std::atomic<int> dspActive{0};
    // The next this many Writes answer 1 and take nothing, as an output that
    // cannot take data yet does.  While paused every Write answers 1 and
    // CanWrite 0, as the host's default output does.
    std::atomic<int> refuseWrites{0};
    std::atomic<bool> stopOnMessages{true};    // host calls Stop on 1026 / 40047
    // A closed output keeps giving the open one's answers: kinder than a
    // real output, only for a test that waits for a fix to need it no more.
    std::atomic<bool> closedOutputAnswersAsOpen{false};
};

// The host around the plug-in: a real top-level main window at (100, 50),
// 275 by 116, whose procedure answers 1026 and WM_COMMAND 40047 by calling
// the plug-in's Stop, and an output module and callbacks that count every
// call.  Installs itself into the module record and calls Init; the
// destructor calls Quit and clears the record's host fields.  One at a time.
// Each host brings a fresh output, never opened: the plug-in's note that an
// output is open, left by an earlier host, is cleared as a new host process
// would find it.
class FakeHost {
public:
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    HWND window() const { return window_; }
    static FakeHost* Current();

    HostCounts counts;
    HostSettings settings;
    // Every Write's bytes, in order, when `captureWrites` is set.
    std::atomic<bool> captureWrites{false};
    std::string written;
    std::mutex writtenMutex;
    std::vector<int> writeSizes;
    // The 576 frames the spectrum hook read last, as the host reads them
    // from whatever pointer it is given.
    std::string visFrames;

    // Play as the host calls it: the output and the user's volume and pan
    // set first, the host's guard up while it runs (the Stop command and
    // the end of file do nothing meanwhile), and the playing entry read
    // right after it returned 0.  Only a Play that returned 0 makes the host
    // "playing": the Stop command acts only then, as in the real host, which
    // never calls Stop after a failed Play.
    int Play(const char* path);
    // The host's own marks (the test's thread only): inside Play, and
    // playing since a Play that returned 0 until the host's Stop.
    bool inPlay = false;
    bool playing = false;
    bool playedThroughHost = false;

    // Calls Quit now instead of in the destructor.
    void QuitNow();

private:
    HWND window_ = nullptr;
    bool quitDone_ = false;
};

// The stand-in engine pnen3260.dll beside the test executable, loaded once
// for the process so that its state outlives the plug-in's unloading.
class SimEngine {
public:
    static SimEngine& Get();
    // Points the registry at build/bin and resets the scenario and the log.
    void Reset();
    int Control(const std::string& command);
    std::string Log();
    bool LogHas(const std::string& line);
    int CountInLog(const std::string& line);
    int Query(const std::string& what);
    // The kinds of engine objects alive now, e.g. "site=1 buffer=1"; empty
    // when none is.
    std::string Alive();
    // A function the engine calls when a Seek arrives, before it acts on it;
    // the log then holds "Hook.Seek <answer>".  Null removes it.
    using SeekHook = int(__stdcall*)(unsigned int timeMs);
    void OnSeek(SeekHook hook);

private:
    SimEngine();
    HMODULE module_ = nullptr;
    int(__stdcall* control_)(const char*) = nullptr;
    int(__stdcall* log_)(char*, int) = nullptr;
    int(__stdcall* query_)(const char*) = nullptr;
    int(__stdcall* alive_)(char*, int) = nullptr;
    void(__stdcall* onSeek_)(SeekHook) = nullptr;
};

// Checks that Quit left nothing behind: no playback, no engine link.
void ExpectCleanPluginState();

// The state of the current playback; StateIdle when there is none.
core::PlaybackState CurrentState();
// The current playback's video window; null when there is none.
HWND CurrentVideoWindow();

// A playback put into the slot as Play puts one, without a thread, for the
// tests that drive the responders, the audio device and the output gate
// directly.  Its presentation counts as begun, and its Play as returned.
// At the end of the scope it is closed and taken out of the slot, with its
// status caption.
class TestPlayback {
public:
    explicit TestPlayback(core::PlaybackState state = core::StateStarting, bool quiet = false);
    ~TestPlayback();
    TestPlayback(const TestPlayback&) = delete;
    TestPlayback& operator=(const TestPlayback&) = delete;

    core::Playback* operator->() const { return ref.get(); }
    core::Playback& operator*() const { return *ref; }
    // The commands queued so far, taken from the queue, as digits.
    std::string TakeCommands();
    // What Stop does to it first: closed and out of the slot.
    void Close();

    core::PlaybackRef ref;
};

}  // namespace testsupport
