// bitmap.h - decodes an uncompressed 24-bit BMP file held in memory into
// red-green-blue-alpha pixels, without OpenGL.
//
// Supported: the "BM" signature with an information header of 40 bytes or more
// (the later, longer versions too), 24 bits per pixel, no compression, any
// width (rows padded to 4 bytes), bottom-up or top-down rows, pixel data at the
// file header's offset. Width and height 1 to 16384. The output rows run
// bottom-up (the picture's bottom row first, as OpenGL takes a texture), every
// pixel opaque. Anything else is rejected with one line on standard error.
//
// Usage:
//     BitmapImage image;
//     if (decodeBitmap(bytes.data(), bytes.size(), "ship.bmp", &image)) use(image.rgba.data());
#ifndef ASSETS_BITMAP_H
#define ASSETS_BITMAP_H

#include <cstddef>
#include <vector>

constexpr int kMaxBitmapSide = 16384;  // pixels, either side

struct BitmapImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;  // width x height x 4 bytes, bottom row first
};

// 1 and image filled on success; 0, one line on standard error naming fileName
// and image untouched on failure.
int decodeBitmap(const unsigned char* file, std::size_t size, const char* fileName,
                 BitmapImage* image);

#endif
