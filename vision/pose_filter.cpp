// pose_filter.cpp - the constant-velocity filter on the camera pose, its gain
// set in the overlay's pixels (see the header).
#include "pose_filter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMsPerSecond = 1000.0;
// Frames closer in time than this are taken as the same instant (a repeated
// timestamp): the speed over so short a step means nothing.
constexpr double kMinTimeStepMs = 0.01;
// Innovations up to this many noise levels are noise: the gain stays the
// minimum cutoff's (a still pose's innovation is about one noise level, and
// is seldom over 1.5: its square is about chi-square with 6 degrees).
constexpr double kNoiseInnovation = 1.5;
constexpr int kProbes = kPoseFilterProbes;
// The last gain counted in the expected innovation at most this much: after
// a move the gain is near 1, and the prediction's share is not that large.
constexpr double kMaxExpectedAlpha = 0.5;
constexpr int kPoseDimensions = 6;  // rotation vector, then T

// Newton's iteration for the polar factor doubles the correct digits each
// step from any matrix near a rotation; a few steps reach rounding.
constexpr int kPolarIterations = 50;
constexpr double kPolarTolerance = 1e-15;  // largest entry change that ends it

bool allFinite(const double* v, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

double norm3(const double* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Rows of the cofactor matrix are cross products of the rows of m; m^-T is
// the cofactor matrix over the determinant.
void cofactors(const double* m, double* c) {
    c[0] = m[4] * m[8] - m[5] * m[7];
    c[1] = m[5] * m[6] - m[3] * m[8];
    c[2] = m[3] * m[7] - m[4] * m[6];
    c[3] = m[7] * m[2] - m[8] * m[1];
    c[4] = m[8] * m[0] - m[6] * m[2];
    c[5] = m[6] * m[1] - m[7] * m[0];
    c[6] = m[1] * m[5] - m[2] * m[4];
    c[7] = m[2] * m[3] - m[0] * m[5];
    c[8] = m[0] * m[4] - m[1] * m[3];
}

// The rotation nearest to m (its polar factor), by X <- (X + X^-T) / 2.
// False when m is no rotation at all: determinant <= 0 at any step.
bool nearestRotation(const double* m, double* rotation) {
    double x[9], c[9];
    std::copy(m, m + 9, x);
    for (int iteration = 0; iteration < kPolarIterations; ++iteration) {
        cofactors(x, c);
        double det = x[0] * c[0] + x[1] * c[1] + x[2] * c[2];
        if (!(det > 0.0) || !std::isfinite(det)) return false;
        double change = 0.0;
        for (int i = 0; i < 9; ++i) {
            double next = 0.5 * (x[i] + c[i] / det);
            change = std::max(change, std::fabs(next - x[i]));
            x[i] = next;
        }
        if (change <= kPolarTolerance) break;
    }
    std::copy(x, x + 9, rotation);
    return allFinite(rotation, 9);
}

void normaliseQuaternion(double* q) {
    double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int i = 0; i < 4; ++i) q[i] /= n;
}

// Unit quaternion (w, x, y, z) of a rotation, from its largest diagonal
// term for accuracy (Shepperd's method).
void quaternionFromRotation(const double* R, double* q) {
    double trace = R[0] + R[4] + R[8];
    if (trace > 0.0) {
        double s = 2.0 * std::sqrt(1.0 + trace);
        q[0] = 0.25 * s, q[1] = (R[7] - R[5]) / s, q[2] = (R[2] - R[6]) / s, q[3] = (R[3] - R[1]) / s;
    } else if (R[0] > R[4] && R[0] > R[8]) {
        double s = 2.0 * std::sqrt(1.0 + R[0] - R[4] - R[8]);
        q[0] = (R[7] - R[5]) / s, q[1] = 0.25 * s, q[2] = (R[1] + R[3]) / s, q[3] = (R[2] + R[6]) / s;
    } else if (R[4] > R[8]) {
        double s = 2.0 * std::sqrt(1.0 + R[4] - R[0] - R[8]);
        q[0] = (R[2] - R[6]) / s, q[1] = (R[1] + R[3]) / s, q[2] = 0.25 * s, q[3] = (R[5] + R[7]) / s;
    } else {
        double s = 2.0 * std::sqrt(1.0 + R[8] - R[0] - R[4]);
        q[0] = (R[3] - R[1]) / s, q[1] = (R[2] + R[6]) / s, q[2] = (R[5] + R[7]) / s, q[3] = 0.25 * s;
    }
    normaliseQuaternion(q);
}

void rotationFromQuaternion(const double* q, double* R) {
    double w = q[0], x = q[1], y = q[2], z = q[3];
    R[0] = 1 - 2 * (y * y + z * z), R[1] = 2 * (x * y - w * z), R[2] = 2 * (x * z + w * y);
    R[3] = 2 * (x * y + w * z), R[4] = 1 - 2 * (x * x + z * z), R[5] = 2 * (y * z - w * x);
    R[6] = 2 * (x * z - w * y), R[7] = 2 * (y * z + w * x), R[8] = 1 - 2 * (x * x + y * y);
}

// a b, the rotation b then a (R(a b) = R(a) R(b)).
void multiplyQuaternions(const double* a, const double* b, double* ab) {
    ab[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    ab[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
    ab[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
    ab[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
}

// Rotation vector (axis times angle, radians) of a unit quaternion, the
// shorter way round.
void rotationVector(const double* q, double* v) {
    double sign = q[0] < 0.0 ? -1.0 : 1.0;
    double s = std::sqrt(q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    double scale = s > 0.0 ? 2.0 * std::atan2(s, sign * q[0]) / s : 2.0;
    for (int i = 0; i < 3; ++i) v[i] = sign * scale * q[i + 1];
}

void quaternionFromRotationVector(const double* v, double* q) {
    double angle = norm3(v);
    double scale = angle > 0.0 ? std::sin(0.5 * angle) / angle : 0.5;
    q[0] = std::cos(0.5 * angle);
    for (int i = 0; i < 3; ++i) q[i + 1] = scale * v[i];
}

// Weight of the new sample in an exponential low-pass of the given cutoff.
double smoothingFactor(double cutoffHz, double dtSeconds) {
    double tau = 1.0 / (2.0 * kPi * cutoffHz);
    return 1.0 / (1.0 + tau / dtSeconds);
}

bool parametersValid(const PoseFilter& f) {
    return f.minCutoffHz > 0.0 && std::isfinite(f.minCutoffHz) && f.beta >= 0.0 && std::isfinite(f.beta) &&
           f.boardColumns >= 2 && f.boardRows >= 2;
}

double poseJitterNoisePx(PoseFilter* f, const double* R, const double* T, const PoseNoise& noise);

// The filter restarts from the raw pose, its rotation already made one.
bool startAfresh(PoseFilter* f, double timeMs, const double* rotation, double* R, const double* T,
                 const PoseNoise& noise) {
    f->holdsPose = true;
    f->cornerNoisePx = noise.cornerNoisePx;
    f->rawPlaces = f->jitterCount = 0;
    poseJitterNoisePx(f, rotation, T, noise);
    f->timeMs = timeMs;
    quaternionFromRotation(rotation, f->q);
    std::copy(T, T + 3, f->T);
    std::fill(f->rate, f->rate + 6, 0.0);
    f->alpha = 1.0;
    std::copy(rotation, rotation + 9, R);
    return false;
}

struct Pose {
    double q[4], R[9], T[3];
};

// The filtered pose moved on by its rate over dt.
Pose predicted(const PoseFilter& f, double dtSeconds) {
    Pose p;
    double turn[3], step[4];
    for (int i = 0; i < 3; ++i) turn[i] = f.rate[i] * dtSeconds;
    quaternionFromRotationVector(turn, step);
    multiplyQuaternions(step, f.q, p.q);
    normaliseQuaternion(p.q);
    rotationFromQuaternion(p.q, p.R);
    for (int i = 0; i < 3; ++i) p.T[i] = f.T[i] + f.rate[3 + i] * dtSeconds;
    return p;
}

// The step from pose `from` to the raw pose: a rotation vector in the camera
// frame (R_raw = exp(step) R_from) and a move of T.
void stepBetween(const Pose& from, const double* rawQ, const double* rawT, double* step) {
    double inverse[4] = {from.q[0], -from.q[1], -from.q[2], -from.q[3]}, difference[4];
    multiplyQuaternions(rawQ, inverse, difference);
    rotationVector(difference, step);
    for (int i = 0; i < 3; ++i) step[3 + i] = rawT[i] - from.T[i];
}

void boardPoint(int column, int row, double height, double* P) {
    P[0] = column, P[1] = row, P[2] = -height;  // the camera sees the board from -Z
}

// The probes: the corners of the board's outline spread kProbeSpread times
// about its middle, on the board's plane and above it.
void probePoint(const PoseFilter& f, int k, double* P) {
    double middleX = 0.5 * (f.boardColumns - 1), middleY = 0.5 * (f.boardRows - 1);
    double x = middleX + ((k & 1) ? 1 : -1) * kProbeSpread * middleX;
    double y = middleY + ((k & 2) ? 1 : -1) * kProbeSpread * middleY;
    P[0] = x, P[1] = y, P[2] = k < 4 ? 0.0 : -kProbeHeight;  // the camera sees the board from -Z
}

// The point's camera coordinates; false behind the camera.
bool cameraPoint(const double* R, const double* T, const double* P, double* c) {
    for (int r = 0; r < 3; ++r) c[r] = R[3 * r] * P[0] + R[3 * r + 1] * P[1] + R[3 * r + 2] * P[2] + T[r];
    return c[2] > 1e-9;
}

// Pixel of P from the principal point, and d(pixel)/d(rotation vector, T):
// a small turn w moves the camera point c by w x c.
bool project(const double* R, const double* T, const PoseNoise& n, const double* P, double* uv, double J[2][6]) {
    double c[3];
    if (!cameraPoint(R, T, P, c)) return false;
    double z = c[2];
    uv[0] = n.f * c[0] / z, uv[1] = n.fy * c[1] / z;
    if (!J) return true;
    const double du[3] = {n.f / z, 0.0, -n.f * c[0] / (z * z)}, dv[3] = {0.0, n.fy / z, -n.fy * c[1] / (z * z)};
    const double* d[2] = {du, dv};
    for (int r = 0; r < 2; ++r) {
        // d/dw (w x c) = -[c]x
        J[r][0] = d[r][1] * c[2] - d[r][2] * c[1];
        J[r][1] = d[r][2] * c[0] - d[r][0] * c[2];
        J[r][2] = d[r][0] * c[1] - d[r][1] * c[0];
        for (int i = 0; i < 3; ++i) J[r][3 + i] = d[r][i];
    }
    return true;
}

// Solves A x = b for a symmetric positive definite 6 x 6 A (Cholesky);
// false when A is not.
bool solveSymmetric(const double A[6][6], const double* b, double* x) {
    double L[6][6] = {};
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = A[i][j];
            for (int k = 0; k < j; ++k) sum -= L[i][k] * L[j][k];
            if (i == j) {
                if (!(sum > 0.0)) return false;
                L[i][i] = std::sqrt(sum);
            } else {
                L[i][j] = sum / L[j][j];
            }
        }
    double y[6];
    for (int i = 0; i < 6; ++i) {
        double sum = b[i];
        for (int k = 0; k < i; ++k) sum -= L[i][k] * y[k];
        y[i] = sum / L[i][i];
    }
    for (int i = 5; i >= 0; --i) {
        double sum = y[i];
        for (int k = i + 1; k < 6; ++k) sum -= L[k][i] * x[k];
        x[i] = sum / L[i][i];
    }
    return true;
}

// What the pose's noise moves the probes by (RMS, px): the corners' noise
// per coordinate sigma, the pose's covariance sigma^2 (Jb^T Jb)^-1
// from the whole board's Jacobian (scaled to the corners used), through the
// probes' Jacobian.
double probeNoisePx(const PoseFilter& f, const double* R, const double* T, const PoseNoise& n) {
    int corners = std::max(n.corners, 4);
    double sigma = std::isfinite(n.cornerNoisePx) ? n.cornerNoisePx : 0.0, sigma2 = sigma * sigma;
    double A[6][6] = {};
    for (int row = 0; row < f.boardRows; ++row)
        for (int column = 0; column < f.boardColumns; ++column) {
            double P[3], uv[2], J[2][6];
            boardPoint(column, row, 0.0, P);
            if (!project(R, T, n, P, uv, J)) return kPoseFilterMinNoisePx;
            for (int a = 0; a < 6; ++a)
                for (int b = 0; b < 6; ++b) A[a][b] += J[0][a] * J[0][b] + J[1][a] * J[1][b];
        }
    double share = static_cast<double>(corners) / (f.boardColumns * f.boardRows);
    for (auto& row : A)
        for (double& v : row) v *= share;
    double sum = 0.0;
    for (int k = 0; k < kProbes; ++k) {
        double P[3], uv[2], J[2][6], x[6];
        probePoint(f, k, P);
        if (!project(R, T, n, P, uv, J)) continue;
        for (int r = 0; r < 2; ++r)
            if (solveSymmetric(A, J[r], x))
                for (int i = 0; i < 6; ++i) sum += J[r][i] * x[i];
    }
    return std::max(kPoseFilterMinNoisePx, std::sqrt(sigma2 * sum / kProbes));
}

// RMS distance of the probes between two poses, px.
double probeDistancePx(const PoseFilter& f, const double* Ra, const double* Ta, const double* Rb, const double* Tb,
                       const PoseNoise& n) {
    double sum = 0.0;
    for (int k = 0; k < kProbes; ++k) {
        double P[3], a[2], b[2];
        probePoint(f, k, P);
        if (!project(Ra, Ta, n, P, a, nullptr) || !project(Rb, Tb, n, P, b, nullptr)) return INFINITY;
        sum += (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]);
    }
    return std::sqrt(sum / kProbes);
}

bool isJump(const double* step, double distance) {
    return norm3(step) > kPoseFilterJumpRad || norm3(step + 3) > kPoseFilterJumpRad * distance;
}

// Where the rate would take the overlay against where it stands: the new
// pose's likelihood under each (Gaussian in the probes' distance over the
// expected innovation, even odds), and the rate kept by the moving one's
// share. A camera that stops, slows or turns back lands nearer where the
// overlay was than where its rate was taking it, and the rate goes before
// it can carry the overlay on; a steady move keeps it.
void keepRateAsLikely(PoseFilter* f, const double* rotation, const double* T, const Pose& last, double dtSeconds,
                      const PoseNoise& noise, double expected) {
    Pose moved = predicted(*f, dtSeconds);
    double moving = probeDistancePx(*f, rotation, T, moved.R, moved.T, noise) / expected;
    double still = probeDistancePx(*f, rotation, T, last.R, last.T, noise) / expected;
    if (!std::isfinite(moving) || !std::isfinite(still)) return;
    // exp(-m^2/2) / (exp(-m^2/2) + exp(-s^2/2)), safe from underflow.
    double share = 1.0 / (1.0 + std::exp(0.5 * (moving * moving - still * still)));
    for (double& r : f->rate) r *= share;
}

// The raw poses' own jitter at the probes: the second difference of their
// places over three frames (for noise of s px per probe, its RMS is s
// sqrt(6)), its median over the last kJitterFrames frames, which a steady
// move leaves alone and a short acceleration hardly moves. Infinite until
// kMinJitterFrames frames are in.
double poseJitterNoisePx(PoseFilter* f, const double* R, const double* T, const PoseNoise& noise) {
    double places[2 * kProbes];
    for (int k = 0; k < kProbes; ++k) {
        double P[3];
        probePoint(*f, k, P);
        if (!project(R, T, noise, P, &places[2 * k], nullptr)) return INFINITY;
    }
    if (f->rawPlaces >= 2) {
        double sum = 0.0;
        for (int i = 0; i < 2 * kProbes; ++i) {
            double d = places[i] - 2.0 * f->placesBefore[i] + f->placesBeforeThat[i];
            sum += d * d;
        }
        f->jitter[f->jitterCount % kJitterFrames] = std::sqrt(sum / kProbes / 6.0);
        ++f->jitterCount;
    }
    std::copy(f->placesBefore, f->placesBefore + 2 * kProbes, f->placesBeforeThat);
    std::copy(places, places + 2 * kProbes, f->placesBefore);
    ++f->rawPlaces;
    int n = std::min(f->jitterCount, kJitterFrames);
    if (n < kMinJitterFrames) return INFINITY;
    double sorted[kJitterFrames];
    std::copy(f->jitter, f->jitter + n, sorted);
    std::nth_element(sorted, sorted + n / 2, sorted + n);
    return std::max(kPoseFilterMinNoisePx, sorted[n / 2]);
}

// The output: the prediction moved alpha of the way to the raw pose; the
// rate by alpha^2 / (2 - alpha) of the innovation per second.
void update(PoseFilter* f, const Pose& prediction, const double* innovation, double alpha, double dtSeconds) {
    double partial[3], turn[4];
    for (int i = 0; i < 3; ++i) partial[i] = alpha * innovation[i];
    quaternionFromRotationVector(partial, turn);
    multiplyQuaternions(turn, prediction.q, f->q);
    normaliseQuaternion(f->q);
    for (int i = 0; i < 3; ++i) f->T[i] = prediction.T[i] + alpha * innovation[3 + i];
    double rateGain = alpha * alpha / (2.0 - alpha);
    for (int i = 0; i < kPoseDimensions; ++i) f->rate[i] += rateGain * innovation[i] / dtSeconds;
}

// The corners' noise per coordinate from the residuals' RMS and from their
// change since the frame before (NaN without 4 matched corners).
void residualNoise(const CornerResiduals& now, const CornerResiduals& before, double* fromResiduals,
                   double* fromChanges) {
    *fromResiduals = *fromChanges = NAN;
    if (now.n <= 3) return;
    double sum = 0.0, changeSum = 0.0;
    int matched = 0;
    for (int k = 0; k < now.n; ++k) {
        sum += now.dx[k] * now.dx[k] + now.dy[k] * now.dy[k];
        for (int j = 0; j < before.n; ++j) {
            if (before.boardX[j] != now.boardX[k] || before.boardY[j] != now.boardY[k]) continue;
            double cx = now.dx[k] - before.dx[j], cy = now.dy[k] - before.dy[j];
            changeSum += cx * cx + cy * cy;
            ++matched;
            break;
        }
    }
    // E|r|^2 = 2 sigma^2 (1 - 3/n) per corner; a change of two such: twice that.
    double kept = 1.0 - 3.0 / now.n;
    *fromResiduals = std::sqrt(sum / now.n / (2.0 * kept));
    if (matched > 3) *fromChanges = std::sqrt(changeSum / matched / (4.0 * kept));
}

}  // namespace

double cornerNoisePx(const CornerResiduals& now, const CornerResiduals& before) {
    double fromResiduals, fromChanges;
    residualNoise(now, before, &fromResiduals, &fromChanges);
    if (std::isnan(fromChanges)) return fromResiduals;
    return std::min(fromResiduals, kResidualChangeCap * fromChanges);
}

bool residualsMostlyModelError(const CornerResiduals& now, const CornerResiduals& before) {
    double fromResiduals, fromChanges;
    residualNoise(now, before, &fromResiduals, &fromChanges);
    double rms = fromResiduals * std::sqrt(2.0 * (1.0 - 3.0 / std::max(now.n, 4)));
    return rms > kModelErrorRmsPx || fromResiduals > kResidualChangeCap * fromChanges;
}

void initPoseFilter(PoseFilter* filter, double minCutoffHz, double beta, int boardColumns, int boardRows) {
    filter->minCutoffHz = minCutoffHz > 0.0 && std::isfinite(minCutoffHz) ? minCutoffHz : kPoseFilterMinCutoffHz;
    filter->beta = beta >= 0.0 && std::isfinite(beta) ? beta : kPoseFilterBeta;
    bool board = boardColumns >= 2 && boardRows >= 2;
    filter->boardColumns = board ? boardColumns : 8;
    filter->boardRows = board ? boardRows : 6;
    resetPoseFilter(filter);
}

void resetPoseFilter(PoseFilter* filter) {
    filter->holdsPose = false;
    filter->timeMs = 0.0;
    std::fill(filter->q, filter->q + 4, 0.0);
    filter->q[0] = 1.0;
    std::fill(filter->T, filter->T + 3, 0.0);
    std::fill(filter->rate, filter->rate + 6, 0.0);
    filter->innovationPx = filter->noisePx = filter->cornerNoisePx = NAN;
    filter->rawPlaces = filter->jitterCount = 0;
    filter->alpha = 1.0;
}

bool filterPose(PoseFilter* f, double timeMs, const PoseNoise& noise, double R[9], double T[3]) {
    double rotation[9];
    if (!parametersValid(*f) || !std::isfinite(timeMs) || !allFinite(R, 9) || !allFinite(T, 3) ||
        !nearestRotation(R, rotation) || !(noise.f > 0) || !(noise.fy > 0)) {
        resetPoseFilter(f);
        return false;
    }
    double dtMs = timeMs - f->timeMs;
    if (!f->holdsPose || !(dtMs >= kMinTimeStepMs) || dtMs > kPoseFilterMaxGapMs)
        return startAfresh(f, timeMs, rotation, R, T, noise);
    double rawQ[4], fromLast[6], innovation[6];
    quaternionFromRotation(rotation, rawQ);
    Pose last = predicted(*f, 0.0);
    stepBetween(last, rawQ, T, fromLast);
    if (isJump(fromLast, norm3(f->T))) return startAfresh(f, timeMs, rotation, R, T, noise);

    double dtSeconds = dtMs / kMsPerSecond;
    // The detector's noise changes slowly (light, blur): a sudden rise is a
    // move changing what the corners miss, and would make the filter lag
    // just when the move ends.
    double measured = std::isfinite(noise.cornerNoisePx) ? noise.cornerNoisePx : f->cornerNoisePx;
    double ceiling = f->cornerNoisePx * std::exp(dtSeconds / kNoiseRiseSeconds);
    f->cornerNoisePx = std::isfinite(ceiling) && std::isfinite(measured) ? std::min(measured, ceiling) : measured;
    PoseNoise steady = noise;
    steady.cornerNoisePx = f->cornerNoisePx;
    f->noisePx = std::min(probeNoisePx(*f, rotation, T, steady), poseJitterNoisePx(f, rotation, T, noise));
    // The innovation of a still pose is its own noise and the prediction's:
    // the steady state of the last gain puts their sum at noise^2 / (1 - alpha).
    double expected = f->noisePx / std::sqrt(1.0 - std::min(f->alpha, kMaxExpectedAlpha));
    keepRateAsLikely(f, rotation, T, last, dtSeconds, noise, expected);
    Pose prediction = predicted(*f, dtSeconds);
    stepBetween(prediction, rawQ, T, innovation);
    f->innovationPx = probeDistancePx(*f, rotation, T, prediction.R, prediction.T, noise);
    double excess = std::max(0.0, f->innovationPx / expected - kNoiseInnovation);
    f->alpha = std::isfinite(excess) ? smoothingFactor(f->minCutoffHz + f->beta * excess * excess, dtSeconds) : 1.0;
    update(f, prediction, innovation, f->alpha, dtSeconds);
    if (!allFinite(f->q, 4) || !allFinite(f->T, 3) || !allFinite(f->rate, 6))
        return startAfresh(f, timeMs, rotation, R, T, noise);
    f->timeMs = timeMs;
    rotationFromQuaternion(f->q, R);
    std::copy(f->T, f->T + 3, T);
    return true;
}
