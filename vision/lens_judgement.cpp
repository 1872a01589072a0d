// lens_judgement.cpp - predicted registration errors of calibrations, and
// the choice between the stages and the lens in use.
#include "lens_judgement.h"

#include <algorithm>
#include <cmath>

#include <opencv2/calib3d.hpp>

namespace {

// cv::projectPoints' Jacobian: rotation 3, translation 3, fx fy, cx cy, then
// the distortion coefficients.
constexpr int kPoseColumns = 6;
constexpr int kIntrinsicColumns = 9;  // fx fy cx cy k1 k2 p1 p2 k3
constexpr int kProjectedCoefficients = 5;

std::vector<cv::Point3d> boardPoints(cv::Size pattern, double height) {
    std::vector<cv::Point3d> points;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < pattern.width; ++j) points.emplace_back(j, i, -height);  // the camera looks along +Z
    return points;
}

// The board's corners, then the same points above the board.
std::vector<cv::Point3d> testPoints(cv::Size pattern) {
    std::vector<cv::Point3d> points = boardPoints(pattern, 0.0), raised = boardPoints(pattern, kOverlayTestHeight);
    points.insert(points.end(), raised.begin(), raised.end());
    return points;
}

cv::Mat cameraMatrix(const CameraModel& m) {
    return (cv::Mat_<double>(3, 3) << m.fx, 0, m.cx, 0, m.fy, m.cy, 0, 0, 1);
}

cv::Mat distortionOf(const CameraModel& m, int count) {
    cv::Mat d(1, count, CV_64F);
    for (int k = 0; k < count; ++k) d.at<double>(0, k) = m.distortion[k];
    return d;
}

bool inside(const cv::Point2d& p, cv::Size picture) {
    return p.x >= -0.5 && p.y >= -0.5 && p.x <= picture.width - 0.5 && p.y <= picture.height - 0.5;
}

// d(fx fy cx cy k1 k2 p1 p2 k3) = M d(free parameters) for a stage; f
// scales fx and fy together, keeping their ratio.
cv::Mat stageMap(LensStage stage, double aspect) {
    const int p = kStageParameters[stage];
    cv::Mat M = cv::Mat::zeros(kIntrinsicColumns, p, CV_64F);
    if (stage == kStageFull) return cv::Mat::eye(kIntrinsicColumns, kIntrinsicColumns, CV_64F);
    M.at<double>(0, 0) = 1.0, M.at<double>(1, 0) = aspect;
    if (stage == kStageRadial) M.at<double>(4, 1) = 1.0;
    if (stage == kStageCentre) {
        M.at<double>(2, 1) = 1.0, M.at<double>(3, 2) = 1.0;  // cx, cy
        M.at<double>(4, 3) = 1.0, M.at<double>(5, 4) = 1.0;  // k1, k2
    }
    return M;
}

struct Projection {
    std::vector<cv::Point2d> places;
    cv::Mat jacobian;  // 2 rows per point
};

bool project(const std::vector<cv::Point3d>& points, const cv::Vec3d& rotation, const cv::Vec3d& translation,
             const cv::Mat& K, const cv::Mat& D, Projection* out, bool withJacobian) {
    try {
        if (withJacobian) cv::projectPoints(points, rotation, translation, K, D, out->places, out->jacobian);
        else cv::projectPoints(points, rotation, translation, K, D, out->places);
    } catch (const cv::Exception&) {
        return false;
    }
    return true;
}

bool poseOn(const std::vector<cv::Point2f>& corners, cv::Size pattern, const cv::Mat& K, const cv::Mat& D,
            cv::Vec3d* rotation, cv::Vec3d* translation) {
    std::vector<cv::Point3d> board = boardPoints(pattern, 0.0);
    std::vector<cv::Point2d> image(corners.begin(), corners.end());
    if (image.size() != board.size()) return false;
    try {
        cv::Mat r, t;
        if (!cv::solvePnP(board, image, K, D, r, t)) return false;
        *rotation = cv::Vec3d(r.reshape(1, 3));
        *translation = cv::Vec3d(t.reshape(1, 3));
    } catch (const cv::Exception&) {
        return false;
    }
    return std::isfinite((*translation)[2]) && (*translation)[2] > 0;
}

// The intrinsic parameters' covariance over the free parameters of the
// fit's stage, the poses eliminated (Schur complement of the normal
// equations), scaled by the residuals' variance. Also each view's pose
// block, for the poses solved again in the predictions.
struct Normal {
    cv::Mat covariance;               // p x p
    std::vector<cv::Mat> poseInverse;  // per kept view, 6 x 6
    std::vector<cv::Mat> coupling;     // per kept view, 6 x p: Je^T J_theta
    cv::Mat map;                       // 9 x p
};

bool normalEquations(const LensCalibration& fit, cv::Size pattern, Normal* n) {
    const CameraModel& c = fit.camera;
    const int p = kStageParameters[fit.stage], views = static_cast<int>(fit.keptViews.size());
    n->map = stageMap(fit.stage, c.fy / c.fx);
    cv::Mat K = cameraMatrix(c), D = distortionOf(c, kProjectedCoefficients);
    std::vector<cv::Point3d> board = boardPoints(pattern, 0.0);
    cv::Mat A = cv::Mat::zeros(p, p, CV_64F);
    for (int v = 0; v < views; ++v) {
        Projection pr;
        if (!project(board, fit.rotations[v], fit.translations[v], K, D, &pr, true)) return false;
        cv::Mat Je = pr.jacobian.colRange(0, kPoseColumns);
        cv::Mat Jt = pr.jacobian.colRange(kPoseColumns, kPoseColumns + kIntrinsicColumns) * n->map;
        A += Jt.t() * Jt;
        cv::Mat poseBlock = Je.t() * Je, inverse;
        if (!cv::invert(poseBlock, inverse, cv::DECOMP_CHOLESKY)) return false;
        n->poseInverse.push_back(inverse);
        n->coupling.push_back(Je.t() * Jt);
        A -= n->coupling.back().t() * inverse * n->coupling.back();
    }
    const double residuals = 2.0 * board.size() * views, unknowns = p + kPoseColumns * views;
    if (!(residuals > unknowns)) return false;
    double variance = fit.rms * fit.rms * (residuals / 2) / (residuals - unknowns);  // per coordinate
    // Scaled to unit diagonal first: f in pixels and k in units meet here.
    cv::Mat scale(p, 1, CV_64F);
    for (int i = 0; i < p; ++i) {
        double d = A.at<double>(i, i);
        if (!(d > 0)) return false;
        scale.at<double>(i) = 1.0 / std::sqrt(d);
    }
    cv::Mat S = cv::Mat::diag(scale) * A * cv::Mat::diag(scale), inverse;
    if (!cv::invert(S, inverse, cv::DECOMP_CHOLESKY)) return false;
    n->covariance = variance * cv::Mat::diag(scale) * inverse * cv::Mat::diag(scale);
    return cv::checkRange(n->covariance);
}

struct Places {
    std::vector<cv::Point2d> points;
    bool valid;
};

// The overlay's test points in each given view's pose, by view index.
std::vector<Places> overlayPlaces(const LensCalibration& fit, size_t viewCount, cv::Size pattern) {
    std::vector<Places> places(viewCount, Places{{}, false});
    cv::Mat K = cameraMatrix(fit.camera), D = distortionOf(fit.camera, kProjectedCoefficients);
    std::vector<cv::Point3d> tests = testPoints(pattern);
    for (size_t v = 0; v < fit.keptViews.size(); ++v) {
        Projection pr;
        int index = fit.keptViews[v];
        if (index < 0 || static_cast<size_t>(index) >= viewCount) continue;
        if (project(tests, fit.rotations[v], fit.translations[v], K, D, &pr, false))
            places[index] = {pr.places, true};
    }
    return places;
}

double rmsDistance(const std::vector<Places>& a, const std::vector<Places>& b, cv::Size picture) {
    double sum = 0;
    long count = 0;
    for (size_t v = 0; v < a.size() && v < b.size(); ++v) {
        if (!a[v].valid || !b[v].valid) continue;
        for (size_t k = 0; k < a[v].points.size(); ++k) {
            if (!inside(a[v].points[k], picture) || !inside(b[v].points[k], picture)) continue;
            cv::Point2d d = a[v].points[k] - b[v].points[k];
            sum += d.dot(d);
            ++count;
        }
    }
    return count > 0 ? std::sqrt(sum / count) : NAN;
}

// Whether a wider fit explains the views better than noise would: the fall
// of the squared residuals from the narrow lens to the wider one, over the
// views both kept, against the wider fit's residual variance, is a
// chi-square of the extra parameters' count when the narrow lens is right.
// Only then is the overlays' difference a bias of the narrow lens; else it
// is the wider fit's own noise (a wider fit of few views can lie far off).
bool widerFitExplainsMore(const std::vector<double>& narrowSquares, int narrowParameters, const LensCalibration& wider,
                          cv::Size pattern) {
    const int corners = pattern.area();
    double narrowSum = 0, widerSum = 0;
    int views = 0;
    for (size_t v = 0; v < wider.keptViews.size(); ++v) {
        int index = wider.keptViews[v];
        if (index < 0 || static_cast<size_t>(index) >= narrowSquares.size() || std::isnan(narrowSquares[index]))
            continue;
        double e = wider.viewErrors[index];
        narrowSum += narrowSquares[index];
        widerSum += e * e * corners;
        ++views;
    }
    int extra = kStageParameters[wider.stage] - narrowParameters;
    double freedom = 2.0 * corners * views - kStageParameters[wider.stage] - 6.0 * views;
    if (views == 0 || extra <= 0 || !(freedom > 0) || !(widerSum > 0)) return false;
    double variance = widerSum / freedom;  // per coordinate
    double chiSquare = (narrowSum - widerSum) / variance;
    return chiSquare > extra + kBiasSignificance * std::sqrt(2.0 * extra);
}

// The part of a difference D between two overlays that the wider fit's
// own larger spread does not explain (the two fits share the views).
double biasBeyondNoise(double difference, double uncertainty, double widerUncertainty) {
    if (!std::isfinite(difference)) return 0.0;
    double explained = widerUncertainty * widerUncertainty - uncertainty * uncertainty;
    if (!std::isfinite(explained)) return 0.0;
    return std::sqrt(std::max(0.0, difference * difference - std::max(0.0, explained)));
}

// Each given view's squared residuals (px^2, summed over its corners) under
// a fit; NaN for the views it did not keep.
std::vector<double> viewSquares(const LensCalibration& fit, size_t viewCount, int corners) {
    std::vector<double> squares(viewCount, NAN);
    for (int index : fit.keptViews)
        if (index >= 0 && static_cast<size_t>(index) < viewCount)
            squares[index] = fit.viewErrors[index] * fit.viewErrors[index] * corners;
    return squares;
}

// The same for a fixed lens, each view posed on its corners.
std::vector<double> viewSquares(const CameraModel& lens, const BoardViews& views, cv::Size pattern) {
    int count = lens.distortionCount > kProjectedCoefficients ? lens.distortionCount : kProjectedCoefficients;
    cv::Mat K = cameraMatrix(lens), D = distortionOf(lens, count);
    std::vector<cv::Point3d> board = boardPoints(pattern, 0.0);
    std::vector<double> squares(views.size(), NAN);
    for (size_t v = 0; v < views.size(); ++v) {
        cv::Vec3d r, t;
        Projection pr;
        if (!poseOn(views[v], pattern, K, D, &r, &t) || !project(board, r, t, K, D, &pr, false)) continue;
        double sum = 0;
        for (size_t k = 0; k < views[v].size(); ++k) {
            cv::Point2d d = pr.places[k] - cv::Point2d(views[v][k]);
            sum += d.dot(d);
        }
        squares[v] = sum;
    }
    return squares;
}

void judgeStage(StageJudgement* s, bool biasChecked) {
    const LensCalibration& c = s->calibration;
    char text[160];
    if (c.keptCount < kStageMinTrustedViews[c.stage])
        std::snprintf(text, sizeof text, "%d views, under %d", c.keptCount, kStageMinTrustedViews[c.stage]);
    else if (!biasChecked)
        std::snprintf(text, sizeof text, "no wider stage to check its bias against yet");
    else if (!(c.rms < kTrustMaxRms))
        std::snprintf(text, sizeof text, "RMS error %.3f px, over %.2f", c.rms, kTrustMaxRms);
    else if (!c.monotone)
        std::snprintf(text, sizeof text, "the fitted distortion folds inside the picture");
    else if (!(s->predictedPx <= acceptablePredictedErrorPx(c)))
        std::snprintf(text, sizeof text, "predicted overlay error %.3f px, over %.2f", s->predictedPx,
                      acceptablePredictedErrorPx(c));
    else
        text[0] = '\0';
    s->trusted = text[0] == '\0';
    s->why = text;
}

}  // namespace

double acceptablePredictedErrorPx(const LensCalibration& fit) {
    double rms = std::isfinite(fit.rms) ? fit.rms : 0.0;
    return std::max(kMaxPredictedErrorPx, kPredictedErrorPerRms * rms);
}

double overlayUncertaintyPx(const LensCalibration& fit, cv::Size pattern) {
    Normal n;
    if (fit.keptViews.empty() || !normalEquations(fit, pattern, &n)) return INFINITY;
    const CameraModel& c = fit.camera;
    cv::Size picture(c.width, c.height);
    cv::Mat K = cameraMatrix(c), D = distortionOf(c, kProjectedCoefficients);
    std::vector<cv::Point3d> tests = testPoints(pattern);
    double sum = 0;
    long count = 0;
    for (size_t v = 0; v < fit.keptViews.size(); ++v) {
        Projection pr;
        if (!project(tests, fit.rotations[v], fit.translations[v], K, D, &pr, true)) return INFINITY;
        cv::Mat Je = pr.jacobian.colRange(0, kPoseColumns);
        cv::Mat Jt = pr.jacobian.colRange(kPoseColumns, kPoseColumns + kIntrinsicColumns) * n.map;
        // The pose follows the intrinsics: de = -(Je_b^T Je_b)^-1 Je_b^T J_theta_b dtheta.
        cv::Mat G = Jt - Je * n.poseInverse[v] * n.coupling[v];
        cv::Mat spread = G * n.covariance * G.t();
        for (size_t k = 0; k < tests.size(); ++k) {
            if (!inside(pr.places[k], picture)) continue;
            sum += spread.at<double>(2 * k, 2 * k) + spread.at<double>(2 * k + 1, 2 * k + 1);
            ++count;
        }
    }
    return count > 0 ? kUncertaintyInflation * std::sqrt(sum / count) : INFINITY;
}

double overlayDifferencePx(const LensCalibration& a, const LensCalibration& b, cv::Size pattern) {
    size_t views = 0;
    for (int k : a.keptViews) views = std::max(views, static_cast<size_t>(k) + 1);
    for (int k : b.keptViews) views = std::max(views, static_cast<size_t>(k) + 1);
    return rmsDistance(overlayPlaces(a, views, pattern), overlayPlaces(b, views, pattern),
                       cv::Size(a.camera.width, a.camera.height));
}

double overlayDifferencePx(const CameraModel& lens, const LensCalibration& fit, const BoardViews& views,
                           cv::Size pattern) {
    std::vector<Places> fixed(views.size(), Places{{}, false});
    int count = lens.distortionCount > kProjectedCoefficients ? lens.distortionCount : kProjectedCoefficients;
    cv::Mat K = cameraMatrix(lens), D = distortionOf(lens, count);
    std::vector<cv::Point3d> tests = testPoints(pattern);
    for (int index : fit.keptViews) {
        cv::Vec3d r, t;
        Projection pr;
        if (index < 0 || static_cast<size_t>(index) >= views.size() || !poseOn(views[index], pattern, K, D, &r, &t) ||
            !project(tests, r, t, K, D, &pr, false))
            continue;
        fixed[index] = {pr.places, true};
    }
    return rmsDistance(fixed, overlayPlaces(fit, views.size(), pattern), cv::Size(lens.width, lens.height));
}

double recentViewsErrorPx(const CameraModel& lens, const BoardViews& views, cv::Size pattern) {
    int count = lens.distortionCount > kProjectedCoefficients ? lens.distortionCount : kProjectedCoefficients;
    cv::Mat K = cameraMatrix(lens), D = distortionOf(lens, count);
    std::vector<cv::Point3d> board = boardPoints(pattern, 0.0);
    std::vector<double> errors;
    for (const std::vector<cv::Point2f>& corners : views) {
        cv::Vec3d r, t;
        Projection pr;
        if (!poseOn(corners, pattern, K, D, &r, &t) || !project(board, r, t, K, D, &pr, false)) {
            errors.push_back(INFINITY);
            continue;
        }
        double sum = 0;
        for (size_t k = 0; k < corners.size(); ++k) {
            cv::Point2d d = pr.places[k] - cv::Point2d(corners[k]);
            sum += d.dot(d);
        }
        errors.push_back(std::sqrt(sum / corners.size()));
    }
    if (errors.empty()) return NAN;
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    return errors[errors.size() / 2];
}

void calibrateStages(const BoardViews& kept, const BoardViews& recent, cv::Size pattern, cv::Size picture,
                     StagedCalibration* out) {
    out->best = out->widest = -1;
    for (int s = 0; s < kLensStageCount; ++s) {
        StageJudgement& j = out->stages[s];
        j = StageJudgement{};
        j.fitted = false;
        j.uncertaintyPx = j.biasPx = j.predictedPx = j.recentPx = NAN;
        j.trusted = false;
        if (static_cast<int>(kept.size()) < kStageMinViews[s]) {
            j.why = std::to_string(kept.size()) + " views, under " + std::to_string(kStageMinViews[s]);
            continue;
        }
        std::string error;
        if (!calibrateLens(kept, pattern, picture, &j.calibration, &error, static_cast<LensStage>(s))) {
            j.why = error;
            continue;
        }
        j.fitted = true;
        j.uncertaintyPx = overlayUncertaintyPx(j.calibration, pattern);
        out->widest = s;
    }
    for (int m = 0; m < kLensStageCount; ++m) {
        StageJudgement& j = out->stages[m];
        if (!j.fitted) continue;
        j.biasPx = 0.0;
        std::vector<double> squares = viewSquares(j.calibration, kept.size(), pattern.area());
        for (int w = m + 1; w < kLensStageCount; ++w) {
            const StageJudgement& wider = out->stages[w];
            if (!wider.fitted || !widerFitExplainsMore(squares, kStageParameters[m], wider.calibration, pattern))
                continue;
            double difference = overlayDifferencePx(j.calibration, wider.calibration, pattern);
            j.biasPx = std::max(j.biasPx, biasBeyondNoise(difference, j.uncertaintyPx, wider.uncertaintyPx));
        }
        j.predictedPx = std::hypot(j.uncertaintyPx, j.biasPx);
        j.recentPx = recentViewsErrorPx(j.calibration.camera, recent, pattern);
        // A narrow stage's bias shows only against a wider one fitted to the
        // same views: without the next stage it could be any size.
        judgeStage(&j, m == kStageFull || out->stages[m + 1].fitted);
        if (j.trusted && (out->best < 0 || j.predictedPx < out->stages[out->best].predictedPx)) out->best = m;
    }
}

LensDecision decideLensSwitch(const StagedCalibration& staged, const BoardViews& kept, const LensInUse& inUse,
                              const BoardViews& recent, cv::Size pattern) {
    LensDecision d = {false, -1, INFINITY, NAN, ""};
    d.inUseRecentPx = recentViewsErrorPx(inUse.model, recent, pattern);
    if (inUse.stage >= 0) {
        // The lens in use has no free parameter left: any fit explaining the
        // views better than noise shows its bias.
        double bias = 0.0;
        std::vector<double> squares = viewSquares(inUse.model, kept, pattern);
        for (int w = 0; w < kLensStageCount; ++w) {
            const StageJudgement& fit = staged.stages[w];
            if (!fit.fitted || !widerFitExplainsMore(squares, 0, fit.calibration, pattern)) continue;
            double difference = overlayDifferencePx(inUse.model, fit.calibration, kept, pattern);
            bias = std::max(bias, biasBeyondNoise(difference, inUse.uncertaintyPx, fit.uncertaintyPx));
        }
        d.inUsePredictedPx = std::hypot(inUse.uncertaintyPx, bias);
    }
    if (staged.best < 0) {
        int shown = staged.widest >= 0 ? staged.widest : 0;
        d.reason = std::string("no stage trusted (") + lensStageName(static_cast<LensStage>(shown)) + ": " +
                   staged.stages[shown].why + ")";
        return d;
    }
    const StageJudgement& best = staged.stages[staged.best];
    bool noWorse = !(best.recentPx > d.inUseRecentPx * (1 + kRecentTolerance));
    bool clearlyBetter = inUse.stage < 0 || best.predictedPx <= kClearlyBetterPredicted * d.inUsePredictedPx ||
                         best.recentPx <= kClearlyBetterRecent * d.inUseRecentPx;
    char text[200];
    if (!noWorse)
        std::snprintf(text, sizeof text, "stage %s registers the recent views worse (%.3f px against %.3f)",
                      lensStageName(best.calibration.stage), best.recentPx, d.inUseRecentPx);
    else if (!clearlyBetter)
        std::snprintf(text, sizeof text, "stage %s is not clearly better (predicted %.3f px against %.3f)",
                      lensStageName(best.calibration.stage), best.predictedPx, d.inUsePredictedPx);
    else
        std::snprintf(text, sizeof text, "stage %s: predicted %.3f px, recent views %.3f px against %.3f",
                      lensStageName(best.calibration.stage), best.predictedPx, best.recentPx, d.inUseRecentPx);
    d.reason = text;
    d.switchLens = noWorse && clearlyBetter;
    d.stage = d.switchLens ? staged.best : -1;
    return d;
}
