// pose_filter.cpp - the adaptive low-pass on the camera pose (see the header).
#include "pose_filter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMsPerSecond = 1000.0;
// Frames closer in time than this are taken as the same instant (a repeated
// timestamp): the speed over so short a step means nothing.
constexpr double kMinTimeStepMs = 0.01;

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

// The filter restarts from the raw pose, its rotation already made one.
bool startAfresh(PoseFilter* f, double timeMs, const double* rotation, double* R, const double* T) {
    f->holdsPose = true;
    f->timeMs = timeMs;
    quaternionFromRotation(rotation, f->q);
    std::copy(T, T + 3, f->T);
    std::fill(f->rate, f->rate + 6, 0.0);
    std::copy(rotation, rotation + 9, R);
    return false;
}

// The fields are the caller's to set: a cutoff of 0 would freeze the pose,
// a NaN would spread to it.
bool parametersValid(const PoseFilter& f) {
    return f.minCutoffHz > 0.0 && std::isfinite(f.minCutoffHz) && f.beta >= 0.0 && std::isfinite(f.beta) &&
           f.derivativeCutoffHz > 0.0 && std::isfinite(f.derivativeCutoffHz);
}

// The step from the filtered pose to the raw one: a rotation vector in the
// camera frame (R_raw = exp(step) R_filtered) and a move of T.
struct Step {
    double rotation[3], translation[3];
};

Step stepToRaw(const PoseFilter& f, const double* rotation, const double* T) {
    double raw[4], inverse[4] = {f.q[0], -f.q[1], -f.q[2], -f.q[3]}, difference[4];
    quaternionFromRotation(rotation, raw);
    multiplyQuaternions(raw, inverse, difference);
    Step s;
    rotationVector(difference, s.rotation);
    for (int i = 0; i < 3; ++i) s.translation[i] = T[i] - f.T[i];
    return s;
}

bool isJump(const Step& s, double distance) {
    return norm3(s.rotation) > kPoseFilterJumpRad || norm3(s.translation) > kPoseFilterJumpRad * distance;
}

// The step's rates, low-passed; returns the speed that sets the cutoff: how
// fast the sight lines turn (rad/s).
double updateRates(PoseFilter* f, const Step& s, double distance, double dtSeconds) {
    double alpha = smoothingFactor(f->derivativeCutoffHz, dtSeconds);
    for (int i = 0; i < 3; ++i) {
        f->rate[i] += alpha * (s.rotation[i] / dtSeconds - f->rate[i]);
        f->rate[3 + i] += alpha * (s.translation[i] / dtSeconds - f->rate[3 + i]);
    }
    double turning = norm3(f->rate), moving = distance > 0.0 ? norm3(f->rate + 3) / distance : 0.0;
    return std::max(turning, moving);
}

// The filtered pose moves the fraction alpha of the step.
void advance(PoseFilter* f, const Step& s, double alpha) {
    double partial[3], turn[4], q[4];
    for (int i = 0; i < 3; ++i) partial[i] = alpha * s.rotation[i];
    quaternionFromRotationVector(partial, turn);
    multiplyQuaternions(turn, f->q, q);
    normaliseQuaternion(q);
    std::copy(q, q + 4, f->q);
    for (int i = 0; i < 3; ++i) f->T[i] += alpha * s.translation[i];
}

}  // namespace

void initPoseFilter(PoseFilter* filter, double minCutoffHz, double beta) {
    filter->minCutoffHz = minCutoffHz > 0.0 && std::isfinite(minCutoffHz) ? minCutoffHz : kPoseFilterMinCutoffHz;
    filter->beta = beta >= 0.0 && std::isfinite(beta) ? beta : kPoseFilterBeta;
    filter->derivativeCutoffHz = kPoseFilterDerivativeCutoffHz;
    resetPoseFilter(filter);
}

void resetPoseFilter(PoseFilter* filter) {
    filter->holdsPose = false;
    filter->timeMs = 0.0;
    std::fill(filter->q, filter->q + 4, 0.0);
    filter->q[0] = 1.0;
    std::fill(filter->T, filter->T + 3, 0.0);
    std::fill(filter->rate, filter->rate + 6, 0.0);
}

bool filterPose(PoseFilter* f, double timeMs, double R[9], double T[3]) {
    double rotation[9];
    if (!parametersValid(*f) || !std::isfinite(timeMs) || !allFinite(R, 9) || !allFinite(T, 3) ||
        !nearestRotation(R, rotation)) {
        resetPoseFilter(f);
        return false;
    }
    double dtMs = timeMs - f->timeMs;
    if (!f->holdsPose || !(dtMs >= kMinTimeStepMs) || dtMs > kPoseFilterMaxGapMs)
        return startAfresh(f, timeMs, rotation, R, T);
    Step step = stepToRaw(*f, rotation, T);
    double distance = norm3(f->T);
    if (isJump(step, distance)) return startAfresh(f, timeMs, rotation, R, T);

    double dtSeconds = dtMs / kMsPerSecond;
    double speed = updateRates(f, step, distance, dtSeconds);
    advance(f, step, smoothingFactor(f->minCutoffHz + f->beta * speed, dtSeconds));
    if (!allFinite(f->q, 4) || !allFinite(f->T, 3)) return startAfresh(f, timeMs, rotation, R, T);
    f->timeMs = timeMs;
    rotationFromQuaternion(f->q, R);
    std::copy(f->T, f->T + 3, T);
    return true;
}
