// corner_tracker.cpp - the board's corners followed by optical flow between
// frames in which the detector misses the board.
#include "corner_tracker.h"

#include <cmath>
#include <exception>
#include <utility>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Lucas-Kanade window and pyramid. Level 0 alone follows about 15 px, each
// level more doubles that: three levels follow about 60 px, beyond the half
// square at which the board's repetition misleads the flow anyway, and far
// beyond the sample video's 4.3 px per frame at 640 x 480 (10 px at 1920 x
// 1080).
constexpr int kWindowPx = 21;
constexpr int kPyramidMaxLevel = 2;
constexpr int kFlowIterations = 30;
constexpr double kFlowEpsilonPx = 0.01;
// A window whose smallest gradient eigenvalue is below this (per pixel, grey
// levels squared over 255 squared) is flat: nothing to follow there.
constexpr double kMinEigenvalue = 1e-4;
// A corner flowed forward then back must land this close to where it started.
constexpr double kMaxForwardBackwardPx = 0.5;
// Mean absolute grey-level difference between a corner's window in the two
// frames beyond which it is taken for something else: a cut, or a cover over
// part of the window, whose edge would pull the corner off by up to half a
// pixel. On the sample video: 2 to 6 from sensor noise, 7 to 22 where the
// card reaches into the window, 30 to 90 under it.
constexpr float kMaxWindowDifference = 16.0f;
// Corner refinement: the detector's own window (5 x 5 pixels) and criteria.
constexpr int kRefineHalfWindowPx = 2;
constexpr int kRefineIterations = 30;
constexpr double kRefineEpsilonPx = 0.01;
constexpr double kMaxRefineMovePx = 1.0;
// Distance from the plane's homography beyond which a corner is an outlier.
constexpr double kRansacThresholdPx = 1.0;
constexpr int kRansacIterations = 2000;
constexpr double kRansacConfidence = 0.995;
// RMS distance, in board squares, of the kept corners' board coordinates from
// their best-fitting line: two whole rows give 0.5, a row and a stray corner
// about 0.3. Below it the pose would rest on a line.
constexpr double kMinSpreadSquares = 0.4;

void holdNothing(CornerTracker* t) {
    t->count = 0;
    t->previousPyramidBuilt = false;
}

// An 8-bit grey or BGR frame into a grey buffer reused between calls.
bool toGrey(const cv::Mat& frame, cv::Mat* grey) {
    if (frame.empty() || frame.depth() != CV_8U) return false;
    if (frame.channels() == 1) frame.copyTo(*grey);
    else if (frame.channels() == 3) cv::cvtColor(frame, *grey, cv::COLOR_BGR2GRAY);
    else return false;
    return true;
}

void buildPyramid(const cv::Mat& grey, std::vector<cv::Mat>* pyramid) {
    cv::buildOpticalFlowPyramid(grey, *pyramid, cv::Size(kWindowPx, kWindowPx), kPyramidMaxLevel, true,
                                cv::BORDER_REFLECT_101, cv::BORDER_CONSTANT, false);
}

// Smallest spread of board coordinates (k mod width, k div width) about their
// best-fitting line: the square root of the smaller eigenvalue of their
// covariance.
double spreadAcrossLine(const int* indices, int count, int width) {
    double meanX = 0, meanY = 0;
    for (int i = 0; i < count; ++i) meanX += indices[i] % width, meanY += indices[i] / width;
    meanX /= count, meanY /= count;
    double xx = 0, xy = 0, yy = 0;
    for (int i = 0; i < count; ++i) {
        double x = indices[i] % width - meanX, y = indices[i] / width - meanY;
        xx += x * x, xy += x * y, yy += y * y;
    }
    xx /= count, xy /= count, yy /= count;
    double half = (xx - yy) / 2;
    double smaller = (xx + yy) / 2 - std::sqrt(half * half + xy * xy);
    return std::sqrt(smaller > 0 ? smaller : 0);
}

// Forward flow of the held corners; keeps in keptFrom/keptTo/keptIndices
// those found whose windows still look alike. Returns how many.
int flowForward(CornerTracker* t) {
    t->from.assign(t->positions, t->positions + t->count);
    t->flow->calc(t->previousPyramid, t->currentPyramid, t->from, t->forward, t->forwardStatus, t->forwardError);
    t->keptFrom.clear(), t->keptTo.clear();
    for (int i = 0; i < t->count; ++i) {
        if (!t->forwardStatus[i] || !(t->forwardError[i] <= kMaxWindowDifference)) continue;
        t->keptIndices[t->keptFrom.size()] = t->boardIndices[i];
        t->keptFrom.push_back(t->from[i]);
        t->keptTo.push_back(t->forward[i]);
    }
    return static_cast<int>(t->keptFrom.size());
}

// Keeps the first `count` entries of the kept arrays for which keep[i] holds.
template <typename Keep>
int compactKept(CornerTracker* t, int count, Keep keep) {
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (!keep(i)) continue;
        t->keptFrom[n] = t->keptFrom[i], t->keptTo[n] = t->keptTo[i], t->keptIndices[n] = t->keptIndices[i];
        ++n;
    }
    t->keptFrom.resize(n), t->keptTo.resize(n);
    return n;
}

// Flows the kept corners back; keeps those that return where they started.
int checkBackward(CornerTracker* t, int count) {
    t->flow->calc(t->currentPyramid, t->previousPyramid, t->keptTo, t->backward, t->backwardStatus,
                  t->backwardError);
    return compactKept(t, count, [t](int i) {
        cv::Point2f miss = t->backward[i] - t->keptFrom[i];
        return t->backwardStatus[i] && std::hypot(miss.x, miss.y) <= kMaxForwardBackwardPx;
    });
}

// Moves the kept corners to the saddle points near them, as the detector
// places its corners. Flow alone drifts from frame to frame: a window that a
// cover's edge enters is pulled along with it (on the sample video, up to
// 1.8 px in ten frames, each step within the plane's tolerance); the small
// window of the refinement is not. A corner that moves far is not the one
// it was.
int refineCorners(CornerTracker* t, int count) {
    t->flowed.assign(t->keptTo.begin(), t->keptTo.end());
    cv::cornerSubPix(t->currentGrey, t->keptTo, cv::Size(kRefineHalfWindowPx, kRefineHalfWindowPx), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, kRefineIterations,
                                      kRefineEpsilonPx));
    return compactKept(t, count, [t](int i) {
        cv::Point2f move = t->keptTo[i] - t->flowed[i];
        return std::hypot(move.x, move.y) <= kMaxRefineMovePx;
    });
}

// Keeps the corners that one plane's homography carries to their new places.
int keepOnePlane(CornerTracker* t, int count) {
    cv::Mat homography = cv::findHomography(t->keptFrom, t->keptTo, cv::RANSAC, kRansacThresholdPx, t->inliers,
                                            kRansacIterations, kRansacConfidence);
    if (homography.empty()) return 0;
    // RANSAC's inliers fit its best four-corner model, which strays near the
    // board's far edges; the homography returned is refined on all of them.
    cv::Matx33d h = homography;
    return compactKept(t, count, [t, &h](int i) {
        cv::Vec3d p = h * cv::Vec3d(t->keptFrom[i].x, t->keptFrom[i].y, 1.0);
        if (!(p[2] > 0)) return false;
        return std::hypot(p[0] / p[2] - t->keptTo[i].x, p[1] / p[2] - t->keptTo[i].y) <= kRansacThresholdPx;
    });
}

// The whole step; 0 when the board is lost.
int followCorners(CornerTracker* t, const cv::Mat& frame) {
    if (!t->flow || t->count < kMinTrackedCorners || !toGrey(frame, &t->currentGrey)) return 0;
    if (t->currentGrey.size() != t->detectedGrey.size()) return 0;
    if (!t->previousPyramidBuilt) buildPyramid(t->detectedGrey, &t->previousPyramid);
    t->previousPyramidBuilt = true;
    buildPyramid(t->currentGrey, &t->currentPyramid);
    int count = flowForward(t);
    if (count >= kMinTrackedCorners) count = checkBackward(t, count);
    if (count >= kMinTrackedCorners) count = refineCorners(t, count);
    if (count >= kMinTrackedCorners) count = keepOnePlane(t, count);
    if (count < kMinTrackedCorners || spreadAcrossLine(t->keptIndices, count, t->patternWidth) < kMinSpreadSquares)
        return 0;
    return count;
}

}  // namespace

bool prepareCornerTracker(CornerTracker* t, cv::Size frameSize) {
    if (!t->flow || frameSize.width <= 0 || frameSize.height <= 0) return false;
    try {
        cv::Mat blank(frameSize, CV_8U, cv::Scalar(128));
        buildPyramid(blank, &t->previousPyramid);
        buildPyramid(blank, &t->currentPyramid);
        std::vector<cv::Point2f> from = {cv::Point2f(frameSize.width / 2.0f, frameSize.height / 2.0f)}, to;
        std::vector<unsigned char> status;
        std::vector<float> error;
        t->flow->calc(t->previousPyramid, t->currentPyramid, from, to, status, error);
    } catch (const std::exception&) {
        return false;
    }
    holdNothing(t);
    return true;
}

bool resetCornerTracker(CornerTracker* t) {
    holdNothing(t);
    t->patternWidth = 0;
    try {
        t->flow = cv::SparsePyrLKOpticalFlow::create(
            cv::Size(kWindowPx, kWindowPx), kPyramidMaxLevel,
            cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, kFlowIterations, kFlowEpsilonPx), 0,
            kMinEigenvalue);
        for (auto* v : {&t->from, &t->forward, &t->backward, &t->flowed, &t->keptFrom, &t->keptTo})
            v->reserve(kMaxTrackedCorners);
        for (auto* v : {&t->forwardStatus, &t->backwardStatus, &t->inliers}) v->reserve(kMaxTrackedCorners);
        for (auto* v : {&t->forwardError, &t->backwardError}) v->reserve(kMaxTrackedCorners);
    } catch (const std::exception&) {
        t->flow.reset();
        return false;
    }
    return true;
}

bool rememberDetectedBoard(CornerTracker* t, const cv::Mat& frame, const cv::Point2f* corners, cv::Size pattern) {
    holdNothing(t);
    if (!t->flow || pattern.width < 1 || pattern.height < 1 || pattern.width > kMaxTrackedCorners ||
        pattern.height > kMaxTrackedCorners)
        return false;
    int count = pattern.width * pattern.height;
    if (count > kMaxTrackedCorners) return false;
    for (int k = 0; k < count; ++k)
        if (!std::isfinite(corners[k].x) || !std::isfinite(corners[k].y)) return false;
    try {
        if (!toGrey(frame, &t->detectedGrey)) return false;
    } catch (const std::exception&) {
        return false;
    }
    for (int k = 0; k < count; ++k) t->positions[k] = corners[k], t->boardIndices[k] = k;
    t->patternWidth = pattern.width;
    t->count = count;
    return true;
}

int trackBoardCorners(CornerTracker* t, const cv::Mat& frame, cv::Point2f* corners, int* boardIndices) {
    int count = 0;
    try {
        count = followCorners(t, frame);
    } catch (const std::exception&) {
        count = 0;
    }
    if (count == 0) {
        holdNothing(t);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        t->positions[i] = corners[i] = t->keptTo[i];
        t->boardIndices[i] = boardIndices[i] = t->keptIndices[i];
    }
    t->count = count;
    std::swap(t->previousPyramid, t->currentPyramid);
    return count;
}
