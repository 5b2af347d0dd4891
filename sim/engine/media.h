/* What the stand-in engine plays for a URL.  No Win32 here: this part also
 * builds natively.  The stand-in decodes nothing: WAV samples are played as
 * they are, and everything else becomes a test tone in the format and for the
 * length that the file's headers (or the scenario) give. */
#ifndef SIM_ENGINE_MEDIA_H
#define SIM_ENGINE_MEDIA_H

#include <stdint.h>

typedef struct SimMediaDefaults {
    uint32_t lengthMs;
    uint32_t rate, channels, bits;
} SimMediaDefaults;

typedef struct SimMedia {
    int network;         /* a URL with "://" (directly or from a meta file) */
    int video;           /* the presentation carries a video stream */
    int wav;             /* samples come from a RIFF WAV file */
    uint32_t rate, channels, bits;
    uint32_t lengthMs;
    uint64_t totalBytes; /* PCM bytes of the whole presentation */
    unsigned char* pcm;  /* the WAV's samples; null for a tone */
} SimMedia;

#define SIM_MEDIA_OK 0
#define SIM_MEDIA_NOT_FOUND ((int32_t)0x80040089)

/* Resolves a URL as the player's OpenURL receives it ("file:" + a Windows
 * path, a bare path, a network URL or a .ram/.rmm meta file). */
int32_t SimMediaOpen(const char* url, const SimMediaDefaults* defaults, SimMedia* out);
void SimMediaFree(SimMedia* media);
uint32_t SimMediaFrameBytes(const SimMedia* media);
/* Copies count PCM bytes starting at offset (inside totalBytes). */
void SimMediaRead(const SimMedia* media, uint64_t offset, unsigned char* out, uint32_t count);
/* Byte offset of a time, on a frame boundary and within the presentation. */
uint64_t SimMediaOffsetOf(const SimMedia* media, uint32_t timeMs);
uint32_t SimMediaTimeOf(const SimMedia* media, uint64_t offset);

#endif
