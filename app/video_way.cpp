// video_way.cpp - the video's way into the frame, found by timing both.
#include "video_way.h"

#include <numeric>

namespace {

// Frames by number from the first: copied to kDrawnFirst, drawn to kTrialEnd.
constexpr int kCopiedTimedFirst = kVideoWaySettleFrames;
constexpr int kDrawnFirst = kCopiedTimedFirst + kVideoWayTrialFrames;
constexpr int kDrawnTimedFirst = kDrawnFirst + kVideoWaySwitchFrames;
constexpr int kTrialEnd = kDrawnTimedFirst + kVideoWayTrialFrames;

bool within(int frame, int first, int count) { return frame >= first && frame < first + count; }

double mean(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

}  // namespace

VideoWay nextVideoWay(VideoWayTrial* trial, double lastPeriodMs) {
    if (trial->decided) return trial->current;
    const int last = trial->frames - 1;
    if (lastPeriodMs >= 0 && within(last, kCopiedTimedFirst, kVideoWayTrialFrames)) trial->copied.push_back(lastPeriodMs);
    if (lastPeriodMs >= 0 && within(last, kDrawnTimedFirst, kVideoWayTrialFrames)) trial->drawn.push_back(lastPeriodMs);
    const int coming = trial->frames++;
    if (coming < kTrialEnd) {
        trial->current = coming < kDrawnFirst ? VideoWay::kCopied : VideoWay::kDrawn;
        return trial->current;
    }
    trial->decided = true;
    const bool timedBoth = !trial->copied.empty() && !trial->drawn.empty();
    const bool drawnFaster =
        timedBoth && mean(trial->drawn) < kVideoWayClearGain * mean(trial->copied);
    trial->current = drawnFaster ? VideoWay::kDrawn : VideoWay::kCopied;
    trial->copied.clear();
    trial->drawn.clear();
    return trial->current;
}
