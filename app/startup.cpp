// startup.cpp - the start-up sequence and its steps, and the end of a run.
#include "startup.h"

#include <cstdio>

#include "buildings.h"
#include "camera_file.h"
#include "frame.h"
#include "lens_switch.h"
#include "lighting.h"
#include "picture.h"
#include "ship.h"
#include "state.h"
#include "tracking.h"
#include "video_surface.h"

namespace {

constexpr double kSquareSize = 1.0;  // board units
constexpr double kNearDistance = 1.0, kFarDistance = 100.0;  // board units
constexpr double kStandingModelSize = 3.0;                   // squares, its largest side
constexpr int kViewerFailure = -1;  // exit status 255
constexpr int kRunFailure = 1;

StartUpOutcome failWith(int status, const char* program, const std::string& reason) {
    if (!reason.empty()) std::fprintf(stderr, "%s: %s\n", program, reason.c_str());
    return {false, status};
}

StartUpOutcome sourceFailure(const StartUpHost& host, const ViewerOptions& options) {
    if (host.viewerFailures) {
        std::fprintf(stderr, "Could not initialize capturing...\n");
        return {false, kViewerFailure};
    }
    std::string name = options.sources.empty() ? "0" : options.sources.front();
    return failWith(kRunFailure, host.program, "cannot open video source " + name);
}

// The picture's set-up once the GL context is current.
void setUpDrawing(int width, int height) {
    setUpLighting();
    setUpVideoBackground(width, height);
}

}  // namespace

void initRecords(BoardSize board) {
    setBuildingCorners();
    chess.patternSize = cv::Size(board.columns, board.rows);
    chess.originX = 0.0;
    chess.originY = 0.0;
    chess.squareSize = kSquareSize;
    initChessWordCoords(&chess);
    camera.calibrated = false;
    camera.zNear = kNearDistance;
    camera.zFar = kFarDistance;
}

bool setUpCamera(const ViewerOptions& options, int width, int height, std::string* error) {
    camera.cx = width / 2;
    camera.cy = height / 2;
    saveCameraTo(options.saveCameraFile);
    if (options.cameraFile.empty()) return true;
    CameraModel model;
    if (!readCameraFile(options.cameraFile, width, height, &model, error)) return false;
    if (!takeLensModel(model, width, height, &camera)) {
        *error = options.cameraFile + ": the lens model does not fit a " + std::to_string(width) + " x " +
                 std::to_string(height) + " picture";
        return false;
    }
    return true;
}

bool setUpScene(const ViewerOptions& options, std::string* error) {
    if (!options.sceneFile.empty() && !readSceneFile(options.sceneFile, &scene, error)) return false;
    if (!options.modelFile.empty()) {
        scene.occluders.clear();
        ScenePoint boardCentre = {(chess.patternSize.width - 1) / 2.0, 0.0, (chess.patternSize.height - 1) / 2.0};
        error->clear();
        if (!setUpStandingModel(options.modelFile, kStandingModelSize, boardCentre, &scene.model)) return false;
    }
    setUpModelLight(scene.light);
    if (options.shadows) scene.shadows.cast = true;
    if (options.shadowStrength >= 0) scene.shadows.strength = options.shadowStrength;
    error->clear();
    return setUpShip(scene.model);
}

StartUpOutcome startUp(const ViewerOptions& options, const StartUpHost& host, VideoFacts* video) {
    VideoSource source = chooseVideoSource(options.sources);
    const std::string refusal = captureOptionsRefusal(options.capture, options.sources);
    if (!refusal.empty()) return failWith(kUsageErrorStatus, host.program, refusal);
    if (!openVideoSource(source, options.capture, &movie)) return sourceFailure(host, options);
    initRecords(options.board);
    if (!readVideoSize(&movie)) return sourceFailure(host, options);
    if (movie.width > kMaxVideoSide || movie.height > kMaxVideoSide)
        return failWith(kRunFailure, host.program,
                        "the video's frames are " + std::to_string(movie.width) + " x " +
                            std::to_string(movie.height) + "; at most " + std::to_string(kMaxVideoSide) +
                            " x " + std::to_string(kMaxVideoSide) + " can be drawn");
    std::string error;
    if (!setUpCamera(options, movie.width, movie.height, &error)) return failWith(kRunFailure, host.program, error);
    if (!setUpScene(options, &error)) return failWith(kRunFailure, host.program, error);
    int memoryOrDisplay = host.viewerFailures ? kViewerFailure : kRunFailure;
    if (!allocatePixelBuffer(&movie)) return failWith(memoryOrDisplay, host.program, "not enough memory for the video frames");
    if (host.printSize) {
        std::printf("width=%d height=%d\n", movie.width, movie.height);
        std::fflush(stdout);
    }
    if (!host.openPicture(movie.width, movie.height, &error)) return failWith(memoryOrDisplay, host.program, error);
    setUpDrawing(movie.width, movie.height);
    int status = kRunFailure;
    if (!host.loadModel(&status)) return {false, status};
    setUpShipLook(options.antialias, movie.width, movie.height);
    chooseFrameStages(options);
    *video = {source.kind, movie.capture->get(cv::CAP_PROP_FPS),
              static_cast<long>(movie.capture->get(cv::CAP_PROP_FRAME_COUNT))};
    // The threads, last.
    if (options.selfCalibrate) startSelfCalibration(cv::Size(movie.width, movie.height), chess.patternSize, host.work);
    keepEveryFrame(options.render.everyFrame);
    startAcquisition(&movie);
    return {true, 0};
}

void shutDown() {
    stopAcquisition(&movie);
    stopSelfCalibration();
}
