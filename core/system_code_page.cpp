#include "core/system_code_page.h"

#include <windows.h>

namespace core {

bool SystemLeadByte(unsigned char byte) noexcept { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace core
