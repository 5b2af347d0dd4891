#include "mediainfo/media_header.h"

#include <cstring>

namespace mediainfo {

void ReverseBytes(unsigned char* buffer, int count) noexcept {
    for (int i = 0; i < count / 2; ++i) {
        unsigned char swapped = buffer[i];
        buffer[i] = buffer[count - 1 - i];
        buffer[count - 1 - i] = swapped;
    }
}
namespace {

constexpr unsigned char kRealMediaSignature[4] = {'.', 'R', 'M', 'F'};
constexpr unsigned char kRealAudioSignature[4] = {'.', 'r', 'a', 0xFD};
constexpr unsigned char kContentTag[4] = {'C', 'O', 'N', 'T'};

// RealMedia offsets of the properties header's duration and data-chunk
// offset, for the usual 18-byte file header.  Files with a 16-byte file
// header have every property two bytes earlier.
constexpr std::uint32_t kAverageBitRateOffset = 32;
constexpr std::uint32_t kDurationOffset = 48;
constexpr std::uint32_t kDataOffsetOffset = 60;
constexpr std::uint32_t kShortHeaderSize = 16;
constexpr std::uint32_t kLargestLengthMs = 0x7FFFFFFF;

// Content-description chunk: tag, size (4), version (2), title length (2),
// title.  Its strings carry no terminator in the file.
constexpr int kTitleLengthAt = 10;
constexpr int kTitleAt = 12;

// RealAudio: the title length byte sits at 69 in version 4 headers and at 22
// in version 3 headers.
constexpr std::uint32_t kRealAudioVersionTag = 8;
constexpr std::uint32_t kRealAudio4TitleLength = 69;
constexpr std::uint32_t kRealAudio3TitleLength = 22;

// Version 5 headers keep the interleaver id and the codec's FourCC as four
// bytes each at 62 and 66, where version 4 has two length-prefixed strings,
// so their title moves: three codec flag bytes follow the FourCC, then the
// title's length byte at 73.  The header size at 18 counts the bytes from
// offset 16 to the end of the header, strings included.
constexpr std::uint32_t kRealAudioVersion = 4;
constexpr std::uint32_t kRealAudio5HeaderSize = 18;
constexpr std::uint32_t kRealAudio5HeaderSizeFrom = 16;
constexpr std::uint32_t kRealAudio5TitleLength = 73;

std::uint32_t BigEndian32(unsigned char (&bytes)[4]) noexcept {
    ReverseBytes(bytes, 4);
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// False, leaving `value` alone, when fewer than four bytes exist there.
bool ReadNumber(ByteSource& source, std::uint32_t offset, std::uint32_t* value) noexcept {
    unsigned char bytes[4];
    if (source.ReadAt(offset, bytes, 4) != 4) return false;
    *value = BigEndian32(bytes);
    return true;
}

// Copies at most `length` bytes of `text`, up to its first zero byte and
// within the title buffer, and terminates the copy.
void CopyTitle(const unsigned char* text, int length, char* title) noexcept {
    if (length > kTitleCapacity - 1) length = kTitleCapacity - 1;
    int n = 0;
    while (n < length && text[n] != 0) {
        title[n] = static_cast<char>(text[n]);
        ++n;
    }
    title[n] = '\0';
}

// Files with a 16-byte file header have every property two bytes earlier.
std::uint32_t PropertiesShift(const unsigned char* head, int headRead) noexcept {
    if (headRead != 8) return 0;
    unsigned char size[4] = {head[4], head[5], head[6], head[7]};
    return BigEndian32(size) == kShortHeaderSize ? 2 : 0;
}

void ReadRealMediaHeader(ByteSource& source, const unsigned char* head, int headRead, char* title,
                         int* lengthMs) noexcept {
    const std::uint32_t shift = PropertiesShift(head, headRead);
    std::uint32_t number;
    // A duration past the largest int would show as a negative length: like
    // a header without one, it leaves the length unknown.
    if (lengthMs && ReadNumber(source, kDurationOffset - shift, &number) && number <= kLargestLengthMs)
        *lengthMs = static_cast<int>(number);
    if (!title) return;

    std::uint32_t dataOffsetAt = kDataOffsetOffset - shift;
    if (!ReadNumber(source, dataOffsetAt, &number)) return;
    // The window's start is a signed 32-bit move from the start of the file;
    // a negative one fails and reading goes on where the last read ended.
    std::int32_t start = static_cast<std::int32_t>(number - kWindowSize);
    std::uint32_t windowAt = start < 0 ? dataOffsetAt + 4 : static_cast<std::uint32_t>(start);

    unsigned char window[kWindowSize];
    int windowRead = source.ReadAt(windowAt, window, kWindowSize);
    const int lastTagAt = kWindowSize - static_cast<int>(sizeof kContentTag);  // 508, exclusive
    for (int at = 0; at < lastTagAt && at + 4 <= windowRead; ++at) {
        if (std::memcmp(window + at, kContentTag, sizeof kContentTag) != 0) continue;
        if (at + kTitleAt > windowRead) return;
        int titleLength = window[at + kTitleLengthAt] << 8 | window[at + kTitleLengthAt + 1];
        int available = windowRead - (at + kTitleAt);
        if (titleLength > available) titleLength = available;
        if (titleLength > 0 && window[at + kTitleAt] != 0) CopyTitle(window + at + kTitleAt, titleLength, title);
        return;
    }
}

// The version 5 title, only when the header holds together: its version
// field agrees with the tag, and the whole title lies both in the file and
// inside the header as its size declares it.  Anything else leaves the name.
void ReadRealAudio5Title(ByteSource& source, char* title) noexcept {
    unsigned char version[2];
    if (source.ReadAt(kRealAudioVersion, version, 2) != 2 || version[0] != 0 || version[1] != 5) return;
    std::uint32_t headerSize;
    if (!ReadNumber(source, kRealAudio5HeaderSize, &headerSize)) return;
    unsigned char length;
    if (source.ReadAt(kRealAudio5TitleLength, &length, 1) != 1 || length == 0) return;
    const std::uint64_t headerEnd = std::uint64_t{kRealAudio5HeaderSizeFrom} + headerSize;
    if (kRealAudio5TitleLength + 1 + length > headerEnd) return;
    unsigned char text[255];
    if (source.ReadAt(kRealAudio5TitleLength + 1, text, length) != length || text[0] == 0) return;
    CopyTitle(text, length, title);
}

void ReadRealAudioHeader(ByteSource& source, char* title) noexcept {
    if (!title) return;
    unsigned char version[4];
    std::uint32_t lengthAt = kRealAudio3TitleLength;
    if (source.ReadAt(kRealAudioVersionTag, version, 4) == 4 && std::memcmp(version, ".ra", 3) == 0) {
        if (version[3] == '5') {
            ReadRealAudio5Title(source, title);
            return;
        }
        if (version[3] == '4') lengthAt = kRealAudio4TitleLength;
    }
    unsigned char length;
    if (source.ReadAt(lengthAt, &length, 1) != 1 || length == 0) return;
    unsigned char text[255];
    int textRead = source.ReadAt(lengthAt + 1, text, length);
    if (textRead > 0 && text[0] != 0) CopyTitle(text, textRead, title);
}

}  // namespace

void CopyDefaultTitle(const char* name, char* title, core::LeadByteRule isLead) noexcept {
    const char* base = core::FindLastCharacter(name, '\\', isLead);
    base = base ? base + 1 : name;
    const std::size_t length = core::CharacterPrefixLength(base, kTitleCapacity - 1, isLead);
    std::memcpy(title, base, length);
    title[length] = '\0';
}

void ReadHeader(ByteSource& source, char* title, int* lengthMs) noexcept {
    // The signature and, for RealMedia, the file header's size in one read.
    unsigned char head[8];
    int headRead = source.ReadAt(0, head, sizeof head);
    if (headRead < 4) return;
    if (std::memcmp(head, kRealMediaSignature, 4) == 0)
        ReadRealMediaHeader(source, head, headRead, title, lengthMs);
    else if (std::memcmp(head, kRealAudioSignature, 4) == 0)
        ReadRealAudioHeader(source, title);
}

std::uint32_t ReadAverageBitRate(ByteSource& source) noexcept {
    unsigned char head[8];
    const int headRead = source.ReadAt(0, head, sizeof head);
    if (headRead < 4 || std::memcmp(head, kRealMediaSignature, 4) != 0) return 0;
    std::uint32_t bitRate = 0;
    ReadNumber(source, kAverageBitRateOffset - PropertiesShift(head, headRead), &bitRate);
    return bitRate;
}

}  // namespace mediainfo
