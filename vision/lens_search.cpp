// lens_search.cpp - the views, the attempts and the lens in use.
#include "lens_search.h"

#include <cmath>

void initLensSearch(LensSearch* search, cv::Size picture, cv::Size pattern) {
    initViewCollection(&search->views, picture, pattern, kDefaultCalibrationViews);
    search->recent.clear();
    search->lastRecentFrame = -kRecentSpacing;
    search->inUse = LensInUse{-1, centredPinholeCamera(picture.width, picture.height, 0.0), INFINITY};
    search->done = false;
    search->changesAtLastAttempt = 0;
    search->attempted = false;
    search->switches = 0;
}

bool offerLensView(LensSearch* search, const std::vector<cv::Point2f>& corners, const cv::Mat& grey, long frame,
                   double viewerFocal) {
    if (search->done) return false;
    if (search->inUse.stage < 0 && viewerFocal > 0) {
        const cv::Size& p = search->views.picture;
        search->inUse.model = centredPinholeCamera(p.width, p.height, viewerFocal);
    }
    ViewVerdict verdict = ViewVerdict::kMalformed;
    offerView(&search->views, corners, grey, frame, &verdict);
    bool sharp = verdict != ViewVerdict::kBlurred && verdict != ViewVerdict::kMalformed;
    if (sharp && frame - search->lastRecentFrame >= kRecentSpacing) {
        search->recent.push_back(corners);
        if (static_cast<int>(search->recent.size()) > kRecentViews) search->recent.pop_front();
        search->lastRecentFrame = frame;
    }
    if (static_cast<int>(search->views.views.size()) < kStageMinViews[kStageFocal]) return false;
    if (!(search->inUse.model.fx > 0)) return false;
    // While the views are few, each new one may decide a stage.
    long between = static_cast<long>(search->views.views.size()) < kFewViews ? 1 : kChangesBetweenAttempts;
    return !search->attempted || search->views.changes >= search->changesAtLastAttempt + between;
}

LensAttempt prepareLensAttempt(LensSearch* search) {
    search->attempted = true;
    search->changesAtLastAttempt = search->views.changes;
    LensAttempt a;
    a.changes = search->views.changes;
    a.kept = keptCorners(search->views);
    a.recent.assign(search->recent.begin(), search->recent.end());
    a.inUse = search->inUse;
    a.pattern = search->views.pattern;
    a.picture = search->views.picture;
    return a;
}

void runLensAttempt(const LensAttempt& attempt, LensAttemptResult* result) {
    calibrateStages(attempt.kept, attempt.recent, attempt.pattern, attempt.picture, &result->staged);
    result->decision = decideLensSwitch(result->staged, attempt.kept, attempt.inUse, attempt.recent, attempt.pattern);
}

bool acceptLensAttempt(LensSearch* search, const LensAttempt& attempt, const LensAttemptResult& result) {
    if (!result.decision.switchLens || attempt.inUse.stage != search->inUse.stage) return false;
    const StageJudgement& chosen = result.staged.stages[result.decision.stage];
    search->inUse = LensInUse{result.decision.stage, chosen.calibration.camera, chosen.uncertaintyPx};
    search->done = result.decision.stage == kStageFull;
    ++search->switches;
    return true;
}
