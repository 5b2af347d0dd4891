#include "audio/audio_format.h"

namespace audio {

bool IsValidFormat(const PcmFormat& format) noexcept {
    if (format.channels == 0 || format.samplesPerSec == 0 || format.bitsPerSample < 8) return false;
    // The period's divisor is computed in 32 bits; a product that wraps to 0
    // would divide by zero just the same.
    std::uint32_t bitRate = std::uint32_t{format.bitsPerSample} * format.channels * format.samplesPerSec;
    return bitRate != 0;
}

InfoFigures SetInfoFigures(const PcmFormat& format, int streamKbps) noexcept {
    std::uint32_t bits = std::uint32_t{format.bitsPerSample} * format.samplesPerSec * format.channels;
    return InfoFigures{streamKbps > 0 ? streamKbps : static_cast<int>(bits / 1000),
                       static_cast<int>(format.samplesPerSec / 1000),
                       static_cast<int>(format.channels), 1};
}

std::uint32_t GranularityMs(const PcmFormat& format, std::uint16_t maxBlockSize) noexcept {
    std::uint32_t divisor = std::uint32_t{format.bitsPerSample} * format.channels * format.samplesPerSec;
    if (divisor == 0) return 0;
    return ((std::uint32_t{maxBlockSize} * 8000u) / divisor) >> 1;
}

int DspSampleCount(const PcmFormat& format, int bytes) noexcept {
    int bytesPerSample = format.bitsPerSample >> 3;
    if (format.channels == 0 || bytesPerSample == 0) return 0;
    return (bytes / static_cast<int>(format.channels)) / bytesPerSample;
}

int BytesForSamples(const PcmFormat& format, int samples) noexcept {
    return samples * static_cast<int>(format.channels) * (format.bitsPerSample >> 3);
}

}  // namespace audio
