#include "core/host_module.h"
#include "mediainfo/media_info.h"
#include "plugin/host_ops.h"
#include "ui/about_box.h"

namespace plugin {
namespace {

// The twin built for 64-bit Windows says so, so that nobody takes it for
// the DLL users install.
#ifdef _WIN64
char kDescription[] = "Kelvane's RealAudio plugin for Winamp v1.6 (x64)";
#else
char kDescription[] = "Kelvane's RealAudio plugin for Winamp v1.6 (x86)";
#endif
// Extension list / description pairs, ended by an empty string (86 bytes).
// No list ends in ';': the host matches every piece, an empty one too, and
// an empty piece claims every name without an extension (internet radio).
char kFileExtensions[] =
    "RA;RM;RMJ\0Real Media File(*.RA;*.RM;*.RMJ)\0RAM;RMM\0Real Media Meta File(*.RAM;*.RMM)\0";
static_assert(sizeof(kFileExtensions) == 86, "the file-type list is 86 bytes");

}  // namespace
}  // namespace plugin

using namespace plugin;

bool core::g_koreanLocale = false;

// The one module record.  The host writes its handles, callbacks and output
// module into the zero fields before it calls Init.
winamp::In_Module core::g_module = {
    winamp::kInModuleVersion,                                    // version
    kDescription,                                                // description
    nullptr,                                                     // hMainWindow: host
    nullptr,                                                     // hDllInstance: host
    kFileExtensions,                                             // FileExtensions
    1,                                                           // is_seekable
    1,                                                           // UsesOutputPlug: always through outMod
    [](HWND parent) { ui::Config(parent); },                     // Config
    [](HWND parent) { ui::About(parent); },                      // About
    [] { Init(); },                                              // Init
    [] { Quit(); },                                              // Quit
    [](char* file, char* title, int* lengthMs) { mediainfo::ReadMediaInfo(file, title, lengthMs); },  // GetFileInfo
    [](char* file, HWND parent) { return InfoBox(file, parent); },  // InfoBox
    [](char* file) { return IsOurFile(file); },                  // IsOurFile
    [](char* file) { return Play(file); },                       // Play
    [] { Pause(); },                                             // Pause
    [] { UnPause(); },                                           // UnPause
    [] { return IsPaused(); },                                   // IsPaused
    [] { Stop(); },                                              // Stop
    [] { return GetLength(); },                                  // GetLength
    [] { return GetOutputTime(); },                              // GetOutputTime
    [](int timeMs) { SetOutputTime(timeMs); },                   // SetOutputTime
    [](int volume) { SetVolume(volume); },                       // SetVolume
    [](int pan) { SetPan(pan); },                                // SetPan
    nullptr,                                                     // SAVSAInit: host
    nullptr,                                                     // SAVSADeInit: host
    nullptr,                                                     // SAAddPCMData: host
    nullptr,                                                     // SAGetMode: host
    nullptr,                                                     // SAAdd: host
    nullptr,                                                     // VSAAddPCMData: host
    nullptr,                                                     // VSAGetMode: host
    nullptr,                                                     // VSAAdd: host
    nullptr,                                                     // VSASetInfo: host
    nullptr,                                                     // dsp_isactive: host
    nullptr,                                                     // dsp_dosamples: host
    [](int on, char data[10], int preamp) { EQSet(on, data, preamp); },  // EQSet
    nullptr,                                                     // SetInfo: host
    nullptr,                                                     // outMod: host
};
