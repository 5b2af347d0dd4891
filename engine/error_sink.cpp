#include "engine/error_sink.h"

#include <new>

#include "core/playback.h"
#include "core/system_code_page.h"
#include "core/trace.h"
#include "engine/result_codes.h"

namespace engine {

HRESULT ErrorSink::ErrorOccurred(rma::UINT8, rma::ULONG32 code, rma::ULONG32, const char* userString,
                                 const char*) noexcept {
    char message[kErrorMessageCapacity];
    FormatErrorMessage(code, userString, message, core::SystemLeadByte);
    const core::PlaybackRef playback = core::CurrentPlayback();
    // Failed at once, so that the end the engine reports next is not taken
    // for the end of the file; the box comes from the playback thread.
    if (!playback || !playback->IsOrBecomesFailed()) {
        core::Trace("error 0x%08lX reported after its playback ended", static_cast<unsigned long>(code));
        return rma::kOk;
    }
    // The user hears of a failed playback once: the engine's report of a
    // failure the plug-in has told of already (a refused output) adds nothing.
    if (!playback->QueueFailureBox(message, "Error"))
        core::Trace("error 0x%08lX after its playback failed: no second box", static_cast<unsigned long>(code));
    return rma::kOk;
}

rma::IRMAErrorSink* NewErrorSink() noexcept { return new (std::nothrow) ErrorSink(); }

}  // namespace engine
