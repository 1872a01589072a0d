// options.cpp - the viewer's and arrender's command line on CLI11.
#include "options.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include <CLI/CLI.hpp>

#include "keys.h"
#include "ship.h"

namespace {

bool parseCount(const std::string& text, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 0) return false;
    *value = v;
    return true;
}

bool parseKeyName(const std::string& name, KeyAtFrame* key) {
    const KeyBinding* k = keyNamed(name);
    if (k == nullptr) return false;
    key->special = k->special;
    key->code = k->code;
    return true;
}

// "N:KEY,N:KEY,..." in any order; presses keep their order within a frame.
void parseKeys(const std::string& list, std::vector<KeyAtFrame>* keys) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t colon = item.find(':');
        KeyAtFrame key{};
        if (colon == std::string::npos || !parseCount(item.substr(0, colon), &key.frame) ||
            !parseKeyName(item.substr(colon + 1), &key))
            throw CLI::ValidationError("--keys", "bad key press '" + item + "' (expected FRAME:KEY, KEY one of " +
                                                     replayableKeyNames() + ")");
        keys->push_back(key);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
}

void parseSnapshot(const std::string& text, std::vector<Snapshot>* snapshots) {
    size_t colon = text.find(':');
    Snapshot s{};
    bool last = colon != std::string::npos && text.compare(0, colon, "last") == 0;
    if (last) s.frame = kLastFrame;
    if (colon == std::string::npos || (!last && !parseCount(text.substr(0, colon), &s.frame)) ||
        colon + 1 >= text.size())
        throw CLI::ValidationError("--snapshot", "bad snapshot '" + text + "' (expected N:FILE.png or last:FILE.png)");
    s.path = text.substr(colon + 1);
    snapshots->push_back(s);
}

// How the overlay looks: shadows, the models' light, smooth edges.
void addOverlayLookOptions(CLI::App* app, ViewerOptions* o) {
    app->add_flag("--shadows", o->shadows,
                  "the model casts its shadow onto the board and the occluders: the video\n"
                  "darkened where the model keeps the scene's light off (also `shadows:` in a scene)");
    app->add_option("--shadow-strength", o->shadowStrength,
                    "how dark a shadow is, 0 (none) to 1 (black); default the scene's, 0.5")
        ->type_name("S")
        ->check(CLI::Range(0.0, 1.0));
    app->add_option_function<std::string>(
           "--light",
           [o](const std::string& mode) {
               if (mode != "auto" && mode != "fixed")
                   throw CLI::ValidationError("--light", "expected auto or fixed, not '" + mode + "'");
               o->lightAuto = mode == "auto";
               o->render.lightColumns = o->lightAuto;
           },
           "auto: the light on models (not the 3DS ship) follows the light the board's\n"
           "white and black squares measure in the video; fixed (default): the scene's")
        ->type_name("auto|fixed");
    app->add_flag("--antialias", o->antialias, "draw the overlay's edges with 4x multisampling; the video stays as it is");
}

// Options that change what the frame loop does: the same in both programs.
void addFrameLoopOptions(CLI::App* app, ViewerOptions* o) {
    addBoardOption(app, &o->board);
    CLI::Option* camera = app->add_option("--camera", o->cameraFile,
                                          "undistort the video and the corners with this lens model (OpenCV's\n"
                                          "calibration file, YAML/XML/JSON, or ROS camera-info YAML)")
                              ->type_name("FILE");
    app->add_flag("--self-calibrate", o->selfCalibrate,
                  "find the lens model from the board while running: the focal length first,\n"
                  "then distortion and the principal point as the views allow; each lens is\n"
                  "taken into use once it is clearly better (one line on standard error)")
        ->excludes(camera);
    app->add_option("--save-camera", o->saveCameraFile,
                    "write the lens model in use to FILE when it changes and at the end")
        ->type_name("FILE");
    CLI::Option* scene =
        app->add_option("--scene", o->sceneFile, "what is drawn on the board: occluders and model (YAML)")
            ->type_name("FILE");
    app->add_option("--model", o->modelFile,
                    "show this model (OBJ, glTF, GLB, PLY, DAE, FBX, ...) standing on the board,\n"
                    "3 squares across, steered with the ship's keys; no occluders")
        ->type_name("FILE")
        ->excludes(scene);
    app->add_flag("--refine", o->refine,
                  "refine every calibration to the least reprojection error (pose, and f at the first)");
    app->add_flag("--track", o->track,
                  "follow the board's corners by optical flow while the whole board is not found\n"
                  "(a hand over it); the pose from the corners that stay");
    CLI::Option* smooth = app->add_flag("--smooth", o->smooth,
                                        "steady the overlay: a constant-velocity filter whose gain follows how far\n"
                                        "each pose lands from the predicted one, in the overlay's pixels, against\n"
                                        "the detection's own noise");
    requirePositive(app->add_option("--smooth-cutoff", o->smoothCutoffHz,
                                    "the filter's cutoff while the poses land within the noise (default 1)"))
        ->type_name("HZ")
        ->needs(smooth);
    requireNonNegative(app->add_option("--smooth-beta", o->smoothBeta,
                                       "how fast the cutoff rises, in Hz per squared noise level that a pose\n"
                                       "lands beyond 1.5 noise levels from the prediction (default 20)"))
        ->type_name("B")
        ->needs(smooth);
    addOverlayLookOptions(app, o);
    app->add_flag("--hud", o->hud,
                  "show the frame rate, the board's state and f in a corner of the picture;\n"
                  "with --self-calibrate also the views kept, the stage, the picture's cells\n"
                  "covered and where to bring the board next");
}

void addRecordingOptions(CLI::App* app, RenderOutputs* r) {
    app->add_option("-o,--video", r->videoPath, "write the composed pictures as an MJPG video")
        ->type_name("FILE.avi");
    app->add_option("--poses", r->posesPath,
                    "one row per frame: frame, found, the camera, reprojection RMS,\n"
                    "the lens model's fy, cx, cy, milliseconds per stage")
        ->type_name("FILE.csv");
    app->add_option_function<std::vector<std::string>>(
           "--snapshot",
           [r](const std::vector<std::string>& values) {
               for (const std::string& v : values) parseSnapshot(v, &r->snapshots);
           },
           "the composed picture of frame N, or of the last frame for N = last (repeatable)")
        ->type_name("N:FILE.png")
        ->take_all();
    app->add_option_function<std::vector<std::string>>(
           "--keys",
           [r](const std::vector<std::string>& values) {
               for (const std::string& v : values) parseKeys(v, &r->keys);
           },
           "key presses before frame N; KEY is one of " + replayableKeyNames() + " (see Keys below)")
        ->type_name("\"N:KEY,...\"")
        ->take_all();
    app->add_option_function<std::string>(
           "--frames",
           [r](const std::string& text) {
               if (!parseCount(text, &r->frameLimit))
                   throw CLI::ValidationError("--frames", "bad frame count '" + text + "'");
           },
           "stop after N frames")
        ->type_name("N");
    app->add_option("--frame-ages", r->frameAgesPath,
                    "one row per frame: the source frame drawn, when the reader had it and\n"
                    "when its picture was finished (ms), for measuring a live source's delay")
        ->type_name("FILE.csv");
    app->add_flag("--every-frame", r->everyFrame,
                  "draw every frame of a camera or stream in order, falling behind when the\n"
                  "loop is slower than the source (default: the newest frame, the rest dropped)");
}

CLI::App* newViewerApp(ViewerProgram program) {
    if (program == kViewerProgram)
        return new CLI::App(
            "Shows a video with a spaceship drawn on the chessboard it finds.",
            "arviewer");
    return new CLI::App(
        "Runs the viewer's frame loop without a window: finds the board, calibrates\n"
        "the camera and draws the ship on every frame of SOURCE. Frames count from 0.",
        "arrender");
}

}  // namespace

CommandLineOutcome parseViewerOptions(ViewerProgram program, int argc, char** argv, ViewerOptions* options) {
    std::unique_ptr<CLI::App> app(newViewerApp(program));
    setUpCommandLine(app.get());
    app->footer(keysHelp());
    CLI::Option* source =
        app->add_option("SOURCE", options->sources,
                        program == kViewerProgram
                            ? "a single digit (camera index, default 0), a video file, or a stream's URL\n"
                              "(http://, https://, rtsp://, udp://, tcp://; a phone's MJPEG camera app)"
                            : "a video file, a single digit for a camera, or a stream's URL");
    addFrameLoopOptions(app.get(), options);
    addCaptureOptions(app.get(), &options->capture);
    if (program == kRenderProgram) {
        source->required()->expected(1);
        addRecordingOptions(app.get(), &options->render);
    } else {
        app->add_flag("--fast", options->fast, "play a video file as fast as frames come, not at its own rate");
        app->add_flag("--reconnect", options->reconnect,
                      "a stream or camera that is lost is opened again every second, the lens and board kept");
    }
    return parseCommandLine(app.get(), argc, argv);
}
