// Byte-by-byte writers of the test pictures (see picture_files.h).
#include "picture_files.h"

#include <cmath>
#include <string>

namespace picture_files {

namespace {

void put16le(Bytes* out, unsigned v) {
    out->push_back(static_cast<unsigned char>(v));
    out->push_back(static_cast<unsigned char>(v >> 8));
}
void put16be(Bytes* out, unsigned v) {
    out->push_back(static_cast<unsigned char>(v >> 8));
    out->push_back(static_cast<unsigned char>(v));
}
void put32be(Bytes* out, std::uint32_t v) {
    put16be(out, v >> 16);
    put16be(out, v & 0xffff);
}
void putText(Bytes* out, const std::string& text) { out->insert(out->end(), text.begin(), text.end()); }

// Packs codes of `bits` bits, least significant first, as GIF's LZW does.
struct BitPacker {
    Bytes bytes;
    unsigned pending = 0, count = 0;
    void put(unsigned code, unsigned bits) {
        pending |= code << count;
        for (count += bits; count >= 8; count -= 8, pending >>= 8) bytes.push_back(pending & 0xff);
    }
    void flush() {
        if (count > 0) bytes.push_back(pending & 0xff);
        count = pending = 0;
    }
};

}  // namespace

Bytes tgaHeader(std::uint16_t width, std::uint16_t height) {
    Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put16le(&out, width);
    put16le(&out, height);
    out.insert(out.end(), {24, 0});
    return out;
}

Bytes makeTga(const cv::Mat& bgr, bool runLength, bool topFirst) {
    Bytes out = tgaHeader(bgr.cols, bgr.rows);
    if (runLength) out[2] = 10;
    if (topFirst) out[17] = 0x20;
    for (int k = 0; k < bgr.rows; ++k) {
        const int row = topFirst ? k : bgr.rows - 1 - k;
        for (int x = 0; x < bgr.cols;) {
            if (runLength) {  // runs of one colour, at most 128 texels each
                int run = 1;
                while (run < 128 && x + run < bgr.cols && bgr.at<cv::Vec3b>(row, x + run) == bgr.at<cv::Vec3b>(row, x)) ++run;
                out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
                const cv::Vec3b c = bgr.at<cv::Vec3b>(row, x);
                out.insert(out.end(), {c[0], c[1], c[2]});
                x += run;
            } else {
                const cv::Vec3b c = bgr.at<cv::Vec3b>(row, x++);
                out.insert(out.end(), {c[0], c[1], c[2]});
            }
        }
    }
    return out;
}

Bytes psdHeader(std::uint32_t width, std::uint32_t height) {
    Bytes out;
    putText(&out, "8BPS");
    put16be(&out, 1);                     // version
    out.insert(out.end(), 6, 0);          // reserved
    put16be(&out, 3);                     // channels
    put32be(&out, height);
    put32be(&out, width);
    put16be(&out, 8);                     // bits per channel
    put16be(&out, 3);                     // RGB
    for (int section = 0; section < 3; ++section) put32be(&out, 0);  // colour mode, resources, layers
    put16be(&out, 0);                     // raw planes
    return out;
}

Bytes makePsd(const cv::Mat& bgr) {
    Bytes out = psdHeader(bgr.cols, bgr.rows);
    for (int channel : {2, 1, 0})  // red, green, blue planes, rows top first
        for (int y = 0; y < bgr.rows; ++y)
            for (int x = 0; x < bgr.cols; ++x) out.push_back(bgr.at<cv::Vec3b>(y, x)[channel]);
    return out;
}

Bytes makeGif(const cv::Mat& bgr) {
    std::vector<cv::Vec3b> palette;
    std::vector<unsigned> indices;
    for (int y = 0; y < bgr.rows; ++y)
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b c = bgr.at<cv::Vec3b>(y, x);
            unsigned i = 0;
            while (i < palette.size() && palette[i] != c) ++i;
            if (i == palette.size()) palette.push_back(c);
            if (palette.size() > 4) return {};
            indices.push_back(i);
        }
    palette.resize(4);
    Bytes out;
    putText(&out, "GIF89a");
    put16le(&out, bgr.cols);
    put16le(&out, bgr.rows);
    out.insert(out.end(), {0x81, 0, 0});  // a global palette of 4 colours
    for (const cv::Vec3b& c : palette) out.insert(out.end(), {c[2], c[1], c[0]});
    out.push_back(',');
    put16le(&out, 0);
    put16le(&out, 0);
    put16le(&out, bgr.cols);
    put16le(&out, bgr.rows);
    out.push_back(0);
    out.push_back(2);  // minimum code size: clear 4, end 5, codes of 3 bits
    BitPacker codes;
    for (std::size_t k = 0; k < indices.size(); ++k) {
        if (k % 2 == 0) codes.put(4, 3);
        codes.put(indices[k], 3);
    }
    codes.put(5, 3);
    codes.flush();
    for (std::size_t at = 0; at < codes.bytes.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, codes.bytes.size() - at);
        out.push_back(static_cast<unsigned char>(n));
        out.insert(out.end(), codes.bytes.begin() + at, codes.bytes.begin() + at + n);
    }
    out.insert(out.end(), {0, ';'});
    return out;
}

Bytes makePpm(const cv::Mat& bgr) {
    Bytes out;
    putText(&out, "P6\n" + std::to_string(bgr.cols) + " " + std::to_string(bgr.rows) + "\n255\n");
    for (int y = 0; y < bgr.rows; ++y)
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3b c = bgr.at<cv::Vec3b>(y, x);
            out.insert(out.end(), {c[2], c[1], c[0]});
        }
    return out;
}

Bytes makePgm(const cv::Mat& grey) {
    Bytes out;
    putText(&out, "P5\n# grey levels\n" + std::to_string(grey.cols) + " " + std::to_string(grey.rows) + "\n255\n");
    for (int y = 0; y < grey.rows; ++y) out.insert(out.end(), grey.ptr<unsigned char>(y), grey.ptr<unsigned char>(y) + grey.cols);
    return out;
}

Bytes makeHdrRow(const std::vector<float>& levels) {
    Bytes out;
    putText(&out, "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X " + std::to_string(levels.size()) + "\n");
    for (float level : levels) {
        // RGBE: level = mantissa * 2^(exponent - 136), mantissa in [128, 256).
        int exponent = 0;
        const float fraction = std::frexp(level, &exponent);
        const unsigned char mantissa = level > 0 ? static_cast<unsigned char>(fraction * 256.0f) : 0;
        const unsigned char stored = level > 0 ? static_cast<unsigned char>(exponent + 128) : 0;
        out.insert(out.end(), {mantissa, mantissa, mantissa, stored});
    }
    return out;
}

}  // namespace picture_files
