// startup.h - the one start-up of both programs that run the frame loop
// (arviewer, arrender), in this order: the video source; the buildings'
// corner tables, the board's pattern and world coordinates, the camera
// record; the video's size; the lens (--camera); the scene and its model;
// the pixel buffer (the viewer prints the size line); the window or the
// offscreen context; the light and the video's texture; the model's mesh
// and texture; the frame's stages. Last the threads: the lens search's
// worker (--self-calibrate, the viewer only) and the frame reader, so that
// every failure before them leaves nothing running.
//
// What differs between the two programs is the host: its name, where the
// lens search calibrates, how it opens its picture and loads its model, and
// the wording of a source that cannot be opened (the viewer's own line
// "Could not initialize capturing..." and status 255; arrender's "cannot
// open video source" and status 1). Every other failure is one line,
// "PROGRAM: reason", with status 1 (the viewer: 255 without a display or
// memory, as before any option existed).
//
// Threads: the frame loop's thread, before the loop and after it.
//
// Usage:
//     StartUpHost host = {"arrender", kCalibrateInLoop, false, false, openOffscreen, loadQuietly};
//     StartUpOutcome s = startUp(options, host, &video);
//     if (!s.run) return s.status;
//     ... the frame loop ...
//     shutDown();
//     if (!saveCameraInUse(&error)) fail(error);
#ifndef APP_STARTUP_H
#define APP_STARTUP_H

#include <string>

#include "command_line.h"
#include "options.h"
#include "self_calibration.h"
#include "video.h"

struct StartUpHost {
    const char* program;         // the prefix of its lines
    SelfCalibrationWork work;    // where the lens search calibrates
    bool viewerFailures;         // the viewer's wording and statuses
    bool printSize;              // "width=%d height=%d" on standard output
    // Opens what the frame is drawn in, at the video's size; false with a
    // reason in *error.
    bool (*openPicture)(int width, int height, std::string* error);
    // Loads the model's mesh and texture, the GL context current; false
    // ends the start-up with *status (its line printed).
    bool (*loadModel)(int* status);
};

struct StartUpOutcome {
    bool run;    // the frame loop may start
    int status;  // else the exit status
};

// What start-up learnt of the video before the reader took its capture.
struct VideoFacts {
    VideoSourceKind kind;
    double fps;        // as the capture says; may be 0 or NaN
    long frameCount;   // as the capture says; may be 0 or negative
};

StartUpOutcome startUp(const ViewerOptions& options, const StartUpHost& host, VideoFacts* video);

// After the loop (or a failure after start-up): the frame reader and the
// lens search stopped. The lens in use is saved by saveCameraInUse
// (lens_switch.h) when the run went well.
void shutDown();

// The start-up's steps that tests and benchmarks run on their own.
// The buildings' corner tables; the board's pattern (8 x 6 unless told),
// unit squares, origin at corner 0, and its world coordinates; camera not
// calibrated, clipping distances 1 and 100.
void initRecords(BoardSize board = kDefaultBoard);

// The camera's principal point before the first calibration (the picture
// centre halved as integers); with --camera, the lens model of the file,
// scaled to the picture; the --save-camera file. False, with one line of
// reason, when the camera file cannot be used.
bool setUpCamera(const ViewerOptions& options, int width, int height, std::string* error);

// The scene: the built-in one, a --scene file's, or the built-in one without
// occluders and with the --model standing on the board; the model's start
// pose, and a model in another format than 3DS read. False, with a reason
// (empty when the model loader has printed its own), when it cannot be used.
bool setUpScene(const ViewerOptions& options, std::string* error);

#endif
