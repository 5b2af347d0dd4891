#include "engine/error_sink.h"

#include <new>

#include "core/playback_state.h"
#include "core/trace.h"
#include "engine/result_codes.h"

namespace engine {

HRESULT ErrorSink::ErrorOccurred(rma::UINT8, rma::ULONG32 code, rma::ULONG32, const char* userString,
                                 const char*) noexcept {
    char message[kErrorMessageCapacity];
    FormatErrorMessage(code, userString, message);
    // The playback the error belongs to; the user may stop it, and start
    // another, while the box is up.
    const std::uint32_t generation = core::CurrentGeneration();
    core::ShowPlaybackBox(message, "Error", MB_OK | MB_ICONERROR);
    if (core::FailPlayback(generation)) {
        core::PostToHostFor(generation, WM_COMMAND, winamp::kStopCommand);
    } else {
        core::Trace("error 0x%08lX reported after its playback ended", static_cast<unsigned long>(code));
    }
    return rma::kOk;
}

rma::IRMAErrorSink* NewErrorSink() noexcept { return new (std::nothrow) ErrorSink(); }

}  // namespace engine
