#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "plugin/host_ops.h"
#include "core/playback.h"

using namespace core;

namespace testsupport {

std::string BinDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/"));
}

std::string MakeTempDir() {
    static std::atomic<int> serial{0};
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    for (;;) {
        std::string dir = std::string(base) + "rmtest" + std::to_string(GetCurrentProcessId()) + "_" +
                          std::to_string(serial++);
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    }
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

namespace {
void PutLe(std::string& out, unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
constexpr size_t kWavHeaderSize = 44;
}  // namespace

std::string MakeWavBytes(int rate, int channels, int bits, int durationMs, unsigned seed) {
    const unsigned frameBytes = static_cast<unsigned>(channels * bits / 8);
    const unsigned dataBytes = static_cast<unsigned>(static_cast<long long>(rate) * durationMs / 1000) * frameBytes;
    std::string out = "RIFF";
    PutLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<unsigned>(channels), 2);
    PutLe(out, static_cast<unsigned>(rate), 4);
    PutLe(out, static_cast<unsigned>(rate) * frameBytes, 4);
    PutLe(out, frameBytes, 2);
    PutLe(out, static_cast<unsigned>(bits), 2);
    out += "data";
    PutLe(out, dataBytes, 4);
    unsigned state = seed * 2654435761u + 1;
    for (unsigned i = 0; i < dataBytes; ++i) {
        state = state * 1103515245u + 12345u;
        out.push_back(static_cast<char>(state >> 16));
    }
    return out;
}

std::string WavSamples(const std::string& wav) { return wav.size() > kWavHeaderSize ? wav.substr(kWavHeaderSize) : ""; }

std::string WriteTempWav(int rate, int channels, int bits, int durationMs, unsigned seed) {
    const std::string path = MakeTempDir() + "\\tone.wav";
    WriteFileBytes(path, MakeWavBytes(rate, channels, bits, durationMs, seed));
    return path;
}

void SetClassesRootDefault(const char* key, const char* value) {
    LONG status = RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, value, static_cast<DWORD>(std::strlen(value)));
    ASSERT_EQ(status, ERROR_SUCCESS) << key;
}

void DeleteClassesRootTree(const char* key) {
    // RegDeleteTree is not on every system this runs on; go depth-first.
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
    char child[256];
    for (;;) {
        DWORD size = sizeof(child);
        if (RegEnumKeyExA(handle, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteClassesRootTree((std::string(key) + "\\" + child).c_str());
    }
    RegCloseKey(handle);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
}

void SetEngineDirectory(const std::string& directory) { SetClassesRootDefault(kEngineKey, directory.c_str()); }

void DispatchWaiting() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
}

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            DispatchMessageA(&msg);
        }
        // Looked at again before sleeping: what was dispatched may have done it.
        if (done()) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

HostsimRun RunHostsim(const std::string& arguments, DWORD timeoutMs) {
    HostsimRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    const std::string exe = BinDir() + "\\hostsim.exe";
    std::string command = "\"" + exe + "\" " + arguments;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  BinDir().c_str(), &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        ADD_FAILURE() << "hostsim.exe did not start: " << command;
        CloseHandle(readEnd);
        return run;
    }
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) run.output.append(chunk, got);
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "hostsim did not end: " << command;
        TerminateProcess(process.hProcess, 3);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return run;
}


// ---- message boxes ----------------------------------------------------------

EngineThreadCall::EngineThreadCall(std::function<void()> work) : work_(std::move(work)) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

EngineThreadCall::~EngineThreadCall() {
    if (!thread_) return;
    // Never leave the thread running over a destroyed object.
    Finish(INFINITE);
    CloseHandle(thread_);
}

DWORD WINAPI EngineThreadCall::Run(void* self) {
    auto* call = static_cast<EngineThreadCall*>(self);
    call->work_();
    call->done_ = true;
    return 0;
}

bool EngineThreadCall::Finish(DWORD timeoutMs) {
    if (!thread_) return false;
    const bool done = PumpUntil([&] { return done_.load(); }, timeoutMs);
    if (done) WaitForSingleObject(thread_, INFINITE);
    return done;
}

MessageBoxWatcher::MessageBoxWatcher(int answer) : answer_(answer) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MessageBoxWatcher::~MessageBoxWatcher() {
    stop_.store(true);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
}

DWORD WINAPI MessageBoxWatcher::Run(void* self) {
    auto* watcher = static_cast<MessageBoxWatcher*>(self);
    while (!watcher->stop_.load()) {
        watcher->Scan();
        Sleep(5);
    }
    return 0;
}

namespace {

struct ScanContext {
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[32];
    if (pid == GetCurrentProcessId() && GetClassNameA(window, cls, sizeof(cls)) && std::strcmp(cls, "#32770") == 0 &&
        IsWindowVisible(window)) {
        reinterpret_cast<ScanContext*>(param)->dialogs.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK CountButtons(HWND child, LPARAM param) {
    char cls[32];
    if (GetClassNameA(child, cls, sizeof(cls)) && _stricmp(cls, "Button") == 0) ++*reinterpret_cast<int*>(param);
    return TRUE;
}

// A message box shows its icon in a static control of the icon type.
BOOL CALLBACK FindIcon(HWND child, LPARAM param) {
    char cls[32];
    if (GetClassNameA(child, cls, sizeof(cls)) && _stricmp(cls, "Static") == 0 &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
        SendMessageA(child, STM_GETICON, 0, 0) != 0) {
        *reinterpret_cast<bool*>(param) = true;
    }
    return TRUE;
}

std::string WindowText(HWND window) {
    char text[2048] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

}  // namespace

void MessageBoxWatcher::Scan() {
    ScanContext context;
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&context));
    for (HWND dialog : context.dialogs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bool known = false;
            for (HWND seen : answered_) known = known || seen == dialog;
            if (known) continue;
            SeenBox box;
            box.caption = WindowText(dialog);
            HWND textControl = GetDlgItem(dialog, 0xFFFF);
            if (textControl) box.text = WindowText(textControl);
            box.window = dialog;
            box.owner = GetWindow(dialog, GW_OWNER);
            box.style = GetWindowLongA(dialog, GWL_STYLE);
            EnumChildWindows(dialog, FindIcon, reinterpret_cast<LPARAM>(&box.hasIcon));
            EnumChildWindows(dialog, CountButtons, reinterpret_cast<LPARAM>(&box.buttons));
            boxes_.push_back(box);
            answered_.push_back(dialog);
        }
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer_.load(), BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, answer_.load())));
    }
}

std::vector<SeenBox> MessageBoxWatcher::Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

size_t MessageBoxWatcher::Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_.size();
}

void MessageBoxWatcher::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
}

bool MessageBoxWatcher::WaitForCount(size_t count, DWORD timeoutMs) {
    return PumpUntil([&] { return Count() >= count; }, timeoutMs);
}

// ---- the fake host ----------------------------------------------------------

namespace {

FakeHost* g_host = nullptr;

HostCounts& C() { return g_host->counts; }
HostSettings& S() { return g_host->settings; }

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_host) {
        // The host's guards: nothing stops inside Play, and the Stop command
        // acts only while something plays.  A test that drives a playback
        // without FakeHost::Play stands for a Play that returned 0.
        const bool guarded = g_host->inPlay || (g_host->playedThroughHost && !g_host->playing);
        const auto hostStops = [guarded] {
            if (!S().stopOnMessages.load() || guarded) return;
            ++C().stopCalls;
            g_host->playing = false;
            g_module.Stop();
        };
        if (message == winamp::kEndOfFileMessage) {
            ++C().endOfFileMessages;
            hostStops();
            return 0;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == winamp::kStopCommand) {
            ++C().stopCommands;
            hostStops();
            return 0;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

enum OutputPhase { NeverOpened, Opened, Closed };
std::atomic<int> g_outputPhase{NeverOpened};
std::atomic<bool> g_outputPaused{false};

// The output's clock: bytes since Open or the last Flush, and where it restarted.
std::atomic<long long> g_bytesSinceFlush{0};
std::atomic<int> g_flushedToMs{0};
std::atomic<int> g_bytesPerSecond{0};

int ClockMs() {
    const int rate = g_bytesPerSecond.load();
    return g_flushedToMs.load() + (rate > 0 ? static_cast<int>(g_bytesSinceFlush.load() * 1000 / rate) : 0);
}

bool OutputIsOpen() { return g_outputPhase.load() == Opened; }
bool AnswersAsOpen() { return OutputIsOpen() || S().closedOutputAnswersAsOpen.load(); }
// Any call but Open on an output that was closed is the plug-in's fault.
void CountCallOnClosed() {
    if (g_outputPhase.load() == Closed) ++C().callsAfterClose;
}

int __cdecl OutOpen(int rate, int channels, int bits, int bufferMs, int prebufferMs) {
    ++C().outOpen;
    C().openRate = rate;
    C().openChannels = channels;
    C().openBits = bits;
    C().openBufferMs = bufferMs;
    C().openPrebufferMs = prebufferMs;
    const int result = S().openResult.load();
    if (result >= 0) {
        ++C().outOpened;
        g_outputPhase = Opened;
        g_outputPaused = false;
        g_bytesPerSecond = rate * channels * ((bits + 7) / 8);
        g_bytesSinceFlush = 0;
        g_flushedToMs = 0;
    }
    return result;
}
void __cdecl OutClose() {
    ++C().outClose;
    if (OutputIsOpen()) {
        g_outputPhase = Closed;
    } else {
        ++C().closesWhileNotOpen;
        CountCallOnClosed();
    }
}
int __cdecl OutWrite(char* data, int length) {
    ++C().outWrite;
    CountCallOnClosed();
    if (g_outputPaused.load()) return 1;
    for (int left = S().refuseWrites.load(); left > 0; left = S().refuseWrites.load())
        if (S().refuseWrites.compare_exchange_weak(left, left - 1)) return 1;
    if (C().outClose.load() >= C().outOpen.load() && C().outOpen.load() > 0) ++C().writesAfterClose;
    C().bytesWritten += length;
    g_bytesSinceFlush += length;
    if (g_host->captureWrites.load()) {
        std::lock_guard<std::mutex> lock(g_host->writtenMutex);
        g_host->written.append(data, static_cast<size_t>(length));
        g_host->writeSizes.push_back(length);
    }
    return 0;
}
int __cdecl OutCanWrite() {
    ++C().outCanWrite;
    CountCallOnClosed();
    return AnswersAsOpen() && !g_outputPaused.load() ? S().canWrite.load() : 0;
}
int __cdecl OutIsPlaying() {
    ++C().outIsPlaying;
    CountCallOnClosed();
    // A hung output: the call returns once the test clears the setting.
    for (int waited = 0; S().isPlayingHangMs.load() > waited; waited += 10) Sleep(10);
    return AnswersAsOpen() ? S().isPlaying.load() : 0;
}
int __cdecl OutPause(int pause) {
    ++C().outPause;
    CountCallOnClosed();
    C().lastPause = pause;
    return g_outputPaused.exchange(pause != 0) ? 1 : 0;
}
void __cdecl OutSetVolume(int volume) { ++C().outSetVolume; C().lastVolume = volume; }
void __cdecl OutSetPan(int pan) { ++C().outSetPan; C().lastPan = pan; }
void __cdecl OutFlush(int timeMs) {
    ++C().outFlush;
    CountCallOnClosed();
    C().lastFlush = timeMs;
    g_bytesSinceFlush = 0;
    g_flushedToMs = timeMs;
}
int __cdecl OutGetOutputTime() {
    ++C().outGetOutputTime;
    CountCallOnClosed();
    const int fixed = S().outputTimeMs.load();
    return fixed >= 0 ? fixed : ClockMs();
}
int __cdecl OutGetWrittenTime() {
    ++C().outGetWrittenTime;
    CountCallOnClosed();
    const int fixed = S().writtenTimeMs.load();
    return fixed >= 0 ? fixed : ClockMs();
}

void __cdecl HostSavsaInit(int latency, int rate) {
    ++C().savsaInit;
    C().savsaInitArgs[0] = latency;
    C().savsaInitArgs[1] = rate;
}
void __cdecl HostSavsaDeInit() { ++C().savsaDeInit; }
// The host's spectrum and oscilloscope read 576 frames, whatever they are given.
std::string Read576Frames(const void* data, int channels, int bits) {
    return std::string(static_cast<const char*>(data), static_cast<size_t>(576 * channels * (bits / 8)));
}
void __cdecl HostSaAddPcm(void* data, int channels, int bits, int) {
    ++C().saAddPcm;
    std::string frames = Read576Frames(data, channels, bits);
    std::lock_guard<std::mutex> lock(g_host->writtenMutex);
    g_host->visFrames = std::move(frames);
}
void __cdecl HostVsaAddPcm(void* data, int channels, int bits, int) {
    ++C().vsaAddPcm;
    Read576Frames(data, channels, bits);
}
void __cdecl HostVsaSetInfo(int rate, int channels) {
    ++C().vsaSetInfo;
    C().vsaSetInfoArgs[0] = rate;
    C().vsaSetInfoArgs[1] = channels;
}
int __cdecl HostDspIsActive() { ++C().dspIsActive; return S().dspActive.load(); }
int __cdecl HostDspDoSamples(short*, int samples, int, int, int) { ++C().dspDoSamples; return samples; }
void __cdecl HostSetInfo(int bitrate, int rateKhz, int channels, int synched) {
    ++C().setInfo;
    C().setInfoArgs[0] = bitrate;
    C().setInfoArgs[1] = rateKhz;
    C().setInfoArgs[2] = channels;
    C().setInfoArgs[3] = synched;
}
int __cdecl HostSaGetMode() { ADD_FAILURE() << "SAGetMode is never called"; return 0; }
void __cdecl HostSaAdd(void*, int, int) { ADD_FAILURE() << "SAAdd is never called"; }
int __cdecl HostVsaGetMode(int*, int*) { ADD_FAILURE() << "VSAGetMode is never called"; return 0; }
void __cdecl HostVsaAdd(void*, int) { ADD_FAILURE() << "VSAAdd is never called"; }

winamp::Out_Module g_outModule = {
    0x10, const_cast<char*>("test output"), 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    OutOpen, OutClose, OutWrite, OutCanWrite, OutIsPlaying, OutPause, OutSetVolume, OutSetPan, OutFlush,
    OutGetOutputTime, OutGetWrittenTime,
};

}  // namespace

FakeHost* FakeHost::Current() { return g_host; }

FakeHost::FakeHost() {
    static ATOM windowClass = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = HostWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "FakeHostMain";
        return RegisterClassA(&wc);
    }();
    (void)windowClass;
    window_ = CreateWindowExA(0, "FakeHostMain", "Fake host", WS_OVERLAPPEDWINDOW, 100, 50, 275, 116,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    g_host = this;
    g_outputPhase = NeverOpened;
    g_outputPaused = false;
    g_bytesSinceFlush = 0;
    g_flushedToMs = 0;
    g_bytesPerSecond = 0;
    g_module.hMainWindow = window_;
    g_module.hDllInstance = GetModuleHandleA(nullptr);
    g_outModule.hMainWindow = window_;
    // As the host: no output and no SetInfo during Init.
    g_module.outMod = nullptr;
    g_module.SetInfo = nullptr;
    g_module.SAVSAInit = HostSavsaInit;
    g_module.SAVSADeInit = HostSavsaDeInit;
    g_module.SAAddPCMData = HostSaAddPcm;
    g_module.SAGetMode = HostSaGetMode;
    g_module.SAAdd = HostSaAdd;
    g_module.VSAAddPCMData = HostVsaAddPcm;
    g_module.VSAGetMode = HostVsaGetMode;
    g_module.VSAAdd = HostVsaAdd;
    g_module.VSASetInfo = HostVsaSetInfo;
    g_module.dsp_isactive = HostDspIsActive;
    g_module.dsp_dosamples = HostDspDoSamples;
    g_module.Init();
    g_module.SetInfo = HostSetInfo;
    g_module.outMod = &g_outModule;
}

int FakeHost::Play(const char* path) {
    g_module.outMod = &g_outModule;
    g_module.SetVolume(255);
    g_module.SetPan(0);
    inPlay = true;
    playedThroughHost = true;
    const int result = g_module.Play(const_cast<char*>(path));
    inPlay = false;
    playing = result == 0;
    if (playing) {
        char title[2048];
        int lengthMs = 0;
        char empty[] = "";
        g_module.GetFileInfo(empty, title, &lengthMs);
        counts.playingEntryLengthMs = lengthMs;
    }
    return result;
}

void FakeHost::QuitNow() {
    if (quitDone_) return;
    quitDone_ = true;
    g_module.Quit();
    if (OutputIsOpen()) counts.leftOpenAtQuit = 1;
}

FakeHost::~FakeHost() {
    QuitNow();
    DestroyWindow(window_);
    g_module.hMainWindow = nullptr;
    g_module.outMod = nullptr;
    g_host = nullptr;
}

// ---- the stand-in engine ----------------------------------------------------

SimEngine::SimEngine() {
    module_ = LoadLibraryA((BinDir() + "\\pnen3260.dll").c_str());
    if (!module_) {
        ADD_FAILURE() << "stand-in engine not found beside the test";
        return;
    }
    control_ = reinterpret_cast<int(__stdcall*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SimEngineControl")));
    log_ = reinterpret_cast<int(__stdcall*)(char*, int)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SimEngineLog")));
    query_ = reinterpret_cast<int(__stdcall*)(const char*)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SimEngineQuery")));
    alive_ = reinterpret_cast<int(__stdcall*)(char*, int)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SimEngineAlive")));
    onSeek_ = reinterpret_cast<void(__stdcall*)(SeekHook)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "SimEngineOnSeek")));
    EXPECT_TRUE(control_ && log_ && query_ && alive_ && onSeek_) << "stand-in engine lacks its control exports";
}

SimEngine& SimEngine::Get() {
    static SimEngine engine;
    return engine;
}

void SimEngine::Reset() {
    SetEngineDirectory(BinDir() + "\\");
    EXPECT_EQ(Control("reset"), 0);
}

int SimEngine::Control(const std::string& command) { return control_ ? control_(command.c_str()) : -1; }

std::string SimEngine::Log() {
    if (!log_) return {};
    std::string text(1 << 17, '\0');
    int length = log_(&text[0], static_cast<int>(text.size()));
    if (length >= static_cast<int>(text.size())) length = static_cast<int>(text.size()) - 1;
    text.resize(static_cast<size_t>(length < 0 ? 0 : length));
    return text;
}

bool SimEngine::LogHas(const std::string& line) { return CountInLog(line) > 0; }

int SimEngine::CountInLog(const std::string& line) {
    const std::string log = "\n" + Log();
    const std::string needle = "\n" + line;
    int count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++count;
    return count;
}

int SimEngine::Query(const std::string& what) { return query_ ? query_(what.c_str()) : -1; }

std::string SimEngine::Alive() {
    char text[256] = {};
    if (alive_) alive_(text, sizeof(text));
    return text;
}

void SimEngine::OnSeek(SeekHook hook) {
    if (onSeek_) onSeek_(hook);
}

void ExpectCleanPluginState() {
    EXPECT_EQ(CurrentPlayback(), nullptr) << "a playback outlived Quit";
    EXPECT_EQ(engine::CurrentLink(), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Library), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Engine), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Player), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::Context), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::AudioDevice), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::ErrorSink), nullptr);
    EXPECT_EQ(LinkPart(&engine::EngineLink::ErrorSinkControl), nullptr);
}

PlaybackState CurrentState() {
    const PlaybackRef playback = CurrentPlayback();
    return playback ? playback->State() : StateIdle;
}

HWND CurrentVideoWindow() {
    const PlaybackRef playback = CurrentPlayback();
    return playback ? playback->VideoWindow() : nullptr;
}

TestPlayback::TestPlayback(PlaybackState state, bool quiet)
    : ref(std::make_shared<Playback>("C:\\test.rm", "file:C:\\test.rm", quiet)) {
    ref->ForceStateForTesting(state);
    ref->MarkBegun();
    ref->PlayReturned();
    InstallPlayback(ref);
}

TestPlayback::~TestPlayback() {
    Close();
    if (ref->caption) DestroyWindow(ref->caption);
    ref->caption = nullptr;
}

std::string TestPlayback::TakeCommands() {
    std::string commands;
    int command = 0, argument = 0;
    if (ref->Closed()) return commands;
    while (ref->TakeCommand(&command, &argument)) commands += static_cast<char>('0' + command);
    return commands;
}

void TestPlayback::Close() {
    ref->Close();
    if (CurrentPlayback() == ref) TakePlayback();
}

}  // namespace testsupport
