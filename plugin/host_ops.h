// The host operations of the module record.  All run on the host's thread
// and never let anything thrown escape.
#pragma once

#include <windows.h>

namespace plugin {

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

}  // namespace plugin
