#include "engine/engine_link.h"

#include <cstring>
#include <new>

#include "engine/client_context.h"
#include "engine/com_ptr.h"
#include "engine/responders.h"
#include "plugin/plugin_state.h"
#include "ui/browser.h"

namespace rma {
namespace {

constexpr char kEngineKey[] = "Software\\RealNetworks\\Preferences\\DT_Common";
constexpr char kEngineFileName[] = "pnen3260.dll";
constexpr char kDownloadPage[] = "http://download.cnet.com/windows/realplayer/";

constexpr char kMissingEngineText[] =
    "Real Player is not installed or not configured properly.\r\n"
    "Please install latest version of Real Player.\r\n\r\n"
    "Click Ok to go to RealPlayer download page of CNet.";
constexpr char kMissingEngineCaption[] = "Error";
// The same in Korean, code page 949:
// "리얼 플레이어가 설치되어있지 않거나 제대로 설정되지 않았습니다.\r\n
//  최신 버전의 리얼 플레이러를 설치하시기 바랍니다.\r\n\r\n
//  확인을 누르면 CNet의 리얼플레이어 다운로드 페이지로 갈 것입니다."
constexpr char kMissingEngineTextKorean[] =
    "\xB8\xAE\xBE\xF3 \xC7\xC3\xB7\xB9\xC0\xCC\xBE\xEE\xB0\xA1 \xBC\xB3\xC4\xA1\xB5\xC7\xBE\xEE\xC0\xD6"
    "\xC1\xF6 \xBE\xCA\xB0\xC5\xB3\xAA \xC1\xA6\xB4\xEB\xB7\xCE \xBC\xB3\xC1\xA4\xB5\xC7\xC1\xF6 \xBE\xCA"
    "\xBE\xD2\xBD\xC0\xB4\xCF\xB4\xD9.\r\n"
    "\xC3\xD6\xBD\xC5 \xB9\xF6\xC0\xFC\xC0\xC7 \xB8\xAE\xBE\xF3 \xC7\xC3\xB7\xB9\xC0\xCC\xB7\xAF\xB8\xA6 "
    "\xBC\xB3\xC4\xA1\xC7\xCF\xBD\xC3\xB1\xE2 \xB9\xD9\xB6\xF8\xB4\xCF\xB4\xD9.\r\n\r\n"
    "\xC8\xAE\xC0\xCE\xC0\xBB \xB4\xA9\xB8\xA3\xB8\xE9 CNet\xC0\xC7 \xB8\xAE\xBE\xF3\xC7\xC3\xB7\xB9\xC0\xCC"
    "\xBE\xEE \xB4\xD9\xBF\xEE\xB7\xCE\xB5\xE5 \xC6\xE4\xC0\xCC\xC1\xF6\xB7\xCE \xB0\xA5 \xB0\xCD\xC0\xD4"
    "\xB4\xCF\xB4\xD9.";
// "오류"
constexpr char kMissingEngineCaptionKorean[] = "\xBF\xC0\xB7\xF9";

// Registry key closed on every path.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() { if (key_) RegCloseKey(key_); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* put() { if (key_) RegCloseKey(key_); key_ = nullptr; return &key_; }
    HKEY get() const { return key_; }
private:
    HKEY key_ = nullptr;
};

// The engine library's full name: the registered RealPlayer directory
// (expected to end in a separator) joined to the file name.  Without the key
// or value the bare name lets the system's search decide.  False when the
// registered directory leaves no room for the file name: a cut name would
// load something else.
bool EngineLibraryName(char (&name)[MAX_PATH]) {
    name[0] = '\0';
    RegKey key;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, kEngineKey, key.put()) == ERROR_SUCCESS) {
        LONG size = MAX_PATH - 1;
        const LONG status = RegQueryValueA(key.get(), nullptr, name, &size);
        if (status == ERROR_MORE_DATA) return false;
        if (status != ERROR_SUCCESS) name[0] = '\0';
        name[MAX_PATH - 1] = '\0';
    }
    const std::size_t used = std::strlen(name);
    if (used + sizeof(kEngineFileName) > sizeof(name)) return false;
    std::memcpy(name + used, kEngineFileName, sizeof(kEngineFileName));
    return true;
}

void WarnEngineMissing() {
    const bool korean = g_state.koreanLocale == 1;
    const int answer = MessageBoxA(g_module.hMainWindow, korean ? kMissingEngineTextKorean : kMissingEngineText,
                                   korean ? kMissingEngineCaptionKorean : kMissingEngineCaption,
                                   MB_OKCANCEL | MB_ICONWARNING);
    if (answer == IDOK) ui::OpenInBrowser(kDownloadPage);
}

bool LoadLibraryStep() {
    char name[MAX_PATH];
    if (EngineLibraryName(name)) g_state.engineLibrary = LoadLibraryA(name);
    if (g_state.engineLibrary) return true;
    WarnEngineMissing();
    return false;
}

bool LookUpExports() {
    g_state.createEngine =
        reinterpret_cast<CreateEngineFn>(reinterpret_cast<void*>(GetProcAddress(g_state.engineLibrary, "CreateEngine")));
    g_state.closeEngine =
        reinterpret_cast<CloseEngineFn>(reinterpret_cast<void*>(GetProcAddress(g_state.engineLibrary, "CloseEngine")));
    return g_state.createEngine && g_state.closeEngine;
}

// Creates the audio device and hands it to the engine.  A device the engine
// refuses is dropped and tried again by the next Play; an engine without a
// device manager keeps the device uninstalled.
void InstallAudioDevice() {
    ComPtr<IRMAAudioDevice> device(NewAudioDevice(g_state.player));
    if (!device) return;
    ComPtr<IRMAAudioDeviceManager> manager;
    if (g_state.engine->QueryInterface(IID_IRMAAudioDeviceManager, manager.put_void()) == 0 && manager &&
        manager->Replace(device.get()) != 0) {
        return;
    }
    g_state.audioDevice = device.detach();
}

// Hands the player its client context and registers the error sink.
bool SetUpClientContext() {
    ComPtr<ClientContext> context(new (std::nothrow) ClientContext());
    if (!context) return false;
    g_state.clientContext = context.detach();
    g_state.clientContext->CreateResponders(g_state.player);
    g_state.player->SetClientContext(g_state.clientContext);

    ComPtr<IRMAErrorSinkControl> control;
    g_state.player->QueryInterface(IID_IRMAErrorSinkControl, control.put_void());
    if (!control) return true;
    ComPtr<IRMAErrorSink> sink;
    g_state.clientContext->QueryInterface(IID_IRMAErrorSink, sink.put_void());
    g_state.errorSinkControl = control.detach();
    if (!sink) return true;
    g_state.errorSink = sink.detach();
    g_state.errorSinkControl->AddErrorSink(g_state.errorSink, 0, 6);
    return true;
}

}  // namespace

int LoadEngine() noexcept {
    if (!g_state.engineLibrary && !LoadLibraryStep()) return 1;
    if ((!g_state.createEngine || !g_state.closeEngine) && !LookUpExports()) return 1;
    if (!g_state.engine) {
        IRMAClientEngine* engine = nullptr;
        if (g_state.createEngine(&engine) != 0 || !engine) return 1;
        g_state.engine = engine;
    }
    if (!g_state.player) {
        IRMAPlayer* player = nullptr;
        if (g_state.engine->CreatePlayer(&player) != 0 || !player) return 1;
        g_state.player = player;
    }
    if (!g_state.audioDevice) InstallAudioDevice();
    if (g_state.clientContext) return 0;
    return SetUpClientContext() ? 0 : 1;
}

void UnloadEngine() noexcept {
    if (g_state.errorSinkControl) {
        g_state.errorSinkControl->RemoveErrorSink(g_state.errorSink);
        ReleaseAndClear(g_state.errorSinkControl);
    }
    ReleaseAndClear(g_state.errorSink);
    ReleaseAndClear(g_state.clientContext);
    if (g_state.audioDevice) {
        ComPtr<IRMAAudioDeviceManager> manager;
        if (g_state.engine &&
            g_state.engine->QueryInterface(IID_IRMAAudioDeviceManager, manager.put_void()) == 0 && manager) {
            manager->Remove(g_state.audioDevice);
        }
        ReleaseAndClear(g_state.audioDevice);
    }
    if (g_state.player) {
        g_state.engine->ClosePlayer(g_state.player);
        ReleaseAndClear(g_state.player);
    }
    if (g_state.engine) g_state.closeEngine(std::exchange(g_state.engine, nullptr));
    if (g_state.engineLibrary) {
        FreeLibrary(std::exchange(g_state.engineLibrary, nullptr));
        g_state.createEngine = nullptr;
        g_state.closeEngine = nullptr;
    }
}

HRESULT32 PausePlayer() noexcept { return g_state.player->Pause(); }
HRESULT32 ResumePlayer() noexcept { return g_state.player->Begin(); }

}  // namespace rma
