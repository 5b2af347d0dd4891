// Shows each error the engine reports in a box over the host window, then
// marks playback failed and asks the host to stop.
#pragma once

#include "engine/ref_counted.h"

namespace rma {

class ErrorSink final : public RefCounted<IRMAErrorSink, IID_IRMAErrorSink> {
public:
    HRESULT STDMETHODCALLTYPE ErrorOccurred(UINT8 severity, ULONG32 code, ULONG32 userCode,
                                            const char* userString,
                                            const char* moreInfoUrl) noexcept override;
};

}  // namespace rma
