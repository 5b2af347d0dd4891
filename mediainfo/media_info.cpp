#include "mediainfo/media_info.h"

#include <windows.h>

#include "core/playback.h"
#include "core/system_code_page.h"
#include "core/unique_any.h"
#include "mediainfo/media_header.h"

namespace mediainfo {
namespace {

// An open file read at explicit offsets; closed when it goes out of scope,
// so the host can rename or delete the file right after asking.
class MediaFile final : public ByteSource {
public:
    explicit MediaFile(const char* name) noexcept
        : handle_(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}

    bool IsOpen() const noexcept { return static_cast<bool>(handle_); }

    int ReadAt(std::uint32_t offset, unsigned char* buffer, int count) noexcept override {
        // An offset in the request reads there without a separate seek.
        OVERLAPPED at = {};
        at.Offset = offset;
        DWORD read = 0;
        if (!ReadFile(handle_.get(), buffer, static_cast<DWORD>(count), &read, &at)) return 0;
        return static_cast<int>(read);
    }

private:
    core::UniqueFile handle_;
};

}  // namespace

void ReadMediaInfo(const char* file, char* title, int* lengthMs) noexcept {
    const char* name = file;
    std::int32_t engineLengthMs = 0;
    if (!name || !*name) {
        // The playing entry.  The host asks right after Play returns and
        // keeps the answer: until the engine has reported a length, the
        // header's (or unknown) stands, never a 0 that shows as "0:00".
        const core::PlaybackRef playing = core::CurrentPlayback();
        engineLengthMs = playing ? playing->LengthMs() : 0;
        name = playing ? playing->Path() : "";
    }
    if (title) CopyDefaultTitle(name, title, core::SystemLeadByte);
    if (lengthMs) *lengthMs = kDefaultLengthMs;

    if (*name) {
        MediaFile media(name);
        if (media.IsOpen()) ReadHeader(media, title, lengthMs);
    }
    if (lengthMs && engineLengthMs > 0) *lengthMs = engineLengthMs;
}

int ReadStreamKbps(const char* file) noexcept {
    if (!file || !*file) return 0;
    MediaFile media(file);
    if (!media.IsOpen()) return 0;
    return static_cast<int>((std::uint64_t{ReadAverageBitRate(media)} + 500) / 1000);
}

}  // namespace mediainfo
