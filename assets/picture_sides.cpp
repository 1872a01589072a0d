// picture_sides.cpp - the sides a picture's header announces, read without
// decoding it, so that the model loader can refuse a huge picture before a
// decoder allocates for it. PNG (IHDR), BMP (its info header) and JPEG (the
// first start-of-frame segment) are read here, because stb_image's own
// header readers refuse to report sides whose texels would pass about 2^30
// bytes; every other format stb_image knows (TGA, PSD, GIF, HDR, PNM, PIC)
// through stbi_info_from_memory.
//
// Usage (inside the loader):
//     long long width, height;
//     if (measureModelPicture(bytes, size, &width, &height) && width * height > limit) refuse();
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#define STBI_NO_STDIO  // as compiled in stb_image.cpp
#include <stb_image.h>

#include "model_parts.h"

namespace {

constexpr std::size_t kPngSidesEnd = 24;  // signature 8, IHDR length and type 8, width 4, height 4
constexpr std::size_t kBmpSidesEnd = 26;  // file header 14, info header size 4, width 4, height 4
constexpr std::size_t kOs2HeaderBytes = 12;  // the oldest BMP info header: 16-bit sides

unsigned readBigEndian(const unsigned char* at, int bytes) {
    unsigned value = 0;
    for (int k = 0; k < bytes; ++k) value = value << 8 | at[k];
    return value;
}

unsigned readLittleEndian(const unsigned char* at, int bytes) {
    unsigned value = 0;
    for (int k = bytes - 1; k >= 0; --k) value = value << 8 | at[k];
    return value;
}

bool startsWith(const unsigned char* bytes, std::size_t size, const char* signature, std::size_t length) {
    return size >= length && std::memcmp(bytes, signature, length) == 0;
}

bool measurePng(const unsigned char* bytes, std::size_t size, long long* width, long long* height) {
    if (size < kPngSidesEnd || std::memcmp(bytes + 12, "IHDR", 4) != 0) return false;
    *width = readBigEndian(bytes + 16, 4);
    *height = readBigEndian(bytes + 20, 4);
    return true;
}

bool measureBmp(const unsigned char* bytes, std::size_t size, long long* width, long long* height) {
    if (size < kBmpSidesEnd) return false;
    if (readLittleEndian(bytes + 14, 4) == kOs2HeaderBytes) {
        *width = readLittleEndian(bytes + 18, 2);
        *height = readLittleEndian(bytes + 20, 2);
    } else {  // signed; a negative height stores the rows top first
        *width = std::llabs(static_cast<std::int32_t>(readLittleEndian(bytes + 18, 4)));
        *height = std::llabs(static_cast<std::int32_t>(readLittleEndian(bytes + 22, 4)));
    }
    return true;
}

// Segments after the start-of-image marker: 0xFF, a marker, then (but for
// the standalone markers) a 16-bit big-endian length that counts itself.
// A start of frame (0xC0 to 0xCF, but for 0xC4, 0xC8, 0xCC) holds the
// precision, then the height and width.
bool measureJpeg(const unsigned char* bytes, std::size_t size, long long* width, long long* height) {
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (bytes[at] != 0xff) return false;
        const unsigned char marker = bytes[at + 1];
        if (marker == 0xff) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            at += 2;
            continue;
        }
        const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame) {
            if (at + 9 > size) return false;
            *height = readBigEndian(bytes + at + 5, 2);
            *width = readBigEndian(bytes + at + 7, 2);
            return true;
        }
        at += 2 + readBigEndian(bytes + at + 2, 2);
    }
    return false;
}

}  // namespace

bool measureModelPicture(const unsigned char* bytes, std::size_t size, long long* width, long long* height) {
    if (startsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8)) return measurePng(bytes, size, width, height);
    if (startsWith(bytes, size, "BM", 2)) return measureBmp(bytes, size, width, height);
    if (startsWith(bytes, size, "\xff\xd8", 2)) return measureJpeg(bytes, size, width, height);
    if (size > static_cast<std::size_t>(INT_MAX)) return false;
    int stbWidth = 0, stbHeight = 0, channels = 0;
    if (stbi_info_from_memory(bytes, static_cast<int>(size), &stbWidth, &stbHeight, &channels) != 1) return false;
    *width = stbWidth;
    *height = stbHeight;
    return true;
}
