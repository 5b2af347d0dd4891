// The header parser behind ReadMediaInfo: no Win32, so it also builds
// natively for the fuzzer.
#pragma once

#include <cstdint>

#include "core/ansi_text.h"

namespace mediainfo {

constexpr int kTitleCapacity = 2048;    // the host's title buffer, terminator included
constexpr int kDefaultLengthMs = -1000;
constexpr int kWindowSize = 512;        // the bytes in front of the data chunk

// Where the parser's bytes come from.
class ByteSource {
public:
    // Reads up to `count` bytes starting `offset` bytes from the start of the
    // file; returns how many were read (0 past the end or on failure).
    virtual int ReadAt(std::uint32_t offset, unsigned char* buffer, int count) noexcept = 0;

protected:
    ~ByteSource() = default;
};

// Reverses the order of `count` bytes in place (big-endian to host order).
void ReverseBytes(unsigned char* buffer, int count) noexcept;

// The default title: the name after its last backslash, cut to fit the
// title buffer.  The name is walked by character, by the lead-byte rule of
// its code page, so that no second byte is taken for a backslash and the
// cut splits no character.
void CopyDefaultTitle(const char* name, char* title, core::LeadByteRule isLead) noexcept;

// Reads the header answers from `source` over the defaults already in
// `title` and `lengthMs`; a null pointer means that answer is not wanted and
// no byte is read for it.  Answers the header lacks are left alone, and so
// is a duration past the largest int, which the host would show negative.
void ReadHeader(ByteSource& source, char* title, int* lengthMs) noexcept;

// The stream's average bit rate, in bits per second, from a RealMedia
// file's properties header; 0 when the file has none.
std::uint32_t ReadAverageBitRate(ByteSource& source) noexcept;

}  // namespace mediainfo
