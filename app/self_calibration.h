// self_calibration.h - finding the lens while the viewer runs, for users
// without a camera file: every sighting of the whole board goes to the lens
// search (lens_search.h), which calibrates only what its views determine,
// narrow models first, and hands back each lens that is clearly better than
// the one in use, until the whole model is in use.
//
// Two ways to compute. On a worker thread (the viewer): the frame loop keeps
// drawing meanwhile, and a result is picked up by the first frame after it
// is ready. In the loop (arrender): the calibrations run inside the frame at
// which the views call for them, so every switch falls at a frame fixed by
// the video alone and every run gives the same poses.
//
// The worker only runs OpenCV's calibration on a copy of the views: it never
// calls the Tsai calibrations, whose module storage the frame loop uses.
// State: the lens search, the worker and its hand-over, private here. Every
// function here is called from the frame loop's thread.
//
// Usage:
//     startSelfCalibration(cv::Size(640, 480), cv::Size(8, 6), kCalibrateOnWorker);
//     offerBoardView(frame, corners, 48, frameIndex, camera.f);   // frames with the board
//     if (takeTrustedLens(&model, &report)) switchTo(model);      // every frame
#ifndef APP_SELF_CALIBRATION_H
#define APP_SELF_CALIBRATION_H

#include <opencv2/core.hpp>

#include "calibration_views.h"
#include "camera_file.h"

enum SelfCalibrationWork { kCalibrateOnWorker, kCalibrateInLoop };

// What a switch took into use, for the line on standard error.
struct LensSwitchReport {
    int stage;                  // LensStage
    int views;                  // views the lens was calibrated from
    double predictedPx;         // its predicted registration error
    long framesWhileComputing;  // frames the loop went through meanwhile (0 in the loop)
};

// Where the search stands, for the HUD.
struct SelfCalibrationStatus {
    bool running;
    bool done;   // the whole model is in use: nothing more to collect
    int stage;   // the stage in use, -1 for none yet
    ViewGuidance guidance;
};

void startSelfCalibration(cv::Size picture, cv::Size pattern, SelfCalibrationWork work);

// A frame (8-bit BGR) in which the whole board was found, its corners in the
// detector's order, the frame's number and the viewer's f (0 before its
// first calibration). Does nothing once the search is done, or before
// startSelfCalibration.
void offerBoardView(const cv::Mat& frame, const cv::Point2f* corners, int count, long frameIndex,
                    double viewerFocal);

// True, once per switch, with the lens to take into use.
bool takeTrustedLens(CameraModel* model, LensSwitchReport* report);

SelfCalibrationStatus selfCalibrationStatus();

// Ends the search and its worker, if any; a calibration under way is waited
// for. Later offers and takes do nothing until the next start.
void stopSelfCalibration();

#endif
