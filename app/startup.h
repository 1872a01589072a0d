// startup.h - the start-up steps that do not depend on the windowing
// library: the buildings', board's and camera's records, the fixed lighting.
//
// Usage:
//     initRecords();           // before the first frame
//     if (!setUpCamera(options, 640, 480, kCalibrateInLoop, &error)) fail(error);
//     setUpLighting();         // once a GL context is current
#ifndef APP_STARTUP_H
#define APP_STARTUP_H

#include <string>

#include "command_line.h"
#include "options.h"
#include "self_calibration.h"

// The buildings' corner tables; the board's pattern (8 x 6 unless told),
// unit squares, origin at corner 0, and its world coordinates; camera not
// calibrated, clipping distances 1 and 100.
void initRecords(BoardSize board = kDefaultBoard);

// The camera's principal point before the first calibration (the picture
// centre halved as integers); with --camera, the lens model of the file,
// scaled to the picture; with --self-calibrate, the lens search, its
// calibrations done as work says; the --save-camera file. False, with one
// line of reason, when the camera file cannot be used.
bool setUpCamera(const ViewerOptions& options, int width, int height, SelfCalibrationWork work,
                 std::string* error);

// The scene: the built-in one, a --scene file's, or the built-in one without
// occluders and with the --model standing on the board; the model's start
// pose, and a model in another format than 3DS read. False, with a reason
// (empty when the model loader has printed its own), when it cannot be used.
bool setUpScene(const ViewerOptions& options, std::string* error);

// The end of a run: the lens search stopped, the lens in use saved. False,
// with a reason, when the --save-camera file could not be written.
bool finishCamera(std::string* error);

// Light 0 and the back-face material, in eye coordinates.
void setUpLighting();

#endif
