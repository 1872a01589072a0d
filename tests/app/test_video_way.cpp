// The video's way found by timing both: copied while settling and timing
// it, drawn while timing that, then the faster kept for good; the drawn way
// only when clearly faster on the mean, a periodic long wait counted, and
// the untimed frames (settling, the switch) never sway the choice.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "video_way.h"

namespace {

constexpr int kTrialLength = kVideoWaySettleFrames + 2 * kVideoWayTrialFrames + kVideoWaySwitchFrames;

// The ways given to `frames` frames, each frame's period from periodOf(way, frame).
std::vector<VideoWay> run(int frames, const std::function<double(VideoWay, int)>& periodOf) {
    VideoWayTrial trial;
    std::vector<VideoWay> ways;
    double period = -1;  // none before the first frame
    for (int frame = 0; frame < frames; ++frame) {
        ways.push_back(nextVideoWay(&trial, period));
        period = periodOf(ways.back(), frame);
    }
    return ways;
}

}  // namespace

TEST(VideoWay, CopiesWhileSettlingAndTimingThenDrawsThenKeepsTheFasterForGood) {
    const auto drawnFaster = [](VideoWay way, int) { return way == VideoWay::kDrawn ? 12.0 : 17.0; };
    const std::vector<VideoWay> ways = run(kTrialLength + 100, drawnFaster);
    for (int frame = 0; frame < kVideoWaySettleFrames + kVideoWayTrialFrames; ++frame)
        EXPECT_EQ(ways[frame], VideoWay::kCopied) << "frame " << frame;
    for (int frame = kVideoWaySettleFrames + kVideoWayTrialFrames; frame < kTrialLength; ++frame)
        EXPECT_EQ(ways[frame], VideoWay::kDrawn) << "frame " << frame;
    for (int frame = kTrialLength; frame < static_cast<int>(ways.size()); ++frame)
        EXPECT_EQ(ways[frame], VideoWay::kDrawn) << "frame " << frame;

    const auto copiedFaster = [](VideoWay way, int) { return way == VideoWay::kDrawn ? 7.0 : 6.0; };
    const std::vector<VideoWay> back = run(kTrialLength + 100, copiedFaster);
    for (int frame = kTrialLength; frame < static_cast<int>(back.size()); ++frame)
        EXPECT_EQ(back[frame], VideoWay::kCopied) << "frame " << frame;
}

TEST(VideoWay, DrawsOnlyWhenClearlyFasterAndIgnoresUntimedFramesAndOutliers) {
    // 3 % faster is within the noise: copied.
    const auto barely = [](VideoWay way, int) { return way == VideoWay::kDrawn ? 9.7 : 10.0; };
    EXPECT_EQ(run(kTrialLength + 1, barely).back(), VideoWay::kCopied);
    // Slow settling frames and a slow first drawn frame (its ring being
    // made) do not count; the same outliers in both ways do not tip it.
    const auto noisy = [](VideoWay way, int frame) {
        if (frame < kVideoWaySettleFrames) return 500.0;
        if (frame < kVideoWaySettleFrames + kVideoWayTrialFrames + kVideoWaySwitchFrames && way == VideoWay::kDrawn)
            return 300.0;
        if (frame % 7 == 0) return 90.0;
        return way == VideoWay::kDrawn ? 12.0 : 16.0;
    };
    EXPECT_EQ(run(kTrialLength + 1, noisy).back(), VideoWay::kDrawn);
    // Fast drawn frames with a long wait every eighth, as llvmpipe gives
    // 1920 x 1080 pictures, are slower than steady copied ones.
    const auto stalls = [](VideoWay way, int frame) {
        if (way == VideoWay::kCopied) return 11.7;
        return frame % 8 == 0 ? 110.0 : 6.0;
    };
    EXPECT_EQ(run(kTrialLength + 1, stalls).back(), VideoWay::kCopied);
    // A run shorter than the trial ends in whichever way it was trying.
    const std::vector<VideoWay> brief = run(5, barely);
    EXPECT_EQ(brief.back(), VideoWay::kCopied);
}
