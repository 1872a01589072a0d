// lens_switch.h - changing the lens model while the viewer runs, and keeping
// the one in use: a self-calibration's trusted lens replaces the camera from
// the next frame on (corners, picture and projection alike), and the lens
// in use is written to the --save-camera file when it changes and at the end.
//
// State: the --save-camera file's name, private here. Threads: the frame
// loop's thread only.
//
// Usage:
//     saveCameraTo("camera.yml");          // start-up
//     switchToTrustedLens();               // every frame, before tracking
//     saveCameraInUse(&error);             // at the end of the run
#ifndef APP_LENS_SWITCH_H
#define APP_LENS_SWITCH_H

#include <string>

#include "camera_file.h"
#include "state.h"

// Where the lens in use is written (empty: nowhere).
void saveCameraTo(const std::string& path);

// From now on the picture and the corners are undistorted with the lens
// model (for a picture of this size), the camera is its pinhole camera (f =
// fx, fy, cx, cy) and every sighting calibrates the pose only. False, with
// nothing changed, when the model does not fit the picture.
bool takeLensModel(const CameraModel& model, int width, int height, Camera* cam);

// Takes the self-calibration's lens when one is ready, says so on standard
// error (stage, f, principal point, RMS) and writes it to the --save-camera
// file; true when it switched.
bool switchToTrustedLens();

// Writes the lens in use, or the pinhole camera of the calibration when no
// lens model came, to the --save-camera file. True when there is no such
// file; false, with a reason, when the camera is not known yet or the file
// cannot be written.
bool saveCameraInUse(std::string* error);

#endif
