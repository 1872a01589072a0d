// calibration_views.h - choosing views of the board for a lens calibration.
//
// A view collection keeps at most `capacity` detected boards that together
// make a good calibration: their corners spread over the whole picture (the
// distortion is only known where corners were seen), the board tilted in
// many directions (the focal length and principal point are only known from
// tilted views), each view sharp. offerView looks at one detection and keeps
// it when it adds something: a view is rejected when it is blurred, or when a
// kept view shows the board at nearly the same place, size and tilt (unless
// it is clearly sharper, when it takes that view's place); once the
// collection is full, a new view replaces the kept view whose loss costs
// least, if the swap gains coverage of the picture or of the tilts.
//
// The tilt is estimated from the outer corners with an assumed focal length
// (0.7 picture diagonals): good enough to tell tilts apart, not a
// measurement. Sharpness is the steepest grey-level slope across the
// board's edges relative to their contrast, in 1/px: up to 1 for a step
// edge, about 0.5 for a sharp rendered board and 0.3 to 0.5 on real
// photographs, 0.4/sigma under a Gaussian blur of sigma px.
//
// Limits: boards as --board allows (command_line.h: 3 x 3 up to the points a
// calibration takes), pictures of at least 16 x 16, at most
// kMaxCalibrationViews views.
// Threads: every function here works only on the records it is given and
// may run on any thread (one thread per collection at a time). offerView
// takes about 0.01 ms for 48 corners, 0.03 ms with the sharpness measure.
//
// Usage:
//     ViewCollection views;
//     initViewCollection(&views, frame.size(), cv::Size(8, 6), kDefaultCalibrationViews);
//     if (found && refineBoardCorners(grey, cv::Size(8, 6), &corners))   // every frame
//         offerView(&views, corners, grey, frameIndex);
#ifndef APP_CALIBRATION_VIEWS_H
#define APP_CALIBRATION_VIEWS_H

#include <array>
#include <bitset>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

constexpr int kDefaultCalibrationViews = 25;
constexpr int kMaxCalibrationViews = 100;

// The picture is cut into a grid of cells; a view covers the cells its
// corners fall in.
constexpr int kCoverageColumns = 16, kCoverageRows = 12;
constexpr int kCoverageCells = kCoverageColumns * kCoverageRows;
// Tilt bins: facing the camera, then rings of tilt split by direction.
constexpr int kPoseBins = 1 + 4 + 8 + 8;

// Below this sharpness (1/px; a Gaussian blur of about 2.7 px) a view is
// rejected: blurred corners are found off their true place.
constexpr float kMinSharpness = 0.15f;
// Sharpness when no picture was given to measure it.
constexpr float kSharpnessUnknown = -1.0f;

struct CalibrationView {
    std::vector<cv::Point2f> corners;  // the detector's order, pixels
    long source;                       // the caller's frame or picture number
    cv::Point2f centre;                // mean corner, fractions of the picture's width, height
    float scale;                       // sqrt(board quad area / picture area)
    float tiltDegrees;                 // estimated angle between board normal and viewing axis
    float tiltDirection;               // radians: direction of the normal's tilt in the picture
    float sharpness;                   // 1/px, or kSharpnessUnknown
    std::bitset<kCoverageCells> cells;  // cells holding at least one corner
    int poseBin;
};

struct ViewCollection {
    cv::Size picture;  // pixels
    cv::Size pattern;  // inner corners per row, per column
    int capacity;
    std::vector<CalibrationView> views;
    std::array<int, kCoverageCells> cellViews;  // kept views with a corner in each cell
    std::array<int, kPoseBins> poseViews;       // kept views in each tilt bin
    long changes;  // additions and replacements so far: a new calibration is due when it moves
};

enum class ViewVerdict {
    kAdded,        // kept in a free place
    kReplaced,     // kept in the place of a worse view
    kDuplicate,    // a kept view shows the board nearly the same way
    kBlurred,      // sharpness under kMinSharpness
    kAddsNothing,  // full, and no swap would improve the collection
    kMalformed,    // wrong corner count, corners outside the picture, under a pixel per corner
};

// An empty collection; capacity is clamped to 1 .. kMaxCalibrationViews.
void initViewCollection(ViewCollection* collection, cv::Size picture, cv::Size pattern, int capacity);

// Offers one detection: corners of the whole pattern in the detector's order,
// grey the 8-bit picture they were found in (empty: sharpness not measured),
// source a number the caller wants to see again in the kept view. True when
// the view was kept; verdict (optional) says why or why not.
bool offerView(ViewCollection* collection, const std::vector<cv::Point2f>& corners, const cv::Mat& grey,
               long source, ViewVerdict* verdict = nullptr);

// The view's description (everything but corners and source), as offerView
// computes it; false for a malformed view.
bool describeView(const ViewCollection& collection, const std::vector<cv::Point2f>& corners,
                  const cv::Mat& grey, CalibrationView* view);

// Refines the detector's corners in grey (8-bit, one channel) with
// cv::cornerSubPix, in a half-window of at most 11 px and at most 0.35 of the
// nearest corners' spacing, so that the window stays inside the squares
// around each corner: printed boards often cut the outer squares short, and
// beyond them the paper's or the table's edge pulls the outer corners away
// (on opencv-doc's 9 x 6 photographs, corners 21 px apart, OpenCV's sample
// window of 11 px moves the outer column by 2 to 6 px). False, corners
// unchanged, when they are not the whole pattern inside the picture or the
// refinement fails. About 1 ms for 48 corners 30 px apart.
bool refineBoardCorners(const cv::Mat& grey, cv::Size pattern, std::vector<cv::Point2f>* corners);

// Sharpness of the board's edges in grey (8-bit, one channel), 1/px; the
// smaller of the values along the two grid directions (motion blurs one).
// kSharpnessUnknown when no edge has enough contrast to measure.
float boardSharpness(const cv::Mat& grey, const std::vector<cv::Point2f>& corners, cv::Size pattern);

// Fraction of the picture's cells holding a corner of some kept view, 0 .. 1.
double pictureCoverage(const ViewCollection& collection);

// Fraction of the picture's cells holding a corner of some of the views.
double cornerCoverage(const std::vector<std::vector<cv::Point2f>>& views, cv::Size picture);

// Number of tilt bins holding a kept view, 0 .. kPoseBins.
int tiltsCovered(const ViewCollection& collection);

// The kept views' corners, in collection order, for a calibration.
std::vector<std::vector<cv::Point2f>> keptCorners(const ViewCollection& collection);

const char* viewVerdictName(ViewVerdict verdict);

// Guidance for whoever holds the board: what the kept views still miss. The
// picture is split into nine regions (3 x 3: "top left" .. "bottom right");
// a region is missing while under 40 % of its coverage cells hold a corner.
// The tilts are missing while fewer than kWantedSteepViews views are tilted
// by kSteepViewTilt or more, or while the tilted views lean in fewer than
// kWantedTiltQuarters of the four directions.
constexpr int kGuidanceRegions = 9;
constexpr float kSteepViewTilt = 30.0f;  // degrees
constexpr int kWantedSteepViews = 3;
constexpr int kWantedTiltQuarters = 3;

struct ViewGuidance {
    int views, capacity;
    std::bitset<kCoverageCells> cells;      // cells holding a corner of a kept view
    std::bitset<kGuidanceRegions> missing;  // regions under 40 % covered
    int suggested;                          // the region to bring the board to next; -1 for none
    bool steeperTilts;                      // too few steep views
    bool otherTiltDirections;               // the tilted views lean too few ways
};

ViewGuidance guideViews(const ViewCollection& collection);

// "top left", "top", "top right", "left", "middle", "right", "bottom left",
// "bottom", "bottom right".
const char* regionName(int region);

// The region's rectangle in the picture, pixels.
cv::Rect regionRectangle(int region, cv::Size picture);

// The cell's rectangle in the picture, pixels.
cv::Rect cellRectangle(int cell, cv::Size picture);

// "views 12 of 25; missing: top left, bottom right, steeper tilts", or
// "views 25 of 25; nothing missing".
std::string describeGuidance(const ViewGuidance& guidance);

#endif
