// board_light.cpp - the board's squares measured in linear light, and the
// light's gain followed from them.
#include "board_light.h"

#include <algorithm>
#include <cmath>

#include "srgb.h"

namespace {

constexpr double kInnerStart = 0.25, kInnerEnd = 0.75;  // of a square's side: its middle half
constexpr int kMaxSamplesPerSide = 16;
constexpr int kMinPixelsPerClass = 64;
constexpr double kMinContrast = 4.0;         // white over black, linear luminance
constexpr double kMinWhiteLuminance = 0.01;  // linear; about 25 of 255 in sRGB
constexpr int kClippedLevel = 250;           // 8-bit: a channel this high may be clipped
constexpr double kMaxClippedShare = 0.05;    // of the white squares' samples

struct Sums {
    double linear[3] = {0, 0, 0};  // red, green, blue
    int pixels = 0;
    int clipped = 0;
};

cv::Point2f lerp(cv::Point2f a, cv::Point2f b, float t) { return a + (b - a) * t; }

// Samples per side for a square: about one for every two pixels of its
// longer side's middle half, within 1..kMaxSamplesPerSide.
int samplesPerSide(const cv::Point2f q[4]) {
    float longest = 0;
    for (int k = 0; k < 4; ++k) longest = std::max(longest, static_cast<float>(cv::norm(q[k] - q[(k + 1) % 4])));
    return std::clamp(static_cast<int>(longest * (kInnerEnd - kInnerStart) / 2), 1, kMaxSamplesPerSide);
}

// Adds the middle half of the square with corners q (top-left, top-right,
// bottom-right, bottom-left in grid order) to sums.
void sampleSquare(const cv::Mat& frame, const cv::Point2f q[4], const float* decode, Sums* sums) {
    const int n = samplesPerSide(q);
    for (int j = 0; j < n; ++j) {
        float v = static_cast<float>(kInnerStart + (kInnerEnd - kInnerStart) * (j + 0.5) / n);
        cv::Point2f left = lerp(q[0], q[3], v), right = lerp(q[1], q[2], v);
        for (int i = 0; i < n; ++i) {
            float u = static_cast<float>(kInnerStart + (kInnerEnd - kInnerStart) * (i + 0.5) / n);
            cv::Point2f p = lerp(left, right, u);
            int x = static_cast<int>(std::lround(p.x)), y = static_cast<int>(std::lround(p.y));
            if (x < 0 || y < 0 || x >= frame.cols || y >= frame.rows) continue;
            const cv::Vec3b& bgr = frame.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) sums->linear[c] += decode[bgr[2 - c]];
            sums->clipped += std::max({bgr[0], bgr[1], bgr[2]}) >= kClippedLevel ? 1 : 0;
            ++sums->pixels;
        }
    }
}

// Rec. 709 luminance of linear red, green, blue.
double luminance(const double rgb[3]) { return 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2]; }

double meanLuminance(const Sums& t) {
    double mean[3];
    for (int c = 0; c < 3; ++c) mean[c] = t.linear[c] / std::max(t.pixels, 1);
    return luminance(mean);
}

bool fitsFrame(const cv::Mat& frame, const cv::Point2f* corners, cv::Size pattern) {
    if (frame.empty() || frame.type() != CV_8UC3 || corners == nullptr) return false;
    if (pattern.width < 2 || pattern.height < 2 || pattern.area() > kMaxBoardLightCorners) return false;
    for (int k = 0; k < pattern.area(); ++k)
        if (!std::isfinite(corners[k].x) || !std::isfinite(corners[k].y)) return false;
    return true;
}

// Whether the two classes look like a printed board's squares under one light.
bool plausible(const Sums& white, const Sums& black) {
    if (white.pixels < kMinPixelsPerClass || black.pixels < kMinPixelsPerClass) return false;
    double w[3], b[3];
    for (int c = 0; c < 3; ++c) w[c] = white.linear[c] / white.pixels, b[c] = black.linear[c] / black.pixels;
    const double whiteY = luminance(w), blackY = luminance(b);
    if (whiteY < kMinWhiteLuminance || whiteY < kMinContrast * blackY) return false;
    return white.clipped <= kMaxClippedShare * white.pixels;
}

}  // namespace

bool measureBoardSquares(const cv::Mat& frame, const cv::Point2f* corners, cv::Size pattern, BoardSquares* s) {
    *s = BoardSquares{};
    if (!fitsFrame(frame, corners, pattern)) return false;
    const float* decode = linearOfSrgbLevels();
    Sums byParity[2];
    const int columns = pattern.width;
    for (int row = 0; row + 1 < pattern.height; ++row)
        for (int column = 0; column + 1 < columns; ++column) {
            const int k = row * columns + column;
            const cv::Point2f q[4] = {corners[k], corners[k + 1], corners[k + columns + 1], corners[k + columns]};
            sampleSquare(frame, q, decode, &byParity[(row + column) % 2]);
        }
    const int whiteParity = meanLuminance(byParity[0]) >= meanLuminance(byParity[1]) ? 0 : 1;
    const Sums& white = byParity[whiteParity];
    const Sums& black = byParity[1 - whiteParity];
    if (!plausible(white, black)) return false;
    for (int c = 0; c < 3; ++c) {
        s->white[c] = static_cast<float>(white.linear[c] / white.pixels);
        s->black[c] = static_cast<float>(black.linear[c] / black.pixels);
    }
    s->whitePixels = white.pixels, s->blackPixels = black.pixels;
    s->valid = true;
    return true;
}

void initBoardLight(BoardLight* light, double timeConstantMs) {
    *light = BoardLight{};
    for (int c = 0; c < 3; ++c) light->gain[c] = 1.0f, light->reference[c] = 1.0f;
    light->latestMs = NAN;
    light->timeConstantMs = timeConstantMs > 0 ? timeConstantMs : kBoardLightTimeConstantMs;
}

void followBoardLight(BoardLight* light, const BoardSquares& s, double videoMs) {
    if (!s.valid || !std::isfinite(videoMs)) return;
    if (!light->referenced) {
        for (int c = 0; c < 3; ++c) light->reference[c] = s.white[c];
        light->referenced = true;
        light->latestMs = videoMs;
        return;
    }
    const double elapsedMs = videoMs - light->latestMs;
    // Exponential smoothing on the video's time: the weight of the new gain
    // after dt is 1 - exp(-dt / tau), whatever the frame rate.
    const float weight = elapsedMs < 0 ? 1.0f : static_cast<float>(1.0 - std::exp(-elapsedMs / light->timeConstantMs));
    for (int c = 0; c < 3; ++c) {
        // A reference channel at zero (a light without any blue, say) says
        // nothing about that channel's changes: its gain stays at 1.
        float measured = light->reference[c] > 0 ? s.white[c] / light->reference[c] : 1.0f;
        measured = std::clamp(measured, 0.0f, kMaxBoardLightGain);
        light->gain[c] += weight * (measured - light->gain[c]);
    }
    light->latestMs = videoMs;
}
