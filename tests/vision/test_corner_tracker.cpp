// The corner tracker: boards drawn with known corners moved by known amounts,
// covers and cuts, and the sample video's covered frames against its truth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "board_detector.h"
#include "corner_tracker.h"
#include "tsai.h"
#include "viewer_harness.h"

namespace {

const cv::Size kBoard(8, 6);
const cv::Size kPicture(640, 480);
constexpr double kSquarePx = 30.0;
// How far a followed corner may be from the drawn one: the corner refinement
// (the detector's) leaves up to 0.1 px on sharp drawn edges; over frames of
// turning and tilting it must not add up.
constexpr double kShiftedCornerPx = 0.15, kTurnedCornerPx = 0.3;

// ---------------------------------------------------------------- drawn boards

// Board point (u, v), in squares with corner k at (k mod width, k div width),
// to picture pixels (integer coordinates at pixel centres).
cv::Matx33d frontalBoard(double left, double top) {
    return cv::Matx33d(kSquarePx, 0, left, 0, kSquarePx, top, 0, 0, 1);
}

cv::Point2d apply(const cv::Matx33d& h, cv::Point2d p) {
    cv::Vec3d q = h * cv::Vec3d(p.x, p.y, 1);
    return {q[0] / q[2], q[1] / q[2]};
}

// The board's squares (one square past the corners on every side), a white
// margin, a grey table. Each pixel is the mean of samples with distinct x and
// distinct y offsets (n rooks), so that an edge's position shows to within a
// 32nd of a pixel.
cv::Mat drawBoard(cv::Size pattern, const cv::Matx33d& boardToPicture) {
    constexpr int kSamples = 16, kStride = 7;  // stride coprime to the count
    constexpr double kMargin = 0.6;             // squares
    cv::Matx33d pictureToBoard = boardToPicture.inv();
    cv::Mat picture(kPicture, CV_8UC1);
    for (int row = 0; row < kPicture.height; ++row)
        for (int column = 0; column < kPicture.width; ++column) {
            double sum = 0;
            for (int i = 0; i < kSamples; ++i) {
                double dx = (i + 0.5) / kSamples - 0.5, dy = ((i * kStride) % kSamples + 0.5) / kSamples - 0.5;
                cv::Point2d b = apply(pictureToBoard, {column + dx, row + dy});
                bool squares = b.x >= -1 && b.x < pattern.width && b.y >= -1 && b.y < pattern.height;
                bool paper = b.x >= -1 - kMargin && b.x < pattern.width + kMargin && b.y >= -1 - kMargin &&
                             b.y < pattern.height + kMargin;
                bool dark = (static_cast<int>(std::floor(b.x)) + static_cast<int>(std::floor(b.y))) & 1;
                sum += squares ? (dark ? 30 : 220) : paper ? 220 : 120;
            }
            picture.at<unsigned char>(row, column) = cv::saturate_cast<unsigned char>(sum / kSamples);
        }
    return picture;
}

std::vector<cv::Point2f> boardCorners(cv::Size pattern, const cv::Matx33d& boardToPicture) {
    std::vector<cv::Point2f> corners;
    for (int k = 0; k < pattern.area(); ++k)
        corners.push_back(cv::Point2f(apply(boardToPicture, {double(k % pattern.width), double(k / pattern.width)})));
    return corners;
}

struct Tracked {
    int count = 0;
    cv::Point2f corners[kMaxTrackedCorners];
    int indices[kMaxTrackedCorners];
};

Tracked track(CornerTracker* tracker, const cv::Mat& frame) {
    Tracked t;
    t.count = trackBoardCorners(tracker, frame, t.corners, t.indices);
    return t;
}

// Largest distance of the tracked corners from where the board puts them.
double worstError(const Tracked& t, cv::Size pattern, const cv::Matx33d& boardToPicture) {
    std::vector<cv::Point2f> truth = boardCorners(pattern, boardToPicture);
    double worst = 0;
    for (int i = 0; i < t.count; ++i) worst = std::max(worst, cv::norm(t.corners[i] - truth[t.indices[i]]));
    return worst;
}

class CornerTrackerOnDrawnBoards : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(resetCornerTracker(&tracker)); }
    void remember(cv::Size pattern, const cv::Matx33d& boardToPicture) {
        std::vector<cv::Point2f> corners = boardCorners(pattern, boardToPicture);
        ASSERT_TRUE(rememberDetectedBoard(&tracker, drawBoard(pattern, boardToPicture), corners.data(), pattern));
    }
    CornerTracker tracker;
};

TEST_F(CornerTrackerOnDrawnBoards, AShiftedBoardsCornersMoveByTheShift) {
    for (cv::Point2d shift : {cv::Point2d(3.4, -2.7), cv::Point2d(-9.6, 7.3), cv::Point2d(0.25, 0.0)}) {
        cv::Matx33d before = frontalBoard(150, 120), after = frontalBoard(150 + shift.x, 120 + shift.y);
        remember(kBoard, before);
        Tracked t = track(&tracker, drawBoard(kBoard, after));
        ASSERT_EQ(t.count, kBoard.area()) << shift;
        for (int k = 0; k < t.count; ++k) EXPECT_EQ(t.indices[k], k);
        EXPECT_LT(worstError(t, kBoard, after), kShiftedCornerPx) << shift;
        EXPECT_EQ(tracker.count, kBoard.area());
    }
}

// A board turning and tilting away over several frames, followed from one
// tracked frame to the next.
TEST_F(CornerTrackerOnDrawnBoards, FollowsATurningTiltingBoardFrameAfterFrame) {
    cv::Matx33d pose = frontalBoard(180, 130);
    remember(kBoard, pose);
    const cv::Point2d centre(3.5 * kSquarePx + 180, 2.5 * kSquarePx + 130);
    for (int frame = 1; frame <= 8; ++frame) {
        cv::Matx33d toCentre(1, 0, -centre.x, 0, 1, -centre.y, 0, 0, 1), back = toCentre.inv();
        double turn = 2.0 * CV_PI / 180, c = std::cos(turn), s = std::sin(turn);
        cv::Matx33d step(c, -s, 1.5, s, c, 0.8, 4e-5, 2e-5, 1);
        pose = back * step * toCentre * pose;
        Tracked t = track(&tracker, drawBoard(kBoard, pose));
        ASSERT_EQ(t.count, kBoard.area()) << "frame " << frame;
        EXPECT_LT(worstError(t, kBoard, pose), kTurnedCornerPx) << "frame " << frame;
    }
}

// A card over part of the board: corners under it, and near its edge, go;
// the others stay where the board puts them. A plain card leaves nothing to
// follow; a card printed with the board's own pattern, moving its own way,
// gives corners that the flow follows well, only not with the board's plane.
TEST_F(CornerTrackerOnDrawnBoards, KeepsTheCornersBesideACardAndNoneUnderIt) {
    cv::Matx33d before = frontalBoard(150, 120), after = frontalBoard(152, 121);
    const cv::Rect card(140, 105, 100, 110);  // over columns 0-2 of rows 0-3
    cv::Mat plain = drawBoard(kBoard, after), printed = plain.clone();
    plain(card).setTo(170);
    drawBoard(kBoard, frontalBoard(147, 124))(card).copyTo(printed(card));
    std::vector<cv::Point2f> truth = boardCorners(kBoard, after);
    auto underCard = [&](int k) { return card.contains(cv::Point(std::lround(truth[k].x), std::lround(truth[k].y))); };
    int outside = 0;
    for (int k = 0; k < kBoard.area(); ++k) outside += !underCard(k);
    for (const cv::Mat& covered : {plain, printed}) {
        remember(kBoard, before);
        Tracked t = track(&tracker, covered);
        EXPECT_GE(t.count, kMinTrackedCorners);
        EXPECT_LE(t.count, outside);
        for (int i = 0; i < t.count; ++i) EXPECT_FALSE(underCard(t.indices[i])) << "corner " << t.indices[i];
        EXPECT_LT(worstError(t, kBoard, after), kShiftedCornerPx);
    }
}

// Fourteen corners along one row are enough in number but fix no plane, nor
// do they with one more corner off the row; two rows do.
TEST_F(CornerTrackerOnDrawnBoards, LosesABoardLeftAlongOneLine) {
    const cv::Size longBoard(14, 4);
    const int top = 150, belowFirstRow = top + kSquarePx / 2, belowSecondRow = belowFirstRow + kSquarePx;
    cv::Matx33d pose(kSquarePx, 0, 100, 0, kSquarePx, top, 0, 0, 1);
    cv::Mat board = drawBoard(longBoard, pose);
    cv::Mat oneRow = board.clone(), oneRowAndOne, twoRows = board.clone();
    oneRow.rowRange(belowFirstRow, kPicture.height).setTo(120);
    oneRowAndOne = oneRow.clone();
    const cv::Rect aroundCorner19(100 + 5 * kSquarePx - 12, top + kSquarePx - 12, 24, 24);
    board(aroundCorner19).copyTo(oneRowAndOne(aroundCorner19));
    twoRows.rowRange(belowSecondRow, kPicture.height).setTo(120);
    for (const cv::Mat& covered : {oneRow, oneRowAndOne}) {
        remember(longBoard, pose);
        EXPECT_EQ(track(&tracker, covered).count, 0);
        EXPECT_EQ(tracker.count, 0);
        // Holding nothing, it finds nothing even in the remembered picture.
        EXPECT_EQ(track(&tracker, board).count, 0);
    }
    remember(longBoard, pose);
    EXPECT_EQ(track(&tracker, twoRows).count, 2 * longBoard.width);
}

TEST_F(CornerTrackerOnDrawnBoards, ACutToAnotherSceneLosesTheBoard) {
    cv::Mat uniform(kPicture, CV_8UC1), blurred(kPicture, CV_8UC1);
    cv::RNG rng(7);
    rng.fill(uniform, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(uniform, blurred, cv::Size(0, 0), 3.0);
    cv::normalize(blurred, blurred, 0, 255, cv::NORM_MINMAX);
    cv::Mat grey(kPicture, CV_8UC1, cv::Scalar(128));
    cv::Mat board = drawBoard(kBoard, frontalBoard(150, 120)), elsewhere;
    cv::flip(board, elsewhere, -1);  // the board turned half round and moved
    int scene = 0;
    for (const cv::Mat& cut : {uniform, blurred, grey, elsewhere}) {
        remember(kBoard, frontalBoard(150, 120));
        EXPECT_EQ(track(&tracker, cut).count, 0) << "scene " << scene++;
        EXPECT_EQ(tracker.count, 0);
    }
}

TEST_F(CornerTrackerOnDrawnBoards, RefusesWhatItCannotFollow) {
    cv::Matx33d pose = frontalBoard(150, 120);
    cv::Mat picture = drawBoard(kBoard, pose);
    std::vector<cv::Point2f> corners = boardCorners(kBoard, pose);
    EXPECT_EQ(track(&tracker, picture).count, 0) << "nothing remembered";
    EXPECT_FALSE(rememberDetectedBoard(&tracker, cv::Mat(), corners.data(), kBoard));
    EXPECT_FALSE(rememberDetectedBoard(&tracker, cv::Mat(kPicture, CV_32FC1), corners.data(), kBoard));
    EXPECT_FALSE(rememberDetectedBoard(&tracker, cv::Mat(kPicture, CV_8UC4), corners.data(), kBoard));
    std::vector<cv::Point2f> many(kMaxTrackedCorners + 11);
    EXPECT_FALSE(rememberDetectedBoard(&tracker, picture, many.data(), cv::Size(11, 10)));
    corners[5].x = NAN;
    EXPECT_FALSE(rememberDetectedBoard(&tracker, picture, corners.data(), kBoard));
    EXPECT_EQ(tracker.count, 0);
    corners = boardCorners(kBoard, pose);
    for (const cv::Mat& wrong : {cv::Mat(), cv::Mat(cv::Size(642, 480), CV_8UC1, cv::Scalar(0)),
                                 cv::Mat(kPicture, CV_16UC1, cv::Scalar(0))}) {
        ASSERT_TRUE(rememberDetectedBoard(&tracker, picture, corners.data(), kBoard));
        EXPECT_EQ(track(&tracker, wrong).count, 0);
        EXPECT_EQ(tracker.count, 0);
    }
    // A BGR frame is taken as well as a grey one.
    cv::Mat bgr;
    cv::cvtColor(picture, bgr, cv::COLOR_GRAY2BGR);
    ASSERT_TRUE(rememberDetectedBoard(&tracker, bgr, corners.data(), kBoard));
    EXPECT_EQ(track(&tracker, bgr).count, kBoard.area());
}

// ---------------------------------------------------------------- the sample video

const std::string kClip = TRACKER_CLIP;
const std::string kClipTruth = TRACKER_CLIP_TRUTH;
constexpr int kCardFirstFrame = 96, kCardLastFrame = 105;
// Uncovered frames on either side of the card whose registration the covered
// ones are held to.
constexpr int kNeighbourFrames = 6;
// The viewer's order is replayed from here (a frame with the board) to the
// clip's end: the tracker starts afresh at every detection.
constexpr int kReplayFirstFrame = 80;

struct Frame {
    cv::Mat picture;
    bool found = false;
    std::vector<cv::Point2f> corners;
};

// What the viewer does with one frame: the detector's corners, or the
// tracker's, as corners with their board indices.
struct FrameResult {
    bool detected = false;
    Tracked corners;
};

class CornerTrackerOnTheSampleVideo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        truth = readGroundTruth(kClipTruth);
        cv::VideoCapture capture(kClip, cv::CAP_FFMPEG);
        for (cv::Mat picture; frames.size() < truth.size() && capture.read(picture);) {
            Frame f;
            f.picture = picture.clone();
            if (frames.empty() || frames.size() >= kReplayFirstFrame)
                f.found = cv::findChessboardCorners(picture, kBoard, f.corners, kBoardDetectorFlags);
            frames.push_back(f);
        }
    }
    static void TearDownTestSuite() { frames.clear(); }

    void SetUp() override {
        ASSERT_GT(static_cast<int>(frames.size()), kCardLastFrame + kNeighbourFrames) << kClip;
        ASSERT_TRUE(frames[0].found && frames[kReplayFirstFrame].found);
        for (int i = kCardFirstFrame; i <= kCardLastFrame; ++i) ASSERT_FALSE(frames[i].found) << "frame " << i;
        ASSERT_TRUE(resetCornerTracker(&tracker));
    }

    // The viewer's order over the replayed frames.
    std::vector<FrameResult> run() {
        std::vector<FrameResult> results(frames.size());
        for (size_t i = kReplayFirstFrame; i < frames.size(); ++i) {
            FrameResult& r = results[i];
            r.detected = frames[i].found;
            if (!r.detected) {
                r.corners = track(&tracker, frames[i].picture);
                continue;
            }
            rememberDetectedBoard(&tracker, frames[i].picture, frames[i].corners.data(), kBoard);
            r.corners.count = kBoard.area();
            for (int k = 0; k < kBoard.area(); ++k)
                r.corners.corners[k] = frames[i].corners[k], r.corners.indices[k] = k;
        }
        return results;
    }

    static cv::Point2d truePixel(int frame, int index) {
        return projectToPixel(truth[frame], index % kBoard.width, index / kBoard.width, 0, kPicture);
    }

    // Focal length from the first frame's full calibration, as the viewer has it.
    static double firstFocal() {
        double wx[64], wy[64], ix[64], iy[64], f = 0, T[3], R[9];
        for (int k = 0; k < kBoard.area(); ++k) {
            wx[k] = k % kBoard.width, wy[k] = k / kBoard.width;
            ix[k] = frames[0].corners[k].x - kPicture.width / 2, iy[k] = frames[0].corners[k].y - kPicture.height / 2;
        }
        return tsaiCalibration2D(kBoard.area(), wx, wy, ix, iy, &f, T, R) ? f : 0;
    }

    // Largest distance, over all the board's corners, between the pose from
    // the given corners and the truth; infinite when the calibration fails.
    static double registrationError(int frame, const Tracked& t, double f) {
        double wx[kMaxTrackedCorners], wy[kMaxTrackedCorners], ix[kMaxTrackedCorners], iy[kMaxTrackedCorners];
        for (int i = 0; i < t.count; ++i) {
            wx[i] = t.indices[i] % kBoard.width, wy[i] = t.indices[i] / kBoard.width;
            ix[i] = t.corners[i].x - kPicture.width / 2, iy[i] = t.corners[i].y - kPicture.height / 2;
        }
        double T[3], R[9];
        if (!tsaiCalibration2D_Tr(t.count, wx, wy, ix, iy, f, T, R)) return INFINITY;
        double worst = 0;
        for (int k = 0; k < kBoard.area(); ++k) {
            double x, y;
            tsaiProject(k % kBoard.width, k / kBoard.width, 0, &x, &y, f, T, R);
            cv::Point2d p = truePixel(frame, k);
            worst = std::max(worst, std::hypot(x + kPicture.width / 2 - p.x, y + kPicture.height / 2 - p.y));
        }
        return worst;
    }

    static std::vector<TruthFrame> truth;
    static std::vector<Frame> frames;
    CornerTracker tracker;
};

std::vector<TruthFrame> CornerTrackerOnTheSampleVideo::truth;
std::vector<Frame> CornerTrackerOnTheSampleVideo::frames;

TEST_F(CornerTrackerOnTheSampleVideo, CoveredFramesKeepEnoughCornersWhereTheTruthPutsThem) {
    std::vector<FrameResult> results = run();
    for (int i = kCardFirstFrame; i <= kCardLastFrame; ++i) {
        const Tracked& t = results[i].corners;
        EXPECT_GE(t.count, kMinTrackedCorners) << "frame " << i;
        for (int j = 0; j < t.count; ++j)
            EXPECT_LT(cv::norm(cv::Point2d(t.corners[j]) - truePixel(i, t.indices[j])), 1.0)
                << "frame " << i << " corner " << t.indices[j];
    }
}

TEST_F(CornerTrackerOnTheSampleVideo, PoseFromTrackedCornersRegistersTheBoardAsTheDetectorsDoes) {
    std::vector<FrameResult> results = run();
    double f = firstFocal();
    ASSERT_GT(f, 0);
    double neighbours = 0;
    for (int i = kCardFirstFrame - kNeighbourFrames; i <= kCardLastFrame + kNeighbourFrames; ++i) {
        if (i >= kCardFirstFrame && i <= kCardLastFrame) continue;
        ASSERT_TRUE(results[i].detected) << "frame " << i;
        neighbours = std::max(neighbours, registrationError(i, results[i].corners, f));
    }
    // The card leaves a part of the board, so its pose is less sure than the
    // whole board's: within twice the worst neighbour, or a pixel.
    double bound = std::max(2 * neighbours, 1.0);
    for (int i = kCardFirstFrame; i <= kCardLastFrame; ++i)
        EXPECT_LT(registrationError(i, results[i].corners, f), bound) << "frame " << i;
}

// Nothing but the frames decides: not a random seed, nor how OpenCV splits
// the work between threads.
TEST_F(CornerTrackerOnTheSampleVideo, TheSameVideoGivesTheSameCorners) {
    std::vector<FrameResult> first = run();
    ASSERT_TRUE(resetCornerTracker(&tracker));
    int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    std::vector<FrameResult> second = run();
    cv::setNumThreads(threads);
    for (size_t i = 0; i < first.size(); ++i) {
        ASSERT_EQ(first[i].corners.count, second[i].corners.count) << "frame " << i;
        size_t n = first[i].corners.count;
        EXPECT_EQ(std::memcmp(first[i].corners.corners, second[i].corners.corners, n * sizeof(cv::Point2f)), 0);
        EXPECT_EQ(std::memcmp(first[i].corners.indices, second[i].corners.indices, n * sizeof(int)), 0);
    }
}

TEST_F(CornerTrackerOnTheSampleVideo, ACutToNoiseLosesTheBoardUntilTheDetectorFindsItAgain) {
    const int before = kCardFirstFrame - 1;
    ASSERT_TRUE(rememberDetectedBoard(&tracker, frames[before].picture, frames[before].corners.data(), kBoard));
    cv::Mat noise(kPicture, CV_8UC3);
    cv::RNG rng(3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    EXPECT_EQ(track(&tracker, noise).count, 0);
    // Back to the board, but the tracker has let it go.
    EXPECT_EQ(track(&tracker, frames[kCardFirstFrame].picture).count, 0);
}

}  // namespace
