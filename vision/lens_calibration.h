// lens_calibration.h - the lens (focal lengths, principal point, distortion
// k1 k2 p1 p2 k3) from several views of the board, with OpenCV's
// calibrateCamera; views whose error stands out are dropped and the lens
// calibrated again; and a test of whether the result can be trusted.
//
// The board is the pattern's corner grid with unit squares (the lens does
// not depend on the square's size). A view is the whole pattern's corners in
// the detector's order, pixels of the picture.
//
// The search starts from OpenCV's own estimate (the views' homographies,
// principal point at the centre); starting it from the Tsai calibration's
// focal length instead changed no result in any test.
// A calibration frees only the parameters of its stage (LensStage): the
// focal length alone (principal point at the picture's centre, square
// pixels, no distortion), then k1, then the principal point and k2, then the
// whole model (fx, fy, cx, cy, k1 k2 p1 p2 k3), so that a few views of a
// small part of the picture still give a lens they determine.
// Limits: 3 to kMaxCalibrationViews views (kStageMinViews per stage); k4..k6
// are never estimated. calibrateLens takes about 50 ms for 10 views and 300
// ms for 25 (two cores) in the whole model, less in the narrower stages, more
// when views are dropped.
// Threads: nothing here keeps state or calls the Tsai calibration; every
// function may run on any thread, e.g. a worker of the viewer.
//
// Usage:
//     LensCalibration lens;
//     if (calibrateLens(views, &lens, &error) && calibrationTrustworthy(lens, nullptr)) use(lens.camera);
#ifndef APP_LENS_CALIBRATION_H
#define APP_LENS_CALIBRATION_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "calibration_views.h"
#include "camera_file.h"

constexpr int kMinCalibrationViews = 5;

// What a calibration frees, narrowest first.
enum LensStage { kStageFocal, kStageRadial, kStageCentre, kStageFull, kLensStageCount };
// The views each stage is calibrated from at least (a wider stage is the
// yardstick of a narrower one's bias early on), and the views it needs to be
// taken into use: a focal length is known from a few tilted views, the
// whole model only from many.
constexpr int kStageMinViews[kLensStageCount] = {3, 4, 5, 6};
constexpr int kStageMinTrustedViews[kLensStageCount] = {3, 4, 6, 10};
// Parameters each stage frees: f; f k1; f cx cy k1 k2; fx fy cx cy k1 k2 p1 p2 k3.
constexpr int kStageParameters[kLensStageCount] = {1, 2, 5, 9};

// "f", "f k1", "f k1 k2 centre", "full".
const char* lensStageName(LensStage stage);

// Trustworthy calibrations (see calibrationTrustworthy), measured on rendered
// sweeps of a distorted lens (README, calibrating a camera).
constexpr int kTrustMinViews = 10;
constexpr double kTrustMaxRms = 0.5;               // px
constexpr double kTrustMaxFocalSpread = 0.01;      // 1.96 sigma of fx, fy over their value
constexpr double kTrustMaxCentreSpread = 0.01;     // 1.96 sigma of cx, cy over the picture's larger side
constexpr double kTrustMinCoverage = 0.5;          // fraction of the picture's cells seen

struct LensCalibration {
    LensStage stage;
    CameraModel camera;  // fx fy cx cy, k1 k2 p1 p2 k3 (distortionCount 5), rms, views, board
    double rms;          // px, over every corner of the kept views
    std::vector<double> viewErrors;  // px RMS per given view, dropped ones with the final lens too
    std::vector<bool> kept;          // per given view: used by the final calibration
    int keptCount;
    double deviationFx, deviationFy, deviationCx, deviationCy;  // standard deviations, px
    double coverage;  // fraction of the picture's coverage cells holding a kept corner
    bool monotone;    // the radial distortion folds nowhere inside the picture
    // The board's pose in each kept view (in the order of the given views),
    // as the calibration found it: board point P, camera point R(rotation) P + translation.
    std::vector<int> keptViews;  // indices into the given views
    std::vector<cv::Vec3d> rotations, translations;
};

// Calibrates from views of a pattern (inner corners per row, per column) in
// pictures of the given size. False with one line in *error when there are
// under kMinCalibrationViews usable views or the calibration fails; true
// comes with finite figures.
// The whole model (kStageFull) unless told.
bool calibrateLens(const std::vector<std::vector<cv::Point2f>>& views, cv::Size pattern, cv::Size picture,
                   LensCalibration* result, std::string* error, LensStage stage = kStageFull);

// The same over a view collection's kept views (in collection order).
bool calibrateLens(const ViewCollection& views, LensCalibration* result, std::string* error,
                   LensStage stage = kStageFull);

// True when the calibration can replace a camera model: at least
// kTrustMinViews views kept, RMS under kTrustMaxRms, the 95 % intervals of
// fx, fy, cx, cy narrow (kTrustMaxFocalSpread, kTrustMaxCentreSpread), at
// least kTrustMinCoverage of the picture seen, and no fold of the lens inside
// the picture. Otherwise false, with the first failed test in *why
// (optional).
bool calibrationTrustworthy(const LensCalibration& calibration, std::string* why);

// Whether the radial part of the model, k1 k2 k3, maps radii one-to-one out
// to the farthest corner of its picture.
bool radialDistortionMonotone(const CameraModel& camera);

#endif
