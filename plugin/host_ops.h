// The host operations of the module record.  All run on the host's thread
// and never let anything thrown escape.
#pragma once

#include <windows.h>

#include "plugin/plugin_state.h"

void Init() noexcept;
void Quit() noexcept;
int Play(const char* path) noexcept;
void Pause() noexcept;
void UnPause() noexcept;
int IsPaused() noexcept;
void Stop() noexcept;
int GetLength() noexcept;
int GetOutputTime() noexcept;
void SetOutputTime(int timeMs) noexcept;
void SetVolume(int volume) noexcept;
void SetPan(int pan) noexcept;
int IsOurFile(const char* name) noexcept;
int InfoBox(const char* name, HWND parent) noexcept;
void EQSet(int on, char data[10], int preamp) noexcept;

// Dispatches the calling thread's messages while `keepWaiting` holds for the
// playback state.  Returns false when a quit message ended the wait (it is
// posted again for the caller's own loop).
bool PumpMessagesWhile(bool (*keepWaiting)(PlaybackState)) noexcept;

// The playback thread's procedure.
DWORD WINAPI PlaybackThread(void* unused) noexcept;
