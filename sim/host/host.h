// hostsim's pieces: event printing, the output module with the host's
// visualisation/DSP/info callbacks, and the window watcher.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "sim/host/records.h"

// ---- events.cpp --------------------------------------------------------
// One line per event, flushed at once; safe from any thread.
void EventStream(FILE* stream);
void Event(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints "unexpected ..." and makes the exit status 2.
void Unexpected(const char* format, ...) __attribute__((format(printf, 1, 2)));
int UnexpectedCount();
// GetTickCount() of the latest line printed.
DWORD LastEventTick();
// Text in double quotes on one line: \" \\ \n \r \t and \xNN for other controls.
std::string Quoted(const char* text);

// ---- outmod.cpp --------------------------------------------------------
// The player's outputs, each with its own ways (see README).
enum OutputPersonality { OutputDs, OutputWave, OutputDisk, OutputWasapi };
struct OutputOptions {
    bool realtime;
    int refuseOpen;        // 0 never, 1 every Open, 2 the first Open only
    const char* wavPath;   // null: no WAV file
    int dsp;               // 0 none, 1 invert, 2 stretch
    bool verbose;
    int personality;       // an OutputPersonality
    int busyWrite;         // ds: every Nth Write answered 1; 0 never
    int flushMs;           // every Flush takes this long, inside the output's own lock
};
struct OutputTotals {
    long long writtenBytes;
    int writes, vis, visBytes, dsp;
};
typedef void(HOST_CB* SetInfoFn)(int bitrate, int sampleRateKhz, int channels, int synched);
void OutputSetUp(const OutputOptions& options);
const char* OutputName(int personality);
// Whether a box with this caption is one an output shows itself.
bool OutputOwnsBox(const std::string& caption);
// Fills the output module record and the host's visualisation and DSP
// callbacks of the input record (not outMod, not SetInfo: the host writes
// those at Play).
void OutputInstall(InModule* module, OutModule* out, HWND mainWindow);
SetInfoFn OutputSetInfo();
// SetInfo calls so far: the host re-reads the title on the tick after one.
int OutputSetInfoCalls();
// A new Play begins: until the output is opened again, the calls that are
// allowed before a first Open are allowed again.
void OutputNewPlay();
// hostsim is about to call the plug-in's Stop for this Play: from now until
// the next Play the output may be closed but not opened again.
void OutputHostStopping();
// The host's shutdown calls the output's Quit before the plug-in's: calls
// after it are reported.
void OutputHostQuit();
// Calls after this are reported as unexpected (the plug-in's Quit is done),
// and so is an output left open.
void OutputRetire();
// Finishes the WAV file and prints the per-operation call counts.
void OutputFinish();
OutputTotals OutputGetTotals();

// ---- watch.cpp ---------------------------------------------------------
// Starts a thread that reports message boxes of this process (and answers
// them answerAfterMs after they appeared: IDOK-like when answerOk, else
// IDCANCEL-like) and the status and video windows owned by the host window.
// With stopOnBox, each new box also posts the host's Stop command to the
// host window, as a user who presses Stop while the box is up.  With
// remoteStopOnVideo, each new video window makes a thread of its own send
// the host window the Stop command, as a remote control does.
void WatchStart(HWND hostWindow, bool answerOk, DWORD answerAfterMs, bool stopOnBox, bool remoteStopOnVideo);
void WatchStop();
// Number of message boxes seen and answered so far.
int WatchBoxesAnswered();
// Whether a message box of this process is currently open.
bool WatchBoxOpen();
