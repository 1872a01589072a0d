// picture_files.h - small picture files written byte by byte for the model
// texture tests, in the formats stb_image reads and OpenCV does not: TGA,
// PSD, GIF, binary PPM and PGM, and Radiance HDR. Each takes a BGR picture
// (OpenCV's order, row 0 at the top), so that a test can check that the
// loader keeps the picture upright and its colours in place.
#ifndef TESTS_ASSETS_PICTURE_FILES_H
#define TESTS_ASSETS_PICTURE_FILES_H

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace picture_files {

using Bytes = std::vector<unsigned char>;

// 24-bit TGA, uncompressed or run-length encoded (one run per row), rows
// stored bottom first (the format's default) or top first.
Bytes makeTga(const cv::Mat& bgr, bool runLength, bool topFirst);
// Only the 18-byte header of an uncompressed 24-bit TGA of these sides.
Bytes tgaHeader(std::uint16_t width, std::uint16_t height);

// 8-bit RGB PSD, raw planes; psdHeader: its header alone, of these sides.
Bytes makePsd(const cv::Mat& bgr);
Bytes psdHeader(std::uint32_t width, std::uint32_t height);

// GIF of at most four distinct colours (its palette), LZW codes of 3 bits
// with a clear code after every two texels so that the width never grows;
// empty for a picture of more colours.
Bytes makeGif(const cv::Mat& bgr);

Bytes makePpm(const cv::Mat& bgr);
Bytes makePgm(const cv::Mat& grey);

// Radiance RGBE, flat scanlines, of one row of grey levels.
Bytes makeHdrRow(const std::vector<float>& levels);

}  // namespace picture_files

#endif
