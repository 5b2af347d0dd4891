// The host's output modules and its visualisation, DSP and info callbacks.
// Four personalities follow the player's own outputs (DirectSound, waveOut,
// the disk writer, WASAPI): their Open answers and failure boxes, what Write
// does with data it cannot take, CanWrite, IsPlaying, pausing and locking.
// Each keeps a queue drained by a clock: the wall clock with --realtime,
// otherwise at once on every call (as fast as possible); times are derived
// from byte counts, so they follow exactly what was written.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/host/host.h"

namespace {

enum Op { OpOpen, OpClose, OpWrite, OpCanWrite, OpIsPlaying, OpPause, OpSetVolume, OpSetPan,
          OpFlush, OpOutputTime, OpWrittenTime, OpCount };
const char* const kOpNames[OpCount] = {"open", "close", "write", "canwrite", "isplaying", "pause",
                                       "setvolume", "setpan", "flush", "outputtime", "writtentime"};

enum Phase { NeverOpened, Open, Closed };

struct Personality {
    const char* name;
    int latencyMs;          // Open's answer: the buffer's length
    int bufferMs;           // the queue CanWrite measures; 0: unbounded
    int playingAboveMs;     // IsPlaying while more than this is queued (ds, wave)
    bool locked;            // one lock around every entry
    bool boxOwnedByHost;    // the failure box's owner
    const char* boxCaption;
    const char* boxText;
};
const Personality kPersonalities[] = {
    {"ds", 2000, 2000, 500, true, false, "DirectSound output", "Error opening the DirectSound device"},
    {"wave", 2000, 2000, 200, true, true, "WaveOut output", "Error opening the waveOut device"},
    {"disk", 0, 0, 0, true, true, "Disk writer", "Cannot open the output file"},
    {"wasapi", 1000, 1000, 0, false, false, "WASAPI output", "Error opening the WASAPI device"},
};
constexpr int kDiskCanWrite = 666666666;
constexpr int kDiskNameMessages = 4;
constexpr int kVisFrames = 576;
constexpr int kVisReportsShown = 3;
constexpr size_t kVisHistoryBytes = 1 << 20;

// A visualisation call waiting for the sound after it: the 576 frames the
// host read from the pointer must be sound the plug-in hands on.
struct VisCheck {
    const char* name;
    std::string frames;
    long long at;       // the sound stream's length when the hook was called
    long long blockEnd; // where the next block's hooks began; -1: not yet
    int frameBytes;
    bool unsignedSamples;
};

struct Output {
    CRITICAL_SECTION entryLock;  // the personality's own lock (not wasapi)
    CRITICAL_SECTION lock;       // hostsim's bookkeeping, held briefly
    OutputOptions options;
    const Personality* kind;
    std::atomic<int> calls[OpCount];
    std::atomic<int> retired, quit;
    int opens;
    int opened, closed;    // Opens that succeeded, and Closes
    bool hostStopping;     // hostsim called Stop in this Play
    bool openedAfterStop;  // and the output was opened after that
    bool writeAfterStopSeen;
    int writesWhileOpen;

    Phase phase;
    int rate, channels, bits, frameBytes;
    long long bytesPerSec, bufferBytes;
    std::vector<char> queue;  // queued sound from `head` on
    size_t head;
    long long timeBaseMs, writtenBytes, playedBytes;
    int paused;
    bool lastIsPlayingZero;  // IsPlaying answered 0 and nothing was written since
    LARGE_INTEGER frequency, clockStart;
    long long clockStartPlayed;

    OutputTotals totals;
    std::atomic<int> vis, visBytes, dspCalls;

    // The sound as the plug-in handed it on (before the DSP hook changes
    // it), for the visualisation checks.
    std::string history;
    long long historyStart, streamBytes;
    std::deque<VisCheck> visPending;
    const void* lastVisData;
    long long lastVisAt;
    int visShort, visReported;

    FILE* wav;
    int wavRate, wavChannels, wavBits;
    long long wavBytes;
};
Output g_out;
HWND g_mainWindow;

struct Locked {
    Locked() { EnterCriticalSection(&g_out.lock); }
    ~Locked() { LeaveCriticalSection(&g_out.lock); }
};

// The output's own lock: ds, wave and disk hold one lock over every entry
// (so a Close waits for a Write, and an Open that waits for the host's
// window holds every other caller); wasapi has none.
struct Entry {
    bool held;
    Entry() : held(g_out.kind->locked) { if (held) EnterCriticalSection(&g_out.entryLock); }
    ~Entry() { if (held) LeaveCriticalSection(&g_out.entryLock); }
};

// Counts the call and reports calls that the plug-in should not make now.
// Volume and pan are the host's as much as the plug-in's: outputs keep them
// while closed and apply them at Open.
void Enter(Op op) {
    g_out.calls[op].fetch_add(1);
    bool anyTime = op == OpSetVolume || op == OpSetPan;
    if (g_out.retired.load())
        Unexpected("outmod.%s after quit", kOpNames[op]);
    else if (g_out.quit.load())
        Unexpected("outmod.%s after the output's quit", kOpNames[op]);
    else if (g_out.phase == Closed && op != OpOpen && !anyTime)
        Unexpected("outmod.%s after close", kOpNames[op]);
    else if (g_out.phase == NeverOpened && op == OpWrite)
        Unexpected("outmod.%s before open", kOpNames[op]);
}

void RestartClock() {
    QueryPerformanceCounter(&g_out.clockStart);
    g_out.clockStartPlayed = g_out.playedBytes;
}

long long Queued() { return static_cast<long long>(g_out.queue.size() - g_out.head); }

void Play(const char* data, size_t bytes) {
    if (!g_out.wav || !bytes) return;
    fwrite(data, 1, bytes, g_out.wav);
    g_out.wavBytes += static_cast<long long>(bytes);
}

// Plays what the clock says has been played by now; nothing while paused.
void Drain() {
    if (g_out.phase != Open || Queued() == 0 || g_out.paused) return;
    long long consume = Queued();
    if (g_out.options.realtime) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        long long due = (now.QuadPart - g_out.clockStart.QuadPart) * g_out.bytesPerSec / g_out.frequency.QuadPart;
        due -= due % g_out.frameBytes;
        long long owed = g_out.clockStartPlayed + due - g_out.playedBytes;
        if (owed < consume) consume = owed < 0 ? 0 : owed;
    }
    Play(&g_out.queue[g_out.head], static_cast<size_t>(consume));
    g_out.head += static_cast<size_t>(consume);
    g_out.playedBytes += consume;
    if (g_out.head == g_out.queue.size()) {
        g_out.queue.clear();
        g_out.head = 0;
    } else if (g_out.head > (1u << 20)) {
        g_out.queue.erase(g_out.queue.begin(), g_out.queue.begin() + static_cast<long>(g_out.head));
        g_out.head = 0;
    }
}

void DropQueue() {
    g_out.queue.clear();
    g_out.head = 0;
}

int MsFromBytes(long long bytes) {
    return static_cast<int>(g_out.timeBaseMs + (g_out.bytesPerSec ? bytes * 1000 / g_out.bytesPerSec : 0));
}

long long BytesFromMs(long long ms) {
    long long bytes = g_out.bytesPerSec * ms / 1000;
    return bytes - bytes % (g_out.frameBytes ? g_out.frameBytes : 1);
}

void Put32(FILE* f, unsigned v) {
    unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    fwrite(b, 1, 4, f);
}
void Put16(FILE* f, unsigned v) {
    unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    fwrite(b, 1, 2, f);
}

// RIFF header for the first Open's format; sizes are fixed up at the end.
void WriteWavHeader() {
    FILE* f = g_out.wav;
    fseek(f, 0, SEEK_SET);
    unsigned data = static_cast<unsigned>(g_out.wavBytes);
    unsigned blockAlign = g_out.wavChannels * ((g_out.wavBits + 7) / 8);
    fwrite("RIFF", 1, 4, f);
    Put32(f, 36 + data + (data & 1));
    fwrite("WAVEfmt ", 1, 8, f);
    Put32(f, 16);
    Put16(f, 1);
    Put16(f, g_out.wavChannels);
    Put32(f, g_out.wavRate);
    Put32(f, g_out.wavRate * blockAlign);
    Put16(f, blockAlign);
    Put16(f, g_out.wavBits);
    fwrite("data", 1, 4, f);
    Put32(f, data);
    fseek(f, 0, SEEK_END);
}

// ---- the visualisation checks -------------------------------------------

bool IsSilence(const char* p, size_t n, bool unsignedSamples) {
    const char silent = unsignedSamples ? static_cast<char>(0x80) : 0;
    for (size_t i = 0; i < n; ++i)
        if (p[i] != silent) return false;
    return true;
}

// The host read 576 frames from the pointer.  They are sound the plug-in
// hands on when they lie within the stream near the hook's place (a window
// of earlier sound is as good as the block itself), are the block itself
// followed by silence, or silence followed by the sound up to the block's
// end; anything else was read past the block.
void ResolveVis(const VisCheck& c) {
    const long long need = static_cast<long long>(c.frames.size());
    long long from = std::max(g_out.historyStart, c.at - 2 * need);
    long long to = std::min(g_out.streamBytes, c.at + 2 * need);
    if (to > from) {
        const char* base = g_out.history.data() + (from - g_out.historyStart);
        const char* end = base + (to - from);
        if (std::search(base, end, std::boyer_moore_horspool_searcher(c.frames.begin(), c.frames.end())) != end)
            return;
    }
    long long blockEnd = c.blockEnd >= 0 ? c.blockEnd : g_out.streamBytes;
    long long block = std::max(0LL, std::min(blockEnd - c.at, need));
    if (c.at >= g_out.historyStart && block > 0 && c.at + block <= g_out.streamBytes) {
        if (memcmp(g_out.history.data() + (c.at - g_out.historyStart), c.frames.data(), static_cast<size_t>(block)) ==
                0 &&
            IsSilence(c.frames.data() + block, static_cast<size_t>(need - block), c.unsignedSamples))
            return;
    }
    // Silence, then the sound that led up to the block's end: a plug-in
    // with less earlier sound to show than the host reads (the first
    // blocks, or the first after a seek).
    const char silent = c.unsignedSamples ? static_cast<char>(0x80) : 0;
    long long lead = 0;
    while (lead < need && c.frames[static_cast<size_t>(lead)] == silent) ++lead;
    const long long heard = need - lead, heardFrom = c.at + block - heard;
    if (block > 0 && heardFrom >= g_out.historyStart && c.at + block <= g_out.streamBytes &&
        memcmp(g_out.history.data() + (heardFrom - g_out.historyStart), c.frames.data() + lead,
               static_cast<size_t>(heard)) == 0)
        return;
    ++g_out.visShort;
    if (++g_out.visReported <= kVisReportsShown)
        Unexpected("%s read %d frames past a block of %lld frames", c.name, kVisFrames,
                   (blockEnd - c.at) / c.frameBytes);
}

// Settles the checks the sound has caught up with; `all` at a Flush, a
// Close or the end, when no more of the block can come.
void SettleVis(bool all) {
    while (!g_out.visPending.empty()) {
        const VisCheck& c = g_out.visPending.front();
        if (!all && g_out.streamBytes < c.at + static_cast<long long>(c.frames.size())) break;
        ResolveVis(c);
        g_out.visPending.pop_front();
    }
}

void AppendStream(const char* data, size_t bytes) {
    g_out.history.append(data, bytes);
    g_out.streamBytes += static_cast<long long>(bytes);
    if (g_out.history.size() > kVisHistoryBytes) {
        size_t drop = g_out.history.size() - kVisHistoryBytes / 2;
        g_out.history.erase(0, drop);
        g_out.historyStart += static_cast<long long>(drop);
    }
    SettleVis(false);
}

// ---- the output's entries ---------------------------------------------

// The output's own box, on the calling thread, before it answers -1.
void ShowFailureBox() {
    HWND owner = g_out.kind->boxOwnedByHost ? g_mainWindow : nullptr;
    MessageBoxA(owner, g_out.kind->boxText, g_out.kind->boxCaption, MB_OK | MB_ICONERROR);
}

int HOST_CB OutOpen(int rate, int channels, int bits, int bufferLenMs, int preBufferMs) {
    Entry entry;
    bool refuse;
    char extra[48] = "";
    {
        Locked lock;
        Enter(OpOpen);
        refuse = g_out.options.refuseOpen == 1 || (g_out.options.refuseOpen == 2 && g_out.opens == 0);
        ++g_out.opens;
        if (g_out.phase == Open) Unexpected("outmod.open while open");
        if (g_out.hostStopping) Unexpected("outmod.open after stop");
        if (rate <= 0 || channels <= 0 || bits < 8 || bits % 8) {
            Unexpected("outmod.open format %d %d %d", rate, channels, bits);
            refuse = true;
        }
        // The plug-in gives 0 for both buffer figures; others are shown when they come.
        if (bufferLenMs || preBufferMs) snprintf(extra, sizeof extra, " buffer=%d prebuffer=%d", bufferLenMs, preBufferMs);
    }
    // The disk writer names its file from the playing entry, asking the
    // host's window from the thread that called Open.
    if (g_out.kind == &kPersonalities[OutputDisk])
        for (int i = 0; i < kDiskNameMessages; ++i) SendMessageA(g_mainWindow, WM_USER, 0, 0);
    if (refuse) {
        ShowFailureBox();
        Event("outmod.open %d %d %d%s -> -1", rate, channels, bits, extra);
        return -1;
    }
    Locked lock;
    g_out.phase = Open;
    ++g_out.opened;
    if (g_out.hostStopping) g_out.openedAfterStop = true;
    g_out.rate = rate;
    g_out.channels = channels;
    g_out.bits = bits;
    g_out.frameBytes = channels * bits / 8;
    g_out.bytesPerSec = static_cast<long long>(rate) * g_out.frameBytes;
    g_out.bufferBytes = BytesFromMs(g_out.kind->bufferMs);
    DropQueue();
    g_out.timeBaseMs = g_out.writtenBytes = g_out.playedBytes = 0;
    g_out.paused = 0;
    g_out.lastIsPlayingZero = false;
    g_out.writesWhileOpen = 0;
    RestartClock();
    if (g_out.options.wavPath && !g_out.wav) {
        g_out.wav = fopen(g_out.options.wavPath, "wb");
        if (!g_out.wav) {
            Event("error cannot write %s", g_out.options.wavPath);
        } else {
            g_out.wavRate = rate;
            g_out.wavChannels = channels;
            g_out.wavBits = bits;
            WriteWavHeader();
        }
    }
    Event("outmod.open %d %d %d%s -> %d", rate, channels, bits, extra, g_out.kind->latencyMs);
    return g_out.kind->latencyMs;
}

void HOST_CB OutClose() {
    Entry entry;
    Locked lock;
    Enter(OpClose);
    if (g_out.phase != Open) Unexpected("outmod.close while not open");
    if (g_out.phase == Open) {
        ++g_out.closed;
        // Closed after IsPlaying said 0, the output lets the rest play out;
        // otherwise what is queued goes unheard.
        if (g_out.lastIsPlayingZero) Play(&g_out.queue[0] + g_out.head, static_cast<size_t>(Queued()));
    }
    DropQueue();
    g_out.phase = Closed;
    SettleVis(true);
    Event("outmod.close");
}

int CanWriteNow() {
    if (g_out.phase != Open) return 0;
    Drain();
    if (g_out.kind == &kPersonalities[OutputDisk]) return g_out.paused ? 0 : kDiskCanWrite;
    if (g_out.paused && g_out.kind != &kPersonalities[OutputWasapi]) return 0;
    return static_cast<int>(std::max(0LL, g_out.bufferBytes - Queued()));
}

void Queue(const char* data, size_t bytes) {
    if (!bytes) return;
    if (Queued() == 0) RestartClock();
    g_out.queue.insert(g_out.queue.end(), data, data + bytes);
}

int HOST_CB OutWrite(char* data, int length) {
    Entry entry;
    Locked lock;
    Enter(OpWrite);
    if (length > kMaxWriteBytes || length < 0 || (!data && length)) {
        Unexpected("outmod.write %d bytes", length);
        if (length < 0 || !data) return 1;
    }
    // Reported once per Play: the calls line has the count.
    if (g_out.openedAfterStop && g_out.phase == Open && !g_out.writeAfterStopSeen) {
        g_out.writeAfterStopSeen = true;
        Unexpected("outmod.write after stop");
    }
    if (!g_out.options.dsp) AppendStream(data, static_cast<size_t>(length));
    if (g_out.phase != Open) return 0;
    g_out.lastIsPlayingZero = false;
    ++g_out.writesWhileOpen;
    const int room = CanWriteNow();
    const Personality* kind = g_out.kind;
    const bool busy = kind == &kPersonalities[OutputDs] && g_out.options.busyWrite > 0 &&
                      g_out.writesWhileOpen % g_out.options.busyWrite == 0;
    if (kind == &kPersonalities[OutputDs] && (g_out.paused || busy)) {
        Event("outmod.write %d -> 1", length);
        return 1;
    }
    g_out.totals.writes++;
    g_out.totals.writtenBytes += length;
    g_out.writtenBytes += length;
    if (kind == &kPersonalities[OutputDisk]) {
        Play(data, static_cast<size_t>(length));
        g_out.playedBytes += length;
        return 0;
    }
    if (kind == &kPersonalities[OutputWave] && g_out.paused) {
        Unexpected("outmod.write while paused: the wave output dropped %d bytes", length);
        return 0;
    }
    if (length > room && kind == &kPersonalities[OutputWave]) {
        Unexpected("outmod.write %d bytes with room for %d: the wave output cut %d bytes", length, room, length - room);
        Queue(data, static_cast<size_t>(room));
        return 0;
    }
    if (length > room && kind == &kPersonalities[OutputWasapi]) {
        Unexpected("outmod.write %d bytes with room for %d: the wasapi output dropped it", length, room);
        return 0;
    }
    if (length > room) Unexpected("outmod.write %d bytes with room for %d", length, room);
    Queue(data, static_cast<size_t>(length));
    return 0;
}

int HOST_CB OutCanWrite() {
    Entry entry;
    Locked lock;
    Enter(OpCanWrite);
    return CanWriteNow();
}

int HOST_CB OutIsPlaying() {
    Entry entry;
    Locked lock;
    Enter(OpIsPlaying);
    int playing = 0;
    if (g_out.kind == &kPersonalities[OutputWasapi]) {
        playing = CanWriteNow() == 0;
    } else if (g_out.phase == Open && g_out.kind != &kPersonalities[OutputDisk]) {
        Drain();
        playing = g_out.paused || Queued() > BytesFromMs(g_out.kind->playingAboveMs);
    }
    g_out.lastIsPlayingZero = playing == 0;
    return playing;
}

int HOST_CB OutPause(int pause) {
    Entry entry;
    Locked lock;
    Enter(OpPause);
    Drain();
    int was = g_out.paused;
    g_out.paused = pause != 0;
    if (!g_out.paused) RestartClock();
    Event("outmod.pause %d", pause);
    return was;
}

void HOST_CB OutSetVolume(int volume) {
    Entry entry;
    Locked lock;
    Enter(OpSetVolume);
    Event("outmod.setvolume %d", volume);
}

void HOST_CB OutSetPan(int pan) {
    Entry entry;
    Locked lock;
    Enter(OpSetPan);
    Event("outmod.setpan %d", pan);
}

void HOST_CB OutFlush(int timeMs) {
    Entry entry;
    {
        Locked lock;
        Enter(OpFlush);
        DropQueue();
        g_out.timeBaseMs = timeMs;
        g_out.writtenBytes = g_out.playedBytes = 0;
        g_out.lastIsPlayingZero = false;
        RestartClock();
        SettleVis(true);
    }
    // A device's reset stops the sound at once and then takes its time
    // inside the output's own lock (wasapi has none): the output's other
    // calls wait behind it, and its clock starts again only afterwards.
    if (g_out.options.flushMs > 0) {
        Sleep(static_cast<DWORD>(g_out.options.flushMs));
        Locked lock;
        RestartClock();
    }
    Event("outmod.flush %d", timeMs);
}

int HOST_CB OutGetOutputTime() {
    Entry entry;
    Locked lock;
    Enter(OpOutputTime);
    Drain();
    return MsFromBytes(g_out.playedBytes);
}

int HOST_CB OutGetWrittenTime() {
    Entry entry;
    Locked lock;
    Enter(OpWrittenTime);
    return MsFromBytes(g_out.writtenBytes);
}

void HOST_CB OutConfig(HWND) { Unexpected("outmod.config called by the input plug-in"); }
void HOST_CB OutAbout(HWND) { Unexpected("outmod.about called by the input plug-in"); }
void HOST_CB OutInit() { Unexpected("outmod.init called by the input plug-in"); }
void HOST_CB OutQuit() { Unexpected("outmod.quit called by the input plug-in"); }

void CheckRetired(const char* name) {
    if (g_out.retired.load()) Unexpected("%s after quit", name);
}

void HOST_CB SAVSAInit(int latencyMs, int sampleRate) {
    CheckRetired("savsainit");
    Event("savsainit %d %d", latencyMs, sampleRate);
}

void HOST_CB SAVSADeInit() {
    Locked lock;
    CheckRetired("savsadeinit");
    if (g_out.phase == Open) Unexpected("savsadeinit while the output is open");
    Event("savsadeinit");
}

// The host's spectrum and oscilloscope read 576 frames from the pointer,
// whatever the block holds; the frames are checked against the sound that
// follows.
void Vis(const char* name, void* data, int channels, int bits) {
    Locked lock;
    CheckRetired(name);
    if (!data) Unexpected("%s with no data", name);
    if (g_out.phase == Open && (channels != g_out.channels || bits != g_out.bits))
        Unexpected("%s %d %d differs from the open format %d %d", name, channels, bits, g_out.channels, g_out.bits);
    g_out.vis.fetch_add(1);
    const int frameBytes = channels * (bits / 8);
    if (!data || frameBytes <= 0) return;
    g_out.visBytes.fetch_add(kVisFrames * frameBytes);
    // The second hook for the same block needs no second check.
    bool sameBlock = data == g_out.lastVisData && g_out.lastVisAt == g_out.streamBytes;
    g_out.lastVisData = data;
    g_out.lastVisAt = g_out.streamBytes;
    if (sameBlock) return;
    for (VisCheck& c : g_out.visPending)
        if (c.blockEnd < 0) c.blockEnd = g_out.streamBytes;
    VisCheck check{name, std::string(static_cast<const char*>(data), static_cast<size_t>(kVisFrames * frameBytes)),
                   g_out.streamBytes, -1, frameBytes, bits == 8};
    g_out.visPending.push_back(std::move(check));
}

void HOST_CB SAAddPCMData(void* data, int channels, int bits, int) { Vis("saaddpcmdata", data, channels, bits); }
void HOST_CB VSAAddPCMData(void* data, int channels, int bits, int) { Vis("vsaaddpcmdata", data, channels, bits); }

int HOST_CB SAGetMode() { Unexpected("sagetmode"); return 0; }
void HOST_CB SAAdd(void*, int, int) { Unexpected("saadd"); }
int HOST_CB VSAGetMode(int* spectrumChannels, int* waveChannels) {
    Unexpected("vsagetmode");
    if (spectrumChannels) *spectrumChannels = 0;
    if (waveChannels) *waveChannels = 0;
    return 0;
}
void HOST_CB VSAAdd(void*, int) { Unexpected("vsaadd"); }

void HOST_CB VSASetInfo(int sampleRate, int channels) {
    CheckRetired("vsasetinfo");
    Event("vsasetinfo %d %d", sampleRate, channels);
}

int HOST_CB DspIsActive() { return g_out.options.dsp != 0; }

long SampleAt(const unsigned char* p, int bytes) {
    switch (bytes) {
    case 1: return static_cast<long>(*p) - 128;
    case 2: return static_cast<short>(p[0] | p[1] << 8);
    case 3: return static_cast<long>(static_cast<unsigned long>(p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8;
    default: return static_cast<long>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned long>(p[3]) << 24);
    }
}

void StoreSample(unsigned char* p, int bytes, long v) {
    switch (bytes) {
    case 1: *p = static_cast<unsigned char>((v > 127 ? 127 : v) + 128); break;
    case 2: v = v > 32767 ? 32767 : v; p[0] = static_cast<unsigned char>(v); p[1] = static_cast<unsigned char>(v >> 8); break;
    case 3:
        v = v > 8388607 ? 8388607 : v;
        for (int i = 0; i < 3; ++i) p[i] = static_cast<unsigned char>(static_cast<unsigned long>(v) >> (8 * i));
        break;
    default: for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(static_cast<unsigned long>(v) >> (8 * i));
    }
}

int HOST_CB DspDoSamples(short* samples, int count, int bits, int channels, int rate) {
    CheckRetired("dsp_dosamples");
    g_out.dspCalls.fetch_add(1);
    int bytes = bits / 8;
    if (!samples || count < 0 || channels <= 0 || bytes < 1 || bytes > 4 || bits % 8) {
        Unexpected("dsp_dosamples %d %d %d %d", count, bits, channels, rate);
        return count;
    }
    unsigned char* p = reinterpret_cast<unsigned char*>(samples);
    int frame = bytes * channels;
    {
        // With the DSP on, the sound the visualisation saw is what comes in here.
        Locked lock;
        AppendStream(reinterpret_cast<const char*>(p), static_cast<size_t>(count) * frame);
    }
    if (g_out.options.dsp == 1) {
        for (int i = 0; i < count * channels; ++i) {
            long v = SampleAt(p + i * bytes, bytes);
            StoreSample(p + i * bytes, bytes, bytes == 4 && v == LONG_MIN ? LONG_MAX : -v);
        }
        return count;
    }
    // Each frame twice, from the end so nothing is overwritten before it is read.
    for (int i = count - 1; i >= 0; --i) {
        memmove(p + (2 * i + 1) * frame, p + i * frame, frame);
        memmove(p + 2 * i * frame, p + i * frame, frame);
    }
    return 2 * count;
}

std::atomic<int> g_setInfoCalls{0};

void HOST_CB SetInfo(int bitrate, int sampleRateKhz, int channels, int synched) {
    CheckRetired("setinfo");
    Event("setinfo %d %d %d %d", bitrate, sampleRateKhz, channels, synched);
    g_setInfoCalls.fetch_add(1);
}

char g_outDescription[] = "hostsim output";

}  // namespace

void OutputSetUp(const OutputOptions& options) {
    InitializeCriticalSection(&g_out.lock);
    InitializeCriticalSection(&g_out.entryLock);
    g_out.options = options;
    g_out.kind = &kPersonalities[options.personality];
    QueryPerformanceFrequency(&g_out.frequency);
}

const char* OutputName(int personality) { return kPersonalities[personality].name; }

bool OutputOwnsBox(const std::string& caption) {
    for (const Personality& p : kPersonalities)
        if (caption == p.boxCaption) return true;
    return false;
}

void OutputInstall(InModule* module, OutModule* out, HWND mainWindow) {
    g_mainWindow = mainWindow;
    *out = OutModule{};
    out->version = 0x10;
    out->description = g_outDescription;
    out->hMainWindow = mainWindow;
    out->hDllInstance = GetModuleHandleA(nullptr);
    out->Config = OutConfig;
    out->About = OutAbout;
    out->Init = OutInit;
    out->Quit = OutQuit;
    out->Open = OutOpen;
    out->Close = OutClose;
    out->Write = OutWrite;
    out->CanWrite = OutCanWrite;
    out->IsPlaying = OutIsPlaying;
    out->Pause = OutPause;
    out->SetVolume = OutSetVolume;
    out->SetPan = OutSetPan;
    out->Flush = OutFlush;
    out->GetOutputTime = OutGetOutputTime;
    out->GetWrittenTime = OutGetWrittenTime;

    module->SAVSAInit = SAVSAInit;
    module->SAVSADeInit = SAVSADeInit;
    module->SAAddPCMData = SAAddPCMData;
    module->SAGetMode = SAGetMode;
    module->SAAdd = SAAdd;
    module->VSAAddPCMData = VSAAddPCMData;
    module->VSAGetMode = VSAGetMode;
    module->VSAAdd = VSAAdd;
    module->VSASetInfo = VSASetInfo;
    module->dsp_isactive = DspIsActive;
    module->dsp_dosamples = DspDoSamples;
}

SetInfoFn OutputSetInfo() { return SetInfo; }

int OutputSetInfoCalls() { return g_setInfoCalls.load(); }

void OutputNewPlay() {
    Locked lock;
    if (g_out.phase == Closed) g_out.phase = NeverOpened;
    g_out.hostStopping = g_out.openedAfterStop = g_out.writeAfterStopSeen = false;
}

void OutputHostStopping() {
    Locked lock;
    g_out.hostStopping = true;
}

void OutputHostQuit() { g_out.quit.store(1); }

void OutputRetire() {
    Locked lock;
    g_out.retired.store(1);
    if (g_out.opened > g_out.closed)
        Unexpected("output left open at quit: opened %d closed %d", g_out.opened, g_out.closed);
}

void OutputFinish() {
    Locked lock;
    SettleVis(true);
    if (g_out.visShort > kVisReportsShown)
        Unexpected("%d visualisation blocks in all were read past their end", g_out.visShort);
    if (g_out.wav) {
        if (g_out.wavBytes & 1) fputc(0, g_out.wav);
        WriteWavHeader();
        fclose(g_out.wav);
        g_out.wav = nullptr;
    }
    std::string line = "outmod.calls";
    for (int i = 0; i < OpCount; ++i) line += std::string(" ") + kOpNames[i] + "=" + std::to_string(g_out.calls[i].load());
    Event("%s", line.c_str());
}

OutputTotals OutputGetTotals() {
    Locked lock;
    OutputTotals t = g_out.totals;
    t.vis = g_out.vis.load();
    t.visBytes = g_out.visBytes.load();
    t.dsp = g_out.dspCalls.load();
    return t;
}
