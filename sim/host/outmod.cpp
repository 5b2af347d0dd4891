// The host's output module and its visualisation, DSP and info callbacks.
// The output keeps a real ring buffer drained by a clock: the wall clock with
// --realtime, otherwise at once on every call (as fast as possible).  Times
// are derived from byte counts, so they follow exactly what was written.
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/host/host.h"

namespace {

enum Op { OpOpen, OpClose, OpWrite, OpCanWrite, OpIsPlaying, OpPause, OpSetVolume, OpSetPan,
          OpFlush, OpOutputTime, OpWrittenTime, OpCount };
const char* const kOpNames[OpCount] = {"open", "close", "write", "canwrite", "isplaying", "pause",
                                       "setvolume", "setpan", "flush", "outputtime", "writtentime"};

enum Phase { NeverOpened, Open, Closed };

struct Output {
    CRITICAL_SECTION lock;
    OutputOptions options;
    std::atomic<int> calls[OpCount];
    std::atomic<int> retired;
    int opens;
    int opened, closed;    // Opens that succeeded, and Closes
    bool hostStopping;     // hostsim called Stop in this Play
    bool openedAfterStop;  // and the output was opened after that
    bool writeAfterStopSeen;

    Phase phase;
    int rate, channels, bits, frameBytes;
    long long bytesPerSec;
    std::vector<char> ring;
    size_t readPos, fill;
    long long timeBaseMs, writtenBytes, playedBytes;
    int paused;
    LARGE_INTEGER frequency, clockStart;
    long long clockStartPlayed;

    OutputTotals totals;
    std::atomic<int> vis, visBytes, dspCalls;

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

// Counts the call and reports calls that the plug-in should not make now.
void Enter(Op op) {
    g_out.calls[op].fetch_add(1);
    if (g_out.retired.load())
        Unexpected("outmod.%s after quit", kOpNames[op]);
    else if (g_out.phase == Closed && op != OpOpen)
        Unexpected("outmod.%s after close", kOpNames[op]);
    else if (g_out.phase == NeverOpened && op == OpWrite)
        Unexpected("outmod.%s before open", kOpNames[op]);
}

void RestartClock() {
    QueryPerformanceCounter(&g_out.clockStart);
    g_out.clockStartPlayed = g_out.playedBytes;
}

// Consumes what the clock says has been played by now.
void Drain() {
    if (g_out.phase != Open || g_out.fill == 0) return;
    size_t consume = g_out.fill;
    if (g_out.options.realtime) {
        if (g_out.paused) return;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        long long due = (now.QuadPart - g_out.clockStart.QuadPart) * g_out.bytesPerSec / g_out.frequency.QuadPart;
        due -= due % g_out.frameBytes;
        long long owed = g_out.clockStartPlayed + due - g_out.playedBytes;
        if (owed < static_cast<long long>(consume)) consume = owed < 0 ? 0 : static_cast<size_t>(owed);
    }
    // The WAV holds what was played: a Flush or a Close drops the rest.
    for (size_t done = 0; g_out.wav && done < consume;) {
        size_t at = (g_out.readPos + done) % g_out.ring.size();
        size_t run = g_out.ring.size() - at;
        if (run > consume - done) run = consume - done;
        fwrite(&g_out.ring[at], 1, run, g_out.wav);
        g_out.wavBytes += static_cast<long long>(run);
        done += run;
    }
    g_out.readPos = (g_out.readPos + consume) % g_out.ring.size();
    g_out.fill -= consume;
    g_out.playedBytes += consume;
}

int MsFromBytes(long long bytes) {
    return static_cast<int>(g_out.timeBaseMs + (g_out.bytesPerSec ? bytes * 1000 / g_out.bytesPerSec : 0));
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

int HOST_CB OutOpen(int rate, int channels, int bits, int bufferLenMs, int preBufferMs) {
    Locked lock;
    Enter(OpOpen);
    int refuse = g_out.options.refuseOpen == 1 || (g_out.options.refuseOpen == 2 && g_out.opens == 0);
    ++g_out.opens;
    if (g_out.phase == Open) Unexpected("outmod.open while open");
    if (g_out.hostStopping) Unexpected("outmod.open after stop");
    if (rate <= 0 || channels <= 0 || bits < 8 || bits % 8) {
        Unexpected("outmod.open format %d %d %d", rate, channels, bits);
        refuse = 1;
    }
    // The plug-in gives 0 for both buffer figures; others are shown when they come.
    char extra[48] = "";
    if (bufferLenMs || preBufferMs) snprintf(extra, sizeof extra, " buffer=%d prebuffer=%d", bufferLenMs, preBufferMs);
    if (refuse) {
        Event("outmod.open %d %d %d%s -> -1", rate, channels, bits, extra);
        return -1;
    }
    g_out.phase = Open;
    ++g_out.opened;
    if (g_out.hostStopping) g_out.openedAfterStop = true;
    g_out.rate = rate;
    g_out.channels = channels;
    g_out.bits = bits;
    g_out.frameBytes = channels * bits / 8;
    g_out.bytesPerSec = static_cast<long long>(rate) * g_out.frameBytes;
    // About a second of sound, and never less than a few of the largest writes.
    size_t capacity = static_cast<size_t>(g_out.bytesPerSec > 65536 ? g_out.bytesPerSec : 65536);
    capacity -= capacity % g_out.frameBytes;
    g_out.ring.assign(capacity, 0);
    g_out.readPos = g_out.fill = 0;
    g_out.timeBaseMs = g_out.writtenBytes = g_out.playedBytes = 0;
    g_out.paused = 0;
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
    Event("outmod.open %d %d %d%s -> 0", rate, channels, bits, extra);
    return 0;
}

void HOST_CB OutClose() {
    Locked lock;
    Enter(OpClose);
    if (g_out.phase != Open) Unexpected("outmod.close while not open");
    if (g_out.phase == Open) ++g_out.closed;
    g_out.phase = Closed;
    g_out.fill = 0;
    Event("outmod.close");
}

int CanWriteNow() {
    Drain();
    return static_cast<int>(g_out.ring.size() - g_out.fill);
}

int HOST_CB OutWrite(char* data, int length) {
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
    g_out.totals.writes++;
    g_out.totals.writtenBytes += length;
    if (g_out.phase != Open) return 0;
    int room = CanWriteNow();
    if (g_out.fill == 0) RestartClock();
    if (length > room) Unexpected("outmod.write %d bytes with room for %d", length, room);
    size_t take = static_cast<size_t>(length < room ? length : room);
    if (g_out.wav && take < static_cast<size_t>(length)) {
        // What found no room counts as played at once.
        fwrite(data + take, 1, length - take, g_out.wav);
        g_out.wavBytes += length - static_cast<long long>(take);
    }
    for (size_t done = 0; done < take;) {
        size_t at = (g_out.readPos + g_out.fill) % g_out.ring.size();
        size_t run = g_out.ring.size() - at;
        if (run > take - done) run = take - done;
        memcpy(&g_out.ring[at], data + done, run);
        g_out.fill += run;
        done += run;
    }
    g_out.writtenBytes += length;
    g_out.playedBytes += length - take;
    return 0;
}

int HOST_CB OutCanWrite() {
    Locked lock;
    Enter(OpCanWrite);
    return g_out.phase == Open ? CanWriteNow() : 0;
}

int HOST_CB OutIsPlaying() {
    Locked lock;
    Enter(OpIsPlaying);
    Drain();
    return g_out.phase == Open && g_out.fill > 0;
}

int HOST_CB OutPause(int pause) {
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
    Locked lock;
    Enter(OpSetVolume);
    Event("outmod.setvolume %d", volume);
}

void HOST_CB OutSetPan(int pan) {
    Locked lock;
    Enter(OpSetPan);
    Event("outmod.setpan %d", pan);
}

void HOST_CB OutFlush(int timeMs) {
    Locked lock;
    Enter(OpFlush);
    g_out.readPos = g_out.fill = 0;
    g_out.timeBaseMs = timeMs;
    g_out.writtenBytes = g_out.playedBytes = 0;
    RestartClock();
    Event("outmod.flush %d", timeMs);
}

int HOST_CB OutGetOutputTime() {
    Locked lock;
    Enter(OpOutputTime);
    Drain();
    return MsFromBytes(g_out.playedBytes);
}

int HOST_CB OutGetWrittenTime() {
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

// The host reads a 576-sample window from each visualisation block.
void CountVis(const char* name, void* data, int channels, int bits) {
    Locked lock;
    CheckRetired(name);
    if (!data) Unexpected("%s with no data", name);
    if (g_out.phase == Open && (channels != g_out.channels || bits != g_out.bits))
        Unexpected("%s %d %d differs from the open format %d %d", name, channels, bits, g_out.channels, g_out.bits);
    g_out.vis.fetch_add(1);
    g_out.visBytes.fetch_add(576 * channels * (bits / 8));
}

void HOST_CB SAAddPCMData(void* data, int channels, int bits, int) { CountVis("saaddpcmdata", data, channels, bits); }
void HOST_CB VSAAddPCMData(void* data, int channels, int bits, int) { CountVis("vsaaddpcmdata", data, channels, bits); }

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

void HOST_CB SetInfo(int bitrate, int sampleRateKhz, int channels, int synched) {
    CheckRetired("setinfo");
    Event("setinfo %d %d %d %d", bitrate, sampleRateKhz, channels, synched);
}

char g_outDescription[] = "hostsim output";

}  // namespace

void OutputSetUp(const OutputOptions& options) {
    InitializeCriticalSection(&g_out.lock);
    g_out.options = options;
    QueryPerformanceFrequency(&g_out.frequency);
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
    module->SetInfo = SetInfo;
    module->outMod = out;
}

void OutputNewPlay() {
    Locked lock;
    if (g_out.phase == Closed) g_out.phase = NeverOpened;
    g_out.hostStopping = g_out.openedAfterStop = g_out.writeAfterStopSeen = false;
}

void OutputHostStopping() {
    Locked lock;
    g_out.hostStopping = true;
}

void OutputRetire() {
    Locked lock;
    g_out.retired.store(1);
    if (g_out.opened > g_out.closed)
        Unexpected("output left open at quit: opened %d closed %d", g_out.opened, g_out.closed);
}

void OutputFinish() {
    Locked lock;
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
