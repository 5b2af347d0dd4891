#include "engine/error_sink.h"

#include <new>

#include "engine/responders.h"
#include "engine/result_codes.h"
#include "plugin/plugin_state.h"

namespace rma {
namespace {
constexpr WPARAM kHostStopCommand = 40047;
}

HRESULT ErrorSink::ErrorOccurred(UINT8, ULONG32 code, ULONG32, const char* userString,
                                 const char*) noexcept {
    char message[kErrorMessageCapacity];
    FormatErrorMessage(code, userString, message);
    HWND host = g_module.hMainWindow;
    MessageBoxA(host, message, "Error", MB_OK | MB_ICONERROR);
    SetPlaybackState(StateFailed);
    PostMessageA(host, WM_COMMAND, kHostStopCommand, 0);
    return kOk;
}

IRMAErrorSink* NewErrorSink() noexcept { return new (std::nothrow) ErrorSink(); }

}  // namespace rma
