// board_detector.cpp - the region search, the whole-frame scan for board-like
// clusters, and the refinement at full resolution.
#include "board_detector.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <numeric>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "command_line.h"

namespace {

// A search sees squares about this wide: the library detector finds every
// board of the sample video from 14 px up, and its cost grows with the area.
constexpr double kTargetSquarePx = 24.0;
// At most this many pixels and dark blobs per search: a failed search then
// costs at most a few milliseconds whatever the picture shows. Real pictures
// (blur, compression) need squares of 20 px and more: at 16 px the library
// finds a webcam's board in one frame and misses it in the next.
constexpr double kMaxSearchPixels = 150000.0;
constexpr int kMaxSearchBlobs = 150;
// The whole-frame scan for a lost board: picture size (boards are found from
// squares of about 1/75 of the picture's height) and blob budget.
constexpr double kScanPixels = 153600.0;  // 480 x 320
constexpr int kMaxScanBlobs = 1500;
constexpr int kMaxScanQuads = 400;
constexpr int kMaxQuadContourPoints = 200;
// Lighting evened out over this many squares (the local mean's window), to
// this grey.
constexpr double kLightingWindowSquares = 3.0;
constexpr double kEvenGrey = 128.0;
// The local threshold of an unevenly lit scan: the mean of a block about an
// eighth of the picture across, less a few grey levels.
constexpr int kLocalBlocksAcross = 8;
constexpr int kMinLocalBlockPx = 15;
constexpr double kLocalOffset = 5.0;
constexpr int kMinScanQuadBoxArea = 16;     // scan pixels; squares of 5 px and up
constexpr int kLibraryMinQuadBoxArea = 25;  // the library ignores smaller dark blobs
// Dilating white by one pixel shrinks every dark square by this much per side.
constexpr double kDilationShrinkPx = 1.0;
// A dark blob is a quad when a polygon within max(tolerance, share of its
// perimeter) of its outline has four corners: small blobs need the absolute
// tolerances, larger ones the share.
constexpr double kQuadTolerances[] = {1.0, 1.5, 2.0};
constexpr double kQuadToleranceShare = 0.03;
// Two dark quads belong together when their sizes differ by less than this
// factor and their centres lie within this many sizes: diagonal neighbours on
// a board are 1.4 sizes apart, up to about 2 under a steep view.
constexpr double kQuadSizeRatio = 2.0;
constexpr double kQuadLinkSizes = 2.2;
// A cluster of dark quads is a candidate board when it holds between these
// shares of the board's dark squares.
constexpr double kMinClusterShare = 0.6, kMaxClusterShare = 2.5;
// Regions around the inner corners, in squares: the board's outer squares
// and its movement up to the next frame (tracking), or the outer squares
// beyond the dark quads found (scan).
constexpr double kTrackMarginSquares = 3.0;
constexpr double kCandidateMarginSquares = 1.5;
// The library ignores a board with a corner this close to its picture's edge;
// the same rule is applied to the whole frame, so a search region that meets
// the frame's edge is padded by more than that.
constexpr float kEdgeRulePx = 8.0f;
constexpr int kEdgePadPx = 12;
// The library detector's own sub-pixel refinement.
const cv::Size kRefineHalfWindow(2, 2);
// On a reduced copy the library's corners are refined again in a window of
// this share of a square: its own 5 x 5 window can leave a corner of the
// board's outer column a few pixels along an edge from the saddle (seen 3 px
// in the copy, 7 px at 1920 x 1080), where a window that small never reaches
// the saddle, at full resolution neither.
constexpr double kReducedRefineWindowSquares = 0.25;
const cv::TermCriteria kRefineCriteria(cv::TermCriteria::EPS + cv::TermCriteria::MAX_ITER, 15, 0.1);

struct Quad {
    cv::Point2f centre;
    float size;     // the square's side before dilation, from the area, scan pixels
    float minEdge;  // the shortest side before dilation, scan pixels
    cv::Rect box;
};

struct Candidate {
    cv::Rect region;  // frame pixels
    double squarePx;  // frame pixels
    int quads;
};

// An 8-bit picture of the given size in a store that only ever grows:
// fresh memory costs more here than the work done on it, and the regions
// searched change size from frame to frame.
cv::Mat workPicture(cv::Mat* store, cv::Size size) {
    size_t bytes = static_cast<size_t>(size.area());
    if (store->total() < bytes) store->create(1, static_cast<int>(bytes), CV_8U);
    return cv::Mat(size, CV_8U, store->data);
}

// Reduces grey to about scale times its size: exact 2 x 2 means while the
// scale allows, then one bilinear step. The result is in d->search; a
// reduced pixel x lies at (x + 0.5) f - 0.5 in grey, f per axis in *factor.
void reduceGrey(const cv::Mat& grey, double scale, BoardDetector* d, cv::Point2d* factor) {
    cv::Mat current = grey;
    double halvingFactor = 1.0;
    for (int i = 0; scale <= 0.5 && current.cols >= 4 && current.rows >= 4; ++i) {
        cv::Mat even = current(cv::Rect(0, 0, current.cols & ~1, current.rows & ~1));
        cv::Mat half = workPicture(&d->halves[i % 2], cv::Size(even.cols / 2, even.rows / 2));
        cv::resize(even, half, half.size(), 0, 0, cv::INTER_AREA);
        current = half;
        scale *= 2.0;
        halvingFactor *= 2.0;
    }
    cv::Size size(std::max(1, static_cast<int>(std::lround(current.cols * scale))),
                  std::max(1, static_cast<int>(std::lround(current.rows * scale))));
    if (size == current.size()) {
        d->search = current;
    } else {
        d->search = workPicture(&d->reduced, size);
        cv::resize(current, d->search, size, 0, 0, cv::INTER_LINEAR);
    }
    *factor = cv::Point2d(halvingFactor * current.cols / size.width, halvingFactor * current.rows / size.height);
}

// Dark blobs are the holes of the picture binarized by one global (Otsu)
// threshold, or, for a picture lit unevenly, by a local one, after white is
// dilated once, so that dark squares touching at a corner come apart, as the
// library detector's own passes see them.
void findDarkBlobs(const cv::Mat& grey, bool local, BoardDetector* d) {
    cv::Mat binary = workPicture(&d->binary, grey.size());
    if (local) {
        int block = std::max(kMinLocalBlockPx, (std::min(grey.cols, grey.rows) / kLocalBlocksAcross) | 1);
        cv::adaptiveThreshold(grey, binary, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, block, kLocalOffset);
    } else {
        cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    }
    cv::dilate(binary, binary, cv::Mat());
    // A white frame closes the blobs cut by the picture's edge.
    cv::rectangle(binary, cv::Point(0, 0), cv::Point(binary.cols - 1, binary.rows - 1), cv::Scalar(255), 3);
    cv::findContours(binary, d->contours, d->hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
}

bool isDarkBlob(const BoardDetector& d, size_t i, int minBoxArea) {
    const cv::Vec4i& h = d.hierarchy[i];
    return h[2] < 0 && h[3] >= 0 && cv::boundingRect(d.contours[i]).area() >= minBoxArea;
}

int countDarkBlobs(const BoardDetector& d, int minBoxArea) {
    int count = 0;
    for (size_t i = 0; i < d.contours.size(); ++i) count += isDarkBlob(d, i, minBoxArea) ? 1 : 0;
    return count;
}

// A convex quadrilateral close to the contour, if there is one: the
// tolerance grows with the contour's length, as rounded dilated corners need.
bool approximateQuad(const std::vector<cv::Point>& contour, Quad* quad) {
    double perimeter = cv::arcLength(contour, true);
    std::vector<cv::Point> polygon;
    for (double tolerance : kQuadTolerances) {
        cv::approxPolyDP(contour, polygon, std::max(tolerance, kQuadToleranceShare * perimeter), true);
        if (polygon.size() <= 4) break;
    }
    if (polygon.size() != 4 || !cv::isContourConvex(polygon)) return false;
    double area = cv::contourArea(polygon);
    if (area <= 0) return false;
    quad->size = static_cast<float>(std::sqrt(area) + 2 * kDilationShrinkPx);
    quad->minEdge = FLT_MAX;
    for (int k = 0; k < 4; ++k)
        quad->minEdge = std::min(quad->minEdge, static_cast<float>(cv::norm(polygon[k] - polygon[(k + 1) % 4])));
    quad->minEdge += static_cast<float>(2 * kDilationShrinkPx);
    quad->centre = (cv::Point2f(polygon[0]) + cv::Point2f(polygon[1]) + cv::Point2f(polygon[2]) +
                    cv::Point2f(polygon[3])) * 0.25f;
    quad->box = cv::boundingRect(polygon);
    return true;
}

// The dark quads of the scan picture; false when it holds too many blobs to
// be worth scanning (foliage, noise, a tiled floor).
bool findScanQuads(BoardDetector* d, bool local, std::vector<Quad>* quads) {
    findDarkBlobs(d->search, local, d);
    if (countDarkBlobs(*d, kMinScanQuadBoxArea) > kMaxScanBlobs) return false;
    for (size_t i = 0; i < d->contours.size(); ++i) {
        if (!isDarkBlob(*d, i, kMinScanQuadBoxArea) || d->contours[i].size() > kMaxQuadContourPoints) continue;
        Quad quad;
        if (approximateQuad(d->contours[i], &quad)) quads->push_back(quad);
        if (quads->size() > kMaxScanQuads) return false;
    }
    return true;
}

int rootOf(std::vector<int>* parent, int i) {
    while ((*parent)[i] != i) i = (*parent)[i] = (*parent)[(*parent)[i]];
    return i;
}

// Clusters of quads of like size lying next to each other; cluster[i] is the
// representative of quad i.
std::vector<int> clusterQuads(const std::vector<Quad>& quads) {
    std::vector<int> parent(quads.size());
    std::iota(parent.begin(), parent.end(), 0);
    for (size_t i = 0; i < quads.size(); ++i)
        for (size_t j = i + 1; j < quads.size(); ++j) {
            float larger = std::max(quads[i].size, quads[j].size), smaller = std::min(quads[i].size, quads[j].size);
            if (larger > kQuadSizeRatio * smaller) continue;
            if (cv::norm(quads[i].centre - quads[j].centre) > kQuadLinkSizes * larger) continue;
            parent[rootOf(&parent, static_cast<int>(i))] = rootOf(&parent, static_cast<int>(j));
        }
    for (size_t i = 0; i < quads.size(); ++i) parent[i] = rootOf(&parent, static_cast<int>(i));
    return parent;
}

int darkSquareCount(cv::Size pattern) { return ((pattern.width + 1) * (pattern.height + 1) + 1) / 2; }

// The region and square size of one cluster, in frame pixels.
Candidate describeCluster(const std::vector<Quad>& quads, const std::vector<int>& cluster, int root,
                          cv::Point2d factor, cv::Size frame) {
    cv::Rect box;
    std::vector<float> edges;
    for (size_t i = 0; i < quads.size(); ++i) {
        if (cluster[i] != root) continue;
        box = edges.empty() ? quads[i].box : (box | quads[i].box);
        edges.push_back(quads[i].minEdge);
    }
    std::nth_element(edges.begin(), edges.begin() + edges.size() / 2, edges.end());
    double square = edges[edges.size() / 2] * 0.5 * (factor.x + factor.y);
    double margin = kCandidateMarginSquares * square;
    cv::Rect region(cv::Point(static_cast<int>(std::floor(box.x * factor.x - margin)),
                              static_cast<int>(std::floor(box.y * factor.y - margin))),
                    cv::Point(static_cast<int>(std::ceil(box.br().x * factor.x + margin)),
                              static_cast<int>(std::ceil(box.br().y * factor.y + margin))));
    return {region & cv::Rect(cv::Point(0, 0), frame), square, static_cast<int>(edges.size())};
}

// Board-like clusters of dark quads in the scan picture (d->search), by one
// threshold, the likeliest first: those holding about as many quads as the
// board has dark squares, then the larger, then by position.
std::vector<Candidate> boardCandidates(BoardDetector* d, bool local, cv::Point2d factor, cv::Size frame) {
    std::vector<Quad> quads;
    std::vector<Candidate> candidates;
    if (!findScanQuads(d, local, &quads)) return candidates;
    std::vector<int> cluster = clusterQuads(quads);
    std::vector<int> members(quads.size(), 0);
    for (int root : cluster) ++members[root];
    const int expected = darkSquareCount(d->patternSize);
    for (size_t i = 0; i < quads.size(); ++i) {
        if (cluster[i] != static_cast<int>(i)) continue;
        if (members[i] < kMinClusterShare * expected || members[i] > kMaxClusterShare * expected) continue;
        candidates.push_back(describeCluster(quads, cluster, static_cast<int>(i), factor, frame));
    }
    std::sort(candidates.begin(), candidates.end(), [expected](const Candidate& a, const Candidate& b) {
        int da = std::abs(a.quads - expected), db = std::abs(b.quads - expected);
        if (da != db) return da < db;
        if (a.quads != b.quads) return a.quads > b.quads;
        return a.region.y != b.region.y ? a.region.y < b.region.y : a.region.x < b.region.x;
    });
    return candidates;
}

// The whole frame reduced once and scanned by one threshold or both, the one
// this frame's turn puts first (global and local by turns) first: a board
// under even light shows its squares to the global threshold, one under a
// lamp to one side only to the local one.
void scanForBoards(const cv::Mat& bgr, BoardDetector* d, std::vector<Candidate> lists[2], int thresholds) {
    cv::Mat grey = workPicture(&d->greyFrame, bgr.size());
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    cv::Point2d factor;
    reduceGrey(grey, std::min(1.0, std::sqrt(kScanPixels / static_cast<double>(grey.total()))), d, &factor);
    bool localFirst = d->framesLost % 2 == 1;
    lists[0] = boardCandidates(d, localFirst, factor, bgr.size());
    if (thresholds > 1) lists[1] = boardCandidates(d, !localFirst, factor, bgr.size());
}

// The squares' side: the mean distance between neighbouring corners along
// rows or along columns, whichever is shorter (a tilted board's squares are
// found by their shorter side).
double squareSize(const std::vector<cv::Point2f>& corners, cv::Size pattern) {
    double alongRows = 0, alongColumns = 0;
    for (int row = 0; row < pattern.height; ++row)
        for (int column = 0; column < pattern.width; ++column) {
            const cv::Point2f& p = corners[row * pattern.width + column];
            if (column + 1 < pattern.width) alongRows += cv::norm(corners[row * pattern.width + column + 1] - p);
            if (row + 1 < pattern.height) alongColumns += cv::norm(corners[(row + 1) * pattern.width + column] - p);
        }
    return std::min(alongRows / ((pattern.width - 1) * pattern.height),
                    alongColumns / (pattern.width * (pattern.height - 1)));
}

// The corners' bounding box grown by a number of squares, within the frame.
cv::Rect grownBox(const std::vector<cv::Point2f>& corners, double squarePx, double squares, cv::Size frame) {
    cv::Rect2f box = cv::boundingRect(corners);
    double margin = squares * squarePx;
    cv::Rect region(cv::Point(static_cast<int>(std::floor(box.x - margin)),
                              static_cast<int>(std::floor(box.y - margin))),
                    cv::Point(static_cast<int>(std::ceil(box.br().x + margin)),
                              static_cast<int>(std::ceil(box.br().y + margin))));
    return region & cv::Rect(cv::Point(0, 0), frame);
}

bool nearFrameEdge(const std::vector<cv::Point2f>& corners, cv::Size frame) {
    for (const cv::Point2f& p : corners)
        if (p.x <= kEdgeRulePx || p.x > frame.width - kEdgeRulePx || p.y <= kEdgeRulePx ||
            p.y > frame.height - kEdgeRulePx)
            return true;
    return false;
}

// The picture divided by its local mean over a few squares: a board under
// uneven light (a lamp to one side, a shadow across it) comes out evenly
// lit, and the library's single global threshold per pass then separates
// its squares everywhere, which its adaptive mode would do at ten times the
// cost.
cv::Mat evenlyLit(const cv::Mat& grey, BoardDetector* d) {
    int window = static_cast<int>(kLightingWindowSquares * kTargetSquarePx) | 1;
    cv::Mat localMean = workPicture(&d->localMean, grey.size());
    cv::Mat even = workPicture(&d->evenlyLit, grey.size());
    cv::blur(grey, localMean, cv::Size(window, window));
    cv::divide(grey, localMean, even, kEvenGrey);
    return even;
}

// One bounded search of a frame region whose squares are about squarePx
// wide, on the reduced copy (padded where the region meets the frame's edge).
// Corners in frame pixels, refined on the full-resolution picture as the
// library refines its own; at full scale the library's refinement stands.
bool searchRegion(const cv::Mat& bgr, const cv::Rect& region, double squarePx, BoardDetector* d,
                  std::vector<cv::Point2f>* corners) {
    if (region.width < 2 * kEdgePadPx || region.height < 2 * kEdgePadPx || squarePx <= 0) return false;
    double scale = std::min({1.0, kTargetSquarePx / squarePx, std::sqrt(kMaxSearchPixels / region.area())});
    cv::Mat greyRegion = workPicture(&d->greyRegion, region.size());
    cv::cvtColor(bgr(region), greyRegion, cv::COLOR_BGR2GRAY);
    cv::Point2d factor;
    reduceGrey(greyRegion, scale, d, &factor);
    findDarkBlobs(d->search, false, d);
    if (countDarkBlobs(*d, kLibraryMinQuadBoxArea) > kMaxSearchBlobs) return false;
    int left = region.x == 0 ? kEdgePadPx : 0, top = region.y == 0 ? kEdgePadPx : 0;
    int right = region.br().x == bgr.cols ? kEdgePadPx : 0, bottom = region.br().y == bgr.rows ? kEdgePadPx : 0;
    cv::Mat padded = workPicture(&d->padded, cv::Size(d->search.cols + left + right, d->search.rows + top + bottom));
    cv::copyMakeBorder(evenlyLit(d->search, d), padded, top, bottom, left, right, cv::BORDER_REPLICATE);
    d->found.clear();
    if (!cv::findChessboardCorners(padded, d->patternSize, d->found, 0)) return false;
    bool reduced = factor.x != 1.0 || factor.y != 1.0;
    if (reduced) {
        int half = static_cast<int>(kReducedRefineWindowSquares * squareSize(d->found, d->patternSize));
        half = std::max(half, kRefineHalfWindow.width);
        cv::cornerSubPix(padded, d->found, cv::Size(half, half), cv::Size(-1, -1), kRefineCriteria);
    }
    for (cv::Point2f& p : d->found) {
        p.x = static_cast<float>((p.x - left + 0.5) * factor.x - 0.5);
        p.y = static_cast<float>((p.y - top + 0.5) * factor.y - 0.5);
    }
    corners->assign(d->found.begin(), d->found.end());
    for (cv::Point2f& p : *corners) p += cv::Point2f(static_cast<float>(region.x), static_cast<float>(region.y));
    if (nearFrameEdge(*corners, bgr.size())) return false;
    if (reduced) {
        cv::cornerSubPix(greyRegion, d->found, kRefineHalfWindow, cv::Size(-1, -1), kRefineCriteria);
        corners->assign(d->found.begin(), d->found.end());
        for (cv::Point2f& p : *corners) p += cv::Point2f(static_cast<float>(region.x), static_cast<float>(region.y));
    }
    return true;
}

// Near the previous frame's board when there was one; when it is not found
// there, in the same frame in the likeliest candidate of the scan by both
// thresholds, so that a board that jumped (a cut, a fast swing, brought
// back into view) is found in the first frame it shows whole. In the frames
// of a stretch without the board, in one threshold's candidate by turns,
// the n-th frame trying the n-th likeliest (cyclically), so that a
// cluttered scene's candidates all get their turn. A frame pays for at most
// one search near the last board and one candidate's.
bool searchFrame(const cv::Mat& bgr, BoardDetector* d, std::vector<cv::Point2f>* corners) {
    if (!d->lastCorners.empty()) {
        double square = squareSize(d->lastCorners, d->patternSize);
        if (searchRegion(bgr, grownBox(d->lastCorners, square, kTrackMarginSquares, bgr.size()), square, d, corners))
            return true;
    }
    // A board just lost is looked for in both thresholds' scans; once it has
    // been lost for a frame, each frame scans by one threshold, by turns.
    bool jumped = !d->lastCorners.empty();
    std::vector<Candidate> lists[2];
    scanForBoards(bgr, d, lists, jumped ? 2 : 1);
    size_t turn = d->framesLost > 0 ? static_cast<size_t>(d->framesLost - 1) : 0;
    // One search: of the thresholds' candidates, the one whose dark quads
    // are nearest the board's count (a board under uneven light shows them
    // all to one threshold only).
    const Candidate* chosen = nullptr;
    const int expected = darkSquareCount(d->patternSize);
    for (const std::vector<Candidate>& candidates : lists) {
        if (candidates.empty()) continue;
        const Candidate& c = candidates[turn % candidates.size()];
        if (!chosen || std::abs(c.quads - expected) < std::abs(chosen->quads - expected)) chosen = &c;
    }
    return chosen && searchRegion(bgr, chosen->region, chosen->squarePx, d, corners);
}

}  // namespace

bool initBoardDetector(cv::Size patternSize, BoardDetector* detector) {
    if (patternSize.width < kMinBoardSide || patternSize.height < kMinBoardSide) return false;
    *detector = BoardDetector();
    detector->patternSize = patternSize;
    return true;
}

bool detectBoardCorners(const cv::Mat& bgrFrame, BoardDetector* detector, std::vector<cv::Point2f>* corners) {
    corners->clear();
    bool found = false;
    if (!bgrFrame.empty() && bgrFrame.type() == CV_8UC3 && detector->patternSize.area() > 0) {
        try {
            found = searchFrame(bgrFrame, detector, corners);
        } catch (const cv::Exception&) {
            found = false;
        }
    }
    if (found) {
        detector->lastCorners = *corners;
        detector->framesLost = 0;
    } else {
        corners->clear();
        detector->lastCorners.clear();
        if (detector->framesLost < INT_MAX) ++detector->framesLost;
    }
    return found;
}
