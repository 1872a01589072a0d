// smoothing_bench.cpp - the pose filter offline: registration error, jitter
// and lag of the raw and the filtered poses side by side, for a few settings
// of the filter, on an arrender pose log of the sample video and on
// synthetic moves.
//
// The pose log's frames are filtered in order, as the viewer does: a frame
// without the board resets the filter; the time is a `time_ms` column when
// the log has one, else frame * 1000 / 30. The figures follow pose_error's
// definitions (its corner tables, its projection, its percentiles): the
// per-frame mean of the 16 building corners' and of all 64 corners'
// distances between the projections through the estimated and the true
// camera, median and 95th percentile over the frames where the true camera
// moves; the jitter of the building corners on the still stretch (RMS and
// maximum of their frame-to-frame displacement). The lag: the time shift, in
// frames, of the true trajectory that best fits the estimated one (least
// squares over the 64 corners' projections, the truth interpolated linearly
// in the picture) on the second of the video where the true camera moves
// fastest; the filter's own lag is its figure minus the raw one's.
// The synthetic moves, with exact poses and no noise: a camera 24 units from
// the board that starts panning at a constant speed (the lag in frames, the
// angle between the filtered and the raw pose over the pan's step per frame:
// its largest value and the one after a second), and a sudden turn held
// afterwards (the share of the turn made on its own frame, the frames until
// the filtered pose is within 0.1 px of the raw one at f = 600 px).
// Limits: as pose_error's (the log's frames the truth's first ones, from 0;
// lines of at most 64 KiB, at most a million frames).
//
// Usage:
//     smoothing_bench poses.csv board_truth.csv
//     smoothing_bench poses.csv board_truth.csv --setting 1:50:2 --setting 0.5:0 --still 39:69
//     smoothing_bench poses.csv board_truth.csv --write smoothed.csv  # then pose_error on it
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "csv_fields.h"
#include "percentile.h"
#include "pose_filter.h"
#include "tsai.h"

namespace {

constexpr const char* kProgram = "smoothing_bench";
constexpr int kInputError = 1, kUsageError = 2;
constexpr double kPi = 3.14159265358979323846;

constexpr double kFramesPerSecond = 30.0;  // when the log has no time column
constexpr size_t kMaxLineBytes = 65536;
constexpr long kMaxFrames = 1000000;
constexpr double kMinDepth = 1e-9;  // world units in front of the camera

// A filter's parameters: minimum cutoff (Hz), beta (Hz per noise level).
struct Setting {
    double minCutoffHz, beta;
};
constexpr Setting kDefaultSetting = {kPoseFilterMinCutoffHz, kPoseFilterBeta};
const Setting kDefaultSettings[] = {kDefaultSetting, {1.0, 0.0}, {1.0, 3.0}, {1.0, 30.0}, {0.5, 10.0}, {2.0, 10.0}};

// Board and buildings, as in tools/pose_error.cpp: corner k of the board at
// world (k mod 8, k div 8, 0); building corners in the board frame (x, y, z),
// the world point (x, z, -y).
constexpr int kCornerColumns = 8, kBoardCorners = 48, kBuildingCorners = 16;
constexpr int kAllCorners = kBoardCorners + kBuildingCorners;
constexpr double kBuildingCornersInBoardFrame[kBuildingCorners][3] = {
    {2.0, 0.0, 8.2},   {2.0, 6.0, 8.2},   {2.0, 6.0, 12.4},  {2.0, 0.0, 12.4},
    {7.2, 0.0, 8.2},   {7.2, 6.0, 8.2},   {7.0, 6.0, 12.4},  {7.0, 0.0, 12.4},
    {11.0, 0.0, 1.0},  {11.0, 4.0, 1.0},  {11.0, 4.0, 5.0},  {11.0, 0.0, 5.0},
    {15.4, 0.0, 1.4},  {15.2, 4.0, 1.3},  {15.3, 4.0, 5.4},  {15.4, 0.0, 5.4}};

// Lag: the fastest second of the video, shifts searched within +-kMaxShift.
constexpr int kLagWindowFrames = 30;
constexpr double kMaxShiftFrames = 3.0, kShiftStepFrames = 0.01;

// Synthetic moves: a short and a long lens, the corners' noise of a sharp
// detection (the filter's noise level; the poses themselves are exact).
const double kSyntheticFocals[] = {500.0, 1500.0};  // pixels
constexpr double kSyntheticCornerNoisePx = 0.1;  // per coordinate
constexpr double kSyntheticDistance = 24.0;    // world units
constexpr int kLoggedCorners = 48;             // corners a logged pose came from (the log does not say)
constexpr int kRestFrames = 30, kMoveFrames = 30;
const double kPanSpeedsDegPerS[] = {10.0, 30.0, 60.0, 120.0};
const double kTurnsDeg[] = {0.5, 2.0, 5.0, 10.0};
constexpr double kSettledPx = 0.1;

struct Pose {
    bool found;
    double f, R[9], T[3], timeMs;
    double fy, rmsPx;  // the log's fy (f without one) and corner RMS (NaN without one)
};

struct Point2 {
    double x, y;
};

struct Stretch {
    long first, last;  // inclusive; first < 0 when none
};

// ---------------------------------------------------------------- reading

bool fail(const std::string& path, long line, const std::string& problem) {
    if (line > 0) std::fprintf(stderr, "%s: %s: line %ld: %s\n", kProgram, path.c_str(), line, problem.c_str());
    else std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), problem.c_str());
    return false;
}

// Column indices of the camera: f, r1..r9, tx, ty, tz.
constexpr int kCameraColumns = 13;
const char* const kCameraNames[kCameraColumns] = {"f",  "r1", "r2", "r3", "r4", "r5", "r6",
                                                  "r7", "r8", "r9", "tx", "ty", "tz"};

// Reads a CSV of cameras, one row per frame counted from 0, columns found by
// name; `found` and `time_ms` are optional (always found, no time).
bool readCameras(const std::string& path, std::vector<Pose>* poses) {
    std::ifstream in(path);
    if (!in) return fail(path, 0, std::string("cannot read: ") + std::strerror(errno));
    std::string line;
    if (!std::getline(in, line)) return fail(path, 0, "empty file");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> header = splitCsvFields(line);
    int frameColumn = csvColumn(header, "frame"), foundColumn = csvColumn(header, "found");
    int timeColumn = csvColumn(header, "time_ms"), camera[kCameraColumns];
    int fyColumn = csvColumn(header, "fy"), rmsColumn = csvColumn(header, "rms_px");
    bool complete = frameColumn >= 0;
    for (int i = 0; i < kCameraColumns; ++i) {
        camera[i] = csvColumn(header, kCameraNames[i]);
        complete = complete && camera[i] >= 0;
    }
    if (!complete) return fail(path, 1, "no frame, f, r1..r9, tx, ty, tz columns");
    for (long row = 2; std::getline(in, line); ++row) {
        if (line.size() > kMaxLineBytes) return fail(path, row, "line too long");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields = splitCsvFields(line);
        if (fields.size() != header.size())
            return fail(path, row, "expected " + std::to_string(header.size()) + " fields");
        if ((long)poses->size() >= kMaxFrames) return fail(path, row, "more than a million frames");
        Pose p = {true, 0, {0}, {0}, 0, 0, NAN};
        double values[kCameraColumns], frame = 0, found = 1;
        bool ok = parseCsvNumber(fields[frameColumn], &frame) && frame == (double)poses->size();
        for (int i = 0; i < kCameraColumns; ++i) ok = ok && parseCsvNumber(fields[camera[i]], &values[i]);
        if (foundColumn >= 0) ok = ok && parseCsvNumber(fields[foundColumn], &found) && (found == 0 || found == 1);
        p.timeMs = (double)poses->size() * 1000.0 / kFramesPerSecond;
        if (timeColumn >= 0) ok = ok && parseCsvNumber(fields[timeColumn], &p.timeMs);
        if (rmsColumn >= 0 && !parseCsvNumber(fields[rmsColumn], &p.rmsPx)) p.rmsPx = NAN;  // "nan" without a board
        if (fyColumn >= 0) ok = ok && parseCsvNumber(fields[fyColumn], &p.fy);
        if (!ok) return fail(path, row, "malformed row, or frame not " + std::to_string(poses->size()));
        p.found = found == 1;
        p.f = values[0];
        if (fyColumn < 0) p.fy = p.f;
        std::copy(values + 1, values + 10, p.R);
        std::copy(values + 10, values + 13, p.T);
        poses->push_back(p);
    }
    if (poses->empty()) return fail(path, 0, "no frames");
    return true;
}

// ---------------------------------------------------------------- measuring

void cornerPoints(double (*points)[3]) {
    for (int k = 0; k < kBoardCorners; ++k) {
        points[k][0] = k % kCornerColumns, points[k][1] = k / kCornerColumns, points[k][2] = 0.0;
    }
    for (int k = 0; k < kBuildingCorners; ++k) {
        const double* b = kBuildingCornersInBoardFrame[k];
        double* p = points[kBoardCorners + k];
        p[0] = b[0], p[1] = b[2], p[2] = -b[1];
    }
}

// Image point of p through c; infinite when p is not in front of the camera.
Point2 project(const Pose& c, const double* p) {
    double depth = c.R[6] * p[0] + c.R[7] * p[1] + c.R[8] * p[2] + c.T[2];
    if (!(depth > kMinDepth)) return {INFINITY, INFINITY};
    Point2 q;
    tsaiProject(p[0], p[1], p[2], &q.x, &q.y, c.f, c.T, c.R);
    return q;
}

double distance(Point2 a, Point2 b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A frame is measured when the board was found and a camera was in force.
bool measured(const Pose& p) { return p.found && p.f > 0; }

bool sameCamera(const Pose& a, const Pose& b) {
    return a.f == b.f && std::equal(a.R, a.R + 9, b.R) && std::equal(a.T, a.T + 3, b.T);
}

// The longest run of identical true cameras, as pose_error picks it.
Stretch longestStillRun(const std::vector<Pose>& truth) {
    Stretch best = {-1, -1};
    long runStart = 0;
    for (long i = 1; i < (long)truth.size(); ++i) {
        if (!sameCamera(truth[i], truth[i - 1])) runStart = i;
        else if (best.first < 0 || i - runStart > best.last - best.first) best = {runStart, i};
    }
    return best;
}

// The registration errors: per-frame mean or maximum distance over a range
// of corners, on the frames where the true camera moves or on all (as
// pose_error reports them).
struct ErrorKind {
    int firstCorner, lastCorner;  // [first, last)
    bool movingOnly, largest;
};
enum ErrorFigure {
    kMovingBuildingMean, kMovingAllMean, kBuildingMean, kBuildingMax, kAllMean, kAllMax, kErrorFigures
};
constexpr ErrorKind kErrorKinds[kErrorFigures] = {
    {kBoardCorners, kAllCorners, true, false}, {0, kAllCorners, true, false},
    {kBoardCorners, kAllCorners, false, false}, {kBoardCorners, kAllCorners, false, true},
    {0, kAllCorners, false, false},             {0, kAllCorners, false, true}};

struct Figures {
    long resets;
    double median[kErrorFigures], p95[kErrorFigures];  // px
    double jitterRms, jitterMax;                       // still stretch (px)
    double lagFrames;
};

std::vector<double> frameErrors(const std::vector<Pose>& poses, const std::vector<Pose>& truth,
                                const double (*points)[3], ErrorKind kind) {
    std::vector<double> errors;
    for (size_t i = 0; i < poses.size(); ++i) {
        if (!measured(poses[i]) || (kind.movingOnly && (i == 0 || sameCamera(truth[i], truth[i - 1])))) continue;
        double sum = 0.0, largest = 0.0;
        for (int k = kind.firstCorner; k < kind.lastCorner; ++k) {
            double d = distance(project(poses[i], points[k]), project(truth[i], points[k]));
            sum += d, largest = std::max(largest, d);
        }
        errors.push_back(kind.largest ? largest : sum / (kind.lastCorner - kind.firstCorner));
    }
    return errors;
}

void measureJitter(const std::vector<Pose>& poses, Stretch s, const double (*points)[3], Figures* f) {
    double sumSquares = 0.0, largest = 0.0;
    long displacements = 0;
    for (long i = s.first + 1; s.first >= 0 && i <= s.last && i < (long)poses.size(); ++i) {
        if (!measured(poses[i]) || !measured(poses[i - 1])) continue;
        for (int k = kBoardCorners; k < kAllCorners; ++k) {
            double d = distance(project(poses[i], points[k]), project(poses[i - 1], points[k]));
            sumSquares += d * d;
            largest = std::max(largest, d);
            ++displacements;
        }
    }
    f->jitterRms = displacements > 0 ? std::sqrt(sumSquares / displacements) : NAN;
    f->jitterMax = displacements > 0 ? largest : NAN;
}

// ---------------------------------------------------------------- lag

typedef std::vector<Point2> Projection;  // kAllCorners points of one frame

std::vector<Projection> projectAll(const std::vector<Pose>& poses, const double (*points)[3]) {
    std::vector<Projection> all(poses.size(), Projection(kAllCorners));
    for (size_t i = 0; i < poses.size(); ++i)
        for (int k = 0; k < kAllCorners; ++k) all[i][k] = project(poses[i], points[k]);
    return all;
}

// The first frame of the kLagWindowFrames frames (room for the shifts on
// both sides) over which the true projections move the most.
long fastestWindow(const std::vector<Projection>& truth) {
    long margin = (long)std::ceil(kMaxShiftFrames) + 1, best = -1;
    double bestMotion = -1.0;
    for (long first = margin; first + kLagWindowFrames + margin <= (long)truth.size(); ++first) {
        double motion = 0.0;
        for (long i = first; i < first + kLagWindowFrames; ++i)
            for (int k = 0; k < kAllCorners; ++k) motion += distance(truth[i][k], truth[i - 1][k]);
        if (std::isfinite(motion) && motion > bestMotion) bestMotion = motion, best = first;
    }
    return best;
}

// Mean squared distance between the estimates and the truth `shift` frames
// earlier, the truth interpolated linearly in the picture.
double shiftedError(const std::vector<Projection>& estimate, const std::vector<Pose>& poses,
                    const std::vector<Projection>& truth, long first, double shift) {
    double sum = 0.0;
    long count = 0;
    for (long i = first; i < first + kLagWindowFrames; ++i) {
        if (!measured(poses[i])) continue;
        double at = i - shift;
        long below = (long)std::floor(at);
        double w = at - below;
        for (int k = 0; k < kAllCorners; ++k) {
            Point2 a = truth[below][k], b = truth[below + 1][k];
            Point2 t = {a.x + w * (b.x - a.x), a.y + w * (b.y - a.y)};
            double d = distance(estimate[i][k], t);
            sum += d * d;
            ++count;
        }
    }
    return count > 0 ? sum / count : INFINITY;
}

double estimateLag(const std::vector<Pose>& poses, const std::vector<Projection>& truth, long first,
                   const double (*points)[3]) {
    if (first < 0) return NAN;
    std::vector<Projection> estimate = projectAll(poses, points);
    double bestShift = NAN, bestError = INFINITY;
    for (double shift = -kMaxShiftFrames; shift <= kMaxShiftFrames + 1e-9; shift += kShiftStepFrames) {
        double e = shiftedError(estimate, poses, truth, first, shift);
        if (e < bestError) bestError = e, bestShift = shift;
    }
    return bestShift;
}

// ---------------------------------------------------------------- filtering

void initFilter(PoseFilter* filter, Setting s) { initPoseFilter(filter, s.minCutoffHz, s.beta); }

void settingName(Setting s, char* name, size_t size) { std::snprintf(name, size, "%.2g Hz, %g", s.minCutoffHz, s.beta); }

// The log's poses through a filter of the given setting, frame by frame.
std::vector<Pose> filterPoses(const std::vector<Pose>& raw, Setting s, long* resets) {
    PoseFilter filter;
    initFilter(&filter, s);
    std::vector<Pose> filtered = raw;
    *resets = 0;
    for (Pose& p : filtered) {
        if (!measured(p)) {
            resetPoseFilter(&filter);
            continue;
        }
        // The log has each pose's corner RMS, not the residuals themselves.
        double sigma = p.rmsPx / std::sqrt(2.0 * (1.0 - 3.0 / kLoggedCorners));
        PoseNoise noise = {p.f, p.fy > 0 ? p.fy : p.f, sigma, kLoggedCorners};
        if (!filterPose(&filter, p.timeMs, noise, p.R, p.T)) ++*resets;
    }
    return filtered;
}

struct Video {
    std::vector<Pose> raw, truth;
    Stretch still;
    long lagFirst;
    std::vector<Projection> truthProjection;
    double points[kAllCorners][3];
};

Figures measure(const Video& v, const std::vector<Pose>& poses, long resets) {
    Figures f;
    f.resets = resets;
    for (int e = 0; e < kErrorFigures; ++e) {
        std::vector<double> errors = frameErrors(poses, v.truth, v.points, kErrorKinds[e]);
        f.median[e] = percentile(errors, 0.5), f.p95[e] = percentile(errors, 0.95);
    }
    measureJitter(poses, v.still, v.points, &f);
    f.lagFrames = estimateLag(poses, v.truthProjection, v.lagFirst, v.points);
    return f;
}

struct Row {
    std::string name;
    Figures figures;
};

// The figures the defaults are chosen by: moving frames, still stretch, fastest second.
void printMotionTable(const Video& v, const std::vector<Row>& rows) {
    std::printf("moving frames (the true camera moves), per-frame mean error; ");
    if (v.still.first < 0) std::printf("jitter: no still stretch;\n");
    else std::printf("jitter: frames %ld-%ld;\n", v.still.first, v.still.last);
    if (v.lagFirst < 0) std::printf("lag: the log is too short\n\n");
    else std::printf("lag: frames %ld-%ld\n\n", v.lagFirst, v.lagFirst + kLagWindowFrames - 1);
    std::printf("%-22s %6s | %-15s | %-15s | %-15s | %s\n", "", "", "buildings (px)", "all corners (px)",
                "jitter (px)", "lag (frames)");
    std::printf("%-22s %6s | %7s %7s | %7s %7s | %7s %7s | %7s %7s\n", "poses", "resets", "median", "p95",
                "median", "p95", "RMS", "max", "vs truth", "added");
    const Figures& raw = rows[0].figures;
    for (const Row& r : rows) {
        const Figures& f = r.figures;
        std::printf("%-22s %6ld | %7.3f %7.3f | %7.3f %7.3f | %7.3f %7.3f | %8.2f %7.2f\n", r.name.c_str(), f.resets,
                    f.median[kMovingBuildingMean], f.p95[kMovingBuildingMean], f.median[kMovingAllMean],
                    f.p95[kMovingAllMean], f.jitterRms, f.jitterMax, f.lagFrames, f.lagFrames - raw.lagFrames);
    }
}

// pose_error's error figures, over every measured frame.
void printAllFramesTable(const std::vector<Row>& rows) {
    std::printf("\nall measured frames, as pose_error (median / 95th percentile, px)\n\n");
    std::printf("%-22s | %-15s | %-15s | %-15s | %-15s\n", "poses", "buildings mean", "buildings max",
                "all mean", "all max");
    for (const Row& r : rows) {
        std::printf("%-22s", r.name.c_str());
        for (int e = kBuildingMean; e <= kAllMax; ++e)
            std::printf(" | %7.3f %7.3f", r.figures.median[e], r.figures.p95[e]);
        std::printf("\n");
    }
}

// ---------------------------------------------------------------- synthetic moves

// R, T of a camera that has turned by `angle` (radians) about its own
// vertical axis from the base pose: Pc = Q (R0 P + T0).
Pose turnedCamera(double angle, double timeMs, double f) {
    const double tilt = 20.0 * kPi / 180.0;  // the board seen at a slant
    double c = std::cos(tilt), s = std::sin(tilt);
    double R0[9] = {1, 0, 0, 0, c, -s, 0, s, c}, T0[3] = {-3.5, -2.5, kSyntheticDistance};
    double ca = std::cos(angle), sa = std::sin(angle), Q[9] = {ca, 0, sa, 0, 1, 0, -sa, 0, ca};
    Pose p = {true, f, {0}, {0}, timeMs, f, kSyntheticCornerNoisePx};
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col)
            for (int k = 0; k < 3; ++k) p.R[3 * r + col] += Q[3 * r + k] * R0[3 * k + col];
        for (int k = 0; k < 3; ++k) p.T[r] += Q[3 * r + k] * T0[k];
    }
    return p;
}

// Angle between two rotations (radians), from the Frobenius norm of their
// difference, exact for small angles.
double angleBetween(const double* Ra, const double* Rb) {
    double sum = 0.0;
    for (int i = 0; i < 9; ++i) sum += (Ra[i] - Rb[i]) * (Ra[i] - Rb[i]);
    return 2.0 * std::asin(std::min(1.0, std::sqrt(sum) / (2.0 * std::sqrt(2.0))));
}

// A still camera that then turns by angle(t): the filtered poses' angle to
// the raw ones on the frames of the move.
std::vector<double> syntheticMoveErrors(Setting s, double f, double (*angleAt)(double seconds, double amount),
                                        double amount) {
    PoseFilter filter;
    initFilter(&filter, s);
    std::vector<double> errors;
    for (int frame = 0; frame < kRestFrames + kMoveFrames; ++frame) {
        double seconds = std::max(0, frame - kRestFrames + 1) / kFramesPerSecond;
        Pose raw = turnedCamera(angleAt(seconds, amount), frame * 1000.0 / kFramesPerSecond, f), out = raw;
        filterPose(&filter, out.timeMs, PoseNoise{f, f, kSyntheticCornerNoisePx, kLoggedCorners}, out.R, out.T);
        if (frame >= kRestFrames) errors.push_back(angleBetween(out.R, raw.R));
    }
    return errors;
}

double panAngle(double seconds, double degreesPerSecond) { return seconds * degreesPerSecond * kPi / 180.0; }
double turnAngle(double seconds, double degrees) { return seconds > 0 ? degrees * kPi / 180.0 : 0.0; }

void printSyntheticMoves(const std::vector<Setting>& settings) {
    for (double f : kSyntheticFocals) {
        std::printf("\nsynthetic moves (f %.0f px, distance %.0f, exact poses, corners' noise %.2f px): a pan from\n"
                    "rest, lag in frames (largest, after 1 s); a sudden turn, share made on its frame and frames\n"
                    "to within %.1f px\n\n",
                    f, kSyntheticDistance, kSyntheticCornerNoisePx, kSettledPx);
        std::printf("%-22s", "setting");
        for (double speed : kPanSpeedsDegPerS) std::printf(" %5.0f deg/s ", speed);
        for (double turn : kTurnsDeg) std::printf(" %5.1f deg  ", turn);
        std::printf("\n");
        for (const Setting& s : settings) {
            char name[64];
            settingName(s, name, sizeof name);
            std::printf("%-22s", name);
            for (double speed : kPanSpeedsDegPerS) {
                std::vector<double> e = syntheticMoveErrors(s, f, panAngle, speed);
                double step = speed * kPi / 180.0 / kFramesPerSecond;
                std::printf(" %5.2f %5.2f ", *std::max_element(e.begin(), e.end()) / step, e.back() / step);
            }
            for (double turn : kTurnsDeg) {
                std::vector<double> e = syntheticMoveErrors(s, f, turnAngle, turn);
                int settled = 0;
                while (settled < (int)e.size() && e[settled] * f > kSettledPx) ++settled;
                std::printf(" %4.0f%% %4d ", 100.0 * (1.0 - e[0] / (turn * kPi / 180.0)), settled);
            }
            std::printf("\n");
        }
    }
}

// The leading columns of a pose log, under a temporary name until complete.
bool writePoses(const std::string& path, const std::vector<Pose>& poses) {
    PendingFile file = pendingFile(path);
    std::FILE* out = std::fopen(file.partialPath.c_str(), "w");
    if (!out) return fail(path, 0, std::string("cannot write: ") + std::strerror(errno));
    std::fprintf(out, "frame,found,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,fy,rms_px\n");
    for (size_t i = 0; i < poses.size(); ++i) {
        const Pose& p = poses[i];
        std::fprintf(out, "%zu,%d,%.9g", i, p.found ? 1 : 0, p.f);
        for (double v : p.R) std::fprintf(out, ",%.9g", v);
        for (double v : p.T) std::fprintf(out, ",%.9g", v);
        std::fprintf(out, ",%.9g,%.4f\n", p.fy, p.rmsPx);
    }
    bool ok = std::fflush(out) == 0 && !std::ferror(out);
    ok = std::fclose(out) == 0 && ok;
    std::string error;
    if (ok && commitFile(file, &error)) return true;
    discardFile(file);
    return fail(path, 0, "cannot write");
}

// ---------------------------------------------------------------- command line

const char* const kUsage =
    "usage: smoothing_bench POSES.csv TRUTH.csv [--setting MIN_HZ:BETA]...\n"
    "                       [--still FIRST:LAST]\n"
    "Filters the poses of an arrender pose log (--poses) with the pose filter,\n"
    "frame by frame (frame time: a time_ms column, else frame * 1000 / 30), and\n"
    "prints for the raw and the filtered poses: the registration error against\n"
    "the true cameras (make_board_video's CSV) of the building corners and of all\n"
    "corners on the frames where the camera moves (median and 95th percentile of\n"
    "the per-frame mean), the jitter of the building corners on the still\n"
    "stretch, the lag behind the truth on the fastest second; then the lag on\n"
    "synthetic pans and turns.\n"
    "  --setting MIN_HZ:BETA   a filter to compare: minimum cutoff, beta (Hz per\n"
    "                         noise level; repeatable; default: the filter's\n"
    "                         defaults and a few others)\n"
    "  --still FIRST:LAST     the still stretch (default: the longest run of\n"
    "                         identical true cameras)\n"
    "  --write PATH           also writes the poses filtered with the first\n"
    "                         setting as a pose log (frame, found, f, R, T) that\n"
    "                         pose_error reads\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, message.c_str());
    return kUsageError;
}

bool parsePair(const std::string& text, double* a, double* b) {
    size_t colon = text.find(':');
    return colon != std::string::npos && parseCsvNumber(text.substr(0, colon), a) &&
           parseCsvNumber(text.substr(colon + 1), b);
}

// MIN_HZ:BETA.
bool parseSetting(const std::string& text, Setting* s) {
    *s = kDefaultSetting;
    return parsePair(text, &s->minCutoffHz, &s->beta) && s->minCutoffHz > 0 && s->beta >= 0;
}

struct Options {
    std::string posesPath, truthPath;
    std::vector<Setting> settings;
    Stretch still = {-1, -1};
    std::string writePath;  // the first setting's poses, for pose_error or a diff
};

// 0 when the options are complete; -1 after --help; else the exit status.
int parseArguments(int argc, char** argv, Options* o) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        double x, y;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        if (a == "--setting") {
            Setting s;
            if (i + 1 >= argc || !parseSetting(argv[++i], &s))
                return usageError("--setting: expected MIN_HZ:BETA, MIN_HZ > 0, BETA >= 0");
            o->settings.push_back(s);
        } else if (a == "--still") {
            if (i + 1 >= argc || !parsePair(argv[++i], &x, &y) || x < 0 || y <= x || y > kMaxFrames ||
                x != std::floor(x) || y != std::floor(y))
                return usageError("--still: expected FIRST:LAST with FIRST < LAST");
            o->still = {(long)x, (long)y};
        } else if (a == "--write") {
            if (i + 1 >= argc || !*argv[i + 1]) return usageError("--write: missing path");
            o->writePath = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') return usageError("unknown option " + a);
        else paths.push_back(a);
    }
    if (paths.size() != 2) return usageError("expected POSES.csv and TRUTH.csv");
    o->posesPath = paths[0], o->truthPath = paths[1];
    if (o->settings.empty()) o->settings.assign(std::begin(kDefaultSettings), std::end(kDefaultSettings));
    return 0;
}

bool loadVideo(const Options& o, Video* v) {
    if (!readCameras(o.posesPath, &v->raw) || !readCameras(o.truthPath, &v->truth)) return false;
    if (v->raw.size() > v->truth.size())
        return fail(o.posesPath, 0, "more frames than the truth's " + std::to_string(v->truth.size()));
    for (const Pose& t : v->truth)
        if (!(t.f > 0)) return fail(o.truthPath, 0, "a true camera without f > 0");
    // As pose_error: the still stretch from the whole truth, measured on the
    // frames the log holds.
    v->still = o.still.first >= 0 ? o.still : longestStillRun(v->truth);
    if (v->still.last >= (long)v->truth.size()) return fail(o.truthPath, 0, "--still ends after the last frame");
    v->truth.resize(v->raw.size());
    cornerPoints(v->points);
    v->truthProjection = projectAll(v->truth, v->points);
    v->lagFirst = fastestWindow(v->truthProjection);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int status = parseArguments(argc, argv, &o);
    if (status != 0) return status < 0 ? 0 : status;
    Video v;
    if (!loadVideo(o, &v)) return kInputError;

    std::vector<Row> rows = {{"raw", measure(v, v.raw, 0)}};
    for (const Setting& s : o.settings) {
        long resets = 0;
        std::vector<Pose> filtered = filterPoses(v.raw, s, &resets);
        char name[64];
        settingName(s, name, sizeof name);
        rows.push_back({name, measure(v, filtered, resets)});
    }
    if (!o.writePath.empty()) {
        long resets = 0;
        if (!writePoses(o.writePath, filterPoses(v.raw, o.settings[0], &resets))) return kInputError;
    }
    printMotionTable(v, rows);
    printAllFramesTable(rows);
    printSyntheticMoves(o.settings);
    return 0;
}
