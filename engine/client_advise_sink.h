// The player's advise sink: position, length, seeking, buffering, contacting
// and the end of a presentation.
#pragma once

#include "engine/rma.h"
#include "engine/com_ptr.h"
#include "engine/ref_counted.h"

namespace rma {

class ClientAdviseSink final : public RefCounted<IRMAClientAdviseSink, IID_IRMAClientAdviseSink> {
public:
    // Registers itself with the player when the player answers IRMAPlayer.
    explicit ClientAdviseSink(IRMAPlayer* player) noexcept;

    HRESULT STDMETHODCALLTYPE OnPosLength(ULONG32 positionMs, ULONG32 lengthMs) override;
    HRESULT STDMETHODCALLTYPE OnPresentationOpened() override;
    HRESULT STDMETHODCALLTYPE OnPresentationClosed() override;
    HRESULT STDMETHODCALLTYPE OnStatisticsChanged() override;
    HRESULT STDMETHODCALLTYPE OnPreSeek(ULONG32 oldTimeMs, ULONG32 newTimeMs) override;
    HRESULT STDMETHODCALLTYPE OnPostSeek(ULONG32 oldTimeMs, ULONG32 newTimeMs) override;
    HRESULT STDMETHODCALLTYPE OnStop() override;
    HRESULT STDMETHODCALLTYPE OnPause(ULONG32 timeMs) override;
    HRESULT STDMETHODCALLTYPE OnBegin(ULONG32 timeMs) override;
    HRESULT STDMETHODCALLTYPE OnBuffering(ULONG32 flags, UINT16 percentComplete) override;
    HRESULT STDMETHODCALLTYPE OnContacting(const char* hostName) override;

private:
    ~ClientAdviseSink() override = default;

    ComPtr<IRMAPlayer> player_;
};

}  // namespace rma
