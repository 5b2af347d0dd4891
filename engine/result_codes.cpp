#include "engine/result_codes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace engine {
namespace {

struct CodeText {
    std::uint32_t code;
    const char* text;
};

// Sorted by code for the binary search.
constexpr CodeText kTexts[] = {
    {0x00000000, "OK"},
    {0x00040040, "BUFFERING"},
    {0x00040041, "PAUSED"},
    {0x00040042, "No data(?)"},
    {0x00040043, "STREAM_DONE"},
    {0x00040080, "AT_END"},
    {0x000400C3, "Redirection is required(?)"},
    {0x80004001, "NOTIMPL"},
    {0x80004002, "NOINTERFACE"},
    {0x80004003, "POINTER"},
    {0x80004004, "ABORT"},
    {0x80004005, "FAIL"},
    {0x80040004, "INVALID_OPERATION"},
    {0x80040005, "Invaild Version"},
    {0x80040006, "INVALID_REVISION"},
    {0x80040007, "Not initialized"},
    {0x80040008, "The specified document is missing"},
    {0x80040009, "Unexpected error"},
    {0x8004000A, "No such file format"},
    {0x8004000B, "No renderer is given for the file"},
    {0x80040043, "NET_SOCKET_INVALID"},
    {0x80040044, "Unable to connect"},
    {0x80040045, "BIND"},
    {0x80040046, "Unable to create socket"},
    {0x80040047, "Invalid host"},
    {0x80040048, "Failed to read from network"},
    {0x80040049, "Failed to write to network"},
    {0x8004004A, "NET_UDP"},
    {0x8004004B, "RETRY"},
    {0x8004004C, "Server timeout"},
    {0x8004004D, "Connection to server is disconnected"},
    {0x8004004E, "WOULD_BLOCK"},
    {0x8004004F, "GENERAL_NONET"},
    {0x80040050, "BLOCK_CANCELED"},
    {0x80040051, "MULTICAST_JOIN"},
    {0x80040052, "GENERAL_MULTICAST"},
    {0x80040053, "MULTICAST_UDP"},
    {0x80040054, "AT_INTERRUPT"},
    {0x80040081, "Invalid file."},
    {0x80040082, "Invalid path."},
    {0x80040086, "File or URL is already open"},
    {0x80040089, "File not found"},
    {0x8004008A, "Write error"},
    {0x800400C0, "Bad server"},
    {0x800400C1, "The server is too higher version that it can't support."},
    {0x800400C2, "The server is too lower version that it can't support"},
    {0x800400C4, "Server alert"},
    {0x800400C5, "PROXY"},
    {0x800400C6, "PROXY_RESPONSE"},
    {0x800400C7, "ADVANCED_PROXY"},
    {0x800400C8, "OLD_PROXY"},
    {0x800400C9, "Invalid protocol"},
    {0x800400CA, "INVALID_URL_OPTION"},
    {0x800400CB, "Invalid URL host"},
    {0x800400CC, "Invalid URL path"},
    {0x800400CD, "HTTP content not found"},
    {0x800400CE, "The requested data is not authorized"},
    {0x800400CF, "Unexpected message"},
    {0x800400D0, "Bad transport"},
    {0x800400D1, "No session ID"},
    {0x80040140, "Could not open"},
    {0x80040180, "Client or server is expired"},
    {0x800401C1, "COULDNOTINITCORE"},
    {0x800401C2, "PERFECTPLAY_NOT_SUPPORTED"},
    {0x800401C3, "NO_LIVE_PERFECTPLAY"},
    {0x800401C4, "PERFECTPLAY_NOT_ALLOWED"},
    {0x800401C5, "NO_CODECS"},
    {0x800401C6, "SLOW_MACHINE"},
    {0x800401C7, "FORCE_PERFECTPLAY"},
    {0x800401C8, "INVALID_HTTP_PROXY_HOST"},
    {0x800401C9, "INVALID_METAFILE"},
    {0x80040200, "DEC_INITED"},
    {0x80040201, "DEC_NOT_FOUND"},
    {0x80040202, "DEC_INVALID"},
    {0x80040203, "DEC_TYPE_MISMATCH"},
    {0x80040204, "DEC_INIT_FAILED"},
    {0x80040205, "DEC_NOT_INITED"},
    {0x80040206, "DEC_DECOMPRESS"},
    {0x80040240, "ENC_FILE_TOO_SMALL"},
    {0x80040241, "ENC_UNKNOWN_FILE"},
    {0x80040242, "ENC_BAD_CHANNELS"},
    {0x80040243, "ENC_BAD_SAMPSIZE"},
    {0x80040244, "ENC_BAD_SAMPRATE"},
    {0x80040245, "ENC_INVALID"},
    {0x80040246, "ENC_NO_OUTPUT_FILE"},
    {0x80040247, "ENC_NO_INPUT_FILE"},
    {0x80040248, "ENC_NO_OUTPUT_PERMISSIONS"},
    {0x80040249, "ENC_BAD_FILETYPE"},
    {0x8004024A, "ENC_INVALID_VIDEO"},
    {0x8004024B, "ENC_INVALID_AUDIO"},
    {0x8004024C, "ENC_NO_VIDEO_CAPTURE"},
    {0x8004024D, "ENC_INVALID_VIDEO_CAPTURE"},
    {0x8004024E, "ENC_NO_AUDIO_CAPTURE"},
    {0x8004024F, "ENC_INVALID_AUDIO_CAPTURE"},
    {0x80040250, "ENC_TOO_SLOW_FOR_LIVE"},
    {0x80040251, "ENC_ENGINE_NOT_INITIALIZED"},
    {0x80040252, "ENC_CODEC_NOT_FOUND"},
    {0x80040253, "ENC_CODEC_NOT_INITIALIZED"},
    {0x80040254, "ENC_INVALID_INPUT_DIMENSIONS"},
    {0x80040281, "PROP_NOT_FOUND"},
    {0x80040282, "PROP_NOT_COMPOSITE"},
    {0x80040283, "PROP_DUPLICATE"},
    {0x80040284, "PROP_TYPE_MISMATCH"},
    {0x80040FC0, "Invalid interleaver"},
    {0x80040FC1, "Bad format"},
    {0x80040FC2, "Chunk missing"},
    {0x80040FC3, "Invalid stream"},
    {0x80040FC4, "DNR"},
    {0x80040FC6, "UPGRADE"},
    {0x80040FC7, "Got Notification"},
    {0x80040FC8, "NOT_NOTIFIED"},
    {0x80040FCC, "NO_SEEK"},
    {0x80070005, "Access Denied"},
    {0x80070006, "HANDLE"},
    {0x8007000E, "OUTOFMEMORY"},
    {0x80070057, "INVALID_PARAMETER"},
};

constexpr bool SortedAndShort() {
    for (std::size_t i = 0; i < std::size(kTexts); ++i) {
        if (i > 0 && !(kTexts[i - 1].code < kTexts[i].code)) return false;
        std::size_t length = 0;
        while (kTexts[i].text[length] != '\0') ++length;
        if (length >= kResultTextCapacity) return false;
    }
    return true;
}
static_assert(std::size(kTexts) == 116, "the engine has 116 named codes");
static_assert(SortedAndShort(), "codes ascending, texts fit the text buffer");

constexpr char kUnknown[] = "Unknown error";

// Copies as many whole characters of text as fit before end - 1, so that no
// lone lead byte is left before the terminator; returns the new write position.
char* CopyCut(char* out, char* end, const char* text, core::LeadByteRule isLead) noexcept {
    const std::size_t room = static_cast<std::size_t>(end - out) - 1;
    const std::size_t length = core::CharacterPrefixLength(text, room, isLead);
    std::memcpy(out, text, length);
    out[length] = '\0';
    return out + length;
}

}  // namespace

const char* ResultCodeText(std::uint32_t code, char* buffer) noexcept {
    const CodeText* found = std::lower_bound(
        std::begin(kTexts), std::end(kTexts), code,
        [](const CodeText& entry, std::uint32_t wanted) { return entry.code < wanted; });
    const char* text = (found != std::end(kTexts) && found->code == code) ? found->text : kUnknown;
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return buffer;
}

std::size_t ResultCodeCount() noexcept { return std::size(kTexts); }

void FormatErrorMessage(std::uint32_t code, const char* userString, char (&message)[kErrorMessageCapacity],
                        core::LeadByteRule isLead) noexcept {
    char text[256];
    char* end = message + kErrorMessageCapacity;
    char* out = CopyCut(message, end, ResultCodeText(code, text), isLead);
    if (userString && userString[0] != '\0') {
        out = CopyCut(out, end, "\r\n", isLead);
        CopyCut(out, end, userString, isLead);
    }
}

}  // namespace engine
