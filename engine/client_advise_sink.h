// The player's advise sink: position, length, seeking, buffering, contacting
// and the end of a presentation.
#pragma once

#include "core/com_object.h"
#include "core/com_ptr.h"

namespace engine {

class ClientAdviseSink final : public core::ComObject<rma::IRMAClientAdviseSink> {
public:
    // Registers itself with the player when the player answers IRMAPlayer.
    explicit ClientAdviseSink(rma::IRMAPlayer* player) noexcept;

    HRESULT STDMETHODCALLTYPE OnPosLength(rma::ULONG32 positionMs, rma::ULONG32 lengthMs) noexcept override;
    HRESULT STDMETHODCALLTYPE OnPresentationOpened() noexcept override;
    HRESULT STDMETHODCALLTYPE OnPresentationClosed() noexcept override;
    HRESULT STDMETHODCALLTYPE OnStatisticsChanged() noexcept override;
    HRESULT STDMETHODCALLTYPE OnPreSeek(rma::ULONG32 oldTimeMs, rma::ULONG32 newTimeMs) noexcept override;
    HRESULT STDMETHODCALLTYPE OnPostSeek(rma::ULONG32 oldTimeMs, rma::ULONG32 newTimeMs) noexcept override;
    HRESULT STDMETHODCALLTYPE OnStop() noexcept override;
    HRESULT STDMETHODCALLTYPE OnPause(rma::ULONG32 timeMs) noexcept override;
    HRESULT STDMETHODCALLTYPE OnBegin(rma::ULONG32 timeMs) noexcept override;
    HRESULT STDMETHODCALLTYPE OnBuffering(rma::ULONG32 flags, rma::UINT16 percentComplete) noexcept override;
    HRESULT STDMETHODCALLTYPE OnContacting(const char* hostName) noexcept override;

private:
    ~ClientAdviseSink() override = default;

    core::ComPtr<rma::IRMAPlayer> player_;
};

// A new sink with a reference count of 0 (registered with `player`), or
// null without memory.
rma::IRMAClientAdviseSink* NewClientAdviseSink(rma::IRMAPlayer* player) noexcept;

}  // namespace engine
