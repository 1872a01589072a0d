// video_way.cpp - the video's way into the frame, found by timing both.
#include "video_way.h"

namespace {

// Frames by number from the first: copied to kDrawnFirst, drawn to kTrialEnd.
constexpr int kCopiedTimedFirst = kVideoWaySettleFrames;
constexpr int kDrawnFirst = kCopiedTimedFirst + kVideoWayTrialFrames;
constexpr int kDrawnTimedFirst = kDrawnFirst + kVideoWaySwitchFrames;
constexpr int kTrialEnd = kDrawnTimedFirst + kVideoWayTrialFrames;

bool within(int frame, int first, int count) { return frame >= first && frame < first + count; }

}  // namespace

VideoWay nextVideoWay(VideoWayTrial* trial, double lastPeriodMs) {
    if (trial->decided) return trial->current;
    const int last = trial->frames - 1;
    if (lastPeriodMs >= 0 && within(last, kCopiedTimedFirst, kVideoWayTrialFrames)) {
        trial->copiedMs += lastPeriodMs;
        ++trial->copiedFrames;
    }
    if (lastPeriodMs >= 0 && within(last, kDrawnTimedFirst, kVideoWayTrialFrames)) {
        trial->drawnMs += lastPeriodMs;
        ++trial->drawnFrames;
    }
    const int coming = trial->frames++;
    if (coming < kTrialEnd) {
        trial->current = coming < kDrawnFirst ? VideoWay::kCopied : VideoWay::kDrawn;
        return trial->current;
    }
    trial->decided = true;
    const bool timedBoth = trial->copiedFrames > 0 && trial->drawnFrames > 0;
    const bool drawnFaster = timedBoth && trial->drawnMs / trial->drawnFrames <
                                              kVideoWayClearGain * trial->copiedMs / trial->copiedFrames;
    trial->current = drawnFaster ? VideoWay::kDrawn : VideoWay::kCopied;
    return trial->current;
}
