// frame.cpp - the idle and display stage lists, in the order of the picture.
#include "frame.h"

#include <chrono>

#include "buildings.h"
#include "hud.h"
#include "lighting.h"
#include "picture.h"
#include "ship.h"
#include "state.h"
#include "tracking.h"
#include "video.h"
#include "video_surface.h"
#include "video_way.h"

const char* const kIdleStageNames[kIdleStageCount] = {"acquire", "track", "convert"};
const char* const kDisplayStageNames[kDisplayStageCount] = {"clear", "camera", "buildings", "video",
                                                            "ship",  "axes",   "hud",       "finish"};

namespace {

// Runs one stage, recording its duration when times are wanted.
template <typename Stage>
auto timed(double* slot, Stage stage) {
    auto start = std::chrono::steady_clock::now();
    struct Stop {
        double* slot;
        std::chrono::steady_clock::time_point start;
        ~Stop() {
            if (slot)
                *slot = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
    } stop{slot, start};
    return stage();
}

double* idleSlot(StageTimes* t, IdleStage s) { return t ? &t->idleMs[s] : nullptr; }
double* displaySlot(StageTimes* t, DisplayStage s) { return t ? &t->displayMs[s] : nullptr; }

// With a lens model the picture is undistorted on its way into the buffer.
void convertFrame() {
    if (lens.active) undistortPicture(lens, movie.frame, movie.pixels);
    else imgCvToGL(movie);
}

void loadCamera() { loadCameraMatrices(camera.projection, camera.modelView, movie.width, movie.height); }
void drawVideo() { drawVideoBackground(movie.pixels, movie.width, movie.height); }
void drawBoardAxes() { drawAxes(chess.patternSize.width, chess.patternSize.height); }

void nothing() {}

// The video's way into the frame, timed from one display to the next.
struct VideoWayClock {
    VideoWayTrial trial;
    std::chrono::steady_clock::time_point lastDisplay;
    bool displayed = false;
};
VideoWayClock videoWayClock;

void chooseVideoWay() {
    const auto now = std::chrono::steady_clock::now();
    const double period = videoWayClock.displayed
                              ? std::chrono::duration<double, std::milli>(now - videoWayClock.lastDisplay).count()
                              : -1.0;
    videoWayClock.lastDisplay = now;
    videoWayClock.displayed = true;
    setVideoWay(nextVideoWay(&videoWayClock.trial, period));
}

// Chosen at start-up: --hud, the scene's axes, --light auto.
void (*hudStage)() = nothing;
void (*countFrameForHud)() = nothing;
void (*axesStage)() = drawBoardAxes;
void (*lightStage)() = nothing;

}  // namespace

void chooseFrameStages(const ViewerOptions& options) {
    hudStage = !options.hud ? nothing : options.selfCalibrate ? drawHudWithGuidance : drawHudLine;
    countFrameForHud = options.hud ? noteFrameAnalysed : nothing;
    axesStage = scene.axes ? drawBoardAxes : nothing;
    lightStage = options.lightAuto ? followLightOfBoard : nothing;
    if (options.lightAuto) startFollowingBoardLight();
    chooseTrackingSteps(options);
}

bool acquireNextFrame(StageTimes* t) { return timed(idleSlot(t, kAcquireStage), acquireFrame); }

void analyseFrame(StageTimes* t) {
    timed(idleSlot(t, kTrackStage), trackBoard);
    lightStage();
    timed(idleSlot(t, kConvertStage), convertFrame);
    countFrameForHud();
}

bool runIdleStages(StageTimes* t) {
    if (!acquireNextFrame(t)) return false;
    analyseFrame(t);
    return true;
}

void runDisplayStages(StageTimes* t) {
    chooseVideoWay();
    timed(displaySlot(t, kClearStage), clearPicture);
    timed(displaySlot(t, kCameraStage), loadCamera);
    timed(displaySlot(t, kBuildingsStage), drawPhantomBuildings);
    timed(displaySlot(t, kVideoStage), drawVideo);
    timed(displaySlot(t, kShipStage), drawShip);
    timed(displaySlot(t, kAxesStage), axesStage);
    timed(displaySlot(t, kHudStage), hudStage);
    timed(displaySlot(t, kFinishStage), finishPicture);
}
