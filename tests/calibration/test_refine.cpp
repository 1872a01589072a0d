// Refinement of the pose and of the whole calibration: agreement with
// OpenCV's minimisers on noisy corners, the exact camera from a start a few
// percent off, face-on and steep boards, rejected input, the rotation kept
// orthonormal, and several threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "support/synthetic_view.h"
#include "tsai.h"

namespace {

struct Camera {
    double f;
    double T[3];
    double R[9];
};

struct PoseCase {
    double f, distance, tilt, azimuth, roll;
    int side;
};

// Tilted views of the 8 x 6 board from both sides, 20 to 60 degrees.
const PoseCase kTilted[] = {
    {500, 15, 35, 10, 0, -1},   {800, 22, 50, 120, 30, -1}, {1200, 40, 20, 200, -40, -1},
    {700, 18, 60, 300, 170, 1}, {950, 30, 45, 45, 90, 1},
};

Camera cameraOf(const SyntheticView& v) {
    Camera c = {v.f, {v.T[0], v.T[1], v.T[2]}, {}};
    std::memcpy(c.R, v.R, sizeof c.R);
    return c;
}

double distanceOf(const double* T) { return std::sqrt(T[0] * T[0] + T[1] * T[1] + T[2] * T[2]); }

double sumOfSquaredErrors(const BoardPoints& p, const Camera& c) {
    double sum = 0;
    for (int k = 0; k < p.n; ++k) {
        double x, y;
        tsaiProject(p.worldX[k], p.worldY[k], 0, &x, &y, c.f, c.T, c.R);
        sum += (x - p.imageX[k]) * (x - p.imageX[k]) + (y - p.imageY[k]) * (y - p.imageY[k]);
    }
    return sum;
}

// The camera turned by angleDeg about a fixed oblique axis through its centre,
// moved by a share of its distance, and f scaled.
Camera perturbed(const Camera& c, double angleDeg, double shift, double focalScale) {
    cv::Matx33d E, R(c.R);
    cv::Vec3d axis = cv::normalize(cv::Vec3d(0.3, -0.8, 0.5)) * (angleDeg * CV_PI / 180);
    cv::Rodrigues(axis, E);
    cv::Matx33d moved = E * R;
    cv::Vec3d T = E * cv::Vec3d(c.T[0], c.T[1], c.T[2]);
    Camera out = c;
    out.f *= focalScale;
    for (int i = 0; i < 9; ++i) out.R[i] = moved.val[i];
    for (int i = 0; i < 3; ++i) out.T[i] = T[i] + shift * distanceOf(c.T) * (i == 2 ? 1.0 : 0.5);
    return out;
}

int refinePose(const BoardPoints& p, Camera* c) {
    return tsaiRefinePose(p.n, p.worldX, p.worldY, p.imageX, p.imageY, c->f, c->T, c->R);
}

int refineCalibration(const BoardPoints& p, Camera* c) {
    return tsaiRefineCalibration(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &c->f, c->T, c->R);
}

void expectRotation(const double* R) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double dot = R[3 * i] * R[3 * j] + R[3 * i + 1] * R[3 * j + 1] + R[3 * i + 2] * R[3 * j + 2];
            EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12);
        }
    double det = R[0] * (R[4] * R[8] - R[5] * R[7]) - R[1] * (R[3] * R[8] - R[5] * R[6]) +
                 R[2] * (R[3] * R[7] - R[4] * R[6]);
    EXPECT_NEAR(det, 1.0, 1e-12);
}

void expectFinite(const Camera& c) {
    EXPECT_TRUE(std::isfinite(c.f));
    for (double v : c.T) EXPECT_TRUE(std::isfinite(v));
    for (double v : c.R) EXPECT_TRUE(std::isfinite(v));
}

void expectSameCamera(const Camera& expected, const Camera& c, double fTol, double angleTolDeg, double tTol) {
    EXPECT_NEAR(c.f, expected.f, fTol * expected.f);
    EXPECT_LT(rotationErrorDegrees(c.R, expected.R), angleTolDeg);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(c.T[i], expected.T[i], tTol * distanceOf(expected.T)) << "T[" << i << "]";
}

// OpenCV's view of the same points: image coordinates from the principal point.
struct OpenCvView {
    std::vector<cv::Point3d> object;
    std::vector<cv::Point2d> image;
};

OpenCvView toOpenCv(const BoardPoints& p) {
    OpenCvView o;
    for (int k = 0; k < p.n; ++k) {
        o.object.emplace_back(p.worldX[k], p.worldY[k], 0.0);
        o.image.emplace_back(p.imageX[k], p.imageY[k]);
    }
    return o;
}

Camera fromOpenCv(double f, const cv::Mat& rvec, const cv::Mat& tvec) {
    cv::Matx33d R;
    cv::Rodrigues(rvec, R);
    Camera c = {f, {tvec.at<double>(0), tvec.at<double>(1), tvec.at<double>(2)}, {}};
    for (int i = 0; i < 9; ++i) c.R[i] = R.val[i];
    return c;
}

const cv::TermCriteria kTightCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 200, 1e-15);

Camera openCvRefinePose(const BoardPoints& p, const Camera& start) {
    OpenCvView o = toOpenCv(p);
    cv::Mat rvec, tvec = (cv::Mat_<double>(3, 1) << start.T[0], start.T[1], start.T[2]);
    cv::Rodrigues(cv::Mat(cv::Matx33d(start.R)), rvec);
    cv::Matx33d K(start.f, 0, 0, 0, start.f, 0, 0, 0, 1);
    cv::solvePnPRefineLM(o.object, o.image, K, cv::noArray(), rvec, tvec, kTightCriteria);
    return fromOpenCv(start.f, rvec, tvec);
}

// One view, f free with the principal point and the aspect ratio fixed, no
// distortion, from the given camera.
Camera openCvCalibrate(const BoardPoints& p, const Camera& start) {
    OpenCvView o = toOpenCv(p);
    std::vector<std::vector<cv::Point3f>> objects(1);
    std::vector<std::vector<cv::Point2f>> images(1);
    for (int k = 0; k < p.n; ++k) {
        objects[0].emplace_back(float(o.object[k].x), float(o.object[k].y), 0.f);
        images[0].emplace_back(float(o.image[k].x), float(o.image[k].y));
    }
    cv::Mat K = (cv::Mat_<double>(3, 3) << start.f, 0, 0, 0, start.f, 0, 0, 0, 1);
    cv::Mat dist = cv::Mat::zeros(5, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    int flags = cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_FIX_ASPECT_RATIO |
                cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_K1 | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3;
    cv::calibrateCamera(objects, images, cv::Size(1, 1), K, dist, rvecs, tvecs, flags, kTightCriteria);
    return fromOpenCv(K.at<double>(0, 0), rvecs[0], tvecs[0]);
}

Camera linearPose(const BoardPoints& p, double f) {
    Camera c = {f, {}, {}};
    EXPECT_EQ(tsaiCalibration2D_Tr(p.n, p.worldX, p.worldY, p.imageX, p.imageY, f, c.T, c.R), 1);
    return c;
}

Camera linearCalibration(const BoardPoints& p) {
    Camera c;
    EXPECT_EQ(tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &c.f, c.T, c.R), 1);
    return c;
}

}  // namespace

TEST(RefineAgreement, PoseMatchesSolvePnPRefineLMOnNoisyCorners) {
    std::mt19937 rng(21);
    for (const PoseCase& pc : kTilted)
        for (double sigma : {0.25, 1.0}) {
            SyntheticView truth = lookAtBoard(pc.f, pc.distance, pc.tilt, pc.azimuth, pc.roll, pc.side);
            BoardPoints p = projectBoard(truth, 8, 6, sigma, rng);
            Camera start = linearPose(p, truth.f), ours = start;
            ASSERT_EQ(refinePose(p, &ours), 1);
            Camera theirs = openCvRefinePose(p, start);
            // Both stop within rounding of the least error; along the pose's
            // weakest direction that leaves about 1e-6 degrees between them,
            // a ten-thousandth of the error the noise causes.
            expectSameCamera(theirs, ours, 0, 1e-5, 1e-7);
            EXPECT_LE(sumOfSquaredErrors(p, ours), sumOfSquaredErrors(p, theirs) * (1 + 1e-9));
            EXPECT_LT(sumOfSquaredErrors(p, ours), sumOfSquaredErrors(p, start));
        }
}

TEST(RefineAgreement, CalibrationMatchesOneViewCalibrateCamera) {
    std::mt19937 rng(22);
    for (const PoseCase& pc : kTilted) {
        SyntheticView truth = lookAtBoard(pc.f, pc.distance, pc.tilt, pc.azimuth, pc.roll, pc.side);
        BoardPoints p = projectBoard(truth, 8, 6, 0.5, rng);
        Camera start = linearCalibration(p), ours = start;
        ASSERT_EQ(refineCalibration(p, &ours), 1);
        Camera theirs = openCvCalibrate(p, start);
        // OpenCV takes its corners as floats: agreement to their rounding.
        expectSameCamera(theirs, ours, 1e-5, 1e-3, 1e-5);
        EXPECT_LE(sumOfSquaredErrors(p, ours), sumOfSquaredErrors(p, theirs) * (1 + 1e-6));
    }
}

TEST(RefineExactData, FindsTheExactCameraFromAStartAFewPercentOff) {
    std::mt19937 rng(23);
    for (const PoseCase& pc : kTilted) {
        SyntheticView truth = lookAtBoard(pc.f, pc.distance, pc.tilt, pc.azimuth, pc.roll, pc.side);
        BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
        Camera exact = cameraOf(truth);
        Camera pose = perturbed(exact, 3.0, 0.03, 1.0);
        ASSERT_EQ(refinePose(p, &pose), 1);
        expectSameCamera(exact, pose, 0, 1e-8, 1e-10);
        Camera full = perturbed(exact, 3.0, 0.03, 1.04);
        ASSERT_EQ(refineCalibration(p, &full), 1);
        expectSameCamera(exact, full, 1e-10, 1e-8, 1e-10);
        expectRotation(pose.R);
        expectRotation(full.R);
    }
}

TEST(RefineExactData, SteepBoards) {
    std::mt19937 rng(24);
    for (double tilt : {75.0, 80.0, 85.0})
        for (double roll : {0.0, 60.0}) {
            SyntheticView truth = lookAtBoard(800, 25, tilt, 30, roll, -1);
            BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
            Camera exact = cameraOf(truth);
            Camera pose = perturbed(exact, 2.0, 0.02, 1.0), full = perturbed(exact, 2.0, 0.02, 1.03);
            ASSERT_EQ(refinePose(p, &pose), 1) << tilt;
            ASSERT_EQ(refineCalibration(p, &full), 1) << tilt;
            expectSameCamera(exact, pose, 0, 1e-8, 1e-10);
            expectSameCamera(exact, full, 1e-9, 1e-8, 1e-9);
            // From the linear results on noisy corners: refined, not worse.
            BoardPoints noisy = projectBoard(truth, 8, 6, 0.5, rng);
            Camera start = linearCalibration(noisy), refined = start;
            ASSERT_EQ(refineCalibration(noisy, &refined), 1);
            EXPECT_LT(sumOfSquaredErrors(noisy, refined), sumOfSquaredErrors(noisy, start));
        }
}

TEST(RefineExactData, FaceOnBoardRefinesThePoseButNotTheFocalLength) {
    // f and Tz trade off face-on: tsaiRefineCalibration refuses and writes
    // nothing; the pose alone is determined.
    std::mt19937 rng(25);
    for (double tilt : {0.0, 0.3}) {
        SyntheticView truth = lookAtBoard(800, 20, tilt, 30, 10, -1);
        BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
        Camera exact = cameraOf(truth), full = perturbed(exact, 2.0, 0.02, 1.03), before = full;
        EXPECT_EQ(refineCalibration(p, &full), 0) << tilt;
        EXPECT_EQ(std::memcmp(&full, &before, sizeof full), 0);
        Camera pose = perturbed(exact, 2.0, 0.02, 1.0);
        ASSERT_EQ(refinePose(p, &pose), 1);
        expectSameCamera(exact, pose, 0, 1e-8, 1e-10);
    }
    // A few degrees of tilt determine f again.
    SyntheticView truth = lookAtBoard(800, 20, 3.0, 30, 10, -1);
    BoardPoints p = projectBoard(truth, 8, 6, 0.0, rng);
    Camera full = perturbed(cameraOf(truth), 1.0, 0.01, 1.02);
    ASSERT_EQ(refineCalibration(p, &full), 1);
    EXPECT_NEAR(full.f, 800, 1e-6);
}

TEST(RefineRejectedInput, BadInputReturnsZeroAndWritesNothing) {
    std::mt19937 rng(26);
    SyntheticView truth = lookAtBoard(800, 20, 40, 30, 10, -1);
    BoardPoints p = projectBoard(truth, 10, 10, 0.3, rng);  // 100 points
    const Camera good = perturbed(cameraOf(truth), 1.0, 0.01, 1.0);
    auto expectRejected = [&](const BoardPoints& points, int n, Camera c, const char* what) {
        Camera before = c;
        EXPECT_EQ(tsaiRefinePose(n, points.worldX, points.worldY, points.imageX, points.imageY, c.f, c.T, c.R), 0) << what;
        EXPECT_EQ(tsaiRefineCalibration(n, points.worldX, points.worldY, points.imageX, points.imageY, &c.f, c.T, c.R), 0)
            << what;
        EXPECT_EQ(std::memcmp(&c, &before, sizeof c), 0) << what;
    };
    for (int n : {-1, 0, 4, 65, 100}) expectRejected(p, n, good, "point count");
    for (int array = 0; array < 4; ++array)
        for (double value : {NAN, INFINITY, -INFINITY}) {
            BoardPoints bad = p;
            double* target[4] = {bad.worldX, bad.worldY, bad.imageX, bad.imageY};
            target[array][17] = value;
            expectRejected(bad, 48, good, "non-finite point");
        }
    for (int i = 0; i < 13; ++i) {
        Camera c = good;
        (i == 0 ? c.f : i < 4 ? c.T[i - 1] : c.R[i - 4]) = NAN;
        expectRejected(p, 48, c, "non-finite camera");
    }
    for (double f : {0.0, -800.0}) {
        Camera c = good;
        c.f = f;
        expectRejected(p, 48, c, "f <= 0");
    }
    Camera scaled = good, reflected = good, zero = good;
    for (double& v : scaled.R) v *= 1.001;
    for (int i = 6; i < 9; ++i) reflected.R[i] = -reflected.R[i];
    std::memset(zero.R, 0, sizeof zero.R);
    expectRejected(p, 48, scaled, "R scaled");
    expectRejected(p, 48, reflected, "R a reflection");
    expectRejected(p, 48, zero, "R zero");
    Camera behind = good;
    for (double& v : behind.T) v = -v;
    expectRejected(p, 48, behind, "board behind the camera");
    Camera through = good;  // the plane of the camera's centre cuts the board
    through.T[2] = -(through.R[6] * 3.5 + through.R[7] * 2.5);
    expectRejected(p, 48, through, "board through the camera");
    BoardPoints line = p;  // every point on the line Y = 0
    for (int k = 0; k < 48; ++k) {
        line.worldX[k] = 0.25 * k;
        line.worldY[k] = 0.0;
        tsaiProject(line.worldX[k], 0, 0, &line.imageX[k], &line.imageY[k], truth.f, truth.T, truth.R);
    }
    expectRejected(line, 48, good, "collinear points");
}

TEST(RefineResults, FiniteOrthonormalAndNeverWorse) {
    std::mt19937 rng(27);
    std::uniform_real_distribution<double> u(0, 1);
    int refined = 0;
    for (int trial = 0; trial < 60; ++trial) {
        double f = 400 + 1200 * u(rng);
        SyntheticView truth = lookAtBoard(f, f * 8 / (150 + 300 * u(rng)), 5 + 80 * u(rng), 360 * u(rng),
                                          -180 + 360 * u(rng), u(rng) < 0.5 ? -1 : 1);
        BoardPoints p = projectBoard(truth, 8, 6, 3.0 * u(rng), rng);
        Camera start;
        if (!tsaiCalibration2D(p.n, p.worldX, p.worldY, p.imageX, p.imageY, &start.f, start.T, start.R)) continue;
        for (bool withFocal : {false, true}) {
            Camera c = start;
            int result = withFocal ? refineCalibration(p, &c) : refinePose(p, &c);
            if (result == 0) {
                EXPECT_EQ(std::memcmp(&c, &start, sizeof c), 0);
                continue;
            }
            ++refined;
            expectFinite(c);
            expectRotation(c.R);
            EXPECT_GT(c.f, 0);
            EXPECT_LE(sumOfSquaredErrors(p, c), sumOfSquaredErrors(p, start) * (1 + 1e-9));
            // A refined camera refines again to itself.
            Camera again = c;
            ASSERT_EQ(withFocal ? refineCalibration(p, &again) : refinePose(p, &again), 1);
            expectSameCamera(c, again, 1e-9, 1e-6, 1e-9);
        }
    }
    EXPECT_GT(refined, 100);
}

TEST(RefineResults, SeveralThreadsAtOnceGiveTheSingleThreadResults) {
    std::mt19937 rng(28);
    std::vector<BoardPoints> views;
    std::vector<Camera> starts, expected;
    for (const PoseCase& pc : kTilted) {
        SyntheticView truth = lookAtBoard(pc.f, pc.distance, pc.tilt, pc.azimuth, pc.roll, pc.side);
        views.push_back(projectBoard(truth, 8, 6, 0.5, rng));
        starts.push_back(linearCalibration(views.back()));
    }
    for (size_t v = 0; v < views.size(); ++v)
        for (bool withFocal : {false, true}) {
            Camera c = starts[v];
            ASSERT_EQ(withFocal ? refineCalibration(views[v], &c) : refinePose(views[v], &c), 1);
            expected.push_back(c);
        }
    bool same[4] = {false, false, false, false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            bool ok = true;
            for (int round = 0; round < 100; ++round)
                for (size_t v = 0; v < views.size(); ++v)
                    for (int withFocal = 0; withFocal < 2; ++withFocal) {
                        Camera c = starts[(v + t) % views.size()];
                        const BoardPoints& p = views[(v + t) % views.size()];
                        ok &= (withFocal ? refineCalibration(p, &c) : refinePose(p, &c)) == 1;
                        ok &= std::memcmp(&c, &expected[2 * ((v + t) % views.size()) + withFocal], sizeof c) == 0;
                    }
            same[t] = ok;
        });
    for (std::thread& th : threads) th.join();
    for (bool s : same) EXPECT_TRUE(s);
}
