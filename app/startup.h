// startup.h - the start-up steps that do not depend on the windowing
// library: the buildings', board's and camera's records, the fixed lighting.
//
// Usage:
//     initRecords();           // before the first frame
//     if (!setUpCamera(options.cameraFile, 640, 480, &error)) fail(error);
//     setUpLighting();         // once a GL context is current
#ifndef APP_STARTUP_H
#define APP_STARTUP_H

#include <string>

#include "command_line.h"

// The buildings' corner tables; the board's pattern (8 x 6 unless told),
// unit squares, origin at corner 0, and its world coordinates; camera not
// calibrated, clipping distances 1 and 100.
void initRecords(BoardSize board = kDefaultBoard);

// The camera's principal point before the first calibration (the picture
// centre halved as integers) and, with --camera, the lens model of the file,
// scaled to the picture. False, with one line of reason, when the file
// cannot be used.
bool setUpCamera(const std::string& cameraFile, int width, int height, std::string* error);

// Light 0 and the back-face material, in eye coordinates.
void setUpLighting();

#endif
