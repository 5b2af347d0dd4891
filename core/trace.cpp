#include "core/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace core {

void Trace(const char* format, ...) noexcept {
    char line[256];
    int used = std::snprintf(line, sizeof line, "in_realmedia: ");
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + used, sizeof line - used - 1, format, args);
    va_end(args);
    // Room for the newline was kept back above.
    std::size_t length = std::strlen(line);
    line[length] = '\n';
    line[length + 1] = '\0';
    OutputDebugStringA(line);
}

void TraceFailure(const char* call, long result) noexcept {
    if (result < 0) Trace("%s failed: 0x%08lX", call, static_cast<unsigned long>(result));
}

void TraceUnknownInterface(const GUID& id) noexcept {
    Trace("no interface {%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
          static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2],
          id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
}

}  // namespace core
