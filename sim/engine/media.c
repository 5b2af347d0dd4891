#include "media.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_FILE_BYTES (512u * 1024u * 1024u)
#define TONE_HZ 440.0

static uint32_t Le16(const unsigned char* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
static uint32_t Le32(const unsigned char* p) { return Le16(p) | (Le16(p + 2) << 16); }
static uint32_t Be16(const unsigned char* p) { return ((uint32_t)p[0] << 8) | p[1]; }
static uint32_t Be32(const unsigned char* p) { return (Be16(p) << 16) | Be16(p + 2); }

static int StartsNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (tolower((unsigned char)*text) != tolower((unsigned char)*prefix)) return 0;
    }
    return 1;
}

static int EndsNoCase(const char* text, const char* suffix) {
    size_t n = strlen(text), m = strlen(suffix);
    return n >= m && StartsNoCase(text + n - m, suffix);
}

static int ContainsNoCase(const char* text, const char* word) {
    for (; *text; ++text) {
        if (StartsNoCase(text, word)) return 1;
    }
    return 0;
}

static int ValidFormat(uint32_t rate, uint32_t channels, uint32_t bits) {
    return rate >= 1000 && rate <= 192000 && channels >= 1 && channels <= 8 &&
           (bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

/* Reads a whole file; null when it cannot be opened. */
static unsigned char* ReadFile(const char* path, uint32_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    unsigned char* data = NULL;
    uint32_t used = 0, capacity = 0;
    for (;;) {
        if (used == capacity) {
            uint32_t grown = capacity ? capacity * 2 : 65536;
            if (grown > MAX_FILE_BYTES) break;
            unsigned char* bigger = realloc(data, grown + 1);
            if (!bigger) break;
            data = bigger;
            capacity = grown;
        }
        size_t got = fread(data + used, 1, capacity - used, f);
        if (got == 0) break;
        used += (uint32_t)got;
    }
    fclose(f);
    if (!data) data = calloc(1, 1);
    if (data) data[used] = 0;
    *size = used;
    return data;
}

/* The sample format in a RealAudio header (".ra" 0xFD), as far as found. */
static int ParseRealAudioHeader(const unsigned char* p, uint32_t size, SimMedia* media) {
    if (size < 6 || memcmp(p, ".ra\xFD", 4) != 0) return 0;
    uint32_t version = Be16(p + 4);
    uint32_t rate = 0, bits = 0, channels = 0;
    if (version == 3) {
        rate = 8000, bits = 16, channels = 1;
    } else if (version == 4 && size >= 56) {
        rate = Be16(p + 48), bits = Be16(p + 52), channels = Be16(p + 54);
    } else if (version == 5 && size >= 62) {
        rate = Be16(p + 54), bits = Be16(p + 58), channels = Be16(p + 60);
    }
    if (!ValidFormat(rate, channels, bits)) return 0;
    media->rate = rate, media->bits = bits, media->channels = channels;
    return 1;
}

static const unsigned char* Find(const unsigned char* p, uint32_t size, const char* what, uint32_t n) {
    for (uint32_t i = 0; i + n <= size; ++i) {
        if (memcmp(p + i, what, n) == 0) return p + i;
    }
    return NULL;
}

/* RealMedia: the PROP chunk gives the duration, an MDPR chunk the audio
 * stream's RealAudio header and whether a video stream is present. */
static void ParseRealMedia(const unsigned char* p, uint32_t size, SimMedia* media, uint32_t* durationMs) {
    uint32_t at = 0;
    while (at + 8 <= size) {
        const unsigned char* chunk = p + at;
        uint32_t length = Be32(chunk + 4);
        if (memcmp(chunk, "DATA", 4) == 0 || length < 8) break;
        if (length > size - at) length = size - at;
        if (memcmp(chunk, "PROP", 4) == 0 && length >= 34) {
            *durationMs = Be32(chunk + 30);
        } else if (memcmp(chunk, "MDPR", 4) == 0) {
            const unsigned char* ra = Find(chunk, length, ".ra\xFD", 4);
            if (ra) ParseRealAudioHeader(ra, length - (uint32_t)(ra - chunk), media);
            if (Find(chunk, length, "video/", 6)) media->video = 1;
        }
        at += length;
    }
}

static int ParseWav(unsigned char* p, uint32_t size, SimMedia* media) {
    if (size < 12 || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "WAVE", 4) != 0) return 0;
    uint32_t rate = 0, channels = 0, bits = 0;
    int haveFormat = 0;
    uint32_t at = 12;
    while (at + 8 <= size) {
        uint32_t length = Le32(p + at + 4);
        const unsigned char* body = p + at + 8;
        uint32_t avail = size - at - 8;
        if (memcmp(p + at, "fmt ", 4) == 0 && length >= 16 && avail >= 16) {
            uint32_t tag = Le16(body);
            channels = Le16(body + 2), rate = Le32(body + 4), bits = Le16(body + 14);
            haveFormat = (tag == 1 || tag == 0xFFFE) && ValidFormat(rate, channels, bits);
        } else if (memcmp(p + at, "data", 4) == 0) {
            if (!haveFormat) return 0;
            uint32_t frame = channels * (bits / 8);
            uint32_t bytes = length < avail ? length : avail;
            bytes -= bytes % frame;
            media->pcm = malloc(bytes ? bytes : 1);
            if (!media->pcm) return 0;
            memcpy(media->pcm, body, bytes);
            media->wav = 1;
            media->rate = rate, media->channels = channels, media->bits = bits;
            media->totalBytes = bytes;
            media->lengthMs = (uint32_t)((uint64_t)bytes / frame * 1000 / rate);
            return 1;
        }
        if (length > avail) break;
        at += 8 + length + (length & 1);
    }
    return 0;
}

static void Tone(SimMedia* media, uint32_t lengthMs) {
    media->lengthMs = lengthMs;
    media->totalBytes = (uint64_t)lengthMs * media->rate / 1000 * SimMediaFrameBytes(media);
}

/* The first URL line of a meta file, trimmed, or 0 when there is none. */
static int FirstUrlLine(const char* text, char* line, size_t size) {
    while (*text) {
        const char* end = text + strcspn(text, "\r\n");
        while (text < end && isspace((unsigned char)*text)) ++text;
        const char* last = end;
        while (last > text && isspace((unsigned char)last[-1])) --last;
        if (last > text && *text != '#' && (size_t)(last - text) < size) {
            memcpy(line, text, (size_t)(last - text));
            line[last - text] = 0;
            return 1;
        }
        text = *end ? end + 1 : end;
    }
    return 0;
}

static int32_t Open(const char* url, const SimMediaDefaults* defaults, SimMedia* media, int depth) {
    const char* path = url;
    if (StartsNoCase(path, "file:")) {
        path += 5;
        if (path[0] == '/' && path[1] == '/') path += 2;
        if (path[0] == '/' && isalpha((unsigned char)path[1]) && path[2] == ':') path += 1;
    } else if (strstr(path, "://")) {
        media->network = 1;
        Tone(media, defaults->lengthMs);
        return SIM_MEDIA_OK;
    }
    uint32_t size = 0;
    unsigned char* data = ReadFile(path, &size);
    if (!data) return SIM_MEDIA_NOT_FOUND;
    int32_t result = SIM_MEDIA_OK;
    char line[1024];
    if ((EndsNoCase(path, ".ram") || EndsNoCase(path, ".rmm")) && depth == 0 &&
        FirstUrlLine((const char*)data, line, sizeof line)) {
        if (ContainsNoCase(line, "video")) media->video = 1;
        result = Open(line, defaults, media, depth + 1);
    } else if (!ParseWav(data, size, media)) {
        uint32_t durationMs = 0;
        if (size >= 4 && memcmp(data, ".RMF", 4) == 0) {
            ParseRealMedia(data, size, media, &durationMs);
        } else {
            ParseRealAudioHeader(data, size, media);
        }
        Tone(media, durationMs ? durationMs : defaults->lengthMs);
    }
    free(data);
    return result;
}

int32_t SimMediaOpen(const char* url, const SimMediaDefaults* defaults, SimMedia* out) {
    memset(out, 0, sizeof *out);
    out->rate = defaults->rate;
    out->channels = defaults->channels;
    out->bits = defaults->bits;
    if (!ValidFormat(out->rate, out->channels, out->bits)) {
        out->rate = 44100, out->channels = 2, out->bits = 16;
    }
    if (!url) return SIM_MEDIA_NOT_FOUND;
    if (ContainsNoCase(url, "video")) out->video = 1;
    int32_t result = Open(url, defaults, out, 0);
    if (result != SIM_MEDIA_OK) SimMediaFree(out);
    return result;
}

void SimMediaFree(SimMedia* media) {
    free(media->pcm);
    media->pcm = NULL;
    media->totalBytes = 0;
}

uint32_t SimMediaFrameBytes(const SimMedia* media) { return media->channels * (media->bits / 8); }

static void ToneFrame(const SimMedia* media, uint64_t frame, unsigned char* out) {
    double phase = fmod((double)frame * TONE_HZ / media->rate, 1.0);
    double v = 0.25 * sin(2.0 * 3.14159265358979323846 * phase);
    uint32_t bytes = media->bits / 8;
    for (uint32_t c = 0; c < media->channels; ++c, out += bytes) {
        if (bytes == 1) {
            out[0] = (unsigned char)(128 + (int)(v * 127));
        } else {
            int32_t s = (int32_t)(v * 2147483647.0);
            for (uint32_t b = 0; b < bytes; ++b) out[b] = (unsigned char)((uint32_t)s >> (8 * (4 - bytes + b)));
        }
    }
}

void SimMediaRead(const SimMedia* media, uint64_t offset, unsigned char* out, uint32_t count) {
    if (media->pcm) {
        memcpy(out, media->pcm + offset, count);
        return;
    }
    uint32_t frameBytes = SimMediaFrameBytes(media);
    unsigned char frame[32];
    uint64_t index = offset / frameBytes;
    uint32_t skip = (uint32_t)(offset % frameBytes);
    while (count) {
        ToneFrame(media, index++, frame);
        uint32_t n = frameBytes - skip;
        if (n > count) n = count;
        memcpy(out, frame + skip, n);
        out += n, count -= n, skip = 0;
    }
}

uint64_t SimMediaOffsetOf(const SimMedia* media, uint32_t timeMs) {
    uint64_t offset = (uint64_t)timeMs * media->rate / 1000 * SimMediaFrameBytes(media);
    return offset < media->totalBytes ? offset : media->totalBytes;
}

uint32_t SimMediaTimeOf(const SimMedia* media, uint64_t offset) {
    return (uint32_t)(offset / SimMediaFrameBytes(media) * 1000 / media->rate);
}
