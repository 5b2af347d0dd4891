#include "engine/engine_link.h"

#include <cstring>
#include <new>
#include <utility>

#include "audio/audio_device.h"
#include "core/host_module.h"
#include "core/trace.h"
#include "engine/client_context.h"
#include "ui/browser.h"
#include "ui/ui_thread.h"

namespace engine {
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

// The engine library's full name: the registered RealPlayer directory
// (expected to end in a separator) joined to the file name.  Without the key
// or value the bare name lets the system's search decide.  False when the
// registered directory leaves no room for the file name: a cut name would
// load something else.
bool EngineLibraryName(char (&name)[MAX_PATH]) {
    name[0] = '\0';
    core::UniqueKey key;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, kEngineKey, key.put()) == ERROR_SUCCESS) {
        LONG size = MAX_PATH - 1;
        const LONG status = RegQueryValueA(key.get(), nullptr, name, &size);
        if (status == ERROR_MORE_DATA) {
            core::Trace("the registered engine directory is too long");
            return false;
        }
        if (status != ERROR_SUCCESS) name[0] = '\0';
        name[MAX_PATH - 1] = '\0';
    }
    const std::size_t used = std::strlen(name);
    if (used + sizeof(kEngineFileName) > sizeof(name)) {
        core::Trace("no room for the engine's file name after the registered directory");
        return false;
    }
    std::memcpy(name + used, kEngineFileName, sizeof(kEngineFileName));
    return true;
}

// After a failed Play the host goes straight on to the next entry: a
// playlist of old files would bring one box an entry, each OK a browser.
// So the user is warned once a host session (Init to Quit), and again only
// after the engine has been found meanwhile.  The host's thread only.
bool g_missingWarned = false;

void WarnEngineMissing() {
    if (std::exchange(g_missingWarned, true)) {
        core::Trace("the engine is still missing; the user has been told");
        return;
    }
    const bool korean = core::g_koreanLocale;
    const int answer = MessageBoxA(core::g_module.hMainWindow, korean ? kMissingEngineTextKorean : kMissingEngineText,
                                   korean ? kMissingEngineCaptionKorean : kMissingEngineCaption,
                                   MB_OKCANCEL | MB_ICONWARNING);
    if (answer == IDOK) ui::OpenInBrowser(kDownloadPage);
}

// Only Play and Quit, on the host's thread, create and destroy the link.
EngineLink* g_link = nullptr;

}  // namespace

bool EngineLink::LoadLibraryStep() noexcept {
    char name[MAX_PATH];
    if (EngineLibraryName(name)) library_.reset(LoadLibraryA(name));
    if (library_) {
        g_missingWarned = false;
        return true;
    }
    WarnEngineMissing();
    return false;
}

bool EngineLink::LookUpExports() noexcept {
    createEngine_ = reinterpret_cast<rma::CreateEngineFn>(
        reinterpret_cast<void*>(GetProcAddress(library_.get(), "CreateEngine")));
    closeEngine_ = reinterpret_cast<rma::CloseEngineFn>(
        reinterpret_cast<void*>(GetProcAddress(library_.get(), "CloseEngine")));
    if (!createEngine_ || !closeEngine_) core::Trace("the engine library lacks CreateEngine or CloseEngine");
    return createEngine_ && closeEngine_;
}

// Creates the audio device and hands it to the engine.  A device the engine
// refuses is dropped and tried again by the next Play; an engine without a
// device manager keeps the device uninstalled.
void EngineLink::InstallAudioDevice() noexcept {
    core::ComPtr<rma::IRMAAudioDevice> device(audio::NewAudioDevice(player_.get()));
    if (!device) return;
    core::ComPtr<rma::IRMAAudioDeviceManager> manager;
    if (engine_->QueryInterface(rma::IID_IRMAAudioDeviceManager, manager.put_void()) == rma::kOk && manager) {
        const rma::HRESULT32 replaced = manager->Replace(device.get());
        if (replaced != rma::kOk) {
            core::TraceFailure("Replace", replaced);
            return;
        }
    }
    audioDevice_ = std::move(device);
}

// Hands the player its client context and registers the error sink.
bool EngineLink::SetUpClientContext() noexcept {
    core::ComPtr<ClientContext> context(new (std::nothrow) ClientContext());
    if (!context) return false;
    clientContext_ = context;
    clientContext_->CreateResponders(player_.get());
    core::TraceFailure("SetClientContext", player_->SetClientContext(clientContext_.get()));

    core::ComPtr<rma::IRMAErrorSinkControl> control;
    player_->QueryInterface(rma::IID_IRMAErrorSinkControl, control.put_void());
    if (!control) return true;
    core::ComPtr<rma::IRMAErrorSink> sink;
    clientContext_->QueryInterface(rma::IID_IRMAErrorSink, sink.put_void());
    errorSinkControl_ = std::move(control);
    if (!sink) return true;
    errorSink_ = std::move(sink);
    core::TraceFailure("AddErrorSink", errorSinkControl_->AddErrorSink(errorSink_.get(), 0, 6));
    return true;
}

int EngineLink::Build() noexcept {
    if (!library_ && !LoadLibraryStep()) return 1;
    if ((!createEngine_ || !closeEngine_) && !LookUpExports()) return 1;
    if (!engine_) {
        rma::IRMAClientEngine* engine = nullptr;
        const rma::HRESULT32 created = createEngine_(&engine);
        if (created != rma::kOk || !engine) {
            core::Trace("CreateEngine failed: 0x%08lX", static_cast<unsigned long>(created));
            return 1;
        }
        engine_ = engine;
    }
    if (!player_) {
        rma::IRMAPlayer* player = nullptr;
        const rma::HRESULT32 created = engine_->CreatePlayer(&player);
        if (created != rma::kOk || !player) {
            core::Trace("CreatePlayer failed: 0x%08lX", static_cast<unsigned long>(created));
            return 1;
        }
        player_ = core::ComPtr<rma::IRMAPlayer>::Attach(player);
    }
    if (!audioDevice_) InstallAudioDevice();
    if (clientContext_) return 0;
    return SetUpClientContext() ? 0 : 1;
}

EngineLink::~EngineLink() {
    // Only the sink that was registered is removed: without one there is
    // nothing to take back.
    if (errorSinkControl_ && errorSink_)
        core::TraceFailure("RemoveErrorSink", errorSinkControl_->RemoveErrorSink(errorSink_.get()));
    errorSinkControl_.reset();
    errorSink_.reset();
    clientContext_.reset();
    if (audioDevice_) {
        core::ComPtr<rma::IRMAAudioDeviceManager> manager;
        if (engine_ && engine_->QueryInterface(rma::IID_IRMAAudioDeviceManager, manager.put_void()) == rma::kOk &&
            manager) {
            core::TraceFailure("Remove", manager->Remove(audioDevice_.get()));
        }
        audioDevice_.reset();
    }
    if (player_) {
        core::TraceFailure("ClosePlayer", engine_->ClosePlayer(player_.get()));
        player_.reset();
    }
    // The closing player gives its sites up: their windows go while the
    // engine still runs the thread that made them.
    ui::RunPendingWork();
    if (engine_) core::TraceFailure("CloseEngine", closeEngine_(std::exchange(engine_, nullptr)));
    // Work the closing left for the host's thread (a site's window to
    // destroy) holds engine objects: their code must still be there.
    ui::RunPendingWork();
    library_.reset();
    createEngine_ = nullptr;
    closeEngine_ = nullptr;
}

rma::HRESULT32 EngineLink::PausePlayer() noexcept { return player_->Pause(); }
rma::HRESULT32 EngineLink::ResumePlayer() noexcept { return player_->Begin(); }

EngineLink* CurrentLink() noexcept { return g_link; }

int LoadEngine() noexcept {
    if (!g_link) g_link = new (std::nothrow) EngineLink();
    if (!g_link) return 1;
    return g_link->Build();
}

void UnloadEngine() noexcept {
    delete std::exchange(g_link, nullptr);
    g_missingWarned = false;
}

}  // namespace engine
