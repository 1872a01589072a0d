// options.h - the command line of the viewer and of arrender, its windowless
// twin: one record and one definition for both, so that an option exists in
// both programs or in neither (arrender's recording options excepted).
//
// arviewer [SOURCE] [options]      SOURCE: nothing (camera 0), one digit (that
//                                  camera) or a video file; a second SOURCE is
//                                  the capture error, as an unopenable one.
// arrender SOURCE [options] [-o out.avi] [--poses poses.csv]
//          [--snapshot N:file.png]... [--keys "N:KEY,..."] [--frames N]
//
// State: none; parseViewerOptions fills the caller's record.
//
// Usage:
//     ViewerOptions options;
//     CommandLineOutcome outcome = parseViewerOptions(kViewerProgram, argc, argv, &options);
//     if (!outcome.run) return outcome.status;
#ifndef APP_OPTIONS_H
#define APP_OPTIONS_H

#include <string>
#include <vector>

#include "command_line.h"
#include "pose_filter.h"

struct Snapshot {
    long frame;  // kLastFrame: whichever frame comes last
    std::string path;
};
constexpr long kLastFrame = -1;

// A key press as the viewer's keyboard callbacks receive it.
struct KeyAtFrame {
    long frame;
    bool special;  // true: a special-key code, false: a character
    int code;
};

// What arrender keeps of the frames it draws.
struct RenderOutputs {
    std::string videoPath;  // empty: no video written
    std::string posesPath;  // empty: no poses written
    std::vector<Snapshot> snapshots;
    std::vector<KeyAtFrame> keys;
    long frameLimit = -1;  // -1: every frame of the source
    std::string frameAgesPath;  // empty: no frame ages written
    bool everyFrame = false;    // a live source's frames all drawn in order, none dropped
    bool lightColumns = false;  // --light auto: light_r, light_g, light_b after the poses' other columns
};

struct ViewerOptions {
    std::vector<std::string> sources;  // as given: none, one, or (an error) more
    BoardSize board = kDefaultBoard;
    std::string cameraFile;      // --camera: the lens model to undistort with
    bool selfCalibrate = false;  // --self-calibrate: find the lens model while running
    std::string saveCameraFile;  // --save-camera: where the lens model in use is written
    bool hud = false;            // --hud: frame rate, board state and f in the picture
    bool fast = false;           // --fast: the viewer plays a file as fast as it can
    bool reconnect = false;      // --reconnect: the viewer opens a lost stream or camera again
    bool refine = false;         // --refine: every calibration refined to the least reprojection error
    bool track = false;          // --track: a partly covered board followed by optical flow
    bool smooth = false;         // --smooth: the pose steadied from frame to frame
    double smoothCutoffHz = kPoseFilterMinCutoffHz;  // --smooth-cutoff: the cutoff while poses land within the noise
    double smoothBeta = kPoseFilterBeta;             // --smooth-beta: Hz per squared noise level beyond it
    std::string sceneFile;       // --scene: the occluders and the model, instead of the built-in scene
    std::string modelFile;       // --model: the built-in scene without occluders, with this model
    CaptureRequest capture;      // --capture-size, --capture-fps, --capture-format: a camera's mode
    bool shadows = false;        // --shadows: the model's shadow on the board and the occluders
    double shadowStrength = -1;  // --shadow-strength: 0..1; -1: the scene's (0.5 by default)
    bool lightAuto = false;      // --light auto: the models' light measured from the board's squares
    bool antialias = false;      // --antialias: the overlay drawn with 4x multisampling
    RenderOutputs render;        // arrender only
};

enum ViewerProgram { kViewerProgram, kRenderProgram };

CommandLineOutcome parseViewerOptions(ViewerProgram program, int argc, char** argv, ViewerOptions* options);

#endif
