// Shows each error the engine reports in a box over the host window, then
// marks playback failed and asks the host to stop.
#pragma once

#include "core/com_object.h"

namespace engine {

class ErrorSink final : public core::ComObject<rma::IRMAErrorSink> {
public:
    HRESULT STDMETHODCALLTYPE ErrorOccurred(rma::UINT8 severity, rma::ULONG32 code, rma::ULONG32 userCode,
                                            const char* userString, const char* moreInfoUrl) noexcept override;
};

// A new sink with a reference count of 0, or null without memory.
rma::IRMAErrorSink* NewErrorSink() noexcept;

}  // namespace engine
