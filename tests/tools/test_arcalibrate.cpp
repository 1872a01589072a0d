// arcalibrate through the real program: the lens of a rendered sweep with a
// known distorted lens, the real photographs of opencv-doc against OpenCV's
// own calibration of them, picture sequences, and every way a run can fail
// without leaving a file behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "camera_file.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = ARCALIBRATE;
const std::string kSweep = SWEEP_CLIP;  // with SWEEP_CLIP's _camera.yml beside it
const std::string kPhotographs = "/usr/share/doc/opencv-doc/examples/data/";

struct Outcome {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder per test, removed at its end.
class Arcalibrate : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("arcalibrate_" + std::to_string(getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    Outcome run(const std::string& arguments) {
        std::string out = folder / "stdout.txt", err = folder / "stderr.txt";
        int status = std::system((kTool + " " + arguments + " >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // Only the output and the captured streams may be in the folder.
    void expectNothingWritten() const {
        for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
            std::string name = e.path().filename();
            EXPECT_TRUE(name == "stdout.txt" || name == "stderr.txt") << name;
        }
    }

    fs::path folder;
};

std::vector<std::string> photographs(const std::string& side) {
    std::vector<std::string> paths;
    for (int k = 1; k <= 14; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%02d.jpg", side.c_str(), k);
        if (fs::exists(kPhotographs + name)) paths.push_back(kPhotographs + name);
    }
    return paths;
}

std::string joined(const std::vector<std::string>& paths) {
    std::string all;
    for (const std::string& p : paths) all += " " + p;
    return all;
}

std::string lastLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

// OpenCV's calibration sample on the same pictures, with its defaults:
// corners refined in an 11 px half-window, k3 fixed, over every view.
double sampleCalibrationRms(const std::vector<std::string>& paths) {
    const cv::Size pattern(9, 6);
    std::vector<cv::Point3f> board;
    for (int i = 0; i < pattern.height; ++i)
        for (int j = 0; j < pattern.width; ++j) board.emplace_back(static_cast<float>(j), static_cast<float>(i), 0.f);
    std::vector<std::vector<cv::Point2f>> image;
    cv::Size size;
    for (const std::string& p : paths) {
        cv::Mat view = cv::imread(p), grey;
        size = view.size();
        cv::cvtColor(view, grey, cv::COLOR_BGR2GRAY);
        std::vector<cv::Point2f> corners;
        if (!cv::findChessboardCorners(view, pattern, corners,
                                       cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FAST_CHECK |
                                           cv::CALIB_CB_NORMALIZE_IMAGE))
            continue;
        cv::cornerSubPix(grey, corners, cv::Size(11, 11), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 30, 0.0001));
        image.push_back(corners);
    }
    std::vector<std::vector<cv::Point3f>> object(image.size(), board);
    cv::Mat K = cv::Mat::eye(3, 3, CV_64F), distortion = cv::Mat::zeros(8, 1, CV_64F);
    std::vector<cv::Mat> rvecs, tvecs;
    return cv::calibrateCamera(object, image, size, K, distortion, rvecs, tvecs,
                               cv::CALIB_FIX_K3 | cv::CALIB_USE_LU);
}

}  // namespace

TEST_F(Arcalibrate, FindsTheLensOfARenderedSweep) {
    std::string truthFile = kSweep.substr(0, kSweep.size() - 4) + "_camera.yml";
    CameraModel truth, found;
    std::string error;
    ASSERT_TRUE(readCameraFile(truthFile, 0, 0, &truth, &error)) << error;
    Outcome r = run(kSweep + " -o " + path("camera.yml"));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(readCameraFile(path("camera.yml"), truth.width, truth.height, &found, &error)) << error;
    EXPECT_NEAR(found.fx, truth.fx, 0.01 * truth.fx);
    EXPECT_NEAR(found.fy, truth.fy, 0.01 * truth.fy);
    EXPECT_NEAR(found.cx, truth.cx, 3.0);
    EXPECT_NEAR(found.cy, truth.cy, 3.0);
    EXPECT_NEAR(found.distortion[0], truth.distortion[0], 0.02);  // k1
    EXPECT_NEAR(found.distortion[1], truth.distortion[1], 0.06);  // k2
    EXPECT_NEAR(found.distortion[2], truth.distortion[2], 0.001);  // p1
    EXPECT_NEAR(found.distortion[3], truth.distortion[3], 0.001);  // p2
    EXPECT_LT(found.rms, 0.5);
    double rms = 0;
    int views = 0, dropped = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "RMS reprojection error %lf px over %d views (%d dropped)", &rms, &views,
                          &dropped),
              3)
        << r.out;
    EXPECT_NEAR(rms, found.rms, 1e-4);
    EXPECT_EQ(found.views, views);
    EXPECT_EQ(views + dropped, 25);
    EXPECT_LE(dropped, 5);
    EXPECT_NE(r.err.find("25 of 25 views"), std::string::npos) << r.err;
}

// What the views still miss, from the first view on and at the end: here the
// sweep's first view (in the middle) and, at the end, a collection spread
// over the whole picture.
TEST_F(Arcalibrate, GuidesTheBoardToWhatTheViewsStillMiss) {
    Outcome r = run(kSweep + " -o " + path("camera.yml"));
    ASSERT_EQ(r.status, 0) << r.err;
    size_t first = r.err.find("arcalibrate: views 1 of 25; missing: top left,");
    EXPECT_NE(first, std::string::npos) << r.err;
    size_t last = r.err.rfind("arcalibrate: views ");
    ASSERT_NE(last, std::string::npos);
    std::string finalLine = r.err.substr(last, r.err.find('\n', last) - last);
    EXPECT_EQ(finalLine.rfind("arcalibrate: views 25 of 25; ", 0), 0u) << finalLine;
    EXPECT_EQ(finalLine.find("top left"), std::string::npos) << finalLine;
    EXPECT_EQ(finalLine.find("steeper tilts"), std::string::npos) << finalLine;
}

TEST_F(Arcalibrate, MatchesOpenCVsOwnCalibrationOnRealPhotographs) {
    for (const std::string side : {"left", "right"}) {
        std::vector<std::string> paths = photographs(side);
        ASSERT_GE(paths.size(), 10u) << "opencv-doc's photographs are missing";
        Outcome r = run(joined(paths) + " --board 9x6 -o " + path(side + ".yml"));
        ASSERT_EQ(r.status, 0) << r.err;
        CameraModel lens;
        std::string error;
        ASSERT_TRUE(readCameraFile(path(side + ".yml"), 640, 480, &lens, &error)) << error;
        double reference = sampleCalibrationRms(paths);
        EXPECT_LT(lens.rms, 0.3) << side;
        EXPECT_LE(lens.rms, reference) << side;
        EXPECT_GE(lens.views, 10) << side;
        EXPECT_NEAR(lens.fx, 536, 12) << side;  // OpenCV's sample: 536 (left), 542 (right)
        EXPECT_NEAR(lens.cx, 335, 15) << side;
        EXPECT_NEAR(lens.distortion[0], -0.28, 0.05) << side;
        EXPECT_EQ(lens.boardColumns, 9);
        EXPECT_EQ(lens.boardRows, 6);
        // One line per picture on standard error; the report names the views.
        for (const std::string& p : paths) EXPECT_NE(r.err.find(p + ": "), std::string::npos) << p;
        EXPECT_NE(r.out.find(paths[0]), std::string::npos) << r.out;
    }
}

TEST_F(Arcalibrate, ReadsANumberedSequenceUpToItsFirstGap) {
    // left01.jpg .. left09.jpg; left10.jpg does not exist.
    Outcome r = run(kPhotographs + "left%02d.jpg --board 9x6 -o " + path("sequence.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    CameraModel lens;
    std::string error;
    ASSERT_TRUE(readCameraFile(path("sequence.json"), 640, 480, &lens, &error)) << error;
    EXPECT_LE(lens.views, 9);
    EXPECT_GE(lens.views, 7);
    EXPECT_NE(r.err.find("read 9 pictures"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(kPhotographs + "left09.jpg: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("left11.jpg"), std::string::npos) << r.err;
    fs::remove(path("sequence.json"));

    r = run(path("shot%03d.png") + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "arcalibrate: " + path("shot%03d.png") + ": no picture of the sequence exists (" +
                         path("shot000.png") + ", " + path("shot001.png") + ", ...)\n");
    r = run(path("shot%s.png") + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    expectNothingWritten();
}

TEST_F(Arcalibrate, FailsCleanlyWithoutEnoughBoards) {
    // Pictures without a board.
    std::vector<std::string> blank;
    for (int k = 0; k < 3; ++k) {
        cv::Mat picture(240, 320, CV_8UC3);
        cv::randu(picture, cv::Scalar::all(60), cv::Scalar::all(200));
        cv::GaussianBlur(picture, picture, cv::Size(), 3);
        blank.push_back(path("blank" + std::to_string(k) + ".png"));
        ASSERT_TRUE(cv::imwrite(blank.back(), picture));
    }
    Outcome r = run(joined(blank) + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(lastLine(r.err).find("no board of 8x6 inner corners found in 3 pictures"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("camera.yml")));

    // A video without a board.
    cv::VideoWriter writer(path("grey.avi"), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30,
                           cv::Size(320, 240));
    ASSERT_TRUE(writer.isOpened());
    for (int k = 0; k < 10; ++k) writer.write(cv::Mat(240, 320, CV_8UC3, cv::Scalar::all(20 * k)));
    writer.release();
    r = run(path("grey.avi") + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(lastLine(r.err).find("no board"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("camera.yml")));

    // Three good photographs: a board, but too few views.
    std::vector<std::string> three = photographs("left");
    three.resize(3);
    r = run(joined(three) + " --board 9x6 -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lastLine(r.err),
              "arcalibrate: only 3 usable views of the board in 3 pictures; a calibration needs at least 5");
    EXPECT_FALSE(fs::exists(path("camera.yml")));

    // The photographs' 9 x 6 board with the default 8 x 6: the board size is
    // wrong, whatever a calibration from its 8 x 6 part would give.
    r = run(joined(photographs("left")) + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(lastLine(r.err).find("it looks like 9x6 (give --board 9x6)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("camera.yml")));
}

TEST_F(Arcalibrate, FailsCleanlyOnUnreadableSourcesAndUnwritableOutputs) {
    std::vector<std::string> paths = photographs("left");
    Outcome r = run(path("missing.avi") + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "arcalibrate: " + path("missing.avi") + ": No such file or directory\n");
    // One digit names a camera, as for the viewer; two digits are a file's name.
    r = run("12 -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "arcalibrate: 12: No such file or directory\n");

    std::ofstream(path("notes.txt")) << "not a picture\n";
    r = run(path("notes.txt") + " -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line

    // A picture in the list that cannot be read ends the run.
    r = run(joined(paths) + " " + path("notes.txt") + " --board 9x6 -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lastLine(r.err), "arcalibrate: " + path("notes.txt") + ": cannot read as a picture");

    // Pictures of another size than the first.
    cv::Mat small;
    cv::resize(cv::imread(paths[0]), small, cv::Size(320, 240));
    ASSERT_TRUE(cv::imwrite(path("small.png"), small));
    r = run(paths[0] + " " + path("small.png") + " --board 9x6 -o " + path("camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(lastLine(r.err).find("320x240, not 640x480"), std::string::npos) << r.err;

    // An output that cannot be written, before any work and after it.
    r = run(joined(paths) + " --board 9x6 -o " + path("no/such/folder/camera.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    fs::create_directory(path("taken.yml"));
    r = run(joined(paths) + " --board 9x6 -o " + path("taken.yml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::is_directory(path("taken.yml")));
    fs::remove(path("taken.yml"));
    fs::remove(path("notes.txt"));
    fs::remove(path("small.png"));
    expectNothingWritten();
}

TEST_F(Arcalibrate, CommandLine) {
    Outcome r = run("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"SOURCE", "--output", "--board", "--views", "--seconds"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    std::string left = photographs("left")[0];
    EXPECT_EQ(run(left + " --views 4 -o " + path("c.yml")).status, 2);
    EXPECT_EQ(run(left + " --views 101 -o " + path("c.yml")).status, 2);
    EXPECT_EQ(run(left + " --seconds 0 -o " + path("c.yml")).status, 2);
    EXPECT_EQ(run(left + " --board 6x6 -o " + path("c.yml")).status, 2);
    r = run(left);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--output"), std::string::npos) << r.err;
    expectNothingWritten();
}
