// calibration_views.cpp - describing detected boards and keeping the views
// that make a good calibration.
#include "calibration_views.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Focal length assumed for the tilt estimate: a diagonal field of view of
// about 70 degrees, a common webcam's.
constexpr double kAssumedFocalPerDiagonal = 0.7;

// Tilt rings of the pose bins, degrees.
constexpr float kFacingTilt = 15.0f, kModerateTilt = 30.0f, kSteepTilt = 45.0f;

// Two views are near-duplicates when their distance, in these units, is
// under 1: board centres kSamePlace apart (fraction of the picture), sizes
// in the ratio kSameScale, tilt vectors kSameTilt degrees apart.
constexpr double kSamePlace = 0.06;
constexpr double kSameScale = 1.15;
constexpr double kSameTilt = 7.0;

// A near-duplicate replaces a kept view only when this much sharper.
constexpr float kSharperFactor = 1.2f;

// Collection value: each picture cell is worth 1 - 0.5^n for n views with a
// corner in it (seeing a cell again is worth less each time); each tilt bin
// the same times kPoseBinWeight. A swap must gain kMinSwapGain, one newly
// covered cell.
constexpr double kPoseBinWeight = 6.0;
constexpr double kMinSwapGain = 0.5;

// Sharpness profiles: across the middle of each grid segment, this fraction
// of the segment's length either side, at most kMaxProfileHalf px, sampled
// every kProfileStep px; edges with less contrast (grey levels) or shorter
// profiles are not measured.
constexpr float kProfileFraction = 0.35f;
constexpr float kMaxProfileHalf = 10.0f;  // px
constexpr float kMinProfileHalf = 1.5f;   // px
constexpr float kProfileStep = 0.5f;      // px
constexpr int kMaxProfileSamples = static_cast<int>(2 * kMaxProfileHalf / kProfileStep) + 1;
constexpr float kMinEdgeContrast = 16.0f;  // grey levels

// Corner refinement: see refineBoardCorners.
constexpr int kMaxRefineHalfWindow = 11, kMinRefineHalfWindow = 2;  // px
constexpr double kRefineWindowPerSpacing = 0.35;
constexpr int kRefineIterations = 30;
constexpr double kRefineEpsilon = 0.0001;  // px

double valueGain(int count) { return std::ldexp(1.0, -(count + 1)); }  // g(n+1) - g(n)

int coverageCell(cv::Point2f p, cv::Size picture) {
    int column = static_cast<int>(p.x * kCoverageColumns / picture.width);
    int row = static_cast<int>(p.y * kCoverageRows / picture.height);
    column = std::min(std::max(column, 0), kCoverageColumns - 1);
    row = std::min(std::max(row, 0), kCoverageRows - 1);
    return row * kCoverageColumns + column;
}

int poseBinOf(float tiltDegrees, float direction) {
    if (tiltDegrees < kFacingTilt) return 0;
    double turn = (direction + kPi) / (2 * kPi);  // 0 .. 1
    auto sector = [turn](int sectors) { return std::min(static_cast<int>(turn * sectors), sectors - 1); };
    if (tiltDegrees < kModerateTilt) return 1 + sector(4);
    if (tiltDegrees < kSteepTilt) return 5 + sector(8);
    return 13 + sector(8);
}

bool cornersUsable(const std::vector<cv::Point2f>& corners, cv::Size pattern, cv::Size picture) {
    if (pattern.width < 2 || pattern.height < 2 || picture.width < 16 || picture.height < 16) return false;
    if (static_cast<int>(corners.size()) != pattern.area()) return false;
    for (const cv::Point2f& p : corners)
        if (!(p.x >= 0 && p.y >= 0 && p.x <= picture.width - 1 && p.y <= picture.height - 1)) return false;
    return true;
}

// Board normal from the homography of the four outer corners, in a camera
// of the assumed focal length looking through the picture's centre: the
// homography's first two columns are the board's axes up to scale.
void estimateTilt(const std::vector<cv::Point2f>& corners, cv::Size pattern, cv::Size picture, float* tiltDegrees,
                  float* direction) {
    int w = pattern.width, h = pattern.height;
    double f = kAssumedFocalPerDiagonal * std::hypot(picture.width, picture.height);
    cv::Point2f centre(0.5f * picture.width, 0.5f * picture.height);
    const cv::Point2f board[4] = {{0, 0}, {float(w - 1), 0}, {0, float(h - 1)}, {float(w - 1), float(h - 1)}};
    const int index[4] = {0, w - 1, (h - 1) * w, h * w - 1};
    cv::Point2f image[4];
    for (int k = 0; k < 4; ++k) image[k] = (corners[index[k]] - centre) * static_cast<float>(1.0 / f);
    *tiltDegrees = 0, *direction = 0;
    cv::Matx33d H;
    try {
        H = cv::getPerspectiveTransform(board, image);
    } catch (const cv::Exception&) {
        return;
    }
    cv::Vec3d r1(H(0, 0), H(1, 0), H(2, 0)), r2(H(0, 1), H(1, 1), H(2, 1));
    cv::Vec3d n = r1.cross(r2);
    double length = cv::norm(n);
    if (!(length > 0) || !std::isfinite(length)) return;
    n /= length;
    if (n[2] < 0) n = -n;
    float tilt = static_cast<float>(std::acos(std::min(1.0, n[2])) * 180.0 / kPi);
    float turn = static_cast<float>(std::atan2(n[1], n[0]));
    if (std::isfinite(tilt) && std::isfinite(turn)) *tiltDegrees = tilt, *direction = turn;
}

float quadArea(const std::vector<cv::Point2f>& c, cv::Size pattern) {
    int w = pattern.width, h = pattern.height;
    cv::Point2f a = c[0], b = c[w - 1], d = c[h * w - 1], e = c[(h - 1) * w];
    // Shoelace over a, b, d, e (the outline in order).
    float twice = (a.x * b.y - b.x * a.y) + (b.x * d.y - d.x * b.y) + (d.x * e.y - e.x * d.y) + (e.x * a.y - a.x * e.y);
    return 0.5f * std::fabs(twice);
}

double squaredDistance(const CalibrationView& a, const CalibrationView& b) {
    double dx = (a.centre.x - b.centre.x) / kSamePlace, dy = (a.centre.y - b.centre.y) / kSamePlace;
    double ds = std::log(std::max(a.scale, 1e-6f) / std::max(b.scale, 1e-6f)) / std::log(kSameScale);
    double tx = a.tiltDegrees * std::cos(a.tiltDirection) - b.tiltDegrees * std::cos(b.tiltDirection);
    double ty = a.tiltDegrees * std::sin(a.tiltDirection) - b.tiltDegrees * std::sin(b.tiltDirection);
    return dx * dx + dy * dy + ds * ds + (tx * tx + ty * ty) / (kSameTilt * kSameTilt);
}

double nearestCornerSpacing(const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    double nearest = HUGE_VAL;
    int w = pattern.width;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < w; ++j) {
            const cv::Point2f& p = corners[i * w + j];
            if (j + 1 < w) nearest = std::min(nearest, cv::norm(p - corners[i * w + j + 1]));
            if (i + 1 < pattern.height) nearest = std::min(nearest, cv::norm(p - corners[(i + 1) * w + j]));
        }
    return nearest;
}

float sampleGrey(const cv::Mat& grey, float x, float y) {
    int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    float ax = x - x0, ay = y - y0;
    const unsigned char* row0 = grey.ptr<unsigned char>(y0);
    const unsigned char* row1 = grey.ptr<unsigned char>(y0 + 1);
    float top = row0[x0] + ax * (row0[x0 + 1] - row0[x0]);
    float bottom = row1[x0] + ax * (row1[x0 + 1] - row1[x0]);
    return top + ay * (bottom - top);
}

// Steepest slope across the edge along segment a-b, over the profile's grey
// range; negative when it cannot be measured.
float edgeSharpness(const cv::Mat& grey, cv::Point2f a, cv::Point2f b) {
    cv::Point2f along = b - a;
    float length = std::hypot(along.x, along.y);
    float half = std::min(kProfileFraction * length, kMaxProfileHalf);
    if (!(half >= kMinProfileHalf)) return -1;
    cv::Point2f across(-along.y / length, along.x / length), middle = 0.5f * (a + b);
    cv::Point2f first = middle - half * across, last = middle + half * across;
    float maxX = grey.cols - 2, maxY = grey.rows - 2;
    if (std::min(first.x, last.x) < 0 || std::min(first.y, last.y) < 0 || std::max(first.x, last.x) > maxX ||
        std::max(first.y, last.y) > maxY)
        return -1;
    float profile[kMaxProfileSamples];
    int n = std::min(static_cast<int>(2 * half / kProfileStep) + 1, kMaxProfileSamples);
    for (int k = 0; k < n; ++k) {
        cv::Point2f p = first + (k * kProfileStep) * across;
        profile[k] = sampleGrey(grey, p.x, p.y);
    }
    auto range = std::minmax_element(profile, profile + n);
    float contrast = *range.second - *range.first;
    if (contrast < kMinEdgeContrast || n < 3) return -1;
    float steepest = 0;
    for (int k = 1; k + 1 < n; ++k) steepest = std::max(steepest, std::fabs(profile[k + 1] - profile[k - 1]));
    return steepest / (2 * kProfileStep) / contrast;
}

float median(std::vector<float>* values) {
    if (values->empty()) return kSharpnessUnknown;
    auto middle = values->begin() + values->size() / 2;
    std::nth_element(values->begin(), middle, values->end());
    return *middle;
}

// Value lost by taking view v out of the collection.
double removalLoss(const ViewCollection& c, const CalibrationView& v) {
    double loss = 0;
    for (int cell = 0; cell < kCoverageCells; ++cell)
        if (v.cells[cell]) loss += valueGain(c.cellViews[cell] - 1);
    return loss + kPoseBinWeight * valueGain(c.poseViews[v.poseBin] - 1);
}

// Value gained by adding view v once view out (or nothing: nullptr) is gone.
double additionGain(const ViewCollection& c, const CalibrationView& v, const CalibrationView* out) {
    double gain = 0;
    for (int cell = 0; cell < kCoverageCells; ++cell)
        if (v.cells[cell]) gain += valueGain(c.cellViews[cell] - (out && out->cells[cell] ? 1 : 0));
    int poseCount = c.poseViews[v.poseBin] - (out && out->poseBin == v.poseBin ? 1 : 0);
    return gain + kPoseBinWeight * valueGain(poseCount);
}

void countView(ViewCollection* c, const CalibrationView& v, int sign) {
    for (int cell = 0; cell < kCoverageCells; ++cell)
        if (v.cells[cell]) c->cellViews[cell] += sign;
    c->poseViews[v.poseBin] += sign;
}

void placeView(ViewCollection* c, CalibrationView&& v, int replaced) {
    countView(c, v, +1);
    if (replaced >= 0) {
        countView(c, c->views[replaced], -1);
        c->views[replaced] = std::move(v);
    } else {
        c->views.push_back(std::move(v));
    }
    ++c->changes;
}

bool clearlySharper(const CalibrationView& candidate, const CalibrationView& kept) {
    if (candidate.sharpness == kSharpnessUnknown || kept.sharpness == kSharpnessUnknown) return false;
    return candidate.sharpness > kSharperFactor * kept.sharpness;
}

}  // namespace

void initViewCollection(ViewCollection* collection, cv::Size picture, cv::Size pattern, int capacity) {
    collection->picture = picture;
    collection->pattern = pattern;
    collection->capacity = std::min(std::max(capacity, 1), kMaxCalibrationViews);
    collection->views.clear();
    collection->views.reserve(collection->capacity);
    collection->cellViews.fill(0);
    collection->poseViews.fill(0);
    collection->changes = 0;
}

bool refineBoardCorners(const cv::Mat& grey, cv::Size pattern, std::vector<cv::Point2f>* corners) {
    if (grey.empty() || grey.type() != CV_8UC1 || !cornersUsable(*corners, pattern, grey.size())) return false;
    int half = static_cast<int>(kRefineWindowPerSpacing * nearestCornerSpacing(*corners, pattern));
    half = std::min(std::max(half, kMinRefineHalfWindow), kMaxRefineHalfWindow);
    std::vector<cv::Point2f> refined = *corners;
    try {
        cv::cornerSubPix(grey, refined, cv::Size(half, half), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, kRefineIterations,
                                          kRefineEpsilon));
    } catch (const cv::Exception&) {
        return false;
    }
    if (!cornersUsable(refined, pattern, grey.size())) return false;
    *corners = refined;
    return true;
}

float boardSharpness(const cv::Mat& grey, const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    if (grey.empty() || grey.type() != CV_8UC1 || grey.cols < 3 || grey.rows < 3 ||
        static_cast<int>(corners.size()) != pattern.area())
        return kSharpnessUnknown;
    std::vector<float> alongRows, alongColumns;
    alongRows.reserve(corners.size());
    alongColumns.reserve(corners.size());
    int w = pattern.width;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < w; ++j) {
            float s;
            if (j + 1 < w && (s = edgeSharpness(grey, corners[i * w + j], corners[i * w + j + 1])) >= 0)
                alongRows.push_back(s);
            if (i + 1 < pattern.height && (s = edgeSharpness(grey, corners[i * w + j], corners[(i + 1) * w + j])) >= 0)
                alongColumns.push_back(s);
        }
    float rows = median(&alongRows), columns = median(&alongColumns);
    if (rows == kSharpnessUnknown) return columns;
    if (columns == kSharpnessUnknown) return rows;
    return std::min(rows, columns);
}

bool describeView(const ViewCollection& collection, const std::vector<cv::Point2f>& corners, const cv::Mat& grey,
                  CalibrationView* view) {
    if (!cornersUsable(corners, collection.pattern, collection.picture)) return false;
    // A board smaller than a pixel per corner is no view (the detector never
    // reports one; a caller's mistake might).
    float area = quadArea(corners, collection.pattern);
    if (!(area >= collection.pattern.area())) return false;
    cv::Point2f sum(0, 0);
    view->cells.reset();
    for (const cv::Point2f& p : corners) {
        sum += p;
        view->cells.set(coverageCell(p, collection.picture));
    }
    float n = static_cast<float>(corners.size());
    view->centre = cv::Point2f(sum.x / n / collection.picture.width, sum.y / n / collection.picture.height);
    view->scale = std::sqrt(area / collection.picture.area());
    estimateTilt(corners, collection.pattern, collection.picture, &view->tiltDegrees, &view->tiltDirection);
    view->poseBin = poseBinOf(view->tiltDegrees, view->tiltDirection);
    view->sharpness = boardSharpness(grey, corners, collection.pattern);
    return true;
}

bool offerView(ViewCollection* collection, const std::vector<cv::Point2f>& corners, const cv::Mat& grey,
               long source, ViewVerdict* verdict) {
    ViewVerdict unused;
    if (!verdict) verdict = &unused;
    CalibrationView candidate;
    if (!describeView(*collection, corners, grey, &candidate)) return *verdict = ViewVerdict::kMalformed, false;
    if (candidate.sharpness != kSharpnessUnknown && candidate.sharpness < kMinSharpness)
        return *verdict = ViewVerdict::kBlurred, false;
    candidate.source = source;

    int nearest = -1;
    double nearestDistance = 1.0;  // near-duplicates only
    for (size_t k = 0; k < collection->views.size(); ++k) {
        double d = squaredDistance(candidate, collection->views[k]);
        if (d < nearestDistance) nearestDistance = d, nearest = static_cast<int>(k);
    }
    if (nearest >= 0) {
        if (!clearlySharper(candidate, collection->views[nearest])) return *verdict = ViewVerdict::kDuplicate, false;
        candidate.corners = corners;
        placeView(collection, std::move(candidate), nearest);
        return *verdict = ViewVerdict::kReplaced, true;
    }
    if (static_cast<int>(collection->views.size()) < collection->capacity) {
        candidate.corners = corners;
        placeView(collection, std::move(candidate), -1);
        return *verdict = ViewVerdict::kAdded, true;
    }

    int weakest = -1;
    double bestGain = kMinSwapGain;
    for (size_t k = 0; k < collection->views.size(); ++k) {
        const CalibrationView& kept = collection->views[k];
        double gain = additionGain(*collection, candidate, &kept) - removalLoss(*collection, kept);
        if (gain > bestGain) bestGain = gain, weakest = static_cast<int>(k);
    }
    if (weakest < 0) return *verdict = ViewVerdict::kAddsNothing, false;
    candidate.corners = corners;
    placeView(collection, std::move(candidate), weakest);
    return *verdict = ViewVerdict::kReplaced, true;
}

double pictureCoverage(const ViewCollection& collection) {
    int covered = 0;
    for (int n : collection.cellViews) covered += n > 0 ? 1 : 0;
    return static_cast<double>(covered) / kCoverageCells;
}

double cornerCoverage(const std::vector<std::vector<cv::Point2f>>& views, cv::Size picture) {
    std::bitset<kCoverageCells> cells;
    for (const std::vector<cv::Point2f>& corners : views)
        for (const cv::Point2f& p : corners) cells.set(coverageCell(p, picture));
    return static_cast<double>(cells.count()) / kCoverageCells;
}

int tiltsCovered(const ViewCollection& collection) {
    int covered = 0;
    for (int n : collection.poseViews) covered += n > 0 ? 1 : 0;
    return covered;
}

std::vector<std::vector<cv::Point2f>> keptCorners(const ViewCollection& collection) {
    std::vector<std::vector<cv::Point2f>> corners;
    corners.reserve(collection.views.size());
    for (const CalibrationView& v : collection.views) corners.push_back(v.corners);
    return corners;
}

const char* viewVerdictName(ViewVerdict verdict) {
    switch (verdict) {
        case ViewVerdict::kAdded: return "added";
        case ViewVerdict::kReplaced: return "replaced a weaker view";
        case ViewVerdict::kDuplicate: return "near-duplicate of a kept view";
        case ViewVerdict::kBlurred: return "blurred";
        case ViewVerdict::kAddsNothing: return "adds nothing";
        case ViewVerdict::kMalformed: return "malformed corners";
    }
    return "unknown";
}

namespace {

// The order in which missing regions are suggested: the picture's corners
// first (they hold the distortion), then its sides, then the middle.
constexpr int kSuggestionOrder[kGuidanceRegions] = {0, 2, 8, 6, 1, 5, 7, 3, 4};
// A region's outer cells can only be reached with the board partly out of
// the picture, where the detector no longer finds it.
constexpr double kRegionCoveredShare = 0.4;

int regionOfCell(int cell) {
    int column = cell % kCoverageColumns, row = cell / kCoverageColumns;
    // By the cell's centre.
    int regionColumn = std::min(2, (2 * column + 1) * 3 / (2 * kCoverageColumns));
    int regionRow = std::min(2, (2 * row + 1) * 3 / (2 * kCoverageRows));
    return regionRow * 3 + regionColumn;
}

}  // namespace

ViewGuidance guideViews(const ViewCollection& collection) {
    ViewGuidance g;
    g.views = static_cast<int>(collection.views.size());
    g.capacity = collection.capacity;
    int cellsIn[kGuidanceRegions] = {}, coveredIn[kGuidanceRegions] = {};
    for (int cell = 0; cell < kCoverageCells; ++cell) {
        bool covered = collection.cellViews[cell] > 0;
        g.cells[cell] = covered;
        ++cellsIn[regionOfCell(cell)];
        coveredIn[regionOfCell(cell)] += covered ? 1 : 0;
    }
    g.suggested = -1;
    double leastShare = 2.0;
    for (int region : kSuggestionOrder) {
        double share = static_cast<double>(coveredIn[region]) / cellsIn[region];
        g.missing[region] = share < kRegionCoveredShare;
        if (g.missing[region] && share < leastShare) leastShare = share, g.suggested = region;
    }
    int steep = 0;
    bool quarters[4] = {false, false, false, false};
    for (const CalibrationView& v : collection.views) {
        if (v.tiltDegrees < kFacingTilt) continue;
        steep += v.tiltDegrees >= kSteepViewTilt ? 1 : 0;
        double turn = (v.tiltDirection + kPi) / (2 * kPi);
        quarters[std::min(3, std::max(0, static_cast<int>(turn * 4)))] = true;
    }
    g.steeperTilts = steep < kWantedSteepViews;
    g.otherTiltDirections = quarters[0] + quarters[1] + quarters[2] + quarters[3] < kWantedTiltQuarters;
    return g;
}

const char* regionName(int region) {
    static const char* const names[kGuidanceRegions] = {"top left", "top",         "top right", "left",        "middle",
                                                        "right",    "bottom left", "bottom",    "bottom right"};
    return region >= 0 && region < kGuidanceRegions ? names[region] : "nowhere";
}

cv::Rect regionRectangle(int region, cv::Size picture) {
    int column = region % 3, row = region / 3;
    int x0 = picture.width * column / 3, x1 = picture.width * (column + 1) / 3;
    int y0 = picture.height * row / 3, y1 = picture.height * (row + 1) / 3;
    return cv::Rect(x0, y0, x1 - x0, y1 - y0);
}

cv::Rect cellRectangle(int cell, cv::Size picture) {
    int column = cell % kCoverageColumns, row = cell / kCoverageColumns;
    int x0 = picture.width * column / kCoverageColumns, x1 = picture.width * (column + 1) / kCoverageColumns;
    int y0 = picture.height * row / kCoverageRows, y1 = picture.height * (row + 1) / kCoverageRows;
    return cv::Rect(x0, y0, x1 - x0, y1 - y0);
}

std::string describeGuidance(const ViewGuidance& g) {
    std::string text = "views " + std::to_string(g.views) + " of " + std::to_string(g.capacity) + "; ";
    std::string missing;
    for (int region = 0; region < kGuidanceRegions; ++region)
        if (g.missing[region]) missing += (missing.empty() ? "" : ", ") + std::string(regionName(region));
    if (g.steeperTilts) missing += (missing.empty() ? "" : ", ") + std::string("steeper tilts");
    if (g.otherTiltDirections) missing += (missing.empty() ? "" : ", ") + std::string("tilts in other directions");
    return text + (missing.empty() ? "nothing missing" : "missing: " + missing);
}
