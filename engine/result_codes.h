// Texts for the engine's result codes, and the message the error sink shows.
// Pure logic: no Win32 calls, so it also compiles natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ansi_text.h"

namespace engine {

// Room ResultCodeText needs: the longest text (55 characters) and a terminator.
constexpr std::size_t kResultTextCapacity = 56;
// The error box's message buffer, terminator included.
constexpr std::size_t kErrorMessageCapacity = 512;

// Copies the text of code (or "Unknown error") zero-terminated into buffer,
// which holds at least kResultTextCapacity bytes, and returns buffer.
const char* ResultCodeText(std::uint32_t code, char* buffer) noexcept;

// Number of codes with a text of their own.
std::size_t ResultCodeCount() noexcept;

// The error box's text: the code's text, then "\r\n" and the user string when
// one is given and not empty.  A user string too long for the buffer is cut
// so that the message always ends with a terminator inside it, and, by the
// lead-byte rule of its code page, between two characters.
void FormatErrorMessage(std::uint32_t code, const char* userString, char (&message)[kErrorMessageCapacity],
                        core::LeadByteRule isLead) noexcept;

}  // namespace engine
