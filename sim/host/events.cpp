#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "sim/host/host.h"

namespace {
std::mutex g_printLock;
FILE* g_stream = nullptr;
std::atomic<int> g_unexpected{0};
std::atomic<DWORD> g_lastEventTick{0};

void PrintLine(const char* prefix, const char* format, va_list args) {
    char line[4096];
    vsnprintf(line, sizeof line, format, args);
    g_lastEventTick.store(GetTickCount());
    std::lock_guard<std::mutex> lock(g_printLock);
    FILE* out = g_stream ? g_stream : stdout;
    fputs(prefix, out);
    fputs(line, out);
    fputc('\n', out);
    fflush(out);
}
}  // namespace

void EventStream(FILE* stream) { g_stream = stream; }

void Event(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLine("", format, args);
    va_end(args);
}

void Unexpected(const char* format, ...) {
    g_unexpected.fetch_add(1);
    va_list args;
    va_start(args, format);
    PrintLine("unexpected ", format, args);
    va_end(args);
}

int UnexpectedCount() { return g_unexpected.load(); }

DWORD LastEventTick() { return g_lastEventTick.load(); }

std::string Quoted(const char* text) {
    std::string s = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : ""); *p; ++p) {
        switch (*p) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        default:
            if (*p < 0x20) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02x", *p);
                s += hex;
            } else {
                s += static_cast<char>(*p);
            }
        }
    }
    return s + "\"";
}
