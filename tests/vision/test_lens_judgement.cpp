// The staged lens calibration and its judgement on boards seen through known
// lenses: which stage the views determine, how well the predicted error
// matches the real one, and when the lens in use is replaced.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "lens_judgement.h"
#include "lens_search.h"
#include "lens_views.h"

namespace {

// The overlay's true registration error of a calibration: its places
// against the true lens's, in the kept views.
double trueErrorPx(const TrueLens& lens, const LensCalibration& fit, const BoardViews& views) {
    CameraModel truth = centredPinholeCamera(lens.picture.width, lens.picture.height, lens.f);
    truth.cx = lens.cx, truth.cy = lens.cy;
    for (int k = 0; k < 5; ++k) truth.distortion[k] = lens.distortion[k];
    truth.distortionCount = 5;
    return overlayDifferencePx(truth, fit, views, lens.pattern);
}

// Tilted views spread over the picture's middle, facing several ways.
BoardViews tiltedViews(const TrueLens& lens, int n, double noise, unsigned seed) {
    std::mt19937 rng(seed);
    BoardViews views;
    const double places[6][2] = {{250, 200}, {390, 280}, {260, 290}, {380, 190}, {320, 240}, {300, 260}};
    for (int k = 0; k < n; ++k)
        views.push_back(seeBoard(lens, places[k % 6][0], places[k % 6][1], 0.35, 30 + 3 * k, 75.0 * k, noise, &rng));
    return views;
}

}  // namespace

TEST(StagedLens, FocalLengthAloneIsTrustedFromAFewTiltedViews) {
    TrueLens lens = pinholeLens(600);
    BoardViews views = tiltedViews(lens, 4, 0.1, 1);
    StagedCalibration staged;
    calibrateStages(views, views, lens.pattern, lens.picture, &staged);
    const StageJudgement& focal = staged.stages[kStageFocal];
    ASSERT_TRUE(focal.fitted);
    EXPECT_TRUE(focal.trusted) << focal.why;
    EXPECT_NEAR(focal.calibration.camera.fx, 600, 0.005 * 600);
    EXPECT_EQ(focal.calibration.camera.cx, 320);
    EXPECT_EQ(focal.calibration.camera.distortion[0], 0);
    EXPECT_FALSE(staged.stages[kStageCentre].fitted);  // six views are needed to free the centre
    ASSERT_GE(staged.best, 0);
    EXPECT_LE(staged.best, kStageRadial);
    EXPECT_LT(trueErrorPx(lens, staged.stages[staged.best].calibration, views), 0.1);
}

TEST(StagedLens, PrincipalPointIsNotFreedFromCentredViews) {
    TrueLens lens = pinholeLens(600);
    BoardViews views = deskViews(lens, 12, 0.1, 2);
    StagedCalibration staged;
    calibrateStages(views, views, lens.pattern, lens.picture, &staged);
    ASSERT_TRUE(staged.stages[kStageFull].fitted);
    ASSERT_GE(staged.best, 0);
    EXPECT_LE(staged.best, kStageRadial) << "stage " << lensStageName(static_cast<LensStage>(staged.best));
    // The whole model, free to move the centre, is less sure of the overlay.
    EXPECT_GT(staged.stages[kStageFull].uncertaintyPx, staged.stages[staged.best].uncertaintyPx);
}

TEST(StagedLens, ABarrelLensIsNotTakenForAPinholeCamera) {
    TrueLens lens;  // k1 -0.3, the centre 10 px off
    BoardViews views = deskViews(lens, 10, 0.1, 3);
    StagedCalibration staged;
    calibrateStages(views, views, lens.pattern, lens.picture, &staged);
    const StageJudgement& focal = staged.stages[kStageFocal];
    ASSERT_TRUE(focal.fitted);
    EXPECT_FALSE(focal.trusted);
    EXPECT_GT(trueErrorPx(lens, focal.calibration, views), 0.3);
    ASSERT_GE(staged.best, kStageRadial);
    const StageJudgement& best = staged.stages[staged.best];
    EXPECT_LT(trueErrorPx(lens, best.calibration, views), 0.3);
}

TEST(StagedLens, PredictedUncertaintyMatchesTheLensesSpread) {
    // Over many noisy calibrations, the predicted spread of the overlay (U)
    // and the true errors' spread agree.
    TrueLens lens = pinholeLens(700);
    double predicted = 0, actual = 0;
    const int trials = 25;
    for (int t = 0; t < trials; ++t) {
        BoardViews views = tiltedViews(lens, 5, 0.25, 100 + t);
        LensCalibration fit;
        std::string error;
        ASSERT_TRUE(calibrateLens(views, lens.pattern, lens.picture, &fit, &error, kStageFocal)) << error;
        double u = overlayUncertaintyPx(fit, lens.pattern), e = trueErrorPx(lens, fit, views);
        predicted += u * u, actual += e * e;
    }
    // Independent noise, as the covariance takes it: U without its
    // inflation for real pictures is the true spread.
    double ratio = std::sqrt(actual / predicted) * kUncertaintyInflation;
    EXPECT_GT(ratio, 0.6);
    EXPECT_LT(ratio, 1.6);
}

CameraModel modelOf(const TrueLens& lens) {
    CameraModel m = centredPinholeCamera(lens.picture.width, lens.picture.height, lens.f);
    m.cx = lens.cx, m.cy = lens.cy;
    for (int k = 0; k < 5; ++k) m.distortion[k] = lens.distortion[k];
    m.distortionCount = 5;
    return m;
}

TEST(LensSwitch, NoSwitchToALensThatRegistersTheRecentViewsWorse) {
    // The lens in use is the camera's own (a strong barrel). Views taken
    // through a weaker barrel (as boards misread at a picture's edge would
    // be) make a lens that is sure of itself, while the board the camera
    // sees now is registered worse by it: the lens in use stays.
    TrueLens lens, wrong;
    wrong.distortion[0] = -0.15, wrong.distortion[1] = 0.0;
    BoardViews pulled = sweep(wrong, 300, 0.1, 4), recent = deskViews(lens, 10, 0.1, 6);
    ViewCollection collection;
    initViewCollection(&collection, lens.picture, lens.pattern, kDefaultCalibrationViews);
    for (size_t k = 0; k < pulled.size(); ++k) offerView(&collection, pulled[k], cv::Mat(), static_cast<long>(k));
    BoardViews kept = keptCorners(collection);
    StagedCalibration staged;
    calibrateStages(kept, recent, lens.pattern, lens.picture, &staged);
    ASSERT_GE(staged.best, 0) << staged.stages[kStageFull].why;
    LensInUse inUse{kStageFull, modelOf(lens), 0.3};
    LensDecision d = decideLensSwitch(staged, kept, inUse, recent, lens.pattern);
    EXPECT_GT(staged.stages[staged.best].recentPx, d.inUseRecentPx);
    EXPECT_FALSE(d.switchLens) << d.reason;
    EXPECT_NE(d.reason.find("registers the recent views worse"), std::string::npos) << d.reason;
    // Seen through the same camera, the recent views take the better lens.
    BoardViews recentlyWrong = deskViews(wrong, 10, 0.1, 6);
    calibrateStages(kept, recentlyWrong, lens.pattern, lens.picture, &staged);
    d = decideLensSwitch(staged, kept, inUse, recentlyWrong, lens.pattern);
    EXPECT_TRUE(d.switchLens) << d.reason;
}

TEST(LensSearch, SwitchesEarlyThenWidensUntilTheWholeModelAndRepeatsExactly) {
    TrueLens lens;
    BoardViews frames = sweep(lens, 400, 0.08, 7);
    CameraModel final[2];
    for (int run = 0; run < 2; ++run) {
        LensSearch search;
        initLensSearch(&search, lens.picture, lens.pattern);
        std::vector<int> stages, viewsAtSwitch;
        for (size_t k = 0; k < frames.size() && !search.done; ++k) {
            if (!offerLensView(&search, frames[k], cv::Mat(), static_cast<long>(k), 560.0)) continue;
            LensAttempt attempt = prepareLensAttempt(&search);
            LensAttemptResult result;
            runLensAttempt(attempt, &result);
            if (acceptLensAttempt(&search, attempt, result)) {
                stages.push_back(search.inUse.stage);
                viewsAtSwitch.push_back(static_cast<int>(attempt.kept.size()));
            }
        }
        ASSERT_FALSE(stages.empty());
        EXPECT_LE(viewsAtSwitch.front(), 9);
        EXPECT_TRUE(search.done);
        EXPECT_EQ(stages.back(), kStageFull);
        for (size_t k = 1; k < stages.size(); ++k) EXPECT_GE(viewsAtSwitch[k], viewsAtSwitch[k - 1]);
        final[run] = search.inUse.model;
        EXPECT_NEAR(final[run].fx, lens.f, 0.005 * lens.f);
        EXPECT_NEAR(final[run].cx, lens.cx, 2.0);
        EXPECT_NEAR(final[run].distortion[0], lens.distortion[0], 0.02);
    }
    EXPECT_EQ(final[0].fx, final[1].fx);
    EXPECT_EQ(final[0].distortion[1], final[1].distortion[1]);
}

TEST(ViewGuidance, NamesTheRegionsAndTiltsTheViewsMiss) {
    TrueLens lens = pinholeLens(600);
    ViewCollection views;
    initViewCollection(&views, lens.picture, lens.pattern, kDefaultCalibrationViews);
    offerView(&views, seeBoard(lens, 320, 240, 0.3, 10, 0), cv::Mat(), 0);
    ViewGuidance g = guideViews(views);
    EXPECT_TRUE(g.missing[0] && g.missing[8] && !g.missing[4]);
    EXPECT_TRUE(g.steeperTilts);
    EXPECT_EQ(g.suggested, 0);  // a corner first: the top left
    EXPECT_EQ(describeGuidance(g).rfind("views 1 of 25; missing: top left, top, top right", 0), 0u)
        << describeGuidance(g);
    // Boards brought to every part, tilted every way: nothing missing.
    for (double u : {0.22, 0.5, 0.78})
        for (double v : {0.25, 0.5, 0.75})
            for (double azimuth : {0, 90, 180, 270})
                offerView(&views, seeBoard(lens, u * 640, v * 480, 0.3, 35, azimuth + 100 * u), cv::Mat(), 1);
    g = guideViews(views);
    EXPECT_EQ(g.suggested, -1) << describeGuidance(g);
    EXPECT_FALSE(g.steeperTilts || g.otherTiltDirections);
    EXPECT_NE(describeGuidance(g).find("nothing missing"), std::string::npos);
}
