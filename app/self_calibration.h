// self_calibration.h - finding the lens while the viewer runs, for users
// without a camera file: every sighting of the whole board is offered to a
// view collection (spread over the picture and its tilts, sharp, no
// repeats); whenever it has gained enough new views the lens is calibrated
// from them, and the first trustworthy calibration is handed back for the
// viewer to switch to.
//
// Two ways to compute. On a worker thread (the viewer): the frame loop keeps
// drawing meanwhile, and the result is picked up by the first frame after it
// is ready. In the loop (arrender): the calibration runs inside the frame at
// which the views suffice, so the switch falls at a frame fixed by the video
// alone and every run gives the same poses.
//
// The worker only runs OpenCV's calibration on a copy of the views: it never
// calls the Tsai calibrations, whose module storage the frame loop uses.
// Every function here is called from the frame loop's thread.
//
// Usage:
//     startSelfCalibration(cv::Size(640, 480), cv::Size(8, 6), kCalibrateOnWorker);
//     offerBoardView(frame, corners, 48, frameIndex);     // frames with the board
//     if (takeTrustedLens(&model)) switchTo(model);        // every frame
#ifndef APP_SELF_CALIBRATION_H
#define APP_SELF_CALIBRATION_H

#include <opencv2/core.hpp>

#include "camera_file.h"

enum SelfCalibrationWork { kCalibrateOnWorker, kCalibrateInLoop };

void startSelfCalibration(cv::Size picture, cv::Size pattern, SelfCalibrationWork work);

// A frame (8-bit BGR) in which the whole board was found, its corners in the
// detector's order and the frame's number. Does nothing once a lens has been
// handed back, or before startSelfCalibration.
void offerBoardView(const cv::Mat& frame, const cv::Point2f* corners, int count, long frameIndex);

// True, once, with the first trustworthy lens model.
bool takeTrustedLens(CameraModel* model);

// Ends the worker, if any; a calibration under way is waited for.
void stopSelfCalibration();

#endif
