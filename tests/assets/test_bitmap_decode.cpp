// BMP decoding into red-green-blue-alpha rows, bottom row first, and the
// rejection of every file the decoder cannot read.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "bitmap.h"
#include "bmp_files.h"

using namespace bmp_files;

namespace {

Bytes row(std::initializer_list<Bytes> pixels) {
    Bytes out;
    for (const Bytes& p : pixels) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The pixel at (x, y), y counted from the bottom row, as r, g, b, a.
std::vector<int> pixelAt(const BitmapImage& image, int x, int y) {
    const unsigned char* p = &image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

BitmapImage decodeOrFail(const Bytes& file) {
    BitmapImage image;
    EXPECT_EQ(decodeBitmap(file.data(), file.size(), "test.bmp", &image), 1);
    return image;
}

// Result 0, the image untouched, one line naming the file and the problem.
void expectRejected(const Bytes& file, const std::string& problem) {
    SCOPED_TRACE(problem);
    BitmapImage image;
    image.width = 7;
    testing::internal::CaptureStderr();
    const int result = decodeBitmap(file.data(), file.size(), "bad.bmp", &image);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(image.width, 7);
    EXPECT_TRUE(image.rgba.empty());
    EXPECT_EQ(err.rfind("texture: bad.bmp: ", 0), 0u) << err;
    EXPECT_NE(err.find(problem), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

Bytes withU32(Bytes file, std::size_t at, std::uint32_t value) {
    putU32(file, at, value);
    return file;
}

}  // namespace

TEST(BitmapDecode, FourPixelExampleBecomesOpaqueRgba) {
    const BitmapImage image = decodeOrFail(blueGreenRedWhite());
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 1);
    EXPECT_EQ(image.rgba, (std::vector<unsigned char>{0, 0, 255, 255, 0, 255, 0, 255,
                                                      255, 0, 0, 255, 255, 255, 255, 255}));
}

TEST(BitmapDecode, RowPaddingIsSkippedForAnyWidth) {
    for (int width : {1, 2, 3, 5, 6}) {
        SCOPED_TRACE(width);
        Bytes bottom, top;
        for (int x = 0; x < width; ++x) {
            bottom.insert(bottom.end(), {static_cast<unsigned char>(x), 10, 20});
            top.insert(top.end(), {static_cast<unsigned char>(100 + x), 110, 120});
        }
        const BitmapImage image = decodeOrFail(makeBmp(width, 2, {bottom, top}));
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(pixelAt(image, x, 0), (std::vector<int>{20, 10, x, 255}));
            EXPECT_EQ(pixelAt(image, x, 1), (std::vector<int>{120, 110, 100 + x, 255}));
        }
    }
}

TEST(BitmapDecode, LastRowMayLackItsPadding) {
    Bytes file = makeBmp(1, 2, {kRed, kGreen});
    file.resize(file.size() - 1);
    EXPECT_EQ(pixelAt(decodeOrFail(file), 0, 1), (std::vector<int>{0, 255, 0, 255}));
}

TEST(BitmapDecode, PixelDataOffsetAndLongerHeadersAreHonoured) {
    Options options;
    options.infoHeaderBytes = 124;
    options.gapBeforePixels = 10;
    const BitmapImage image = decodeOrFail(makeBmp(2, 1, {row({kRed, kBlue})}, options));
    EXPECT_EQ(pixelAt(image, 0, 0), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(image, 1, 0), (std::vector<int>{0, 0, 255, 255}));
}

TEST(BitmapDecode, NegativeHeightIsFlippedToBottomUp) {
    const BitmapImage image = decodeOrFail(makeBmp(2, -3, {row({kRed, kRed}), row({kGreen, kGreen}), row({kBlue, kWhite})}));
    ASSERT_EQ(image.height, 3);
    EXPECT_EQ(pixelAt(image, 0, 0), (std::vector<int>{0, 0, 255, 255}));    // last stored row at the bottom
    EXPECT_EQ(pixelAt(image, 1, 0), (std::vector<int>{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(image, 0, 2), (std::vector<int>{255, 0, 0, 255}));
}

TEST(BitmapDecode, LargestSideIsAccepted) {
    const BitmapImage image = decodeOrFail(makeBmp(kMaxBitmapSide, 1, {Bytes(kMaxBitmapSide * 3, 9)}));
    EXPECT_EQ(image.rgba.size(), static_cast<std::size_t>(kMaxBitmapSide) * 4);
}

TEST(BitmapRejects, WrongSignatureOrShortHeaders) {
    Bytes file = blueGreenRedWhite();
    file[1] = 'A';
    expectRejected(file, "not a BMP");
    expectRejected({}, "not a BMP");
    const Bytes good = blueGreenRedWhite();
    for (std::size_t size = 2; size < 54; ++size) expectRejected(Bytes(good.begin(), good.begin() + size), "truncated BMP header");
    expectRejected(withU32(good, 14, 12), "information header of 12 bytes");
    expectRejected(withU32(good, 14, 0xFFFFFFF0u), "truncated BMP header");
}

TEST(BitmapRejects, OtherPixelFormats) {
    for (std::uint16_t bits : {1, 8, 16, 32}) {
        Options options;
        options.bitsPerPixel = bits;
        expectRejected(makeBmp(4, 1, {Bytes(16, 0)}, options), "not a 24-bit BMP");
    }
    for (std::uint32_t method : {1u, 2u, 3u, 4u}) {
        Options options;
        options.compression = method;
        expectRejected(makeBmp(4, 1, {Bytes(12, 0)}, options), "compressed");
    }
}

TEST(BitmapRejects, SidesOutOfRange) {
    const Bytes good = blueGreenRedWhite();
    expectRejected(withU32(good, 18, 0), "width 0");
    expectRejected(withU32(good, 18, static_cast<std::uint32_t>(-4)), "width -4");
    expectRejected(withU32(good, 18, kMaxBitmapSide + 1), "width 16385");
    expectRejected(withU32(good, 22, 0), "height 0");
    expectRejected(withU32(good, 22, kMaxBitmapSide + 1), "height 16385");
    expectRejected(withU32(good, 22, static_cast<std::uint32_t>(-kMaxBitmapSide - 1)), "height -16385");
    expectRejected(withU32(good, 22, static_cast<std::uint32_t>(INT_MIN)), "height -2147483648");
}

TEST(BitmapRejects, PixelsOutsideTheFile) {
    const Bytes good = makeBmp(3, 2, {Bytes(9, 1), Bytes(9, 2)});
    expectRejected(Bytes(good.begin(), good.end() - 4), "too short");     // a pixel of the last row missing
    expectRejected(withU32(good, 22, 3), "too short");                     // a row more than stored
    expectRejected(withU32(good, 10, 60), "too short");                    // offset leaves too few bytes
    expectRejected(withU32(good, 10, 0xFFFFFFFFu), "too short");
    expectRejected(withU32(good, 10, 20), "offset 20 inside the headers");
}
