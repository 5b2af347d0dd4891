// libFuzzer target over the header parser: the input is the whole file.
// Up to its first zero byte it is also a file name, for the default title,
// and the engine's text, for the error message.  Built without the fuzzer
// runtime it is a replay program over files.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/ansi_text.h"
#include "engine/result_codes.h"
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

// Shift-JIS, where a character's second byte may be '\'.
bool ShiftJisLead(unsigned char b) noexcept { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

constexpr core::LeadByteRule kRules[] = {core::NoLeadBytes, ShiftJisLead};

// The characters' starts in `text` under `rule`, and its length last.
std::vector<std::size_t> CharacterStarts(const std::string& text, core::LeadByteRule rule) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size(); at += rule(static_cast<unsigned char>(text[at])) ? 2 : 1)
        starts.push_back(at);
    starts.push_back(text.size());
    return starts;
}

// The title is the name after its last backslash character, whole or cut
// at a character's start within a byte of the buffer's end.
void CheckDefaultTitle(const std::string& name) {
    for (core::LeadByteRule rule : kRules) {
        const std::vector<std::size_t> starts = CharacterStarts(name, rule);
        std::size_t base = 0;
        for (std::size_t at : starts) {
            if (at < name.size() && name[at] == '\\') base = at + 1;
        }
        std::vector<char> title(mediainfo::kTitleCapacity);
        mediainfo::CopyDefaultTitle(name.c_str(), title.data(), rule);
        const std::size_t length = strnlen(title.data(), title.size());
        Check(length < title.size());
        Check(name.compare(base, length, title.data(), length) == 0);
        if (base + length == name.size()) continue;
        Check(length + 1 >= title.size() - 1);
        bool atStart = false;
        for (std::size_t at : starts) atStart |= at == base + length;
        Check(atStart);
    }
}

// The message is the code's text, a line break and the user string, cut to
// the buffer; under Shift-JIS a cut user string ends on a whole character.
void CheckErrorMessage(const std::string& user) {
    struct Box {
        char message[engine::kErrorMessageCapacity];
    };
    const std::string head = user.empty() ? "Server timeout" : "Server timeout\r\n";
    const std::string full = head + user;
    for (core::LeadByteRule rule : kRules) {
        auto box = std::make_unique<Box>();  // on the heap, so that a byte past it is seen
        engine::FormatErrorMessage(0x8004004C, user.c_str(), box->message, rule);
        const std::size_t shown = strnlen(box->message, sizeof box->message);
        Check(shown < sizeof box->message);
        Check(full.compare(0, shown, box->message) == 0);
        Check(shown == full.size() || shown + 1 >= sizeof box->message - 1);
        if (shown == full.size()) continue;
        bool atStart = false;
        for (std::size_t at : CharacterStarts(user, rule)) atStart |= head.size() + at == shown;
        Check(atStart);
    }
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

    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string text(bytes, size ? strnlen(bytes, size) : 0);  // an empty input may have no address
    CheckDefaultTitle(text);
    CheckErrorMessage(text);
    return 0;
}
