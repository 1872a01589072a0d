// tracking.cpp - board coordinates, detection, calibration, matrices, axes.
#include "tracking.h"

#include <algorithm>
#include <cmath>

#include "board_detector.h"
#include "corner_tracker.h"
#include "lens.h"
#include "lens_switch.h"
#include "pose_filter.h"
#include "self_calibration.h"
#include "tsai.h"

namespace {


// The board search's memory of the previous frames: where the board was.
// initChessWordCoords readies it for the board's pattern, so every video
// (and every test in one process) starts from the same state.
BoardDetector boardDetector;

// A bounded search, so that no frame waits long for a board that is missing
// or partly covered; see board_detector.h.
bool detectBoard(const cv::Mat& frame, Chess* board) {
    // Reused between frames: the detector only resizes it.
    static std::vector<cv::Point2f> found = [] {
        std::vector<cv::Point2f> v;
        v.reserve(kMaxCorners);
        return v;
    }();
    board->found = detectBoardCorners(frame, &boardDetector, &found) ? 1 : 0;
    int count = static_cast<int>(found.size());
    board->cornerCount = count < kMaxCorners ? count : kMaxCorners;
    for (int k = 0; k < board->cornerCount; ++k) board->corners[k] = found[k];
    return board->found != 0;
}

// The points of one calibration: n board corners, world and image
// coordinates (the chess record's arrays, or a tracked subset's).
struct PointSet {
    int n;
    const double *worldX, *worldY, *imageX, *imageY;
};

// Image coordinates from the picture centre, the centre halved as integers.
void centreCorners(const cv::Point2f* corners, int n, double* x, double* y) {
    for (int k = 0; k < n; ++k) {
        x[k] = static_cast<double>(corners[k].x) - (movie.width / 2);
        y[k] = static_cast<double>(corners[k].y) - (movie.height / 2);
    }
}

// Image coordinates in the lens model's pinhole camera, from its principal
// point. The calibration knows one focal length: y is scaled from fy to fx,
// and the projection scales it back.
void undistortBoardCorners(const cv::Point2f* corners, int n, double* x, double* y) {
    cv::Point2d undistorted[kMaxCorners];
    undistortCorners(&lens, corners, n, undistorted);
    const CameraModel& m = lens.model;
    for (int k = 0; k < n; ++k) {
        x[k] = undistorted[k].x - m.cx;
        y[k] = (undistorted[k].y - m.cy) * (m.fx / m.fy);
    }
}

// The calibration's image coordinates of detected or tracked corners.
void imageCoordinates(const cv::Point2f* corners, int n, double* x, double* y) {
    if (lens.active) undistortBoardCorners(corners, n, x, y);
    else centreCorners(corners, n, x, y);
}

void noRefinement(const PointSet&, bool, double*, double*, double*) {}

// The linear calibration's camera brought to the least reprojection error:
// the pose, and f too on a full calibration. Where the refinement fails (a
// face-on board leaves f open) the linear camera stands.
void refineCamera(const PointSet& p, bool fullCalibration, double* f, double* T, double* R) {
    if (fullCalibration) tsaiRefineCalibration(p.n, p.worldX, p.worldY, p.imageX, p.imageY, f, T, R);
    else tsaiRefinePose(p.n, p.worldX, p.worldY, p.imageX, p.imageY, *f, T, R);
}

// Chosen at start-up: --refine.
void (*refineLinearCamera)(const PointSet&, bool, double*, double*, double*) = noRefinement;

void noSmoothing(bool, Camera*) {}

PoseFilter poseFilter;
// Whether every calibration is refined already (--refine).
bool poseRefined = false;
// The points of the latest successful calibration, for the smoothing's
// noise level (their arrays are the chess record's or the tracker's).
PointSet latestPoints = {0, nullptr, nullptr, nullptr, nullptr};

// The residuals (image minus reprojected, px) of a pose's points, kept from
// one frame to the next for the smoothing's noise level; the calibration's y
// is in units of f, fy / f brings it back to pixels.
struct Residuals {
    int n = 0;
    double boardX[kMaxCorners], boardY[kMaxCorners], dx[kMaxCorners], dy[kMaxCorners];
    CornerResiduals view() const { return {n, boardX, boardY, dx, dy}; }
};
Residuals residuals[2];  // this frame's and the frame before's, by turns
int latestResiduals = 0;

void measureResiduals(const PointSet& p, const Camera& cam, double fy, Residuals* r) {
    r->n = std::min(p.n, kMaxCorners);
    for (int k = 0; k < r->n; ++k) {
        double x, y;
        tsaiProject(p.worldX[k], p.worldY[k], 0.0, &x, &y, cam.f, cam.T, cam.R);
        r->boardX[k] = p.worldX[k], r->boardY[k] = p.worldY[k];
        r->dx[k] = p.imageX[k] - x, r->dy[k] = (p.imageY[k] - y) * fy / cam.f;
    }
}

// The pose steadied from frame to frame on the video's time (--smooth), the
// noise taken from how its corners fit it; a frame without a pose starts the
// filter afresh.
void smoothPose(bool posed, Camera* cam) {
    Residuals& now = residuals[1 - latestResiduals];
    if (!posed) {
        residuals[latestResiduals].n = 0;
        return resetPoseFilter(&poseFilter);
    }
    // The filter's noise model is a least-squares pose's: without --refine
    // the linear pose is refined for it (two to three times less jitter on
    // the sample video than the linear pose's), unless what the corners miss
    // is a lens the camera lacks rather than noise: there the least-squares
    // pinhole pose is no steadier.
    const PointSet& p = latestPoints;
    const CornerResiduals& before = residuals[latestResiduals].view();
    double fy = lens.active ? cam->fy : cam->f;
    measureResiduals(p, *cam, fy, &now);
    double noise = cornerNoisePx(now.view(), before);
    if (!poseRefined && !residualsMostlyModelError(now.view(), before) &&
        tsaiRefinePose(p.n, p.worldX, p.worldY, p.imageX, p.imageY, cam->f, cam->T, cam->R)) {
        measureResiduals(p, *cam, fy, &now);
        noise = cornerNoisePx(now.view(), before);
    }
    latestResiduals = 1 - latestResiduals;
    filterPose(&poseFilter, movie.timestampMs, PoseNoise{cam->f, fy, noise, latestPoints.n}, cam->R, cam->T);
}

// Chosen at start-up: --smooth.
void (*steadyPose)(bool, Camera*) = noSmoothing;

// Full calibration until one succeeds, then the pose with that focal length.
// The camera record changes only when the calibration succeeds.
bool calibrateCamera(const PointSet& p, Camera* cam) {
    double f = cam->f, T[3], R[9];
    int ok = cam->calibrated ? tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, f, T, R)
                             : tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &f, T, R);
    if (!ok) return false;
    refineLinearCamera(p, !cam->calibrated, &f, T, R);
    cam->f = f;
    for (int i = 0; i < 3; ++i) cam->T[i] = T[i];
    for (int i = 0; i < 9; ++i) cam->R[i] = R[i];
    cam->calibrated = true;
    latestPoints = p;
    return true;
}

CornerTracker cornerTracker;

void noTracking() {}

// A detected board, for the tracker to follow from.
void rememberBoard() { rememberDetectedBoard(&cornerTracker, movie.frame, chess.corners, chess.patternSize); }

bool notFollowed() { return false; }

// A frame without the whole board: its corners followed from the frame
// before, and the pose (f known) from those that stayed. False when too
// few did.
bool poseFromFollowedCorners() {
    static cv::Point2f corners[kMaxTrackedCorners];
    static int indices[kMaxTrackedCorners];
    static double worldX[kMaxTrackedCorners], worldY[kMaxTrackedCorners];
    static double imageX[kMaxTrackedCorners], imageY[kMaxTrackedCorners];
    int n = std::min(trackBoardCorners(&cornerTracker, movie.frame, corners, indices), TSAI_MAX_POINTS);
    if (n == 0 || !camera.calibrated) return false;
    for (int k = 0; k < n; ++k) {
        worldX[k] = chess.worldX[indices[k]];
        worldY[k] = chess.worldY[indices[k]];
    }
    imageCoordinates(corners, n, imageX, imageY);
    return calibrateCamera({n, worldX, worldY, imageX, imageY}, &camera);
}

// Chosen at start-up: --track.
void (*rememberForTracking)() = noTracking;
bool (*followBoard)() = notFollowed;

// Without a lens model the camera is the pinhole one of the picture's
// centre, for which the off-centre projection is the centred one exactly.
void buildCameraMatrices(Camera* cam, int width, int height) {
    tsaiOGLModelViewMatrix(cam->T, cam->R, cam->modelView);
    if (!lens.active) {
        cam->fy = cam->f;
        cam->cx = width / 2;
        cam->cy = height / 2;
    }
    tsaiOGLProjectionMatrixK(cam->f, cam->fy, cam->cx, cam->cy, cam->zNear, cam->zFar, width, height,
                             cam->projection);
}

// Chosen at start-up: --self-calibrate.
bool noLensSwitch() { return false; }
void noViewOffered(long) {}
void offerSelfCalibrationView(long frameIndex) {
    offerBoardView(movie.frame, chess.corners, chess.cornerCount, frameIndex, camera.calibrated ? camera.f : 0.0);
}
bool (*takeTrustedLensIntoUse)() = noLensSwitch;
void (*offerViewForLens)(long frameIndex) = noViewOffered;

}  // namespace

void chooseTrackingSteps(const ViewerOptions& options) {
    refineLinearCamera = options.refine ? refineCamera : noRefinement;
    rememberForTracking = options.track ? rememberBoard : noTracking;
    followBoard = options.track ? poseFromFollowedCorners : notFollowed;
    resetCornerTracker(&cornerTracker);
    if (options.track) prepareCornerTracker(&cornerTracker, cv::Size(movie.width, movie.height));
    steadyPose = options.smooth ? smoothPose : noSmoothing;
    poseRefined = options.refine;
    initPoseFilter(&poseFilter, options.smoothCutoffHz, options.smoothBeta, chess.patternSize.width,
                   chess.patternSize.height);
    takeTrustedLensIntoUse = options.selfCalibrate ? switchToTrustedLens : noLensSwitch;
    offerViewForLens = options.selfCalibrate ? offerSelfCalibrationView : noViewOffered;
}

int initChessWordCoords(Chess* board) {
    for (int i = 0; i < board->patternSize.height; ++i)
        for (int j = 0; j < board->patternSize.width; ++j) {
            int k = i * board->patternSize.width + j;
            board->worldX[k] = j * board->squareSize + board->originX;
            board->worldY[k] = i * board->squareSize + board->originY;
        }
    initBoardDetector(board->patternSize, &boardDetector);
    return 0;
}

void trackBoard() {
    static long frameCount = 0;  // for the self-calibration's views
    long frameIndex = frameCount++;
    // A new lens moves the picture: what the smoothing knew of it is gone.
    if (takeTrustedLensIntoUse()) resetPoseFilter(&poseFilter);
    chess.tracked = 0;
    if (!detectBoard(movie.frame, &chess)) {
        chess.tracked = followBoard();
        steadyPose(chess.tracked, &camera);
        if (chess.tracked) buildCameraMatrices(&camera, movie.width, movie.height);
        return;
    }
    offerViewForLens(frameIndex);
    rememberForTracking();
    imageCoordinates(chess.corners, chess.cornerCount, chess.imageX, chess.imageY);
    if (!calibrateCamera({chess.cornerCount, chess.worldX, chess.worldY, chess.imageX, chess.imageY}, &camera)) return;
    steadyPose(true, &camera);
    buildCameraMatrices(&camera, movie.width, movie.height);
}
