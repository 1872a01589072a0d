// lens_views.cpp - boards projected through a known lens.
#include "lens_views.h"

#include <cmath>

#include <opencv2/calib3d.hpp>

namespace {

// The board's corners, centred on its middle, unit squares.
std::vector<cv::Point3f> centredBoard(cv::Size pattern) {
    std::vector<cv::Point3f> board;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < pattern.width; ++j)
            board.emplace_back(j - 0.5f * (pattern.width - 1), i - 0.5f * (pattern.height - 1), 0.0f);
    return board;
}

}  // namespace

TrueLens pinholeLens(double f) {
    TrueLens lens;
    lens.f = f, lens.cx = lens.picture.width / 2, lens.cy = lens.picture.height / 2;
    for (double& k : lens.distortion) k = 0;
    return lens;
}

std::vector<cv::Point2f> seeBoard(const TrueLens& lens, double u, double v, double span, double tiltDegrees,
                                  double azimuthDegrees, double noise, std::mt19937* rng) {
    double distance = (lens.pattern.width - 1) * lens.f / (span * lens.picture.width);
    double a = azimuthDegrees * CV_PI / 180, t = tiltDegrees * CV_PI / 180;
    cv::Vec3d rotation(t * std::cos(a), t * std::sin(a), 0);
    cv::Vec3d centre((u - lens.cx) / lens.f * distance, (v - lens.cy) / lens.f * distance, distance);
    std::vector<cv::Point2f> corners;
    cv::projectPoints(centredBoard(lens.pattern), rotation, centre, lens.K(), lens.D(), corners);
    std::normal_distribution<double> gauss(0, noise > 0 ? noise : 1);
    for (cv::Point2f& p : corners) {
        if (noise > 0) p.x += gauss(*rng), p.y += gauss(*rng);
        if (p.x < 1 || p.y < 1 || p.x > lens.picture.width - 2 || p.y > lens.picture.height - 2) return {};
    }
    return corners;
}

std::vector<std::vector<cv::Point2f>> sweep(const TrueLens& lens, int frames, double noise, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::vector<cv::Point2f>> views;
    const double w = lens.picture.width, h = lens.picture.height;
    for (int n = 0; n < frames; ++n) {
        double t = static_cast<double>(n) / frames;
        double u = w * (0.5 + 0.42 * std::sin(2 * CV_PI * 3 * t));
        double v = h * (0.5 + 0.42 * std::sin(2 * CV_PI * 2 * t + 0.7));
        double tilt = 15 + 40 * (0.5 + 0.5 * std::sin(2 * CV_PI * 5 * t));
        std::vector<cv::Point2f> corners = seeBoard(lens, u, v, 0.4, tilt, 360 * 7 * t, noise, &rng);
        if (!corners.empty()) views.push_back(corners);
    }
    return views;
}

std::vector<std::vector<cv::Point2f>> deskViews(const TrueLens& lens, int n, double noise, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> place(-1.0 / 6, 1.0 / 6), tilt(20, 45), azimuth(0, 360);
    std::vector<std::vector<cv::Point2f>> views;
    while (static_cast<int>(views.size()) < n) {
        double u = lens.picture.width * (0.5 + place(rng)), v = lens.picture.height * (0.5 + place(rng));
        std::vector<cv::Point2f> corners = seeBoard(lens, u, v, 0.25, tilt(rng), azimuth(rng), noise, &rng);
        if (!corners.empty()) views.push_back(corners);
    }
    return views;
}
