// frame.h - one frame of the viewer as two stage lists: the idle stages
// (acquire, track, convert) and the display stages (clear, camera,
// buildings, video, ship, axes, finish). The windowing layer calls them and adds its own redisplay
// request and buffer swap, so any program with a current GL context can run
// the same loop.
//
// Usage:
//     if (runIdleStages(nullptr)) requestRedisplay();
//     runDisplayStages(nullptr); swapBuffers();
#ifndef APP_FRAME_H
#define APP_FRAME_H

enum IdleStage { kAcquireStage, kTrackStage, kConvertStage, kIdleStageCount };
enum DisplayStage {
    kClearStage,
    kCameraStage,
    kBuildingsStage,
    kVideoStage,
    kShipStage,
    kAxesStage,
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

// Runs the idle stages on the next frame. False when the capture delivered
// no frame: nothing else ran and nothing needs to be redrawn.
bool runIdleStages(StageTimes* times);

// Composes the picture into the current draw buffer (without swapping it).
void runDisplayStages(StageTimes* times);

#endif
