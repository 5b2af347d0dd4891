// A quiet trace channel over OutputDebugStringA (shown under Wine with
// WINEDEBUG=+debugstr, or in a debugger) for what the plug-in refuses or
// ignores without telling the user: unchecked engine results, interface
// ids it does not serve, bad input it turns away.  Never used per audio
// block.
#pragma once

#include <windows.h>

namespace core {

// printf-style; the line is prefixed with "in_realmedia: " and cut to 256 bytes.
void Trace(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// Traces an engine call's result when it is a failure.
void TraceFailure(const char* call, long result) noexcept;

// Traces an interface id asked of one of our objects that it does not serve.
void TraceUnknownInterface(const GUID& id) noexcept;

}  // namespace core
