// video_way.h - which way the video goes into the frame (copied or drawn,
// render/video_surface.h), found by trying both: after a few frames to
// settle, a stretch of frames copied, then a stretch drawn, each frame's
// period (from one display to the next) noted; the drawn way is kept when
// its mean period is clearly shorter, the copied way otherwise, for the
// rest of the run. The mean, not the median: where the picture is large,
// the drawn way runs fast for several frames and then waits for all of
// them at once (a texture of the ring still waited on), which only the
// mean counts. The pictures are the same either way, only the time
// differs, so the choice is measured on the machine, the model and the
// picture at hand rather than guessed.
//
// Usage (at the start of each display):
//     static VideoWayTrial trial;
//     setVideoWay(nextVideoWay(&trial, millisecondsSinceLastDisplay));  // < 0 for the first
#ifndef APP_VIDEO_WAY_H
#define APP_VIDEO_WAY_H

#include "video_surface.h"

constexpr int kVideoWaySettleFrames = 10;  // first frames not timed (programs compiled, caches filled)
constexpr int kVideoWayTrialFrames = 12;   // timed frames of each way: more than a ring round
constexpr int kVideoWaySwitchFrames = kMaxVideoTextures;  // not timed after switching: the ring made, filled once
constexpr double kVideoWayClearGain = 0.95;  // drawn kept when its mean is under this share of copied

struct VideoWayTrial {
    int frames = 0;  // frames given a way so far
    VideoWay current = VideoWay::kCopied;
    bool decided = false;
    double copiedMs = 0, drawnMs = 0;  // the timed frames' periods, summed
    int copiedFrames = 0, drawnFrames = 0;
};

// The way for the coming frame, given the last frame's period (ms, drawn
// the way the trial last returned; negative: none yet).
VideoWay nextVideoWay(VideoWayTrial* trial, double lastPeriodMs);

#endif
