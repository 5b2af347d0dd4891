#include "plugin/file_types.h"

#include <cstring>

namespace plugin {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
    }
    return *a == *b;
}

}  // namespace

bool HasSuffix(const char* name, const char* suffix) noexcept {
    if (!name) return false;
    // A byte search is safe here: in the double-byte code pages (932, 936,
    // 949, 950) a second byte is 0x40 or above, never '.' or '/'.
    const char* dot = std::strrchr(name, '.');
    return dot && EqualsIgnoringCase(dot, suffix);
}

bool IsRealMediaName(const char* name) noexcept {
    static const char* const kSuffixes[] = {".rm", ".ra", ".rmm", ".ram", ".rmj"};
    for (const char* suffix : kSuffixes) {
        if (HasSuffix(name, suffix)) return true;
    }
    return false;
}

bool FormPlaybackUrl(const char* path, char* url, std::size_t capacity, int* quietStatus) noexcept {
    static const char kFilePrefix[] = "file:";
    const std::size_t length = std::strlen(path);
    if (std::strchr(path, '/')) {
        if (length + 1 > capacity) return false;
        *quietStatus = 0;
        std::memcpy(url, path, length + 1);
        return true;
    }
    const std::size_t prefixLength = sizeof(kFilePrefix) - 1;
    if (prefixLength + length + 1 > capacity) return false;
    *quietStatus = (HasSuffix(path, ".rmm") || HasSuffix(path, ".ram")) ? 0 : 1;
    std::memcpy(url, kFilePrefix, prefixLength);
    std::memcpy(url + prefixLength, path, length + 1);
    return true;
}

}  // namespace plugin
