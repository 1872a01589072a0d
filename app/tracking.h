// tracking.h - the board as tracking target: world coordinates of its
// corners, detection in every frame, camera calibration, the OpenGL matrices,
// and the board's axes.
//
// The board frame, in which everything virtual is drawn: a vertex (x, y, z)
// is the calibration world point (X, Y, Z) = (x, z, -y), so x runs along the
// board's rows, z across them and y is the height above the board, one unit
// per square.
//
// State: the board search, the corner tracker, the pose filter and the
// latest corners and residuals, private here. Threads: the frame loop's
// thread only.
//
// Usage:
//     initChessWordCoords(&chess);          // once
//     trackBoard();                         // every frame
#ifndef APP_TRACKING_H
#define APP_TRACKING_H

#include "options.h"
#include "state.h"


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

#endif
