// lens_views.h - boards seen through a known lens: exact corner projections
// (with noise if asked) for the lens calibration's tests.
//
// Usage:
//     TrueLens lens;                                   // 640 x 480, strong barrel
//     auto corners = seeBoard(lens, 320, 240, 0.4, 30, 45);
#ifndef LENS_VIEWS_H
#define LENS_VIEWS_H

#include <random>
#include <vector>

#include <opencv2/core.hpp>

// A webcam's strong barrel distortion, principal point off the centre, for
// a 640 x 480 picture of an 8 x 6 board.
struct TrueLens {
    double f = 600, cx = 329, cy = 233;
    double distortion[5] = {-0.3, 0.1, 0.001, -0.001, 0.0};
    cv::Size picture = cv::Size(640, 480);
    cv::Size pattern = cv::Size(8, 6);
    cv::Matx33d K() const { return cv::Matx33d(f, 0, cx, 0, f, cy, 0, 0, 1); }
    cv::Mat D() const { return cv::Mat(1, 5, CV_64F, const_cast<double*>(distortion)).clone(); }
};

// A pinhole camera with its principal point at the picture's centre.
TrueLens pinholeLens(double f = 600);

// The board with its middle on the ray through pixel (u, v), spanning about
// `span` of the picture's width, tilted by tiltDegrees about an axis in the
// picture plane at azimuthDegrees. Empty when a corner falls outside.
std::vector<cv::Point2f> seeBoard(const TrueLens& lens, double u, double v, double span, double tiltDegrees,
                                  double azimuthDegrees, double noise = 0, std::mt19937* rng = nullptr);

// A camera sweep: the board passes over the whole picture at tilts of 15 to
// 55 degrees in every direction.
std::vector<std::vector<cv::Point2f>> sweep(const TrueLens& lens, int frames, double noise, unsigned seed);

// Views held as at a desk: the board's middle within the middle third of the
// picture, a fifth of its width across, tilted 20 to 45 degrees, n views.
std::vector<std::vector<cv::Point2f>> deskViews(const TrueLens& lens, int n, double noise, unsigned seed);

#endif
