// tracking.h - the board as tracking target: world coordinates of its
// corners, detection in every frame, camera calibration, the OpenGL matrices,
// and the board's axes.
//
// The board frame, in which everything virtual is drawn: a vertex (x, y, z)
// is the calibration world point (X, Y, Z) = (x, z, -y), so x runs along the
// board's rows, z across them and y is the height above the board, one unit
// per square.
//
// Usage:
//     initChessWordCoords(&chess);          // once
//     trackBoard();                         // every frame
#ifndef APP_TRACKING_H
#define APP_TRACKING_H

#include "camera_file.h"
#include "options.h"
#include "state.h"

#include <opencv2/calib3d.hpp>

// The library's full-resolution search as the viewer first ran it on every
// frame (adaptive thresholding plus the quick pre-check), now the reference
// that tests and benchmarks compare the bounded board search with.
constexpr int kBoardDetectorFlags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK;

// The optional steps the options ask for: --track, --refine, --smooth.
void chooseTrackingSteps(const ViewerOptions& options);

// worldX[k] = j.squareSize + originX, worldY[k] = i.squareSize + originY for
// corner k = i.width + j; readies the board search for the pattern, with no
// memory of earlier frames. Always returns 0.
int initChessWordCoords(Chess* chess);

// Idle stage: finds the board in movie.frame (board_detector.h: a bounded
// search near where it was in the previous frame); when found, calibrates the
// camera (fully on the first sighting, pose only afterwards) and rebuilds its
// matrices. A failed calibration changes nothing.
void trackBoard();

// From now on the picture and the corners are undistorted with the lens
// model (for a picture of this size), the camera is its pinhole camera (f =
// fx, fy, cx, cy) and every sighting calibrates the pose only. False, with
// nothing changed, when the model does not fit the picture.
bool takeLensModel(const CameraModel& model, int width, int height, Camera* cam);

// Display stage: the camera's projection and modelview, then the board frame.
void loadCameraMatrices();

// Display stage: the board's axes, x blue along the first row of corners
// (7 long on the 8 x 6 board), y green (7.5), z red along the first column (5).
void drawAxes();

#endif
