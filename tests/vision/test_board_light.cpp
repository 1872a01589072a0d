// The light on the board: drawn boards of known linear white and black under
// a tinted light measured within 2 %, the measurements a board cannot give
// refused, and the gain's smoothing on the video's time.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "board_light.h"
#include "srgb.h"

namespace {

const cv::Size kPattern(8, 6);

unsigned char levelOfLinear(double linear) { return cv::saturate_cast<unsigned char>(255.0 * srgbFromLinear(linear) + 0.5); }

cv::Scalar bgrOf(const double rgb[3]) {
    return cv::Scalar(levelOfLinear(rgb[2]), levelOfLinear(rgb[1]), levelOfLinear(rgb[0]));
}

// A board seen at a slant: inner corner (j, i) at a projective map of the
// grid, squares of about `side` px, the square left of and above corner 0
// black when blackFirst. White and black are linear red, green, blue;
// sensor noise of sigma grey levels on top.
cv::Mat drawBoard(const double white[3], const double black[3], double side, bool blackFirst, double sigma,
                  std::vector<cv::Point2f>* corners) {
    cv::Mat picture(480, 640, CV_8UC3, cv::Scalar(90, 110, 130));
    auto at = [side](double x, double y) {  // grid units, -1 .. columns
        double w = 1.0 + 0.02 * x + 0.015 * y;
        return cv::Point2f(static_cast<float>((120 + side * x + 0.15 * side * y) / w),
                           static_cast<float>((90 + side * y - 0.1 * side * x) / w));
    };
    for (int i = -1; i < kPattern.height; ++i)
        for (int j = -1; j < kPattern.width; ++j) {
            const cv::Point quad[4] = {at(j, i), at(j + 1, i), at(j + 1, i + 1), at(j, i + 1)};
            bool isBlack = ((i + j) % 2 == 0) == blackFirst;
            cv::fillConvexPoly(picture, quad, 4, bgrOf(isBlack ? black : white), cv::LINE_AA);
        }
    corners->clear();
    for (int i = 0; i < kPattern.height; ++i)
        for (int j = 0; j < kPattern.width; ++j) corners->push_back(at(j, i));
    if (sigma > 0) {
        cv::Mat noise(picture.size(), CV_32FC3), wide;
        cv::RNG rng(7);
        rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
        picture.convertTo(wide, CV_32FC3);
        wide += noise;
        wide.convertTo(picture, CV_8UC3);
    }
    return picture;
}

BoardSquares measured(const double white[3], const double black[3], double side = 40, bool blackFirst = true,
                      double sigma = 2.0) {
    std::vector<cv::Point2f> corners;
    cv::Mat picture = drawBoard(white, black, side, blackFirst, sigma, &corners);
    BoardSquares s;
    measureBoardSquares(picture, corners.data(), kPattern, &s);
    return s;
}

BoardSquares squaresOf(double r, double g, double b) {
    BoardSquares s{};
    s.valid = true;
    s.white[0] = static_cast<float>(r), s.white[1] = static_cast<float>(g), s.white[2] = static_cast<float>(b);
    s.whitePixels = s.blackPixels = 1000;
    return s;
}

}  // namespace

TEST(BoardLightMeasurement, WhiteAndBlackSquaresInLinearLightWhicheverParityIsWhite) {
    const double white[3] = {0.62, 0.55, 0.41}, black[3] = {0.020, 0.018, 0.015};
    for (bool blackFirst : {true, false}) {
        BoardSquares s = measured(white, black, 40, blackFirst);
        ASSERT_TRUE(s.valid) << "black first " << blackFirst;
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(s.white[c], white[c], 0.02 * white[c]) << "channel " << c;
            EXPECT_NEAR(s.black[c], black[c], 0.2 * black[c] + 0.002) << "channel " << c;
        }
        EXPECT_GE(s.whitePixels, 64);
    }
}

TEST(BoardLightMeasurement, ATintedLightIsTheGainOnTheFirstFramesWhite) {
    const double white[3] = {0.5, 0.5, 0.5}, black[3] = {0.02, 0.02, 0.02};
    const double tint[3] = {1.25, 1.0, 0.8};
    double warmWhite[3], warmBlack[3];
    for (int c = 0; c < 3; ++c) warmWhite[c] = white[c] * tint[c], warmBlack[c] = black[c] * tint[c];
    BoardLight light;
    initBoardLight(&light);
    followBoardLight(&light, measured(white, black), 0.0);
    for (float g : light.gain) EXPECT_FLOAT_EQ(g, 1.0f);
    // Long after the change (many time constants), the gain is the tint.
    followBoardLight(&light, measured(warmWhite, warmBlack, 30, false), 10000.0);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(light.gain[c], tint[c], 0.02 * tint[c]) << "channel " << c;
}

TEST(BoardLightMeasurement, RefusesWhatNoPrintedBoardUnderOneLightShows) {
    const double white[3] = {0.6, 0.6, 0.6}, black[3] = {0.02, 0.02, 0.02};
    const double grey[3] = {0.3, 0.3, 0.3}, darkGrey[3] = {0.2, 0.2, 0.2};
    const double blinding[3] = {1.0, 1.0, 1.0}, dark[3] = {0.004, 0.004, 0.004}, darker[3] = {0.0002, 0.0002, 0.0002};
    EXPECT_FALSE(measured(grey, darkGrey).valid) << "contrast too low";
    EXPECT_FALSE(measured(blinding, black, 40, true, 1.0).valid) << "white squares clipped";
    EXPECT_FALSE(measured(dark, darker, 40, true, 0).valid) << "too dark";
    EXPECT_FALSE(measured(white, black, 3).valid) << "squares too small for enough samples";
    EXPECT_TRUE(measured(white, black).valid);

    std::vector<cv::Point2f> corners;
    cv::Mat picture = drawBoard(white, black, 40, true, 0, &corners);
    BoardSquares s;
    EXPECT_FALSE(measureBoardSquares(cv::Mat(), corners.data(), kPattern, &s));
    EXPECT_FALSE(measureBoardSquares(picture, corners.data(), cv::Size(20, 20), &s)) << "more corners than held";
    corners[5].x = NAN;
    EXPECT_FALSE(measureBoardSquares(picture, corners.data(), kPattern, &s));
    // A board outside the picture has no samples.
    for (cv::Point2f& p : corners) p += cv::Point2f(2000, 0);
    EXPECT_FALSE(measureBoardSquares(picture, corners.data(), kPattern, &s));
}

TEST(BoardLightSmoothing, ReachesSixtyThreePercentOfAStepInItsTimeConstantAtAnyFrameRate) {
    for (double fps : {10.0, 20.0, 30.0, 60.0, 120.0}) {  // whole frames in 0.3 s
        BoardLight light;
        initBoardLight(&light);
        followBoardLight(&light, squaresOf(0.4, 0.4, 0.4), 0.0);
        const int frames = static_cast<int>(std::lround(0.3 * fps));
        for (int k = 1; k <= frames; ++k) followBoardLight(&light, squaresOf(0.8, 0.4, 0.2), 1000.0 * k / fps);
        const double reached = 1 - std::exp(-1.0);
        EXPECT_NEAR(light.gain[0], 1 + reached, 0.01) << fps << " fps";
        EXPECT_NEAR(light.gain[1], 1, 1e-6) << fps << " fps";
        EXPECT_NEAR(light.gain[2], 1 - 0.5 * reached, 0.01) << fps << " fps";
    }
}

TEST(BoardLightSmoothing, RefusedMeasurementsKeepTheGainAndItStaysWithinItsClamp) {
    BoardLight light;
    initBoardLight(&light);
    BoardSquares refused = squaresOf(0.9, 0.9, 0.9);
    refused.valid = false;
    followBoardLight(&light, refused, 0.0);
    EXPECT_FALSE(light.referenced) << "a refused measurement became the reference";
    followBoardLight(&light, squaresOf(0.1, 0.2, 0.0), 0.0);
    for (int k = 1; k < 100; ++k) followBoardLight(&light, squaresOf(0.9, 0.0, 0.5), 100.0 * k);
    EXPECT_NEAR(light.gain[0], kMaxBoardLightGain, 1e-3) << "clamped above";
    EXPECT_NEAR(light.gain[1], 0.0, 1e-3) << "clamped below";
    EXPECT_FLOAT_EQ(light.gain[2], 1.0f) << "a channel dark in the reference changed";
    const float before = light.gain[0];
    followBoardLight(&light, refused, 20000.0);
    followBoardLight(&light, squaresOf(0.1, 0.2, 0.0), NAN);
    EXPECT_FLOAT_EQ(light.gain[0], before);
    EXPECT_TRUE(std::isfinite(light.gain[0]));
}
