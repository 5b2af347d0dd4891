#include "core/ansi_text.h"

namespace core {
namespace {

// The bytes of the character at `at`: two for a lead byte that has a
// second byte, else one.
std::size_t CharacterSize(const char* at, LeadByteRule isLead) noexcept {
    return isLead(static_cast<unsigned char>(*at)) && at[1] != '\0' ? 2 : 1;
}

}  // namespace

bool NoLeadBytes(unsigned char) noexcept { return false; }

const char* FindLastCharacter(const char* text, char wanted, LeadByteRule isLead) noexcept {
    const char* found = nullptr;
    for (const char* at = text; *at != '\0'; at += CharacterSize(at, isLead)) {
        if (*at == wanted) found = at;
    }
    return found;
}

std::size_t CharacterPrefixLength(const char* text, std::size_t limit, LeadByteRule isLead) noexcept {
    std::size_t kept = 0;
    while (text[kept] != '\0') {
        const std::size_t size = CharacterSize(text + kept, isLead);
        if (kept + size > limit) break;
        kept += size;
    }
    return kept;
}

}  // namespace core
