// frame.h - one frame of the viewer as two stage lists: the idle stages
// (acquire, track, the light with --light auto, convert) and the display
// stages (clear, camera, buildings, video, ship, axes, hud, finish). The
// windowing layer calls them and adds its own redisplay request and buffer
// swap, so any program with a current GL context can run the same loop.
//
// Which optional stages do their work (the hud, the light) is chosen once at
// start-up. The light's stage has no time of its own: it is short, and the
// stage times' columns stay as they were.
//
// State: the stages chosen at start-up, private here. Threads: the frame
// loop's thread only, with the picture's GL context current.
//
// Usage:
//     chooseFrameStages(options);
//     if (runIdleStages(nullptr)) requestRedisplay();
//     runDisplayStages(nullptr); swapBuffers();
#ifndef APP_FRAME_H
#define APP_FRAME_H

#include "options.h"

enum IdleStage { kAcquireStage, kTrackStage, kConvertStage, kIdleStageCount };
enum DisplayStage {
    kClearStage,
    kCameraStage,
    kBuildingsStage,
    kVideoStage,
    kShipStage,
    kAxesStage,
    kHudStage,
    kFinishStage,
    kDisplayStageCount
};

// Milliseconds spent in each stage of the latest call; optional everywhere.
struct StageTimes {
    double idleMs[kIdleStageCount];
    double displayMs[kDisplayStageCount];
};

extern const char* const kIdleStageNames[kIdleStageCount];
extern const char* const kDisplayStageNames[kDisplayStageCount];

// The optional stages the options ask for.
void chooseFrameStages(const ViewerOptions& options);

// The acquire stage alone: false when the capture delivered no frame.
bool acquireNextFrame(StageTimes* times);

// The idle stages after acquisition, on the frame just acquired.
void analyseFrame(StageTimes* times);

// acquireNextFrame, then analyseFrame when there was a frame. False when the
// capture delivered no frame: nothing else ran and nothing needs redrawing.
bool runIdleStages(StageTimes* times);

// Composes the picture into the current draw buffer (without swapping it).
void runDisplayStages(StageTimes* times);

#endif
