// lens_judgement.h - a lens judged by the overlay it gives, and the staged
// calibration that frees only what the views determine.
//
// What a user sees of a lens is where the overlay lands: on the board and
// above it, where the board has been seen. So a calibration is judged by the
// registration error it predicts there, in pixels of the picture:
//   E = sqrt(U^2 + B^2).
// U, the uncertainty: the spread of the overlay's places that the
// calibration's covariance predicts (the normal equations of the fit, the
// views' poses eliminated, times the residuals' variance), through a pose
// solved again from the board's corners as every frame solves it. It is
// measured at the board's corners and at the same points kOverlayTestHeight
// squares above the board, in the poses of the kept views (those inside the
// picture), times kUncertaintyInflation. B, the bias of a narrow stage: how
// far its overlay lies from that of a wider stage fitted to the same views,
// beyond what the wider stage's larger spread explains, where the wider
// stage explains the views better than noise would (the fall of the squared
// residuals, over the wider fit's residual variance, beyond the chi-square
// of the extra parameters by kBiasSignificance standard deviations); else the
// difference is the wider fit's own noise and counts for nothing. 0 for the
// widest stage fitted.
// A stage is trusted when it has its views (kStageMinTrustedViews), the
// next stage is fitted too (from kStageMinViews) (its bias is measured against it; the whole model has
// none), an RMS error under kTrustMaxRms, a radial distortion that does not fold inside the
// picture, and E under kMaxPredictedErrorPx or, for a noisier detection,
// the fit's RMS error (acceptablePredictedErrorPx): a lens that errs by as
// much as the detection's own noise adds little to what the pose already
// makes of that noise.
//
// The recent views (the latest sightings, kept or not) are the check that a
// new lens is no worse than the one in use: each is posed with the lens and
// its corners' RMS error measured; the median over the views is compared.
//
// Threads: plain functions over the records given; any thread.
// Cost: a calibration per stage with views enough (see lens_calibration.h)
// and about 1 ms per view for the predictions.
//
// Usage:
//     StagedCalibration staged;
//     calibrateStages(kept, recent, pattern, picture, &staged);
//     LensDecision d = decideLensSwitch(staged, kept, inUse, recent, pattern);
//     if (d.switchLens) use(staged.stages[d.stage].calibration.camera);
#ifndef APP_LENS_JUDGEMENT_H
#define APP_LENS_JUDGEMENT_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "lens_calibration.h"

using BoardViews = std::vector<std::vector<cv::Point2f>>;

// Predicted registration error a lens may have and still be taken into use:
// this many px, or this share of the corners' RMS error, whichever is more.
constexpr double kMaxPredictedErrorPx = 0.15;
constexpr double kPredictedErrorPerRms = 1.0;
// Height above the board of the points the overlay is judged at, squares.
constexpr double kOverlayTestHeight = 3.0;
// A lens replaces the one in use only when its predicted error is at most
// this share of the one in use's, or its recent views' error this share.
constexpr double kClearlyBetterPredicted = 0.7;
constexpr double kClearlyBetterRecent = 0.8;
// "No worse" on the recent views: within this share of the one in use's.
constexpr double kRecentTolerance = 0.01;
// A wider fit explains more than noise when its residuals fall by this many
// standard deviations beyond the chi-square's mean.
constexpr double kBiasSignificance = 3.0;
// The covariance takes the corners' errors to be independent; in a real
// picture a view's corners share their blur, lighting and compression, and
// the lens varies about twice as much as it says (measured on the rendered
// sweeps and desk videos of the corpus: overlay errors 1.6 to 2.3 times U).
constexpr double kUncertaintyInflation = 2.0;

struct StageJudgement {
    bool fitted;  // the stage had its views and its calibration succeeded
    LensCalibration calibration;
    double uncertaintyPx, biasPx, predictedPx;  // U, B, E
    double recentPx;  // median RMS over the recent views; NaN without any
    bool trusted;
    std::string why;  // the first failed test, when not trusted
};

struct StagedCalibration {
    StageJudgement stages[kLensStageCount];
    int best;  // the trusted stage with the least predicted error (narrower on a tie), -1 for none
    int widest;  // the widest stage fitted, -1 for none
};

// The lens the viewer uses now: a calibration taken into use, or (stage -1)
// its own pinhole camera from the first sighting.
struct LensInUse {
    int stage;  // LensStage, or -1
    CameraModel model;
    double uncertaintyPx;  // U when it was taken into use; infinite for stage -1
};

struct LensDecision {
    bool switchLens;
    int stage;              // the stage switched to, when switching
    double inUsePredictedPx;  // E of the lens in use against today's views
    double inUseRecentPx;     // its recent views' error
    std::string reason;     // why it switches or stays, for logs
};

// Calibrates every stage the views allow and judges each.
void calibrateStages(const BoardViews& kept, const BoardViews& recent, cv::Size pattern, cv::Size picture,
                     StagedCalibration* out);

// Whether to take the best stage into use instead of the lens in use.
// kept are the views the stages were calibrated from.
LensDecision decideLensSwitch(const StagedCalibration& staged, const BoardViews& kept, const LensInUse& inUse,
                              const BoardViews& recent, cv::Size pattern);

// The predicted error a calibration may have and be taken into use, px.
double acceptablePredictedErrorPx(const LensCalibration& fit);

// U of a calibration, over the poses of its kept views.
double overlayUncertaintyPx(const LensCalibration& fit, cv::Size pattern);

// RMS distance between the overlay's places through two calibrations of the
// same views, each in its own poses, over the views both kept.
double overlayDifferencePx(const LensCalibration& a, const LensCalibration& b, cv::Size pattern);

// The same for a fixed lens, posed on each view's corners, against a calibration.
double overlayDifferencePx(const CameraModel& lens, const LensCalibration& fit, const BoardViews& views,
                           cv::Size pattern);

// Median over the views of each view's corner RMS error, posed with the lens;
// NaN without views.
double recentViewsErrorPx(const CameraModel& lens, const BoardViews& views, cv::Size pattern);

#endif
