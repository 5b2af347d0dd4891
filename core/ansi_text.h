// Walking ANSI text (file names, the engine's messages) by character.  In
// the double-byte code pages of East Asian Windows a character's second
// byte may be any byte from 0x40 up, '\' among them (Shift-JIS 表 is 0x95
// 0x5C), so a byte search for '\' or a cut at a byte count can land inside
// a character.  No Win32 here, so it also builds natively; the system's
// rule comes from core/system_code_page.h.
#pragma once

#include <cstddef>

namespace core {

// True when `byte` starts a two-byte character in the text's code page.
using LeadByteRule = bool (*)(unsigned char byte) noexcept;

// The rule of the single-byte code pages: no byte starts a longer character.
bool NoLeadBytes(unsigned char byte) noexcept;

// The last character `wanted` (a byte below 0x80) in `text`, or null.  A
// second byte equal to it is part of its character and is not found.  A lead
// byte right before the terminator counts as a character of its own, as
// CharNextA takes it.
const char* FindLastCharacter(const char* text, char wanted, LeadByteRule isLead) noexcept;

// How many leading bytes of `text` to keep so that at most `limit` bytes
// remain and no character is split: the whole text when it fits, else
// `limit` or one byte less.
std::size_t CharacterPrefixLength(const char* text, std::size_t limit, LeadByteRule isLead) noexcept;

}  // namespace core
