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
struct OutputOptions {
    bool realtime;
    int refuseOpen;        // 0 never, 1 every Open, 2 the first Open only
    const char* wavPath;   // null: no WAV file
    int dsp;               // 0 none, 1 invert, 2 stretch
    bool verbose;
};
struct OutputTotals {
    long long writtenBytes;
    int writes, vis, visBytes, dsp;
};
void OutputSetUp(const OutputOptions& options);
// Fills the output module record and the host callbacks of the input record.
void OutputInstall(InModule* module, OutModule* out, HWND mainWindow);
// A new Play begins: until the output is opened again, the calls that are
// allowed before a first Open are allowed again.
void OutputNewPlay();
// hostsim is about to call the plug-in's Stop for this Play: from now until
// the next Play the output may be closed but not opened again.
void OutputHostStopping();
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
// host window, as a user who presses Stop while the box is up.
void WatchStart(HWND hostWindow, bool answerOk, DWORD answerAfterMs, bool stopOnBox);
void WatchStop();
// Number of message boxes seen and answered so far.
int WatchBoxesAnswered();
// Whether a message box of this process is currently open.
bool WatchBoxOpen();
