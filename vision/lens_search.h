// lens_search.h - finding the lens from the sightings of a running video:
// the view collection, the recent views, the staged calibrations and the
// lens in use, as one record that the caller owns.
//
// Every sighting of the whole board (corners refined, with its picture) is
// offered: the collection keeps the views that make a good calibration
// (calibration_views.h) and the latest sharp sightings, a few frames apart,
// are the recent views. Whenever the collection has changed (by
// kChangesBetweenAttempts views once it holds kFewViews) an attempt is due: every stage the views
// allow is calibrated and judged (lens_judgement.h), and the best one is
// taken into use when it is clearly better than the lens in use and no worse
// on the recent views. The search is done once the whole model is in use.
//
// An attempt is a copy (prepareLensAttempt), so it can run on another
// thread while the search goes on taking views; acceptLensAttempt takes its
// result back. Nothing here keeps global state.
//
// Usage:
//     LensSearch search;
//     initLensSearch(&search, cv::Size(640, 480), cv::Size(8, 6));
//     if (offerLensView(&search, corners, grey, frame, viewerF)) {     // every sighting
//         LensAttempt a = prepareLensAttempt(search);
//         LensAttemptResult r; runLensAttempt(a, &r);                  // any thread
//         if (acceptLensAttempt(&search, a, r)) use(search.inUse.model);
//     }
#ifndef APP_LENS_SEARCH_H
#define APP_LENS_SEARCH_H

#include <deque>
#include <vector>

#include <opencv2/core.hpp>

#include "calibration_views.h"
#include "lens_judgement.h"

// An attempt is due once the collection has changed by this many views;
// with under kFewViews views, at every change.
constexpr long kChangesBetweenAttempts = 3;
constexpr int kFewViews = 10;
// The recent views: the latest this many sharp sightings, at least
// kRecentSpacing frames apart.
constexpr int kRecentViews = 12;
constexpr long kRecentSpacing = 4;

struct LensSearch {
    ViewCollection views;
    std::deque<std::vector<cv::Point2f>> recent;
    long lastRecentFrame;
    LensInUse inUse;  // stage -1: the viewer's own pinhole camera
    bool done;        // the whole model is in use
    long changesAtLastAttempt;
    bool attempted;
    int switches;
};

struct LensAttempt {
    long changes;  // the collection's changes when it was prepared
    BoardViews kept, recent;
    LensInUse inUse;
    cv::Size pattern, picture;
};

struct LensAttemptResult {
    StagedCalibration staged;
    LensDecision decision;
};

void initLensSearch(LensSearch* search, cv::Size picture, cv::Size pattern);

// A sighting: the whole pattern's corners (refined), the 8-bit grey picture
// and the frame's number, and f of the viewer's pinhole camera (its lens
// before any calibration is taken into use). True when an attempt is due.
bool offerLensView(LensSearch* search, const std::vector<cv::Point2f>& corners, const cv::Mat& grey, long frame,
                   double viewerFocal);

// A copy of what an attempt needs; marks the attempt as made.
LensAttempt prepareLensAttempt(LensSearch* search);

// Calibrates and decides; any thread.
void runLensAttempt(const LensAttempt& attempt, LensAttemptResult* result);

// Takes a result back: true when it switched the lens in use (then in
// search->inUse). A result for another lens in use than the search's now is
// dropped.
bool acceptLensAttempt(LensSearch* search, const LensAttempt& attempt, const LensAttemptResult& result);

#endif
