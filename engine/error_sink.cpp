#include "engine/error_sink.h"

#include <new>

#include "core/playback_state.h"
#include "engine/result_codes.h"

namespace engine {

HRESULT ErrorSink::ErrorOccurred(rma::UINT8, rma::ULONG32 code, rma::ULONG32, const char* userString,
                                 const char*) noexcept {
    char message[kErrorMessageCapacity];
    FormatErrorMessage(code, userString, message);
    HWND host = core::g_module.hMainWindow;
    MessageBoxA(host, message, "Error", MB_OK | MB_ICONERROR);
    core::SetPlaybackState(core::StateFailed);
    PostMessageA(host, WM_COMMAND, winamp::kStopCommand, 0);
    return rma::kOk;
}

rma::IRMAErrorSink* NewErrorSink() noexcept { return new (std::nothrow) ErrorSink(); }

}  // namespace engine
