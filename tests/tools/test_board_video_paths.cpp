// make_board_video's desk, hand-held and swing paths, --exposure, --noise
// and --cut, through the real program. The paths' geometry is checked on
// the truth and camera files that --truth-only writes (every frame, every
// size, no rendering); the pictures on small rendered clips, for the
// sanitizer build's sake.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "board_video_run.h"
#include "camera_file.h"

namespace {

namespace fs = std::filesystem;

// A path's truth and camera file, made in a scratch folder and read back.
struct PathRun {
    int status;
    std::string errors;
    std::vector<Truth> truth;
    CameraModel lens;
    cv::Size size;
    int columns, rows;  // the board's inner corners
};

PathRun runPath(const std::string& options, cv::Size size = {640, 480}, int columns = 8, int rows = 6) {
    PathRun run{-1, "", {}, {}, size, columns, rows};
    std::string folder = makeScratchFolder(), video = folder + "/path.avi", header;
    run.status = runTool(options + " --truth-only --width " + std::to_string(size.width) + " --height " +
                             std::to_string(size.height) + " --board " + std::to_string(columns) + "x" +
                             std::to_string(rows) + " --video " + video,
                         &run.errors);
    if (run.status == 0) {
        run.truth = readTruth(truthPathOf(video), &header);
        std::string error;
        EXPECT_TRUE(readCameraFile(folder + "/path_camera.yml", size.width, size.height, &run.lens, &error)) << error;
        EXPECT_FALSE(fs::exists(video)) << "--truth-only wrote a video";
    }
    fs::remove_all(folder);
    return run;
}

// Pixels of world points through a row's camera and the camera file's lens.
std::vector<cv::Point2d> project(const PathRun& run, const Truth& t, const std::vector<cv::Point3d>& points) {
    Truth withLens = t;
    withLens.f = run.lens.fx, withLens.fy = run.lens.fy, withLens.cx = run.lens.cx, withLens.cy = run.lens.cy;
    std::copy(run.lens.distortion, run.lens.distortion + 5, withLens.k);
    return projectThroughLens(withLens, points);
}

// The outer edge of the board's (W+1) x (H+1) squares, densely.
std::vector<cv::Point3d> boardOutline(int columns, int rows) {
    constexpr int kStepsPerEdge = 40;
    const cv::Point3d corners[5] = {{-1, -1, 0}, {double(columns), -1, 0}, {double(columns), double(rows), 0},
                                    {-1, double(rows), 0}, {-1, -1, 0}};
    std::vector<cv::Point3d> points;
    for (int edge = 0; edge < 4; ++edge)
        for (int i = 0; i < kStepsPerEdge; ++i)
            points.push_back(corners[edge] + (corners[edge + 1] - corners[edge]) * (double(i) / kStepsPerEdge));
    return points;
}

// Farthest the outline reaches from the picture's middle in any frame, as
// fractions of half the width and half the height.
cv::Point2d outlineReach(const PathRun& run) {
    const double middleX = (run.size.width - 1) / 2.0, middleY = (run.size.height - 1) / 2.0;
    cv::Point2d reach(0, 0);
    const std::vector<cv::Point3d> outline = boardOutline(run.columns, run.rows);
    for (const Truth& t : run.truth)
        for (const cv::Point2d& p : project(run, t, outline)) {
            reach.x = std::max(reach.x, std::fabs(p.x - middleX) / (run.size.width / 2.0));
            reach.y = std::max(reach.y, std::fabs(p.y - middleY) / (run.size.height / 2.0));
        }
    return reach;
}

bool samePose(const Truth& a, const Truth& b) {
    return std::equal(a.R, a.R + 9, b.R) && std::equal(a.T, a.T + 3, b.T);
}

// Runs of bit-identical cameras: (first frame, length) of each run of two or more.
std::vector<std::pair<int, int>> stillRuns(const std::vector<Truth>& truth) {
    std::vector<std::pair<int, int>> runs;
    for (size_t i = 1, start = 0; i <= truth.size(); ++i)
        if (i == truth.size() || !samePose(truth[i], truth[i - 1])) {
            if (i - start >= 2) runs.push_back({(int)start, (int)(i - start)});
            start = i;
        }
    return runs;
}

int longestStill(const std::vector<Truth>& truth) {
    int longest = 1;
    for (const auto& run : stillRuns(truth)) longest = std::max(longest, run.second);
    return longest;
}

double tiltDeg(const Truth& t) { return std::acos(t.R[8]) * 180 / kPi; }

// The fastest any inner corner moves from each frame to the next, pixels.
std::vector<double> cornerSpeeds(const PathRun& run) {
    std::vector<double> speeds;
    const std::vector<cv::Point3d> corners = boardCorners(run.columns, run.rows);
    std::vector<cv::Point2d> last;
    for (const Truth& t : run.truth) {
        std::vector<cv::Point2d> now = project(run, t, corners);
        if (!last.empty()) {
            double fastest = 0;
            for (size_t k = 0; k < now.size(); ++k) fastest = std::max(fastest, cv::norm(now[k] - last[k]));
            speeds.push_back(fastest);
        }
        last = now;
    }
    return speeds;
}

// The board's middle through the pinhole camera (no lens), pixels.
cv::Point2d middlePixel(const Truth& t, int columns, int rows) {
    double x, y;
    tsaiProject((columns - 1) / 2.0, (rows - 1) / 2.0, 0.0, &x, &y, t.f, t.T, t.R);
    return {x + t.cx, y + t.cy};
}

// The lens the path tests use: strong barrel distortion, the principal
// point 20 px and 15 px off the middle.
std::string offCentreLens(cv::Size size) {
    return "--distortion -0.3,0.08,0,0,0 --principal-point " + std::to_string(size.width / 2 + 20) + "," +
           std::to_string(size.height / 2 - 15);
}

// ---------------------------------------------------------------- the desk

class DeskPath : public ::testing::Test {
protected:
    static void SetUpTestSuite() { run = runPath("--path desk"); }
    void SetUp() override {
        ASSERT_EQ(run.status, 0) << run.errors;
        ASSERT_EQ(run.truth.size(), 360u);
    }
    static PathRun run;
};
PathRun DeskPath::run;

TEST_F(DeskPath, OutlineStaysInTheMiddleHalfAtEverySizeBoardAndLens) {
    struct Case {
        cv::Size size;
        int columns;
        bool lens;
    };
    const Case cases[] = {{{640, 480}, 8, false}, {{640, 480}, 9, true}, {{1280, 720}, 8, true},
                          {{1280, 720}, 9, false}, {{1920, 1080}, 9, true}, {{1920, 1080}, 8, false}};
    for (const Case& c : cases) {
        PathRun r = runPath("--path desk " + (c.lens ? offCentreLens(c.size) : std::string()), c.size, c.columns, 6);
        ASSERT_EQ(r.status, 0) << r.errors;
        cv::Point2d reach = outlineReach(r);
        std::string name = std::to_string(c.size.width) + "x" + std::to_string(c.size.height) + " board " +
                           std::to_string(c.columns) + "x6" + (c.lens ? " through the lens" : "");
        EXPECT_LE(reach.x, 0.5) << name;
        EXPECT_LE(reach.y, 0.5) << name;
        EXPECT_GE(std::max(reach.x, reach.y), 0.4) << name << ": the board should fill much of the middle half";
    }
}

TEST_F(DeskPath, TiltsStay10To45DegreesInVariedDirectionsAwayFromTheBuildings) {
    double lowest = 90, highest = 0, westmost = 180, eastmost = -180;
    for (const Truth& t : run.truth) {
        double tilt = tiltDeg(t);
        lowest = std::min(lowest, tilt), highest = std::max(highest, tilt);
        Vec3 centre = cameraCentre(t);
        EXPECT_LT(centre.z, 0.0) << "frame " << t.frame;
        double azimuth = std::atan2(centre.y - 2.5, centre.x - 3.5) * 180 / kPi;
        westmost = std::min(westmost, azimuth), eastmost = std::max(eastmost, azimuth);
        EXPECT_FALSE(t.covered);
        for (int k = 0; k < 48; ++k) EXPECT_FALSE(hiddenByBuilding(t, {double(k % 8), double(k / 8), 0}));
    }
    EXPECT_GE(lowest, 10 - 1e-9);
    EXPECT_LE(highest, 45 + 1e-9);
    EXPECT_LE(lowest, 13.0);
    EXPECT_GE(highest, 42.0);
    EXPECT_GE(eastmost - westmost, 90.0) << "the camera's direction from the board should vary";
}

TEST_F(DeskPath, HoldsExactlyStillForAboutOneAndAHalfSeconds) {
    int longest = longestStill(run.truth);
    EXPECT_GE(longest, 40);
    EXPECT_LE(longest, 50);
}

// Constant velocity of the board's middle in the picture, to 1e-6 px per
// frame, over two seconds or more, sideways across the middle half.
TEST_F(DeskPath, PansAtConstantSpeedForAboutThreeSeconds) {
    std::vector<cv::Point2d> middle;
    for (const Truth& t : run.truth) middle.push_back(middlePixel(t, 8, 6));
    int longest = 0, first = 0;
    for (int i = 2, length = 0; i < (int)middle.size(); ++i) {
        cv::Point2d velocity = middle[i] - middle[i - 1], before = middle[i - 1] - middle[i - 2];
        bool steady = cv::norm(velocity - before) < 1e-6 && cv::norm(velocity) > 0.5;
        length = steady ? length + 1 : 0;
        if (length > longest) longest = length, first = i - length;
    }
    EXPECT_GE(longest + 1, 60) << "frames of the longest steady pan";
    EXPECT_GE(std::fabs(middle[first + longest].x - middle[first].x), 640 / 8.0) << "pixels panned";
}

// The rendered start of the path: OpenCV's detector finds the board, every
// corner inside the middle half and at its true place.
TEST(DeskClip, DetectorFindsTheRenderedBoardInsideTheMiddleHalf) {
    std::string folder = makeScratchFolder(), video = folder + "/desk.avi", errors, header;
    ASSERT_EQ(runTool("--path desk --frames 3 --samples 2 --video " + video, &errors), 0) << errors;
    std::vector<Truth> truth = readTruth(truthPathOf(video), &header);
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    cv::Mat frame;
    for (size_t i = 0; i < truth.size() && capture.read(frame); ++i) {
        std::vector<cv::Point2f> corners;
        ASSERT_TRUE(cv::findChessboardCorners(frame, cv::Size(8, 6), corners, cv::CALIB_CB_ADAPTIVE_THRESH)) << i;
        std::vector<cv::Point2d> expected = projectThroughLens(truth[i], boardCorners(8, 6));
        for (size_t k = 0; k < corners.size(); ++k) {
            EXPECT_LT(cv::norm(cv::Point2d(corners[k]) - expected[k]), 1.0) << "frame " << i << " corner " << k;
            EXPECT_LT(std::fabs(corners[k].x - 319.5), 160.0);
            EXPECT_LT(std::fabs(corners[k].y - 239.5), 120.0);
        }
    }
    fs::remove_all(folder);
}

// ---------------------------------------------------------------- hand-held

TEST(HandheldPath, WholeBoardStaysInViewWithAMarginForEverySeedSizeAndLens) {
    struct Case {
        int seed;
        cv::Size size;
        bool lens;
    };
    const Case cases[] = {
        {1, {640, 480}, false}, {2, {640, 480}, true}, {3, {1280, 720}, true}, {4, {1920, 1080}, false}};
    for (const Case& c : cases) {
        PathRun r = runPath("--path handheld --path-seed " + std::to_string(c.seed) + " " +
                                (c.lens ? offCentreLens(c.size) : std::string()),
                            c.size);
        ASSERT_EQ(r.status, 0) << r.errors;
        ASSERT_EQ(r.truth.size(), 300u);
        cv::Point2d reach = outlineReach(r);
        EXPECT_LE(reach.x, 0.97) << "seed " << c.seed;
        EXPECT_LE(reach.y, 0.97) << "seed " << c.seed;
        for (const Truth& t : r.truth) {
            double tilt = tiltDeg(t);
            EXPECT_TRUE(tilt >= 8 && tilt <= 52) << "tilt " << tilt << " at frame " << t.frame;
            EXPECT_FALSE(t.covered);
        }
    }
}

TEST(HandheldPath, SameSeedGivesTheSamePathAndAnotherSeedAnother) {
    PathRun a = runPath("--path handheld --path-seed 5"), b = runPath("--path handheld --path-seed 5 --seed 9");
    PathRun c = runPath("--path handheld --path-seed 6");
    ASSERT_EQ(a.status, 0) << a.errors;
    ASSERT_EQ(b.truth.size(), a.truth.size());
    ASSERT_EQ(c.truth.size(), a.truth.size());
    int differing = 0;
    for (size_t i = 0; i < a.truth.size(); ++i) {
        EXPECT_TRUE(samePose(a.truth[i], b.truth[i])) << "frame " << i << ": the noise's seed moved the camera";
        differing += !samePose(a.truth[i], c.truth[i]);
    }
    EXPECT_GE(differing, 290);
}

// One rest of about a second, bit for bit still; outside it the camera
// shakes: its viewing axis swings to and fro by a few tenths of a degree
// from frame to frame (second differences of about 0.4 degrees per frame
// squared, where the smooth desk path has 0.1).
TEST(HandheldPath, RestsStillForASecondAndShakesElsewhere) {
    for (int seed : {1, 8}) {
        PathRun r = runPath("--path handheld --path-seed " + std::to_string(seed));
        ASSERT_EQ(r.status, 0) << r.errors;
        std::vector<std::pair<int, int>> runs = stillRuns(r.truth);
        ASSERT_EQ(runs.size(), 1u) << "seed " << seed;
        EXPECT_GE(runs[0].second, 28);
        EXPECT_LE(runs[0].second, 34);
        double sum = 0, largest = 0;
        int counted = 0;
        for (size_t i = 2; i < r.truth.size(); ++i) {
            int start = runs[0].first, end = start + runs[0].second;
            if ((int)i >= start - 10 && (int)i <= end + 10) continue;
            double d2[3];
            for (int k = 0; k < 3; ++k)  // the viewing axis, R's third row
                d2[k] = r.truth[i].R[6 + k] - 2 * r.truth[i - 1].R[6 + k] + r.truth[i - 2].R[6 + k];
            double degrees = std::sqrt(d2[0] * d2[0] + d2[1] * d2[1] + d2[2] * d2[2]) * 180 / kPi;
            sum += degrees * degrees, largest = std::max(largest, degrees), ++counted;
        }
        double rms = std::sqrt(sum / counted);
        EXPECT_GE(rms, 0.2) << "seed " << seed;
        EXPECT_LE(largest, 1.5) << "seed " << seed;
    }
}

// ---------------------------------------------------------------- the swing

TEST(SwingPath, CornersPeakAt20To25PixelsPerFrameAt640AndInProportionToTheWidth) {
    struct Case {
        cv::Size size;
        bool lens;
        int columns;
    };
    const Case cases[] = {{{640, 480}, false, 8}, {{640, 480}, true, 9}, {{1280, 720}, true, 8}};
    for (const Case& c : cases) {
        PathRun r = runPath("--path swing " + (c.lens ? offCentreLens(c.size) : std::string()), c.size, c.columns);
        ASSERT_EQ(r.status, 0) << r.errors;
        ASSERT_EQ(r.truth.size(), 180u);
        std::vector<double> speeds = cornerSpeeds(r);
        double peak = *std::max_element(speeds.begin(), speeds.end()) * 640.0 / c.size.width;
        EXPECT_GE(peak, 20.0) << c.size.width << "x" << c.size.height;
        EXPECT_LE(peak, 25.0) << c.size.width << "x" << c.size.height;
        int whole = 0;
        for (const Truth& t : r.truth) {
            bool inside = true;
            for (const cv::Point2d& p : project(r, t, boardOutline(c.columns, 6)))
                inside = inside && p.x >= -0.5 && p.y >= -0.5 && p.x <= c.size.width - 0.5 &&
                         p.y <= c.size.height - 0.5;
            whole += inside;
        }
        EXPECT_GE(whole, 0.9 * r.truth.size()) << "frames with the whole board in view";
    }
}

TEST(SwingPath, RestsAtTheStartHoldsStillInTheMiddleAndStartsStopsAndTurnsAtOnce) {
    PathRun r = runPath("--path swing");
    ASSERT_EQ(r.status, 0) << r.errors;
    std::vector<std::pair<int, int>> runs = stillRuns(r.truth);
    ASSERT_GE(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0);
    EXPECT_GE(runs[0].second, 12);
    EXPECT_LE(runs[0].second, 18);
    bool middleStill = false;
    for (const auto& run : runs)
        middleStill |= run.first > 40 && run.first < 120 && run.second >= 26 && run.second <= 34;
    EXPECT_TRUE(middleStill);

    std::vector<double> speeds = cornerSpeeds(r);
    std::vector<cv::Point2d> middle;
    for (const Truth& t : r.truth) middle.push_back(middlePixel(t, 8, 6));
    bool suddenStart = false, suddenStop = false, suddenTurn = false;
    for (size_t i = 2; i < speeds.size(); ++i) {
        suddenStart |= speeds[i - 1] == 0 && speeds[i] >= 10;  // from rest to full speed in one frame
        suddenStop |= speeds[i - 2] >= 12 && speeds[i] <= 0.2 * speeds[i - 2];
        cv::Point2d before = middle[i - 1] - middle[i - 2], after = middle[i + 1] - middle[i];
        suddenTurn |= cv::norm(before) >= 8 && cv::norm(after) >= 8 && before.dot(after) < 0;
    }
    EXPECT_TRUE(suddenStart);
    EXPECT_TRUE(suddenStop);
    EXPECT_TRUE(suddenTurn) << "the board's middle reverses within two frames at speed";
}

// ---------------------------------------------------------------- motion blur

cv::Mat frameOf(const std::string& video, int wanted) {
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    cv::Mat frame;
    for (int i = 0; i <= wanted; ++i)
        if (!capture.read(frame)) return cv::Mat();
    return frame.clone();
}

// Sharpness across a sideways motion: the mean of the strongest 1 % of the
// grey picture's horizontal gradients (the board's edges across the motion;
// the table's grain runs along it). MJPG's rate control quantises a
// smoother picture more finely, which a mean over the whole picture would
// partly undo.
double sidewaysSharpness(const cv::Mat& frame) {
    cv::Mat grey, dx;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::Sobel(grey, dx, CV_32F, 1, 0);
    std::vector<float> values(dx.begin<float>(), dx.end<float>());
    for (float& v : values) v = std::fabs(v);
    size_t strongest = values.size() / 100;
    std::nth_element(values.begin(), values.begin() + strongest, values.end(), std::greater<float>());
    double sum = 0;
    for (size_t i = 0; i < strongest; ++i) sum += values[i];
    return sum / strongest;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The swing at 320 x 240 without noise: still until frame 15, then fast
// and sideways (about 9 px per frame). A longer shutter smears the moving
// frames more (measured 759, 594, 208 at 0, 10 and 33.3 ms), leaves the
// still ones alone, and the truth is the frames' own.
TEST(MotionBlur, ShutterSmearsMovingFramesOnlyAndLeavesTheTruthAlone) {
    std::string folder = makeScratchFolder(), errors;
    const std::string clip = "--path swing --frames 19 --samples 1 --noise 0 --width 320 --height 240";
    const int kStill = 5, kMoving = 18;
    double sharp[3];
    cv::Mat still[3];
    std::string truth[3];
    const char* exposures[3] = {"0", "10", "33.3"};
    for (int i = 0; i < 3; ++i) {
        std::string video = folder + "/blur" + std::to_string(i) + ".avi";
        ASSERT_EQ(runTool(clip + " --exposure " + exposures[i] + " --video " + video, &errors), 0) << errors;
        cv::Mat moving = frameOf(video, kMoving);
        still[i] = frameOf(video, kStill);
        ASSERT_FALSE(moving.empty());
        sharp[i] = sidewaysSharpness(moving);
        truth[i] = readFile(truthPathOf(video));
    }
    EXPECT_LT(sharp[1], 0.9 * sharp[0]) << "10 ms";
    EXPECT_LT(sharp[2], 0.6 * sharp[1]) << "33.3 ms";
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(cv::norm(still[i], still[0], cv::NORM_INF), 0.0) << "a still frame changed with " << exposures[i];
        EXPECT_EQ(truth[i], truth[0]);
    }
    fs::remove_all(folder);
}

// ---------------------------------------------------------------- sensor noise

// The noise's standard deviation in the decoded video, from two clips that
// differ only in the noise's seed: the difference is the noise of both.
double measuredNoise(const std::string& folder, const std::string& sigma) {
    cv::Mat frames[2];
    for (int seed = 1; seed <= 2; ++seed) {
        std::string video = folder + "/noise" + std::to_string(seed) + ".avi", errors;
        EXPECT_EQ(runTool("--frames 1 --samples 1 --width 320 --height 240 --noise " + sigma + " --seed " +
                              std::to_string(seed) + " --video " + video,
                          &errors),
                  0)
            << errors;
        frameOf(video, 0).convertTo(frames[seed - 1], CV_32F);
    }
    if (frames[0].empty() || frames[1].empty()) return NAN;
    cv::Mat difference = frames[0] - frames[1];
    cv::Scalar mean, deviation;
    cv::meanStdDev(difference.reshape(1), mean, deviation);
    return deviation[0] / std::sqrt(2.0);
}

// MJPG keeps 60 to 70 % of the sensor's noise above a few grey levels (its
// quantisation drops the finest grain; measured 4.9 at 8, 16.3 at 24); none
// at all without noise.
TEST(SensorNoise, NoiseInTheVideoFollowsSigma) {
    std::string folder = makeScratchFolder();
    EXPECT_EQ(measuredNoise(folder, "0"), 0.0);
    double previous = 0;
    for (double sigma : {8.0, 24.0}) {
        double measured = measuredNoise(folder, std::to_string(sigma));
        EXPECT_GE(measured, 0.5 * sigma) << "sigma " << sigma;
        EXPECT_LE(measured, 1.0 * sigma) << "sigma " << sigma;
        EXPECT_GT(measured, 2 * previous);
        previous = measured;
    }
    fs::remove_all(folder);
}

TEST(SensorNoise, DefaultIsOnePointEightGreyLevels) {
    std::string folder = makeScratchFolder(), errors;
    const std::string clip = "--frames 2 --samples 1 --width 160 --height 120 --video " + folder;
    ASSERT_EQ(runTool(clip + "/default.avi", &errors), 0) << errors;
    ASSERT_EQ(runTool(clip + "/explicit.avi --noise 1.8", &errors), 0) << errors;
    ASSERT_EQ(runTool(clip + "/other.avi --noise 2.5", &errors), 0) << errors;
    EXPECT_EQ(readFile(folder + "/default.avi"), readFile(folder + "/explicit.avi"));
    EXPECT_NE(readFile(folder + "/default.avi"), readFile(folder + "/other.avi"));
    fs::remove_all(folder);
}

// ---------------------------------------------------------------- cuts

// Every column but the frame number.
std::vector<std::string> truthRows(const std::string& options) {
    std::string folder = makeScratchFolder(), video = folder + "/cut.avi", errors;
    EXPECT_EQ(runTool(options + " --truth-only --width 160 --height 120 --video " + video, &errors), 0) << errors;
    std::vector<std::string> rows;
    std::ifstream in(truthPathOf(video));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) rows.push_back(line.substr(line.find(',')));
    fs::remove_all(folder);
    return rows;
}

// Two cuts, on every path: after each the frames are those 4 s (120 frames)
// further on, the card over the board on the sample path included.
TEST(Cuts, EachCutMovesThePathsClockOnByFourSeconds) {
    for (const char* path : {"sample", "sweep", "desk", "handheld", "swing"}) {
        std::vector<std::string> cut = truthRows(std::string("--path ") + path + " --frames 60 --cut 20 --cut 45");
        std::vector<std::string> whole = truthRows(std::string("--path ") + path + " --frames 300");
        ASSERT_EQ(cut.size(), 60u) << path;
        ASSERT_EQ(whole.size(), 300u) << path;
        for (int frame = 0; frame < 60; ++frame) {
            int clock = frame + (frame >= 20 ? 120 : 0) + (frame >= 45 ? 120 : 0);
            EXPECT_EQ(cut[frame], whole[clock]) << path << " frame " << frame;
        }
    }
}

TEST(Cuts, TheBoardJumpsInTheVideoAtACut) {
    std::string folder = makeScratchFolder(), video = folder + "/jump.avi", errors;
    ASSERT_EQ(runTool("--path swing --frames 5 --cut 3 --samples 1 --noise 0 --width 160 --height 120 --video " +
                          video,
                      &errors),
              0)
        << errors;
    cv::Mat frames[5];
    for (int i = 0; i < 5; ++i) ASSERT_FALSE((frames[i] = frameOf(video, i)).empty());
    // The swing rests at its start (the encoder's first frame differs: MJPG's
    // rate control starts from its own quantiser).
    EXPECT_EQ(cv::norm(frames[1], frames[2], cv::NORM_L1), 0.0);
    EXPECT_GT(cv::norm(frames[2], frames[3], cv::NORM_L1) / frames[2].total(), 10.0) << "mean change across the cut";
    fs::remove_all(folder);
}

// ---------------------------------------------------------------- the command line

TEST(PathOptions, BadValuesGiveOneLineAndStatus2AndWriteNothing) {
    std::string folder = makeScratchFolder();
    const std::string out = " --video " + folder + "/out.avi";
    const std::vector<std::string> cases = {
        "--exposure 40", "--exposure 33.4", "--exposure -1", "--exposure x", "--exposure nan", "--noise -1",
        "--noise 65", "--noise x", "--noise inf", "--path nonsense", "--path desks", "--path-seed x",
        "--path-seed -1", "--path-seed 4294967296", "--cut 0", "--cut x", "--cut 300", "--cut 10 --frames 10",
        "--path swing --cut 180", "--path desk --truth-only --cut 5 --cut -2"};
    for (const std::string& arguments : cases) {
        std::string errors;
        EXPECT_EQ(runTool(arguments + out, &errors), 2) << arguments;
        EXPECT_EQ(errors.rfind("make_board_video: ", 0), 0u) << arguments << ": " << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << arguments << ": " << errors;
        EXPECT_TRUE(fs::is_empty(folder)) << arguments;
    }
    fs::remove_all(folder);
}

int defaultFrames(const std::string& path) { return path == "desk" ? 360 : path == "swing" ? 180 : 300; }

TEST(PathOptions, ReportDescribesEveryFrameOfTheNewPaths) {
    std::string folder = makeScratchFolder();
    for (const char* path : {"desk", "handheld", "swing"}) {
        std::string report = folder + "/report.txt";
        std::string command = kTool + " --report --path " + path + " --cut 10 >" + report + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << path;
        std::string text = readFile(report);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), defaultFrames(path) + 1) << path;
        EXPECT_EQ(text.find("nan"), std::string::npos) << path;
    }
    fs::remove_all(folder);
}

}  // namespace
