// libFuzzer target over the header parser: the input is the whole file.
// Built without the fuzzer runtime it is a replay program over files.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mediainfo/media_header.h"

namespace {

class MemorySource final : public mediainfo::ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    int ReadAt(std::uint32_t offset, unsigned char* buffer, int count) noexcept override {
        if (offset >= size_ || count <= 0) return 0;
        std::size_t n = size_ - offset < static_cast<std::size_t>(count) ? size_ - offset : count;
        std::memcpy(buffer, data_ + offset, n);
        return static_cast<int>(n);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

void Check(bool holds) {
    if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The title buffer is exactly the host's size, on the heap, so that the
    // address sanitizer sees any byte written past it.
    std::vector<char> title(mediainfo::kTitleCapacity);
    std::memcpy(title.data(), "default", 8);
    int lengthMs = mediainfo::kDefaultLengthMs;
    MemorySource source(data, size);
    mediainfo::ReadHeader(source, title.data(), &lengthMs);
    std::size_t titleLength = strnlen(title.data(), title.size());
    Check(titleLength < title.size());
    Check(titleLength > 0);  // a header title replaces the default only when it is not empty
    Check(lengthMs >= 0 || lengthMs == mediainfo::kDefaultLengthMs);  // the host shows no negative length

    // Each answer alone matches the answer given with both.
    std::vector<char> titleOnly(mediainfo::kTitleCapacity);
    std::memcpy(titleOnly.data(), "default", 8);
    MemorySource again(data, size);
    mediainfo::ReadHeader(again, titleOnly.data(), nullptr);
    Check(std::strcmp(titleOnly.data(), title.data()) == 0);
    int lengthOnly = mediainfo::kDefaultLengthMs;
    MemorySource third(data, size);
    mediainfo::ReadHeader(third, nullptr, &lengthOnly);
    Check(lengthOnly == lengthMs);

    // The bit rate reads only inside the input; none without a RealMedia
    // signature.
    MemorySource fourth(data, size);
    const std::uint32_t bitRate = mediainfo::ReadAverageBitRate(fourth);
    Check(bitRate == 0 || (size >= 4 && std::memcmp(data, ".RMF", 4) == 0));
    return 0;
}
