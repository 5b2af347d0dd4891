// Format arithmetic of the audio bridge: the figures given to the host's
// SetInfo, the time-report period and the DSP hook's sample count.  Pure
// integer logic, no Win32: it compiles natively as well.
#pragma once

#include <cstdint>

namespace audio {

struct PcmFormat {
    std::uint16_t channels;
    std::uint16_t bitsPerSample;
    std::uint32_t samplesPerSec;
};

// The four integers SetInfo takes: the bit rate the host shows in its kbps
// field (the stream's, when known, else the PCM's: 1411 for CD audio), kHz,
// channels, synched.
struct InfoFigures {
    int bitrate;
    int sampleRateKhz;
    int channels;
    int synched;
};

// A format every division below can use: at least one channel, a nonzero
// rate and at least one whole byte per sample.
bool IsValidFormat(const PcmFormat& format) noexcept;

InfoFigures SetInfoFigures(const PcmFormat& format, int streamKbps = 0) noexcept;

// Half the playing time of the largest block, truncated to whole ms.
std::uint32_t GranularityMs(const PcmFormat& format, std::uint16_t maxBlockSize) noexcept;

// Samples per channel in a block of `bytes` bytes.
int DspSampleCount(const PcmFormat& format, int bytes) noexcept;

// Bytes taken by `samples` samples per channel.
int BytesForSamples(const PcmFormat& format, int samples) noexcept;

}  // namespace audio
