// corner_tracker.h - follows the board's corners through frames in which the
// detector does not find the whole board (a hand or a card over part of it),
// so that the pose can still be calibrated from the corners that stay seen.
//
// From the latest frame with the board (detected or tracked) to the next, the
// corners are followed with pyramidal Lucas-Kanade optical flow; a corner is
// dropped when its window changed too much (a cover reaching into it), when
// flowing it back misses its start (forward-backward check), when refining it
// to the saddle point under it (as the detector does; this keeps the corners
// from drifting) moves it far, or when it disagrees with one plane (a RANSAC
// homography between the old and new positions). When at least
// kMinTrackedCorners remain, spread over the board rather than along one
// line, they are handed back with their board indices; otherwise the board is
// lost until the detector finds it again. Results depend on the frames alone,
// not on threads or a clock (OpenCV's RANSAC draws from a fixed seed).
//
// Limits: up to kMaxTrackedCorners corners; 8-bit grey or BGR frames of one
// size. Corners moving more than about 60 px, or more than about half a
// square, from one frame to the next are lost, or worse: the board repeats
// itself, so the flow may land on the next corner, and a board moved by a
// whole square is kept with the wrong indices (the sample video moves 0.2
// squares per frame at most). Hidden corners do not come back while
// tracking. One record per video, used from one thread; it holds two image
// pyramids with gradients (about 30 MB at 1920 x 1080).
//
// Usage:
//     if (found) rememberDetectedBoard(&tracker, frame, corners, cv::Size(8, 6));
//     else count = trackBoardCorners(&tracker, frame, corners, boardIndices);
#ifndef APP_CORNER_TRACKER_H
#define APP_CORNER_TRACKER_H

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

constexpr int kMaxTrackedCorners = 100;
// Fewer kept corners than this lose the board: the pose from them drifts.
constexpr int kMinTrackedCorners = 12;

// Caller-owned; resetCornerTracker before first use. The fields are the
// tracker's own: read only `count`.
struct CornerTracker {
    int count = 0;         // corners held from the latest frame; 0: no board
    int patternWidth = 0;  // corners per board row: index k is (k mod width, k div width)
    cv::Point2f positions[kMaxTrackedCorners];
    int boardIndices[kMaxTrackedCorners];
    // The latest frame whose board was detected, grey; its pyramid is built
    // only when tracking starts from it, then each tracked frame's pyramid
    // becomes the previous one.
    cv::Mat detectedGrey, currentGrey;
    bool previousPyramidBuilt = false;
    std::vector<cv::Mat> previousPyramid, currentPyramid;
    // Work areas, sized once.
    cv::Ptr<cv::SparsePyrLKOpticalFlow> flow;
    std::vector<cv::Point2f> from, forward, backward, flowed, keptFrom, keptTo;
    std::vector<unsigned char> forwardStatus, backwardStatus, inliers;
    std::vector<float> forwardError, backwardError;
    int keptIndices[kMaxTrackedCorners];
};

// Empties the tracker and sizes its work areas. Returns false (a tracker that
// tracks nothing) when OpenCV fails.
bool resetCornerTracker(CornerTracker* tracker);

// Makes the work areas of frames of this size ready (both images' pyramids
// and the flow's own buffers), so that the first frame tracked does not pay
// for fresh memory: about 70 ms at 1920 x 1080 on a machine where it is slow.
// Returns false when OpenCV fails; the tracker works all the same.
bool prepareCornerTracker(CornerTracker* tracker, cv::Size frameSize);

// After a frame whose whole board the detector found: its corners, in the
// detector's order (board index k for corners[k], pattern.width per row).
// Returns false, holding nothing, for an empty or non-8-bit frame or more
// than kMaxTrackedCorners corners.
bool rememberDetectedBoard(CornerTracker* tracker, const cv::Mat& frame, const cv::Point2f* corners,
                           cv::Size pattern);

// A frame without the whole board: writes the corners followed into it
// (pixels of the frame) and their board indices, in increasing index order,
// into arrays of kMaxTrackedCorners and returns how many were kept. Returns 0
// when the board is lost (too few corners, all along one line, another
// scene, another frame size, nothing held); the tracker then holds nothing.
int trackBoardCorners(CornerTracker* tracker, const cv::Mat& frame, cv::Point2f* corners, int* boardIndices);

#endif
