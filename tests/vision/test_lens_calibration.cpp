// View selection and lens calibration on boards seen through a known
// distorted lens: exact corner projections (with noise) for the calibration,
// rendered pictures for the sharpness measure.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "calibration_views.h"
#include "lens_calibration.h"
#include "lens_views.h"

namespace {

const cv::Size kPicture(640, 480);
const cv::Size kPattern(8, 6);

// A picture of the board through a homography (no lens), rendered at twice
// the size and shrunk, then blurred by sigma px; corners are where the
// homography puts the inner corners. The outer squares are outerSquare of a
// square wide (printed boards often cut them short), then comes white paper
// or, with a cut, a dark table.
constexpr int kSquarePixels = 16;
cv::Mat renderBoard(const cv::Matx33d& boardToPicture, double sigma, std::vector<cv::Point2f>* corners,
                    double outerSquare = 1.0) {
    int columns = kPattern.width + 1, rows = kPattern.height + 1, margin = kSquarePixels;
    cv::Mat texture(rows * kSquarePixels + 2 * margin, columns * kSquarePixels + 2 * margin, CV_8UC1,
                    cv::Scalar(230));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < columns; ++j)
            if ((i + j) % 2 == 0)
                texture(cv::Rect(margin + j * kSquarePixels, margin + i * kSquarePixels, kSquarePixels, kSquarePixels))
                    .setTo(25);
    if (outerSquare < 1.0) {
        int cut = margin + static_cast<int>(std::lround((1.0 - outerSquare) * kSquarePixels));
        cv::Mat table(texture.size(), CV_8UC1, cv::Scalar(70));
        cv::Rect kept(cut, cut, texture.cols - 2 * cut, texture.rows - 2 * cut);
        texture(kept).copyTo(table(kept));
        texture = table;
    }
    // Texture pixel of board point (x, y) in squares from the first inner corner.
    cv::Matx33d boardToTexture(kSquarePixels, 0, margin + kSquarePixels - 0.5, 0, kSquarePixels,
                               margin + kSquarePixels - 0.5, 0, 0, 1);
    cv::Matx33d twice(2, 0, 0.5, 0, 2, 0.5, 0, 0, 1);  // picture pixel to doubled pixel, centres kept
    cv::Mat large, picture;
    cv::warpPerspective(texture, large, twice * boardToPicture * boardToTexture.inv(), kPicture * 2,
                        cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(128));
    cv::resize(large, picture, kPicture, 0, 0, cv::INTER_AREA);
    if (sigma > 0) cv::GaussianBlur(picture, picture, cv::Size(), sigma);
    corners->clear();
    for (int i = 0; i < kPattern.height; ++i)
        for (int j = 0; j < kPattern.width; ++j) {
            cv::Vec3d p = boardToPicture * cv::Vec3d(j, i, 1);
            corners->emplace_back(static_cast<float>(p[0] / p[2]), static_cast<float>(p[1] / p[2]));
        }
    return picture;
}

// A plain board 30 px per square, origin at (x, y), slightly in perspective.
cv::Matx33d boardAt(double x, double y) { return cv::Matx33d(30, 2, x, -1, 29, y, 0.0002, 0.0001, 1); }

}  // namespace

TEST(ViewSelection, RejectsNearDuplicatesAndMalformedViews) {
    TrueLens lens;
    ViewCollection views;
    initViewCollection(&views, kPicture, kPattern, 10);
    std::vector<cv::Point2f> corners = seeBoard(lens, 320, 240, 0.5, 30, 45);
    ViewVerdict verdict;
    EXPECT_TRUE(offerView(&views, corners, cv::Mat(), 0, &verdict));
    EXPECT_EQ(verdict, ViewVerdict::kAdded);
    // The same board a pixel further and a degree more tilted: nothing new.
    EXPECT_FALSE(offerView(&views, seeBoard(lens, 321, 240, 0.5, 31, 45), cv::Mat(), 1, &verdict));
    EXPECT_EQ(verdict, ViewVerdict::kDuplicate);
    // Tilted the other way: a new view, although in the same place.
    EXPECT_TRUE(offerView(&views, seeBoard(lens, 320, 240, 0.5, 30, 225), cv::Mat(), 2, &verdict));
    EXPECT_EQ(views.views.size(), 2u);

    std::vector<cv::Point2f> shortOne(corners.begin(), corners.end() - 1), outside = corners, nan = corners;
    outside[5].x = kPicture.width + 3;
    nan[7].y = NAN;
    std::vector<cv::Point2f> onePoint(corners.size(), cv::Point2f(100, 100));
    for (const std::vector<cv::Point2f>* bad : {&shortOne, &outside, &nan, &onePoint}) {
        EXPECT_FALSE(offerView(&views, *bad, cv::Mat(), 3, &verdict));
        EXPECT_EQ(verdict, ViewVerdict::kMalformed);
    }
    EXPECT_EQ(views.views.size(), 2u);
    EXPECT_EQ(views.changes, 2);
}

TEST(ViewSelection, AFullCollectionTradesRepeatsForNewPartsOfThePicture) {
    TrueLens lens;
    ViewCollection views;
    initViewCollection(&views, kPicture, kPattern, 6);
    // Six views near the middle, tilted different ways.
    for (int k = 0; k < 6; ++k)
        EXPECT_TRUE(offerView(&views, seeBoard(lens, 320, 240, 0.35, 25, 60 * k), cv::Mat(), k));
    double middleOnly = pictureCoverage(views);
    // Another middle view adds nothing; the corners of the picture do.
    ViewVerdict verdict;
    EXPECT_FALSE(offerView(&views, seeBoard(lens, 320, 240, 0.35, 25, 30), cv::Mat(), 6, &verdict));
    EXPECT_EQ(verdict, ViewVerdict::kAddsNothing);
    const double places[4][2] = {{110, 90}, {530, 90}, {110, 390}, {530, 390}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(offerView(&views, seeBoard(lens, places[k][0], places[k][1], 0.3, 20, 90 * k), cv::Mat(), 7 + k,
                              &verdict));
        EXPECT_EQ(verdict, ViewVerdict::kReplaced);
    }
    EXPECT_EQ(views.views.size(), 6u);
    EXPECT_GT(pictureCoverage(views), 2 * middleOnly);
    int middleViews = 0;
    for (const CalibrationView& v : views.views) middleViews += v.source < 6 ? 1 : 0;
    EXPECT_EQ(middleViews, 2);
}

TEST(ViewSelection, KeepsASpreadOfASweepAndLeavesTheRest) {
    TrueLens lens;
    std::vector<std::vector<cv::Point2f>> frames = sweep(lens, 400, 0.05, 3);
    ViewCollection views;
    initViewCollection(&views, kPicture, kPattern, kDefaultCalibrationViews);
    int kept = 0;
    for (size_t k = 0; k < frames.size(); ++k) kept += offerView(&views, frames[k], cv::Mat(), static_cast<long>(k));
    EXPECT_EQ(views.views.size(), static_cast<size_t>(kDefaultCalibrationViews));
    EXPECT_LT(kept, static_cast<int>(frames.size()) / 2);  // consecutive frames are mostly repeats
    EXPECT_GE(pictureCoverage(views), 0.6);
    EXPECT_GE(tiltsCovered(views), 10);
    // No two kept views show the board at nearly the same place and tilt.
    for (size_t a = 0; a < views.views.size(); ++a)
        for (size_t b = a + 1; b < views.views.size(); ++b) {
            const CalibrationView &p = views.views[a], &q = views.views[b];
            double place = std::hypot(p.centre.x - q.centre.x, p.centre.y - q.centre.y);
            cv::Point2d tiltP(p.tiltDegrees * std::cos(p.tiltDirection), p.tiltDegrees * std::sin(p.tiltDirection));
            cv::Point2d tiltQ(q.tiltDegrees * std::cos(q.tiltDirection), q.tiltDegrees * std::sin(q.tiltDirection));
            double tilt = cv::norm(tiltP - tiltQ);
            EXPECT_TRUE(place > 0.03 || tilt > 3) << a << " " << b;
        }
}

TEST(ViewSelection, SharpnessFollowsBlurAndDecidesBetweenRepeats) {
    std::vector<cv::Point2f> corners;
    cv::Mat sharp = renderBoard(boardAt(150, 120), 0, &corners);
    float sharpness = boardSharpness(sharp, corners, kPattern);
    EXPECT_GT(sharpness, 0.4f);
    for (double sigma : {1.0, 2.0, 4.0}) {
        float blurred = boardSharpness(renderBoard(boardAt(150, 120), sigma, &corners), corners, kPattern);
        EXPECT_NEAR(blurred, 0.4 / sigma, 0.12 / sigma) << sigma;
    }
    // Motion along the rows blurs the edges across them only: still blurred.
    cv::Mat moved;
    cv::blur(sharp, moved, cv::Size(9, 1));
    EXPECT_LT(boardSharpness(moved, corners, kPattern), 0.25f);
    EXPECT_EQ(boardSharpness(cv::Mat(), corners, kPattern), kSharpnessUnknown);

    ViewCollection views;
    initViewCollection(&views, kPicture, kPattern, 10);
    ViewVerdict verdict;
    EXPECT_FALSE(offerView(&views, corners, renderBoard(boardAt(150, 120), 4.0, &corners), 0, &verdict));
    EXPECT_EQ(verdict, ViewVerdict::kBlurred);
    EXPECT_TRUE(offerView(&views, corners, renderBoard(boardAt(150, 120), 1.5, &corners), 1, &verdict));
    EXPECT_FALSE(offerView(&views, corners, renderBoard(boardAt(150, 120), 1.3, &corners), 2, &verdict));
    EXPECT_EQ(verdict, ViewVerdict::kDuplicate);  // not clearly sharper
    EXPECT_TRUE(offerView(&views, corners, sharp, 3, &verdict));
    EXPECT_EQ(verdict, ViewVerdict::kReplaced);
    ASSERT_EQ(views.views.size(), 1u);
    EXPECT_EQ(views.views[0].source, 3);
}

TEST(ViewSelection, RefinedCornersStayOffTheEdgeOfABoardWithShortOuterSquares) {
    // Squares of 24 px, the outer ones cut to 9.6 px, then a dark table: the
    // OpenCV sample's 11 px half-window reaches the table's edge from the
    // outer corners.
    std::vector<cv::Point2f> truth;
    cv::Mat grey = renderBoard(cv::Matx33d(24, 1, 150, -0.5, 23.5, 110, 0.0002, 0.0001, 1), 0.8, &truth, 0.4);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> shift(-1.0f, 1.0f);
    std::vector<cv::Point2f> found = truth, wide;
    for (cv::Point2f& p : found) p += cv::Point2f(shift(rng), shift(rng));
    wide = found;
    ASSERT_TRUE(refineBoardCorners(grey, kPattern, &found));
    cv::cornerSubPix(grey, wide, cv::Size(11, 11), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.0001));
    double worst = 0, worstWide = 0;
    for (size_t k = 0; k < truth.size(); ++k) {
        worst = std::max(worst, cv::norm(found[k] - truth[k]));
        worstWide = std::max(worstWide, cv::norm(wide[k] - truth[k]));
    }
    EXPECT_LT(worst, 0.25);
    EXPECT_GT(worstWide, 1.0);

    std::vector<cv::Point2f> partial(truth.begin(), truth.begin() + 10);
    EXPECT_FALSE(refineBoardCorners(grey, kPattern, &partial));
    EXPECT_EQ(partial.size(), 10u);
}

TEST(LensCalibration, RecoversTheLensFromASweepsChosenViews) {
    TrueLens lens;
    ViewCollection views;
    initViewCollection(&views, kPicture, kPattern, kDefaultCalibrationViews);
    long k = 0;
    for (const std::vector<cv::Point2f>& corners : sweep(lens, 300, 0.1, 5)) offerView(&views, corners, cv::Mat(), k++);
    LensCalibration result;
    std::string error;
    ASSERT_TRUE(calibrateLens(views, &result, &error)) << error;
    const CameraModel& c = result.camera;
    EXPECT_NEAR(c.fx, lens.f, 0.003 * lens.f);
    EXPECT_NEAR(c.fy, lens.f, 0.003 * lens.f);
    EXPECT_NEAR(c.cx, lens.cx, 1.5);
    EXPECT_NEAR(c.cy, lens.cy, 1.5);
    EXPECT_NEAR(c.distortion[0], lens.distortion[0], 0.01);
    EXPECT_NEAR(c.distortion[1], lens.distortion[1], 0.05);
    EXPECT_NEAR(c.distortion[2], lens.distortion[2], 0.0005);
    EXPECT_NEAR(c.distortion[3], lens.distortion[3], 0.0005);
    EXPECT_EQ(c.distortionCount, 5);
    EXPECT_EQ(c.width, kPicture.width);
    EXPECT_EQ(c.height, kPicture.height);
    EXPECT_NEAR(result.rms, 0.1 * std::sqrt(2.0), 0.03);
    EXPECT_EQ(result.keptCount, static_cast<int>(views.views.size()));
    // The reported uncertainty covers the true error.
    EXPECT_LT(std::fabs(c.fx - lens.f), 3 * 1.96 * result.deviationFx);
    EXPECT_LT(std::fabs(c.cx - lens.cx), 3 * 1.96 * result.deviationCx);
    std::string why;
    EXPECT_TRUE(calibrationTrustworthy(result, &why)) << why;
    EXPECT_TRUE(result.monotone);
}

TEST(LensCalibration, DropsAViewWhoseErrorStandsOut) {
    TrueLens lens;
    std::mt19937 rng(9);
    std::vector<std::vector<cv::Point2f>> views;
    const double places[12][2] = {{160, 120}, {480, 120}, {160, 360}, {480, 360}, {320, 240}, {320, 110},
                                  {320, 370}, {130, 240}, {510, 240}, {240, 180}, {400, 300}, {330, 250}};
    for (int k = 0; k < 12; ++k)
        views.push_back(seeBoard(lens, places[k][0], places[k][1], 0.35, 20 + 3 * k, 47.0 * k, 0.1, &rng));
    // One view's corners found badly: 1.5 px of noise.
    std::normal_distribution<float> bad(0, 1.5f);
    for (cv::Point2f& p : views[4]) p += cv::Point2f(bad(rng), bad(rng));
    LensCalibration result;
    std::string error;
    ASSERT_TRUE(calibrateLens(views, kPattern, kPicture, &result, &error)) << error;
    ASSERT_EQ(result.kept.size(), 12u);
    EXPECT_FALSE(result.kept[4]);
    EXPECT_EQ(result.keptCount, 11);
    EXPECT_GT(result.viewErrors[4], 1.0);  // measured with the final lens
    EXPECT_LT(result.rms, 0.2);
    EXPECT_NEAR(result.camera.fx, lens.f, 0.01 * lens.f);
    EXPECT_NEAR(result.camera.cx, lens.cx, 3);
}

TEST(LensCalibration, RefusesTooFewViewsAndDistrustsWeakCalibrations) {
    TrueLens lens;
    std::mt19937 rng(4);
    std::vector<std::vector<cv::Point2f>> views;
    for (int k = 0; k < 4; ++k) views.push_back(seeBoard(lens, 220 + 60 * k, 240, 0.4, 30, 90 * k, 0.1, &rng));
    views.push_back(std::vector<cv::Point2f>(10, cv::Point2f(5, 5)));  // not the whole pattern
    LensCalibration result;
    std::string error;
    EXPECT_FALSE(calibrateLens(views, kPattern, kPicture, &result, &error));
    EXPECT_NE(error.find("4 usable views"), std::string::npos) << error;

    // Six views: a lens, but not one to trust.
    views.pop_back();
    for (int k = 0; k < 2; ++k) views.push_back(seeBoard(lens, 200 + 240 * k, 150, 0.4, 35, 45 + 90 * k, 0.1, &rng));
    ASSERT_TRUE(calibrateLens(views, kPattern, kPicture, &result, &error)) << error;
    std::string why;
    EXPECT_FALSE(calibrationTrustworthy(result, &why));
    EXPECT_NE(why.find("views"), std::string::npos) << why;

    // Many views with 0.6 px noise: too rough.
    std::vector<std::vector<cv::Point2f>> rough = sweep(lens, 300, 0.6, 8);
    ViewCollection collection;
    initViewCollection(&collection, kPicture, kPattern, kDefaultCalibrationViews);
    for (size_t k = 0; k < rough.size(); ++k) offerView(&collection, rough[k], cv::Mat(), static_cast<long>(k));
    ASSERT_TRUE(calibrateLens(collection, &result, &error)) << error;
    EXPECT_FALSE(calibrationTrustworthy(result, &why));
    EXPECT_NE(why.find("RMS"), std::string::npos) << why;
}

TEST(LensCalibration, FindsFoldsOfTheRadialDistortion) {
    CameraModel camera{};
    camera.width = 640, camera.height = 480, camera.fx = camera.fy = 600, camera.cx = 320, camera.cy = 240;
    camera.distortionCount = 5;
    EXPECT_TRUE(radialDistortionMonotone(camera));
    camera.distortion[0] = -0.3, camera.distortion[1] = 0.1;
    EXPECT_TRUE(radialDistortionMonotone(camera));
    // r (1 - 0.6 r^2) turns back at r = 0.75, radius 0.30: inside the picture (0.67).
    camera.distortion[0] = -0.6, camera.distortion[1] = 0;
    EXPECT_FALSE(radialDistortionMonotone(camera));
    // A longer lens sees only the middle, where the same lens still rises.
    camera.fx = camera.fy = 2000;
    EXPECT_TRUE(radialDistortionMonotone(camera));
    // An overfitted k3 that turns the curve down just inside the corners.
    camera.fx = camera.fy = 600, camera.distortion[0] = -0.3, camera.distortion[1] = 0.1,
    camera.distortion[4] = -1.0;
    EXPECT_FALSE(radialDistortionMonotone(camera));
}

TEST(LensCalibration, WorkerThreadsGiveTheSameLens) {
    TrueLens lens;
    std::vector<std::vector<cv::Point2f>> frames = sweep(lens, 200, 0.1, 6);
    ViewCollection views;
    initViewCollection(&views, kPicture, kPattern, 12);
    for (size_t k = 0; k < frames.size(); ++k) offerView(&views, frames[k], cv::Mat(), static_cast<long>(k));
    LensCalibration here, there[2];
    std::string error, errors[2];
    ASSERT_TRUE(calibrateLens(views, &here, &error)) << error;
    bool ok[2] = {false, false};
    std::thread workers[2];
    for (int t = 0; t < 2; ++t)
        workers[t] = std::thread([&, t] { ok[t] = calibrateLens(views, &there[t], &errors[t]); });
    for (std::thread& w : workers) w.join();
    for (int t = 0; t < 2; ++t) {
        ASSERT_TRUE(ok[t]) << errors[t];
        EXPECT_DOUBLE_EQ(there[t].camera.fx, here.camera.fx);
        EXPECT_DOUBLE_EQ(there[t].camera.cy, here.camera.cy);
        EXPECT_DOUBLE_EQ(there[t].rms, here.rms);
    }
}
