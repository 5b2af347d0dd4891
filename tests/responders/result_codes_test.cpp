// Result-code texts and the error message built from them (pure: also builds natively).
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "engine/result_codes.h"

namespace {

// Shift-JIS, code page 932.
bool ShiftJisLead(unsigned char b) noexcept { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

struct Expected {
    std::uint32_t code;
    const char* text;
};

const Expected kTable[] = {
    {0x00000000, "OK"}, {0x00040040, "BUFFERING"}, {0x00040041, "PAUSED"}, {0x00040042, "No data(?)"},
    {0x00040043, "STREAM_DONE"}, {0x00040080, "AT_END"}, {0x000400C3, "Redirection is required(?)"},
    {0x80004001, "NOTIMPL"}, {0x80004002, "NOINTERFACE"}, {0x80004003, "POINTER"}, {0x80004004, "ABORT"},
    {0x80004005, "FAIL"}, {0x80040004, "INVALID_OPERATION"}, {0x80040005, "Invaild Version"},
    {0x80040006, "INVALID_REVISION"}, {0x80040007, "Not initialized"},
    {0x80040008, "The specified document is missing"}, {0x80040009, "Unexpected error"},
    {0x8004000A, "No such file format"}, {0x8004000B, "No renderer is given for the file"},
    {0x80040043, "NET_SOCKET_INVALID"}, {0x80040044, "Unable to connect"}, {0x80040045, "BIND"},
    {0x80040046, "Unable to create socket"}, {0x80040047, "Invalid host"},
    {0x80040048, "Failed to read from network"}, {0x80040049, "Failed to write to network"},
    {0x8004004A, "NET_UDP"}, {0x8004004B, "RETRY"}, {0x8004004C, "Server timeout"},
    {0x8004004D, "Connection to server is disconnected"}, {0x8004004E, "WOULD_BLOCK"},
    {0x8004004F, "GENERAL_NONET"}, {0x80040050, "BLOCK_CANCELED"}, {0x80040051, "MULTICAST_JOIN"},
    {0x80040052, "GENERAL_MULTICAST"}, {0x80040053, "MULTICAST_UDP"}, {0x80040054, "AT_INTERRUPT"},
    {0x80040081, "Invalid file."}, {0x80040082, "Invalid path."}, {0x80040086, "File or URL is already open"},
    {0x80040089, "File not found"}, {0x8004008A, "Write error"}, {0x800400C0, "Bad server"},
    {0x800400C1, "The server is too higher version that it can't support."},
    {0x800400C2, "The server is too lower version that it can't support"}, {0x800400C4, "Server alert"},
    {0x800400C5, "PROXY"}, {0x800400C6, "PROXY_RESPONSE"}, {0x800400C7, "ADVANCED_PROXY"},
    {0x800400C8, "OLD_PROXY"}, {0x800400C9, "Invalid protocol"}, {0x800400CA, "INVALID_URL_OPTION"},
    {0x800400CB, "Invalid URL host"}, {0x800400CC, "Invalid URL path"}, {0x800400CD, "HTTP content not found"},
    {0x800400CE, "The requested data is not authorized"}, {0x800400CF, "Unexpected message"},
    {0x800400D0, "Bad transport"}, {0x800400D1, "No session ID"}, {0x80040140, "Could not open"},
    {0x80040180, "Client or server is expired"}, {0x800401C1, "COULDNOTINITCORE"},
    {0x800401C2, "PERFECTPLAY_NOT_SUPPORTED"}, {0x800401C3, "NO_LIVE_PERFECTPLAY"},
    {0x800401C4, "PERFECTPLAY_NOT_ALLOWED"}, {0x800401C5, "NO_CODECS"}, {0x800401C6, "SLOW_MACHINE"},
    {0x800401C7, "FORCE_PERFECTPLAY"}, {0x800401C8, "INVALID_HTTP_PROXY_HOST"}, {0x800401C9, "INVALID_METAFILE"},
    {0x80040200, "DEC_INITED"}, {0x80040201, "DEC_NOT_FOUND"}, {0x80040202, "DEC_INVALID"},
    {0x80040203, "DEC_TYPE_MISMATCH"}, {0x80040204, "DEC_INIT_FAILED"}, {0x80040205, "DEC_NOT_INITED"},
    {0x80040206, "DEC_DECOMPRESS"}, {0x80040240, "ENC_FILE_TOO_SMALL"}, {0x80040241, "ENC_UNKNOWN_FILE"},
    {0x80040242, "ENC_BAD_CHANNELS"}, {0x80040243, "ENC_BAD_SAMPSIZE"}, {0x80040244, "ENC_BAD_SAMPRATE"},
    {0x80040245, "ENC_INVALID"}, {0x80040246, "ENC_NO_OUTPUT_FILE"}, {0x80040247, "ENC_NO_INPUT_FILE"},
    {0x80040248, "ENC_NO_OUTPUT_PERMISSIONS"}, {0x80040249, "ENC_BAD_FILETYPE"}, {0x8004024A, "ENC_INVALID_VIDEO"},
    {0x8004024B, "ENC_INVALID_AUDIO"}, {0x8004024C, "ENC_NO_VIDEO_CAPTURE"},
    {0x8004024D, "ENC_INVALID_VIDEO_CAPTURE"}, {0x8004024E, "ENC_NO_AUDIO_CAPTURE"},
    {0x8004024F, "ENC_INVALID_AUDIO_CAPTURE"}, {0x80040250, "ENC_TOO_SLOW_FOR_LIVE"},
    {0x80040251, "ENC_ENGINE_NOT_INITIALIZED"}, {0x80040252, "ENC_CODEC_NOT_FOUND"},
    {0x80040253, "ENC_CODEC_NOT_INITIALIZED"}, {0x80040254, "ENC_INVALID_INPUT_DIMENSIONS"},
    {0x80040281, "PROP_NOT_FOUND"}, {0x80040282, "PROP_NOT_COMPOSITE"}, {0x80040283, "PROP_DUPLICATE"},
    {0x80040284, "PROP_TYPE_MISMATCH"}, {0x80040FC0, "Invalid interleaver"}, {0x80040FC1, "Bad format"},
    {0x80040FC2, "Chunk missing"}, {0x80040FC3, "Invalid stream"}, {0x80040FC4, "DNR"}, {0x80040FC6, "UPGRADE"},
    {0x80040FC7, "Got Notification"}, {0x80040FC8, "NOT_NOTIFIED"}, {0x80040FCC, "NO_SEEK"},
    {0x80070005, "Access Denied"}, {0x80070006, "HANDLE"}, {0x8007000E, "OUTOFMEMORY"},
    {0x80070057, "INVALID_PARAMETER"},
};

// Looks a code up into the smallest buffer callers may pass, with guard bytes behind it.
std::string Lookup(std::uint32_t code) {
    char buffer[engine::kResultTextCapacity + 8];
    std::memset(buffer, 0x7F, sizeof(buffer));
    const char* result = engine::ResultCodeText(code, buffer);
    EXPECT_EQ(result, buffer);
    for (size_t i = engine::kResultTextCapacity; i < sizeof(buffer); ++i) {
        EXPECT_EQ(buffer[i], 0x7F) << "text of " << std::hex << code << " overran the buffer";
    }
    return buffer;
}

TEST(ResultCodes, EveryCodeHasItsExactText) {
    ASSERT_EQ(std::size(kTable), 116u);
    EXPECT_EQ(engine::ResultCodeCount(), 116u);
    for (const Expected& entry : kTable) {
        EXPECT_EQ(Lookup(entry.code), entry.text) << std::hex << entry.code;
    }
}

TEST(ResultCodes, CodesOutsideTheTableAreUnknown) {
    // Between two known codes, next to the ends, and codes differing only in the top bit.
    for (std::uint32_t code : {0x80040FC5u, 0x80040FC9u, 0x00000001u, 0xFFFFFFFFu, 0x80070058u,
                               0x00040089u, 0x800400C3u, 0x80040000u}) {
        EXPECT_EQ(Lookup(code), "Unknown error") << std::hex << code;
    }
}

TEST(ErrorMessage, UserStringFollowsOnItsOwnLineAndIsCutToFit) {
    char message[engine::kErrorMessageCapacity];
    engine::FormatErrorMessage(0x80040089, nullptr, message, core::NoLeadBytes);
    EXPECT_STREQ(message, "File not found");
    engine::FormatErrorMessage(0x80040089, "", message, core::NoLeadBytes);
    EXPECT_STREQ(message, "File not found");
    engine::FormatErrorMessage(0x80040089, "C:\\music\\a.rm", message, core::NoLeadBytes);
    EXPECT_STREQ(message, "File not found\r\nC:\\music\\a.rm");

    // The longest text and a 454-character user string fill the buffer exactly.
    const char* longest = "The server is too higher version that it can't support.";
    std::string fits(454, 'u');
    engine::FormatErrorMessage(0x800400C1, fits.c_str(), message, core::NoLeadBytes);
    EXPECT_EQ(std::string(message), std::string(longest) + "\r\n" + fits);

    struct {
        char message[engine::kErrorMessageCapacity];
        char guard[16];
    } guarded;
    std::memset(guarded.guard, 0x7F, sizeof(guarded.guard));
    std::string tooLong(2000, 'x');
    engine::FormatErrorMessage(0x8004004D, tooLong.c_str(), guarded.message, core::NoLeadBytes);
    std::string shown = guarded.message;
    EXPECT_EQ(shown.size(), engine::kErrorMessageCapacity - 1);
    EXPECT_EQ(shown.substr(0, 38), "Connection to server is disconnected\r\n");
    for (char c : guarded.guard) EXPECT_EQ(c, 0x7F);

    // The cut falls between characters of the user string's code page: 表
    // (0x95 0x5C in Shift-JIS) across the last byte is left out, not halved.
    // 473 bytes of user string fit behind this code's text.
    const std::string head = "Connection to server is disconnected\r\n";
    struct {
        size_t before;
        core::LeadByteRule rule;
        size_t shownUser;
    } cuts[] = {
        {472, ShiftJisLead, 472}, {471, ShiftJisLead, 473}, {472, core::NoLeadBytes, 473},
    };
    for (const auto& cut : cuts) {
        const std::string user = std::string(cut.before, 'x') + "\x95\x5C" + "tail";
        engine::FormatErrorMessage(0x8004004D, user.c_str(), guarded.message, cut.rule);
        EXPECT_EQ(std::string(guarded.message), head + user.substr(0, cut.shownUser)) << cut.before;
        for (char c : guarded.guard) EXPECT_EQ(c, 0x7F);
    }
}

}  // namespace
