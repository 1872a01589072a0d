// board_detector.h - finds the chessboard in a video frame at a bounded cost,
// with results that depend on the frames alone.
//
// cv::findChessboardCorners on a whole frame costs up to seconds when the
// board is missing or partly covered: it binarizes the picture dozens of
// times, and its quad grouping grows with the square of the dark blobs it
// meets. Here it only ever sees a small picture: the region where the board
// was in the previous frame or, once the board is lost, a board-like cluster
// of dark quadrilaterals found in a reduced copy of the whole frame (the
// likeliest first; a cluttered scene's others in the following frames; the
// scan's threshold global and local by turns, for boards under uneven light).
// That picture is scaled so that a square is about 24 px wide, holds at most
// 150,000 pixels, has its lighting evened out over a few squares, and is
// searched only when it shows at most 150 dark blobs; a frame gets exactly
// one such search. Corners found on a reduced copy are
// refined on the full-resolution picture with the library detector's own
// sub-pixel settings; the corner order is the library's (row by row, the last
// row below the first in stored rows).
//
// Limits: one global threshold per pass of the search, after the lighting is
// evened (no adaptive thresholding, whose dozens of extra passes are what
// makes a failed search slow); a board is
// acquired when its squares are at least about 8 px or 1/75 of the frame's
// height, whichever is larger (the library's whole-frame search goes down to
// about 8 px at any size), and tracked while it moves less than 3 squares
// between frames (else it is lost for one frame); a scan that meets more than
// 1500 dark blobs or 400 dark quads (foliage, noise, a tiled floor) gives up.
// Not thread-safe: one detector per video.
//
// Usage:
//     BoardDetector detector;  initBoardDetector(cv::Size(8, 6), &detector);
//     if (detectBoardCorners(frame, &detector, &corners)) usePose(corners);
#ifndef APP_BOARD_DETECTOR_H
#define APP_BOARD_DETECTOR_H

#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

// The library's full-resolution search as the viewer first ran it on every
// frame (adaptive thresholding plus the quick pre-check), now the reference
// that tests and benchmarks compare the bounded board search with.
constexpr int kBoardDetectorFlags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK;

// The detector's memory between frames and its reusable work areas.
struct BoardDetector {
    cv::Size patternSize;                  // inner corners per row, per column
    std::vector<cv::Point2f> lastCorners;  // latest frame's corners; empty when it had no board
    int framesLost = 0;                    // consecutive frames without the board
    // Work pictures, reused from frame to frame (see workPicture in the .cpp).
    cv::Mat greyFrame, greyRegion, halves[2], reduced, binary, localMean, evenlyLit, padded;
    cv::Mat search;  // the picture being searched: a view of one of the above
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    std::vector<cv::Point2f> found;
};

// False when the pattern has fewer than 3 inner corners along a side.
bool initBoardDetector(cv::Size patternSize, BoardDetector* detector);

// Finds the whole pattern in an 8-bit BGR frame: corners in full-frame pixels
// (integer coordinates at pixel centres), row by row, as
// cv::findChessboardCorners orders them. False, with no corners, when the
// board is not found; the detector remembers the outcome for the next frame.
bool detectBoardCorners(const cv::Mat& bgrFrame, BoardDetector* detector, std::vector<cv::Point2f>* corners);

#endif
