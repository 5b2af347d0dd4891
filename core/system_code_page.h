// The lead-byte rule of the system's ANSI code page, the one the host's
// names and the engine's messages are in.
#pragma once

namespace core {

// IsDBCSLeadByte: true when `byte` starts a two-byte character in the
// system's ANSI code page.  A core::LeadByteRule.
bool SystemLeadByte(unsigned char byte) noexcept;

}  // namespace core
