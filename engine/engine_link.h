// The engine link: the engine library, its exports, one engine, one player,
// the audio device and the client context with its responders.  Built by
// the first Play, kept for every later one, taken down by Quit.  It owns
// every engine object the plug-in holds; nothing else reaches them but
// through it.
#pragma once

#include "core/com_ptr.h"
#include "core/rma.h"
#include "core/unique_any.h"

namespace engine {

class ClientContext;

class EngineLink {
public:
    EngineLink() noexcept = default;
    // Takes the link down, last part first: the error sink is removed, the
    // client context released, the audio device removed, the player closed,
    // the engine closed and the library freed.
    ~EngineLink();
    EngineLink(const EngineLink&) = delete;
    EngineLink& operator=(const EngineLink&) = delete;

    // Builds whatever is still missing.  0 when the link stands (possibly
    // without an audio device or error reporting), 1 when playback cannot go on.
    int Build() noexcept;

    rma::HRESULT32 PausePlayer() noexcept;
    rma::HRESULT32 ResumePlayer() noexcept;

    HMODULE Library() const noexcept { return library_.get(); }
    rma::CreateEngineFn CreateEngineExport() const noexcept { return createEngine_; }
    rma::IRMAClientEngine* Engine() const noexcept { return engine_; }
    rma::IRMAPlayer* Player() const noexcept { return player_.get(); }
    ClientContext* Context() const noexcept { return clientContext_.get(); }
    rma::IRMAErrorSink* ErrorSink() const noexcept { return errorSink_.get(); }
    rma::IRMAErrorSinkControl* ErrorSinkControl() const noexcept { return errorSinkControl_.get(); }
    rma::IRMAAudioDevice* AudioDevice() const noexcept { return audioDevice_.get(); }

private:
    bool LoadLibraryStep() noexcept;
    bool LookUpExports() noexcept;
    void InstallAudioDevice() noexcept;
    bool SetUpClientContext() noexcept;

    core::UniqueModule library_;
    rma::CreateEngineFn createEngine_ = nullptr;
    rma::CloseEngineFn closeEngine_ = nullptr;
    // Given back through CloseEngine, not Release.
    rma::IRMAClientEngine* engine_ = nullptr;
    core::ComPtr<rma::IRMAPlayer> player_;
    core::ComPtr<rma::IRMAAudioDevice> audioDevice_;
    core::ComPtr<ClientContext> clientContext_;
    core::ComPtr<rma::IRMAErrorSinkControl> errorSinkControl_;
    core::ComPtr<rma::IRMAErrorSink> errorSink_;
};

// The link, or null before the first Play and after Quit.
EngineLink* CurrentLink() noexcept;
// Builds whatever of the link is missing (creating the link itself first).
int LoadEngine() noexcept;
// Takes the whole link down.
void UnloadEngine() noexcept;

}  // namespace engine
