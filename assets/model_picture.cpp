// model_picture.cpp - decodes one picture of a model, held in memory, into
// the loader's texture record: 8-bit RGBA, bottom row first, no side over
// kMaxModelTextureSide. PNG, JPEG and BMP go to OpenCV (libpng and
// libjpeg-turbo, and the compressed BMPs stb_image does not read); TGA,
// PSD (its composite), GIF (its first frame), Radiance HDR (stb_image's own
// conversion to 8 bits: gamma 2.2, clamped), binary PNM and Softimage PIC to
// stb_image; anything else to OpenCV (TIFF, WebP, ASCII PNM...).
//
// A picture whose header announces more than kMaxModelTexturePixels texels
// is refused before any decoder allocates for it (picture_sides.cpp reads
// the sides); OpenCV's other formats are bounded only by OpenCV's limits. A picture stb_image finds cut short
// is refused (stb_image itself would fill the rest with zeros).
//
// Usage (inside the loader):
//     std::string problem;
//     if (!decodeModelPicture(bytes, length, "duck.tga", &texture, &problem)) warn(problem);
#include <algorithm>
#include <cstring>
#include <memory>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#define STBI_NO_STDIO  // as compiled in stb_image.cpp
#include <stb_image.h>

#include "model_parts.h"

namespace {

constexpr double kSixteenToEightBit = 255.0 / 65535.0;
constexpr double kUnitToEightBit = 255.0;

// The decoders complain on standard error about files they reject; the loader
// prints its own one line instead.
struct QuietOpenCV {
    cv::utils::logging::LogLevel previous =
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    ~QuietOpenCV() { cv::utils::logging::setLogLevel(previous); }
};

bool startsWith(const unsigned char* bytes, std::size_t size, const char* signature, std::size_t length) {
    return size >= length && std::memcmp(bytes, signature, length) == 0;
}

// The formats OpenCV's libraries decode exactly as before stb_image came in.
bool isPngJpegOrBmp(const unsigned char* bytes, std::size_t size) {
    return startsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8) || startsWith(bytes, size, "\xff\xd8\xff", 3) ||
           startsWith(bytes, size, "BM", 2);
}

cv::Mat toEightBit(const cv::Mat& image) {
    if (image.depth() == CV_8U) return image;
    double scale = 1.0;
    if (image.depth() == CV_16U) scale = kSixteenToEightBit;
    if (image.depth() == CV_32F || image.depth() == CV_64F) scale = kUnitToEightBit;
    cv::Mat converted;
    image.convertTo(converted, CV_8U, scale);
    return converted;
}

// OpenCV's grey, BGR or BGRA as RGBA; empty for other channel counts.
cv::Mat toRgba(const cv::Mat& image) {
    cv::Mat rgba;
    switch (image.channels()) {
        case 1: cv::cvtColor(image, rgba, cv::COLOR_GRAY2RGBA); break;
        case 3: cv::cvtColor(image, rgba, cv::COLOR_BGR2RGBA); break;
        case 4: cv::cvtColor(image, rgba, cv::COLOR_BGRA2RGBA); break;
        default: break;
    }
    return rgba;
}

cv::Mat decodeWithOpenCv(const unsigned char* bytes, std::size_t size) {
    QuietOpenCV quiet;
    const cv::Mat image = cv::imdecode(cv::_InputArray(bytes, static_cast<int>(size)), cv::IMREAD_UNCHANGED);
    return image.empty() ? image : toRgba(toEightBit(image));
}

// stb_image reads past the end of a cut file as zeros, or leaves the rows it
// could not read unwritten; reading through callbacks shows when it asked
// for bytes the file does not have.
struct StbReader {
    const unsigned char* bytes;
    std::size_t size;
    std::size_t at = 0;
    const char* ownBuffer = nullptr;  // stb_image's read-ahead buffer, filled by its first read
    bool pastEnd = false;
};

int readForStb(void* user, char* data, int wanted) {
    StbReader* reader = static_cast<StbReader*>(user);
    if (reader->ownBuffer == nullptr) reader->ownBuffer = data;
    const std::size_t left = reader->size - reader->at;
    const std::size_t given = std::min(left, static_cast<std::size_t>(std::max(wanted, 0)));
    // Filling the read-ahead buffer comes back short at the end of a whole
    // file; a read into the picture itself must be served in full.
    if (data == reader->ownBuffer ? left == 0 : given < static_cast<std::size_t>(wanted)) reader->pastEnd = true;
    std::memcpy(data, reader->bytes + reader->at, given);
    reader->at += given;
    return static_cast<int>(given);
}

void skipForStb(void* user, int count) {
    StbReader* reader = static_cast<StbReader*>(user);
    if (count < 0) count = 0;
    if (static_cast<std::size_t>(count) > reader->size - reader->at) reader->pastEnd = true;
    reader->at = std::min(reader->size, reader->at + static_cast<std::size_t>(count));
}

int atEndForStb(void* user) {
    const StbReader* reader = static_cast<const StbReader*>(user);
    return reader->at >= reader->size;
}

// Empty for a picture stb_image refuses; *cutShort when it ran past the end.
cv::Mat decodeWithStb(const unsigned char* bytes, std::size_t size, bool* cutShort) {
    const stbi_io_callbacks callbacks = {readForStb, skipForStb, atEndForStb};
    StbReader reader{bytes, size};
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<unsigned char, void (*)(void*)> texels(
        stbi_load_from_callbacks(&callbacks, &reader, &width, &height, &channels, 4), stbi_image_free);
    *cutShort = reader.pastEnd;
    if (texels == nullptr || reader.pastEnd) return {};
    return cv::Mat(height, width, CV_8UC4, texels.get()).clone();
}

cv::Mat limitSize(const cv::Mat& image) {
    const int side = std::max(image.cols, image.rows);
    if (side <= kMaxModelTextureSide) return image;
    const double scale = static_cast<double>(kMaxModelTextureSide) / side;
    cv::Mat smaller;
    cv::resize(image, smaller, cv::Size(), scale, scale, cv::INTER_AREA);
    return smaller;
}

// Row 0 of a decoded picture is its top; OpenGL takes the bottom row first,
// so that texture coordinate v = 0 (Assimp's convention) meets the bottom.
bool makeTexture(const cv::Mat& rgba, const std::string& source, ModelTexture* texture) {
    if (rgba.empty()) return false;
    cv::Mat bottomUp;
    cv::flip(limitSize(rgba), bottomUp, 0);
    texture->width = bottomUp.cols;
    texture->height = bottomUp.rows;
    texture->rgba.assign(bottomUp.data, bottomUp.data + bottomUp.total() * bottomUp.elemSize());
    texture->source = source;
    return true;
}

bool tooManyTexels(long long width, long long height, std::string* problem) {
    if (width * height <= kMaxModelTexturePixels) return false;
    *problem = std::to_string(width) + " x " + std::to_string(height) + " texels, more than " +
               std::to_string(kMaxModelTexturePixels) + " allowed";
    return true;
}

}  // namespace

bool decodeModelPicture(const unsigned char* bytes, std::size_t size, const std::string& source,
                        ModelTexture* texture, std::string* problem) {
    if (size == 0 || size > static_cast<std::size_t>(kMaxModelTextureFileBytes)) {
        *problem = size == 0 ? "empty picture" : "larger than " + std::to_string(kMaxModelTextureFileBytes >> 20) + " MB";
        return false;
    }
    long long width = 0, height = 0;
    const bool measured = measureModelPicture(bytes, size, &width, &height);
    if (measured && tooManyTexels(width, height, problem)) return false;
    cv::Mat rgba;
    bool cutShort = false;
    if (measured && !isPngJpegOrBmp(bytes, size)) rgba = decodeWithStb(bytes, size, &cutShort);
    if (rgba.empty() && !cutShort) rgba = decodeWithOpenCv(bytes, size);
    if (makeTexture(rgba, source, texture)) return true;
    *problem = cutShort ? "cut short" : "cannot be decoded";
    return false;
}

bool makeModelTextureFromBgra(const unsigned char* bgra, unsigned width, unsigned height, const std::string& source,
                              ModelTexture* texture, std::string* problem) {
    if (width == 0 || height == 0) {
        *problem = "empty picture";
        return false;
    }
    if (tooManyTexels(width, height, problem)) return false;
    const cv::Mat texels(static_cast<int>(height), static_cast<int>(width), CV_8UC4, const_cast<unsigned char*>(bgra));
    cv::Mat rgba;
    cv::cvtColor(texels, rgba, cv::COLOR_BGRA2RGBA);
    return makeTexture(rgba, source, texture);
}
