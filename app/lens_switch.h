// lens_switch.h - changing the lens model while the viewer runs, and keeping
// the one in use: a self-calibration's trusted lens replaces the camera from
// the next frame on (corners, picture and projection alike), and the lens
// in use is written to the --save-camera file when it changes and at the end.
//
// Usage:
//     saveCameraTo("camera.yml");          // start-up
//     switchToTrustedLens();               // every frame, before tracking
//     saveCameraInUse(&error);             // at the end of the run
#ifndef APP_LENS_SWITCH_H
#define APP_LENS_SWITCH_H

#include <string>

// Where the lens in use is written (empty: nowhere).
void saveCameraTo(const std::string& path);

// Takes the self-calibration's lens when one is ready, says so on standard
// error (f, principal point, RMS) and writes it to the --save-camera file.
void switchToTrustedLens();

// Writes the lens in use, or the pinhole camera of the calibration when no
// lens model came, to the --save-camera file. True when there is no such
// file; false, with a reason, when the camera is not known yet or the file
// cannot be written.
bool saveCameraInUse(std::string* error);

#endif
