// bitmap.cpp - 24-bit BMP decoding (see bitmap.h for the subset and limits).
//
// Usage:
//     BitmapImage image;
//     decodeBitmap(bytes.data(), bytes.size(), path, &image);
#include "bitmap.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Offsets of the fields used, from the start of the file.
constexpr std::size_t kPixelOffsetField = 10;
constexpr std::size_t kInfoHeaderStart = 14;
constexpr std::size_t kWidthField = 18;
constexpr std::size_t kHeightField = 22;
constexpr std::size_t kBitCountField = 28;
constexpr std::size_t kCompressionField = 30;
constexpr std::uint32_t kMinInfoHeaderBytes = 40;

std::uint32_t readU32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t readU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

__attribute__((format(printf, 2, 3))) int reject(const char* fileName, const char* format, ...) {
    std::fprintf(stderr, "texture: %s: ", fileName);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return 0;
}

// Where the pixel rows are and how they are laid out, once the headers passed.
struct PixelLayout {
    int width;
    int height;
    bool topDown;
    std::size_t offset;
    std::size_t rowStride;  // bytes, each row padded to a multiple of 4
};

// Checks the headers; fills layout and returns 1, or reports and returns 0.
int readLayout(const unsigned char* file, std::size_t size, const char* name, PixelLayout* layout) {
    if (size < 2 || file[0] != 'B' || file[1] != 'M') return reject(name, "not a BMP file");
    if (size < kInfoHeaderStart + kMinInfoHeaderBytes) return reject(name, "truncated BMP header");
    const std::uint32_t infoBytes = readU32(file + kInfoHeaderStart);
    if (infoBytes < kMinInfoHeaderBytes)
        return reject(name, "unsupported BMP information header of %u bytes", infoBytes);
    if (kInfoHeaderStart + infoBytes > size) return reject(name, "truncated BMP header");
    if (readU16(file + kBitCountField) != 24) return reject(name, "not a 24-bit BMP");
    const std::uint32_t compression = readU32(file + kCompressionField);
    if (compression != 0) return reject(name, "compressed BMP (method %u)", compression);

    const long long width = static_cast<std::int32_t>(readU32(file + kWidthField));
    const long long signedHeight = static_cast<std::int32_t>(readU32(file + kHeightField));
    const long long height = std::llabs(signedHeight);
    if (width < 1 || width > kMaxBitmapSide) return reject(name, "width %lld out of range", width);
    if (height < 1 || height > kMaxBitmapSide)
        return reject(name, "height %lld out of range", signedHeight);

    const std::uint32_t offset = readU32(file + kPixelOffsetField);
    if (offset < kInfoHeaderStart + infoBytes)
        return reject(name, "pixel data offset %u inside the headers", offset);
    const std::size_t rowStride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    // The last row's padding may be missing; its pixels may not.
    const std::size_t end = offset + rowStride * (height - 1) + width * 3;
    if (end > size) return reject(name, "file too short for its %lld pixel rows", height);

    *layout = PixelLayout{static_cast<int>(width), static_cast<int>(height), signedHeight < 0,
                          offset, rowStride};
    return 1;
}

}  // namespace

int decodeBitmap(const unsigned char* file, std::size_t size, const char* fileName,
                 BitmapImage* image) {
    PixelLayout layout{};
    if (!readLayout(file, size, fileName, &layout)) return 0;
    image->width = layout.width;
    image->height = layout.height;
    image->rgba.assign(static_cast<std::size_t>(layout.width) * layout.height * 4, 0);
    unsigned char* out = image->rgba.data();
    for (int row = 0; row < layout.height; ++row) {
        const int fileRow = layout.topDown ? layout.height - 1 - row : row;
        const unsigned char* in = file + layout.offset + layout.rowStride * fileRow;
        for (int x = 0; x < layout.width; ++x, in += 3, out += 4) {
            out[0] = in[2];  // the file stores blue, green, red
            out[1] = in[1];
            out[2] = in[0];
            out[3] = 255;
        }
    }
    return 1;
}
