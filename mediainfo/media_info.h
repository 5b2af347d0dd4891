// Title and length for the host's playlist (the module record's GetFileInfo),
// read straight from RealMedia and RealAudio file headers.
#pragma once

namespace mediainfo {

// Answers the host's GetFileInfo.  A null or empty `file` means the playing
// entry.  `title` is the host's 2048-byte buffer, or null when no title is
// wanted; `lengthMs` is null when no length is wanted.  Anything that is not
// a readable RealMedia or RealAudio file gets its name as title and -1000.
void ReadMediaInfo(const char* file, char* title, int* lengthMs) noexcept;

// The stream's average bit rate in kbit/s from a RealMedia file's header,
// as the host shows it; 0 when the file is none or cannot be read.
int ReadStreamKbps(const char* file) noexcept;

}  // namespace mediainfo
