// lens_calibration.cpp - calibrateCamera with outlier views dropped, and the
// trust test.
#include "lens_calibration.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>

#include <opencv2/calib3d.hpp>

namespace {

// A view stands out when its RMS error is over kOutlierFactor times the
// median view's and kOutlierMargin px above it. At most kMaxDroppedShare of
// the views go per round (at least one), for kOutlierRounds rounds, never
// below kMinCalibrationViews.
constexpr double kOutlierFactor = 2.0;
constexpr double kOutlierMargin = 0.1;  // px
constexpr double kMaxDroppedShare = 0.2;
constexpr int kOutlierRounds = 2;

constexpr int kMaxIterations = 100;
constexpr int kCalibratedCoefficients = 5;  // k1 k2 p1 p2 k3

// The radial fold search: radii up to kMaxUndistortedRadius times the
// picture's farthest distorted radius, in kFoldSteps steps.
constexpr double kMaxUndistortedRadius = 4.0;
constexpr int kFoldSteps = 2000;

struct Fit {
    cv::Matx33d K;
    cv::Mat distortion;  // 1 x 5
    cv::Mat deviations;  // fx fy cx cy k1 k2 p1 p2 k3 ...
    double rms;
    std::vector<double> viewErrors;  // per fitted view
    std::vector<cv::Vec3d> rotations, translations;  // per fitted view
};

// The parameters a stage holds fixed. The narrower stages start from
// OpenCV's own estimate of f with the principal point at the picture's
// centre as the viewer's pinhole camera has it (halved as integers).
int stageFlags(LensStage stage) {
    switch (stage) {
        case kStageFocal:
            return cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_FIX_ASPECT_RATIO |
                   cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_K1 | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3;
        case kStageRadial:
            return cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_FIX_ASPECT_RATIO |
                   cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3;
        case kStageCentre:
            return cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_ASPECT_RATIO | cv::CALIB_ZERO_TANGENT_DIST |
                   cv::CALIB_FIX_K3;
        default:
            return 0;
    }
}

void startingCamera(const std::vector<std::vector<cv::Point3f>>& object,
                    const std::vector<std::vector<cv::Point2f>>& image, cv::Size picture, LensStage stage, cv::Mat* K) {
    if (stage == kStageFull) return;
    *K = cv::initCameraMatrix2D(object, image, picture, 1.0);
    double f = 0.5 * (K->at<double>(0, 0) + K->at<double>(1, 1));
    if (!std::isfinite(f) || !(f > 0)) f = std::max(picture.width, picture.height);
    *K = (cv::Mat_<double>(3, 3) << f, 0, picture.width / 2, 0, f, picture.height / 2, 0, 0, 1);
}

std::vector<cv::Point3f> boardPoints(cv::Size pattern) {
    std::vector<cv::Point3f> points;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < pattern.width; ++j) points.emplace_back(static_cast<float>(j), static_cast<float>(i), 0.0f);
    return points;
}

bool viewUsable(const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    if (static_cast<int>(corners.size()) != pattern.area()) return false;
    for (const cv::Point2f& p : corners)
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    return true;
}

bool allFinite(const cv::Mat& m) { return cv::checkRange(m); }

bool fitLens(const std::vector<std::vector<cv::Point2f>>& views, const std::vector<int>& chosen, cv::Size pattern,
             cv::Size picture, LensStage stage, Fit* fit, std::string* error) {
    std::vector<std::vector<cv::Point2f>> image;
    for (int k : chosen) image.push_back(views[k]);
    std::vector<std::vector<cv::Point3f>> object(image.size(), boardPoints(pattern));
    cv::Mat K = cv::Mat::eye(3, 3, CV_64F), distortion = cv::Mat::zeros(1, kCalibratedCoefficients, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    cv::Mat extrinsicDeviations, viewErrors;
    try {
        startingCamera(object, image, picture, stage, &K);
        fit->rms = cv::calibrateCamera(object, image, picture, K, distortion, rvecs, tvecs, fit->deviations,
                                       extrinsicDeviations, viewErrors, stageFlags(stage),
                                       cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS,
                                                        kMaxIterations, DBL_EPSILON));
    } catch (const cv::Exception& e) {
        *error = std::string("calibration failed: ") + e.what();
        return false;
    }
    if (!std::isfinite(fit->rms) || !allFinite(K) || !allFinite(distortion) || !allFinite(viewErrors) ||
        !(K.at<double>(0, 0) > 0) || !(K.at<double>(1, 1) > 0)) {
        *error = "calibration failed: no finite lens fits the views";
        return false;
    }
    fit->K = cv::Matx33d(K);
    fit->distortion = distortion.reshape(1, 1);
    fit->viewErrors.assign(viewErrors.begin<double>(), viewErrors.end<double>());
    fit->rotations.clear(), fit->translations.clear();
    for (size_t k = 0; k < rvecs.size(); ++k) {
        fit->rotations.push_back(cv::Vec3d(rvecs[k].reshape(1, 3)));
        fit->translations.push_back(cv::Vec3d(tvecs[k].reshape(1, 3)));
    }
    return true;
}

// RMS error of a view not in the fit, through the fitted lens.
double viewErrorWith(const Fit& fit, const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    std::vector<cv::Point3f> board = boardPoints(pattern);
    cv::Mat rvec, tvec;
    std::vector<cv::Point2f> projected;
    try {
        if (!cv::solvePnP(board, corners, fit.K, fit.distortion, rvec, tvec)) return INFINITY;
        cv::projectPoints(board, rvec, tvec, fit.K, fit.distortion, projected);
    } catch (const cv::Exception&) {
        return INFINITY;
    }
    double sum = 0;
    for (size_t k = 0; k < corners.size(); ++k) {
        cv::Point2f d = projected[k] - corners[k];
        sum += d.x * d.x + d.y * d.y;
    }
    return std::sqrt(sum / corners.size());
}

// The fitted views that stand out, worst first, as many as may go this round.
std::vector<int> outlierViews(const Fit& fit, const std::vector<int>& chosen, int fewest) {
    std::vector<double> errors = fit.viewErrors;
    std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
    double median = errors[errors.size() / 2];
    double threshold = std::max(kOutlierFactor * median, median + kOutlierMargin);
    std::vector<int> order;
    for (size_t k = 0; k < chosen.size(); ++k)
        if (fit.viewErrors[k] > threshold) order.push_back(static_cast<int>(k));
    std::sort(order.begin(), order.end(), [&](int a, int b) { return fit.viewErrors[a] > fit.viewErrors[b]; });
    size_t allowed = std::max<size_t>(1, static_cast<size_t>(kMaxDroppedShare * chosen.size()));
    allowed = std::min(allowed, chosen.size() - std::min(chosen.size(), static_cast<size_t>(fewest)));
    if (order.size() > allowed) order.resize(allowed);
    std::vector<int> views;
    for (int k : order) views.push_back(chosen[k]);
    return views;
}

void fillResult(const Fit& fit, const std::vector<std::vector<cv::Point2f>>& views, const std::vector<int>& chosen,
                cv::Size pattern, cv::Size picture, LensStage stage, LensCalibration* result) {
    result->stage = stage;
    result->keptViews = chosen;
    result->rotations = fit.rotations;
    result->translations = fit.translations;
    CameraModel& camera = result->camera;
    camera = CameraModel{};
    camera.width = picture.width, camera.height = picture.height;
    camera.fx = fit.K(0, 0), camera.fy = fit.K(1, 1), camera.cx = fit.K(0, 2), camera.cy = fit.K(1, 2);
    for (int k = 0; k < kCalibratedCoefficients; ++k) camera.distortion[k] = fit.distortion.at<double>(0, k);
    camera.distortionCount = kCalibratedCoefficients;
    camera.rms = fit.rms;
    camera.views = static_cast<int>(chosen.size());
    camera.boardColumns = pattern.width, camera.boardRows = pattern.height;
    camera.squareSize = 1.0;

    result->rms = fit.rms;
    result->kept.assign(views.size(), false);
    result->viewErrors.assign(views.size(), 0.0);
    std::vector<std::vector<cv::Point2f>> keptViews;
    for (size_t k = 0; k < chosen.size(); ++k) {
        result->kept[chosen[k]] = true;
        result->viewErrors[chosen[k]] = fit.viewErrors[k];
        keptViews.push_back(views[chosen[k]]);
    }
    for (size_t k = 0; k < views.size(); ++k)
        if (!result->kept[k]) result->viewErrors[k] = viewErrorWith(fit, views[k], pattern);
    result->keptCount = static_cast<int>(chosen.size());
    const double* d = fit.deviations.ptr<double>();
    result->deviationFx = d[0], result->deviationFy = d[1], result->deviationCx = d[2], result->deviationCy = d[3];
    result->coverage = cornerCoverage(keptViews, picture);
    result->monotone = radialDistortionMonotone(camera);
}

}  // namespace

const char* lensStageName(LensStage stage) {
    switch (stage) {
        case kStageFocal: return "f";
        case kStageRadial: return "f k1";
        case kStageCentre: return "f k1 k2 centre";
        case kStageFull: return "full";
        default: return "none";
    }
}

bool calibrateLens(const std::vector<std::vector<cv::Point2f>>& views, cv::Size pattern, cv::Size picture,
                   LensCalibration* result, std::string* error, LensStage stage) {
    if (pattern.width < 2 || pattern.height < 2 || picture.width < 1 || picture.height < 1) {
        *error = "no board pattern or picture size to calibrate with";
        return false;
    }
    if (static_cast<int>(views.size()) > kMaxCalibrationViews) {
        *error = std::to_string(views.size()) + " views; at most " + std::to_string(kMaxCalibrationViews) +
                 " are calibrated";
        return false;
    }
    std::vector<int> chosen;
    for (size_t k = 0; k < views.size(); ++k)
        if (viewUsable(views[k], pattern)) chosen.push_back(static_cast<int>(k));
    int needed = stage == kStageFull ? kMinCalibrationViews : kStageMinViews[stage];
    if (static_cast<int>(chosen.size()) < needed) {
        *error = std::to_string(chosen.size()) + " usable views of the board; a calibration needs at least " +
                 std::to_string(needed);
        return false;
    }
    Fit fit;
    if (!fitLens(views, chosen, pattern, picture, stage, &fit, error)) return false;
    for (int round = 0; round < kOutlierRounds; ++round) {
        std::vector<int> dropped = outlierViews(fit, chosen, needed);
        if (dropped.empty()) break;
        std::vector<int> remaining;
        for (int k : chosen)
            if (std::find(dropped.begin(), dropped.end(), k) == dropped.end()) remaining.push_back(k);
        Fit refit;
        if (!fitLens(views, remaining, pattern, picture, stage, &refit, error)) return false;
        fit = refit;
        chosen = remaining;
    }
    fillResult(fit, views, chosen, pattern, picture, stage, result);
    return true;
}

bool calibrateLens(const ViewCollection& views, LensCalibration* result, std::string* error, LensStage stage) {
    return calibrateLens(keptCorners(views), views.pattern, views.picture, result, error, stage);
}

bool radialDistortionMonotone(const CameraModel& camera) {
    if (!(camera.fx > 0) || !(camera.fy > 0)) return false;
    double k1 = camera.distortionCount >= 1 ? camera.distortion[0] : 0;
    double k2 = camera.distortionCount >= 2 ? camera.distortion[1] : 0;
    double k3 = camera.distortionCount >= 5 ? camera.distortion[4] : 0;
    // The farthest picture corner's distorted radius, normalised.
    double farthest = 0;
    for (double u : {-0.5, camera.width - 0.5})
        for (double v : {-0.5, camera.height - 0.5})
            farthest = std::max(farthest, std::hypot((u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy));
    // r_d = r (1 + k1 r^2 + k2 r^4 + k3 r^6) must rise until it reaches that radius.
    double step = kMaxUndistortedRadius * farthest / kFoldSteps;
    for (int i = 1; i <= kFoldSteps; ++i) {
        double r = i * step, r2 = r * r;
        double slope = 1 + r2 * (3 * k1 + r2 * (5 * k2 + r2 * 7 * k3));
        if (!(slope > 0)) return false;
        if (r * (1 + r2 * (k1 + r2 * (k2 + r2 * k3))) >= farthest) return true;
    }
    return false;
}

bool calibrationTrustworthy(const LensCalibration& c, std::string* why) {
    std::string unused;
    if (!why) why = &unused;
    char text[160];
    double side = std::max(c.camera.width, c.camera.height);
    double focalSpread = 1.96 * std::max(c.deviationFx / c.camera.fx, c.deviationFy / c.camera.fy);
    double centreSpread = 1.96 * std::max(c.deviationCx, c.deviationCy) / side;
    if (c.keptCount < kTrustMinViews)
        std::snprintf(text, sizeof text, "%d views, under %d", c.keptCount, kTrustMinViews);
    else if (!(c.rms < kTrustMaxRms))
        std::snprintf(text, sizeof text, "RMS error %.3f px, over %.2f", c.rms, kTrustMaxRms);
    else if (!(focalSpread < kTrustMaxFocalSpread))
        std::snprintf(text, sizeof text, "focal length uncertain by %.2f %%, over %.2f", 100 * focalSpread,
                      100 * kTrustMaxFocalSpread);
    else if (!(centreSpread < kTrustMaxCentreSpread))
        std::snprintf(text, sizeof text, "principal point uncertain by %.1f px, over %.1f", centreSpread * side,
                      kTrustMaxCentreSpread * side);
    else if (!(c.coverage >= kTrustMinCoverage))
        std::snprintf(text, sizeof text, "corners seen in %.0f %% of the picture, under %.0f", 100 * c.coverage,
                      100 * kTrustMinCoverage);
    else if (!c.monotone)
        std::snprintf(text, sizeof text, "the fitted distortion folds inside the picture");
    else
        return true;
    *why = text;
    return false;
}
