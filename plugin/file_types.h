// Name tests and URL forming: no Win32, so they also build natively.
#pragma once

#include <cstddef>

namespace plugin {

// True when the text from the name's last '.' to its end is one of .rm .ra
// .rmm .ram .rmj, in any ASCII letter case.
bool IsRealMediaName(const char* name) noexcept;

// True when the text from the last '.' equals `suffix` (which starts with
// '.'), ignoring ASCII letter case.
bool HasSuffix(const char* name, const char* suffix) noexcept;

// Turns a playback path into the URL handed to the player.  A path with a
// '/' anywhere is a URL and goes unchanged; anything else is a local file and
// gets "file:" in front.  `quietStatus` is set for local files that are not
// meta files (.ram, .rmm).  Returns false, writing nothing, when the URL does
// not fit `capacity` bytes with its terminator: a cut path would play another
// file.
bool FormPlaybackUrl(const char* path, char* url, std::size_t capacity, int* quietStatus) noexcept;

}  // namespace plugin
