// bmp_files.h - builds BMP files in memory for the texture tests: 24-bit by
// default, with every header field that the decoder checks open to change.
#ifndef TESTS_ASSETS_BMP_FILES_H
#define TESTS_ASSETS_BMP_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace bmp_files {

using Bytes = std::vector<unsigned char>;

struct Options {
    std::uint16_t bitsPerPixel = 24;
    std::uint32_t compression = 0;
    std::uint32_t infoHeaderBytes = 40;
    std::size_t gapBeforePixels = 0;  // bytes of 0x77 between the headers and the pixels
    unsigned char padding = 0xEE;     // value of the bytes that pad each row to 4
};

// rows: the pixel rows in file order, 3 bytes (blue, green, red) per pixel;
// height as stored (negative: rows stored top-down).
Bytes makeBmp(int width, int height, const std::vector<Bytes>& rows, const Options& options = {});

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value);

const Bytes kBlue = {255, 0, 0}, kGreen = {0, 255, 0}, kRed = {0, 0, 255}, kWhite = {255, 255, 255};

// The four-pixel example: blue, green, red and white in file order.
Bytes blueGreenRedWhite();

bool writeFile(const std::string& path, const Bytes& bytes);

}  // namespace bmp_files

#endif
