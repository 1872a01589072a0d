// Camera files: round trips through OpenCV, files as OpenCV's calibration
// samples and ROS write them, the sample files Debian's opencv-doc installs,
// every kind of bad file, and the lens model against OpenCV's own.
#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera_file.h"

namespace {

namespace fs = std::filesystem;

const std::string kOpenCvSamples = "/usr/share/doc/opencv-doc/examples/";

CameraModel distortedCamera() {
    CameraModel m = centredPinholeCamera(640, 480, 600);
    m.fx = 612.25, m.fy = 608.5, m.cx = 331.75, m.cy = 229.125;
    const double k[8] = {-0.28, 0.11, 0.0012, -0.0007, -0.021, 0.05, -0.02, 0.004};
    for (int i = 0; i < 8; ++i) m.distortion[i] = k[i];
    m.distortionCount = 8;
    m.rms = 0.1875;
    m.views = 21;
    m.boardColumns = 8, m.boardRows = 6;
    m.squareSize = 0.025;
    m.calibrationTime = "Mon 01 Jan 2024 10:00:00";
    return m;
}

void expectSameCamera(const CameraModel& a, const CameraModel& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.fx, b.fx);
    EXPECT_EQ(a.fy, b.fy);
    EXPECT_EQ(a.cx, b.cx);
    EXPECT_EQ(a.cy, b.cy);
    EXPECT_EQ(a.distortionCount, b.distortionCount);
    for (int i = 0; i < kMaxDistortionCoefficients; ++i) EXPECT_EQ(a.distortion[i], b.distortion[i]) << i;
    EXPECT_TRUE(a.rms == b.rms || (std::isnan(a.rms) && std::isnan(b.rms)));
    EXPECT_EQ(a.views, b.views);
    EXPECT_EQ(a.boardColumns, b.boardColumns);
    EXPECT_EQ(a.boardRows, b.boardRows);
    EXPECT_TRUE(a.squareSize == b.squareSize || (std::isnan(a.squareSize) && std::isnan(b.squareSize)));
    EXPECT_EQ(a.calibrationTime, b.calibrationTime);
}

// OpenCV-layout YAML built field by field, so that each bad case changes one.
std::string matrixField(const std::string& name, int rows, int cols, const std::string& data) {
    return name + ": !!opencv-matrix\n   rows: " + std::to_string(rows) + "\n   cols: " + std::to_string(cols) +
           "\n   dt: d\n   data: [ " + data + " ]\n";
}
const std::string kWidth = "image_width: 640\n", kHeight = "image_height: 480\n";
const std::string kMatrix = matrixField("camera_matrix", 3, 3, "600., 0., 320., 0., 610., 240., 0., 0., 1.");
const std::string kDistortion = matrixField("distortion_coefficients", 5, 1, "-0.2, 0.05, 0.001, -0.002, 0.01");
std::string opencvYaml(const std::string& width, const std::string& height, const std::string& matrix,
                       const std::string& distortion) {
    return "%YAML:1.0\n---\n" + width + height + matrix + distortion;
}

// A ROS camera-info file as its calibration tools write it.
std::string rosYaml(const std::string& model, const std::string& distortion, int count) {
    return "# left camera\nimage_width: 1280\nimage_height: 720\ncamera_name: left\n"
           "camera_matrix:\n  rows: 3\n  cols: 3\n  data: [912.5, 0, 641.25, 0, 910.75, 355.5, 0, 0, 1]\n"
           "distortion_model: " + model + "\n"
           "distortion_coefficients:\n  rows: 1\n  cols: " + std::to_string(count) + "\n  data: [" + distortion + "]\n"
           "rectification_matrix:\n  rows: 3\n  cols: 3\n  data: [1, 0, 0, 0, 1, 0, 0, 0, 1]\n"
           "projection_matrix:\n  rows: 3\n  cols: 4\n  data: [900, 0, 640, 0, 0, 900, 356, 0, 0, 0, 1, 0]\n";
}

class CameraFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/camera_file_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const std::string& text) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Reads a file that must be refused: false, one line naming the file
    // and containing `reason`, the model untouched.
    void expectRefused(const std::string& path, int width, int height, const std::string& reason) {
        CameraModel model = centredPinholeCamera(64, 48, 50);
        std::string error;
        EXPECT_FALSE(readCameraFile(path, width, height, &model, &error)) << path;
        EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << "expected '" << reason << "' in: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(model.width, 64) << "the model changed on a failed read of " << path;
    }
    bool noFilesLeft() const { return fs::is_empty(dir); }

    std::string dir;
};

// ---------------------------------------------------------------- round trips

TEST_F(CameraFile, WrittenFilesLoadInOpenCvAndReadBackExactlyInEveryFormat) {
    const CameraModel written = distortedCamera();
    for (const char* name : {"camera.yml", "camera.yaml", "camera.xml", "camera.json"}) {
        std::string path = dir + "/" + name, error;
        ASSERT_TRUE(writeCameraFile(path, written, &error)) << error;

        cv::FileStorage storage(path, cv::FileStorage::READ);
        ASSERT_TRUE(storage.isOpened()) << name;
        cv::Mat K, D;
        storage["camera_matrix"] >> K;
        storage["distortion_coefficients"] >> D;
        ASSERT_EQ(K.size(), cv::Size(3, 3)) << name;
        EXPECT_EQ(K.at<double>(0, 0), written.fx);
        EXPECT_EQ(K.at<double>(1, 1), written.fy);
        EXPECT_EQ(K.at<double>(0, 2), written.cx);
        EXPECT_EQ(K.at<double>(1, 2), written.cy);
        ASSERT_EQ(D.total(), 8u) << name;
        for (int i = 0; i < 8; ++i) EXPECT_EQ(D.at<double>(i), written.distortion[i]) << name << " " << i;
        EXPECT_EQ((int)storage["image_width"], 640);
        EXPECT_EQ((double)storage["avg_reprojection_error"], written.rms);

        CameraModel read;
        ASSERT_TRUE(readCameraFile(path, 640, 480, &read, &error)) << error;
        expectSameCamera(read, written);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4) << "a temporary file was left";
}

// Files other programs write through OpenCV: sequences as plain vectors,
// strings with spaces, in each of OpenCV's formats.
TEST_F(CameraFile, ReadsVectorsAndStringsOpenCvWritesInEveryFormat) {
    for (const char* name : {"other.yml", "other.xml", "other.json"}) {
        std::string path = dir + "/" + name, error;
        {
            cv::FileStorage fs(path, cv::FileStorage::WRITE);
            fs << "image_width" << 640 << "image_height" << 480;
            fs << "camera_matrix" << (cv::Mat_<double>(3, 3) << 601.5, 0, 319.25, 0, 601.5, 240.75, 0, 0, 1);
            fs << "distortion_coefficients" << std::vector<double>{-0.125, 0.0625, 0.001, -0.002, 0.03125};
            fs << "calibration_time" << "Tue 02 Jan 2024 09:30:00 AM";
            fs << "views" << std::vector<int>{1, 2, 3};
        }
        CameraModel m;
        ASSERT_TRUE(readCameraFile(path, 640, 480, &m, &error)) << name << ": " << error;
        EXPECT_EQ(m.fx, 601.5) << name;
        EXPECT_EQ(m.cy, 240.75) << name;
        EXPECT_EQ(m.distortionCount, 5) << name;
        EXPECT_EQ(m.distortion[0], -0.125) << name;
        EXPECT_EQ(m.distortion[4], 0.03125) << name;
        EXPECT_EQ(m.calibrationTime, "Tue 02 Jan 2024 09:30:00 AM") << name;
    }
}

TEST_F(CameraFile, NoDistortionAndUnknownFiguresRoundTripAsFiveZerosAndUnknowns) {
    CameraModel written = centredPinholeCamera(642, 480, 601.5), read;
    std::string path = dir + "/pinhole.yml", error;
    ASSERT_TRUE(writeCameraFile(path, written, &error)) << error;
    ASSERT_TRUE(readCameraFile(path, 642, 480, &read, &error)) << error;
    EXPECT_EQ(read.distortionCount, 5);
    for (double k : read.distortion) EXPECT_EQ(k, 0.0);
    EXPECT_EQ(read.cx, 321.0);
    EXPECT_TRUE(std::isnan(read.rms));
    EXPECT_TRUE(std::isnan(read.squareSize));
    EXPECT_EQ(read.views, 0);
    EXPECT_TRUE(read.calibrationTime.empty());
}

TEST_F(CameraFile, FailedWritesLeaveNothingUnderTheFinalName) {
    std::string error;
    EXPECT_FALSE(writeCameraFile(dir + "/missing/camera.yml", distortedCamera(), &error));
    EXPECT_NE(error.find("missing/camera.yml: "), std::string::npos) << error;
    EXPECT_FALSE(writeCameraFile(dir + "/camera.txt", distortedCamera(), &error));
    EXPECT_NE(error.find(".yml"), std::string::npos) << error;
    CameraModel bad = distortedCamera();
    bad.fx = 0;
    EXPECT_FALSE(writeCameraFile(dir + "/camera.yml", bad, &error));
    EXPECT_NE(error.find("focal length"), std::string::npos) << error;
    bad = distortedCamera();
    bad.distortion[0] = NAN;
    EXPECT_FALSE(writeCameraFile(dir + "/camera.yml", bad, &error));
    EXPECT_TRUE(noFilesLeft());
}

// ---------------------------------------------------------------- files from OpenCV and ROS

// The fields, their order and layout as OpenCV's calibration sample writes
// them (samples/cpp/calibration.cpp), with the per-view figures it adds.
TEST_F(CameraFile, ReadsAFileLaidOutAsOpenCvsCalibrationSampleWritesIt) {
    std::string path = dir + "/out_camera_data.yml";
    {
        cv::FileStorage fs(path, cv::FileStorage::WRITE);
        fs << "calibration_time" << "Tue 02 Jan 2024 09:30:00 AM";
        fs << "nframes" << 17 << "image_width" << 1280 << "image_height" << 720;
        fs << "board_width" << 9 << "board_height" << 6 << "square_size" << 0.025;
        fs << "flags" << cv::CALIB_RATIONAL_MODEL;
        fs << "camera_matrix" << (cv::Mat_<double>(3, 3) << 1101.5, 0, 642.25, 0, 1099.75, 357.5, 0, 0, 1);
        fs << "distortion_coefficients" << (cv::Mat_<double>(8, 1) << -0.3, 0.12, 0.001, 0.002, -0.02, 0.01, 0, 0);
        fs << "avg_reprojection_error" << 0.217;
        fs << "per_view_reprojection_errors" << cv::Mat(cv::Mat_<float>(17, 1, 0.2f));
        fs << "extrinsic_parameters" << cv::Mat(cv::Mat_<double>(17, 6, 0.5));
        fs << "image_points" << cv::Mat(cv::Mat_<cv::Vec2f>(17, 54, cv::Vec2f(10, 20)));
    }
    CameraModel m;
    std::string error;
    ASSERT_TRUE(readCameraFile(path, 1280, 720, &m, &error)) << error;
    EXPECT_EQ(m.fx, 1101.5);
    EXPECT_EQ(m.fy, 1099.75);
    EXPECT_EQ(m.cx, 642.25);
    EXPECT_EQ(m.cy, 357.5);
    EXPECT_EQ(m.distortionCount, 8);
    EXPECT_EQ(m.distortion[0], -0.3);
    EXPECT_EQ(m.distortion[5], 0.01);
    EXPECT_EQ(m.rms, 0.217);
    EXPECT_EQ(m.views, 17);
    EXPECT_EQ(m.boardColumns, 9);
    EXPECT_EQ(m.boardRows, 6);
    EXPECT_EQ(m.squareSize, 0.025);
    EXPECT_EQ(m.calibrationTime, "Tue 02 Jan 2024 09:30:00 AM");
}

TEST_F(CameraFile, ReadsTheOlderCapitalisedNamesInXml) {
    std::string path = dir + "/out_camera_data.xml";
    {
        cv::FileStorage fs(path, cv::FileStorage::WRITE);
        fs << "image_Width" << 640 << "image_Height" << 480;
        fs << "Camera_Matrix" << (cv::Mat_<double>(3, 3) << 650, 0, 318.5, 0, 650, 241, 0, 0, 1);
        fs << "Distortion_Coefficients" << (cv::Mat_<double>(1, 4) << 0.1, -0.2, 0.003, 0.004);
    }
    CameraModel m;
    std::string error;
    ASSERT_TRUE(readCameraFile(path, 640, 480, &m, &error)) << error;
    EXPECT_EQ(m.fx, 650);
    EXPECT_EQ(m.cx, 318.5);
    EXPECT_EQ(m.distortionCount, 4);
    EXPECT_EQ(m.distortion[3], 0.004);
    EXPECT_EQ(m.distortion[4], 0.0);
    EXPECT_TRUE(std::isnan(m.rms));
}

TEST_F(CameraFile, ReadsTheSampleCameraFilesOpenCvInstalls) {
    const std::string leftIntrinsics = kOpenCvSamples + "data/left_intrinsics.yml";
    const std::string charuco = kOpenCvSamples + "aruco/tutorial_camera_charuco.yml";
    ASSERT_TRUE(fs::exists(leftIntrinsics)) << "install opencv-doc (scripts/install-deps.sh)";
    CameraModel m;
    std::string error;
    // A column of five coefficients, with per-view figures.
    ASSERT_TRUE(readCameraFile(leftIntrinsics, 640, 480, &m, &error)) << error;
    EXPECT_NEAR(m.fx, 535.91573396163199, 1e-9);
    EXPECT_NEAR(m.cx, 342.28315473308373, 1e-9);
    EXPECT_NEAR(m.cy, 235.57082909788173, 1e-9);
    EXPECT_EQ(m.distortionCount, 5);
    EXPECT_NEAR(m.distortion[0], -0.26637260909660682, 1e-12);
    EXPECT_NEAR(m.distortion[4], 0.23839153080878486, 1e-12);
    EXPECT_NEAR(m.rms, 0.39259098975581364, 1e-12);
    EXPECT_EQ(m.views, 13);
    EXPECT_EQ(m.boardColumns, 9);
    EXPECT_EQ(m.boardRows, 6);
    // A row of five, with fx != fy and the calibration's time.
    ASSERT_TRUE(readCameraFile(charuco, 640, 480, &m, &error)) << error;
    EXPECT_NEAR(m.fy, 456.76707935146891, 1e-9);
    EXPECT_NEAR(m.distortion[4], 2.9542589406810080, 1e-12);
    EXPECT_EQ(m.calibrationTime, "Wed 08 Dec 2021 05:13:09 PM MSK");
    // The same camera for a picture of twice the size.
    ASSERT_TRUE(readCameraFile(leftIntrinsics, 1280, 960, &m, &error)) << error;
    EXPECT_NEAR(m.fx, 2 * 535.91573396163199, 1e-9);
    // Without a picture size, or with the stereo sample's own names, no camera.
    expectRefused(kOpenCvSamples + "aruco/tutorial_camera_params.yml", 640, 480, "no image_width");
    expectRefused(kOpenCvSamples + "data/intrinsics.yml", 640, 480, "no camera_matrix");
    expectRefused(kOpenCvSamples + "data/calibration.yml", 640, 480, "no camera_matrix");
}

TEST_F(CameraFile, ReadsRosCameraInfoFilesOfBothDistortionModels) {
    CameraModel m;
    std::string error;
    std::string plumbBob = write("left.yaml", rosYaml("plumb_bob", "-0.25, 0.07, 0.0005, -0.0011, -0.01", 5));
    ASSERT_TRUE(readCameraFile(plumbBob, 1280, 720, &m, &error)) << error;
    EXPECT_EQ(m.fx, 912.5);
    EXPECT_EQ(m.fy, 910.75);
    EXPECT_EQ(m.cx, 641.25);
    EXPECT_EQ(m.cy, 355.5);
    EXPECT_EQ(m.distortionCount, 5);
    EXPECT_EQ(m.distortion[1], 0.07);
    EXPECT_EQ(m.distortion[4], -0.01);
    EXPECT_TRUE(std::isnan(m.rms));

    std::string rational =
        write("rational.yaml", rosYaml("rational_polynomial", "0.4, -0.1, 0.001, 0.0, 0.02, 0.7, -0.05, 0.03", 8));
    ASSERT_TRUE(readCameraFile(rational, 1280, 720, &m, &error)) << error;
    EXPECT_EQ(m.distortionCount, 8);
    EXPECT_EQ(m.distortion[5], 0.7);
    EXPECT_EQ(m.distortion[7], 0.03);

    expectRefused(write("fisheye.yaml", rosYaml("equidistant", "0.1, 0.01, -0.002, 0.0003", 4)), 1280, 720,
                  "fisheye");
    expectRefused(write("other.yaml", rosYaml("double_sphere", "0.1, 0.01, -0.002, 0.0003", 4)), 1280, 720,
                  "double_sphere");
}

// ---------------------------------------------------------------- picture size

TEST_F(CameraFile, AFileForAnotherSizeOfTheSameAspectRatioIsScaledAboutPixelCentres) {
    CameraModel m;
    std::string error;
    std::string path = write("hd.yaml", rosYaml("plumb_bob", "-0.25, 0.07, 0.0005, -0.0011, -0.01", 5));
    ASSERT_TRUE(readCameraFile(path, 640, 360, &m, &error)) << error;
    EXPECT_EQ(m.width, 640);
    EXPECT_EQ(m.height, 360);
    EXPECT_DOUBLE_EQ(m.fx, 912.5 / 2);
    EXPECT_DOUBLE_EQ(m.fy, 910.75 / 2);
    EXPECT_DOUBLE_EQ(m.cx, (641.25 + 0.5) / 2 - 0.5);
    EXPECT_DOUBLE_EQ(m.cy, (355.5 + 0.5) / 2 - 0.5);
    EXPECT_EQ(m.distortion[0], -0.25) << "the lens does not change with the picture";
    // 1280 x 720 to 1278 x 720: aspect ratios 0.16 % apart, scaled on each axis.
    ASSERT_TRUE(readCameraFile(path, 1278, 720, &m, &error)) << error;
    EXPECT_DOUBLE_EQ(m.fx, 912.5 * 1278 / 1280);
    EXPECT_DOUBLE_EQ(m.fy, 910.75);
    EXPECT_DOUBLE_EQ(m.cx, (641.25 + 0.5) * 1278 / 1280 - 0.5);
    // 1280 x 720 to 640 x 480: another shape of picture.
    expectRefused(path, 640, 480, "made for 1280 x 720, the picture is 640 x 480");
    expectRefused(path, 1280, 740, "made for 1280 x 720");
    // 0 x 0: the file's own size.
    ASSERT_TRUE(readCameraFile(path, 0, 0, &m, &error)) << error;
    EXPECT_EQ(m.width, 1280);
    EXPECT_EQ(m.fx, 912.5);
}

// ---------------------------------------------------------------- bad files

TEST_F(CameraFile, MissingUnreadableAndIncompleteFilesAreRefusedWithOneLine) {
    expectRefused(dir + "/absent.yml", 640, 480, "cannot read");
    expectRefused(write("empty.yml", ""), 640, 480, "empty");
    expectRefused(dir, 640, 480, "is a folder");
    expectRefused("/dev/zero", 640, 480, "is not a regular file");
    expectRefused(write("large.yml", "# " + std::string(5 << 20, 'x')), 640, 480, "larger than 4 MB");
    expectRefused(write("binary.yml", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), 640, 480, "not a YAML");
    expectRefused(write("broken.yml", "camera_matrix: [1, 2\nimage_width: {\n"), 640, 480, "not a YAML");
    expectRefused(write("list.yaml", "- 1\n- 2\n"), 640, 480, "not a YAML map");
    expectRefused(write("broken_opencv.yml", "%YAML:1.0\ncamera_matrix: !!opencv-matrix\n  rows: [\n"), 640, 480,
                  "not a readable OpenCV storage file");
    expectRefused(write("not_xml.xml", "<opencv_storage><a>1</b>"), 640, 480, "OpenCV storage");
    // Found by fuzzing: OpenCV's own XML parser dereferences a null pointer
    // on a truncated declaration, with or without a NUL byte after it.
    expectRefused(write("truncated.xml", "<?xml version="), 640, 480, "not a readable OpenCV storage file");
    expectRefused(write("nul.xml", std::string("<?xml version=\0%YAboas\"1.0\"", 28)), 640, 480, "NUL byte");
    expectRefused(write("other_root.xml", "<?xml version=\"1.0\"?><storage><a>1</a></storage>"), 640, 480,
                  "no <opencv_storage>");
    // Found by fuzzing: OpenCV's parser lets a std::length_error escape on it.
    expectRefused(std::string(TEST_DATA_DIR) + "/hostile/camera_length_error.yml", 640, 480,
                  "not a readable OpenCV storage file");
    // Nested deeply enough to overflow a parser's stack.
    const int deep = 100000;
    expectRefused(write("deep.yml", "%YAML:1.0\na: " + std::string(deep, '[')), 640, 480, "nested too deeply");
    expectRefused(write("deep.yaml", "a: " + std::string(deep, '{')), 640, 480, "nested too deeply");
    std::string elements;
    for (int i = 0; i < deep; ++i) elements += "<a>";
    expectRefused(write("deep.xml", "<?xml version=\"1.0\"?>\n<opencv_storage>" + elements), 640, 480,
                  "nested too deeply");
    expectRefused(write("deep.json", "{\"a\": " + std::string(deep, '[')), 640, 480, "nested too deeply");
    std::string dashes;
    for (int i = 0; i < deep; ++i) dashes += "- ";
    expectRefused(write("dashes.yml", "%YAML:1.0\na:\n  " + dashes + "1\n"), 640, 480, "nested too deeply");
    expectRefused(write("no_width.yml", opencvYaml("", kHeight, kMatrix, kDistortion)), 640, 480, "no image_width");
    expectRefused(write("no_height.yml", opencvYaml(kWidth, "", kMatrix, kDistortion)), 640, 480, "no image_height");
    expectRefused(write("no_matrix.yml", opencvYaml(kWidth, kHeight, "", kDistortion)), 640, 480, "no camera_matrix");
    expectRefused(write("no_distortion.yml", opencvYaml(kWidth, kHeight, kMatrix, "")), 640, 480,
                  "no distortion_coefficients");
    expectRefused(write("fisheye.yml", opencvYaml(kWidth, kHeight, kMatrix, kDistortion) + "fisheye_model: 1\n"),
                  640, 480, "fisheye");
}

TEST_F(CameraFile, MalformedAndImplausibleValuesAreRefused) {
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"width_text", opencvYaml("image_width: wide\n", kHeight, kMatrix, kDistortion), "not a picture size"},
        {"width_zero", opencvYaml("image_width: 0\n", kHeight, kMatrix, kDistortion), "not a picture size"},
        {"matrix_2x3",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 2, 3, "600., 0., 320., 0., 610., 240."), kDistortion),
         "3 x 3"},
        {"matrix_short",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "600., 0., 320., 0., 610., 240."), kDistortion),
         "3 x 3"},
        {"skew",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "600., 2., 320., 0., 610., 240., 0., 0., 1."),
                    kDistortion),
         "skew"},
        {"last_row",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "600., 0., 320., 0., 610., 240., 0., 0., 2."),
                    kDistortion),
         "0 0 1"},
        {"f_zero",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "0., 0., 320., 0., 610., 240., 0., 0., 1."),
                    kDistortion),
         "focal length 0 px"},
        {"f_negative",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "600., 0., 320., 0., -610., 240., 0., 0., 1."),
                    kDistortion),
         "focal length -610 px"},
        {"f_nan",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, ".Nan, 0., 320., 0., 610., 240., 0., 0., 1."),
                    kDistortion),
         "focal length"},
        {"centre_outside",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "600., 0., 660., 0., 610., 240., 0., 0., 1."),
                    kDistortion),
         "principal point (660, 240) lies outside"},
        {"centre_negative",
         opencvYaml(kWidth, kHeight, matrixField("camera_matrix", 3, 3, "600., 0., 320., 0., 610., -1., 0., 0., 1."),
                    kDistortion),
         "outside"},
        {"distortion_nan",
         opencvYaml(kWidth, kHeight, kMatrix,
                    matrixField("distortion_coefficients", 1, 5, "-0.2, .Nan, 0.001, -0.002, 0.01")),
         "k2 is not finite"},
        {"distortion_six",
         opencvYaml(kWidth, kHeight, kMatrix,
                    matrixField("distortion_coefficients", 1, 6, "-0.2, 0.05, 0.001, -0.002, 0.01, 0.1")),
         "6 values"},
        {"distortion_2x4",
         opencvYaml(kWidth, kHeight, kMatrix,
                    matrixField("distortion_coefficients", 2, 4, "-0.2, 0.05, 0.001, -0.002, 0.01, 0.1, 0, 0")),
         "row or column"},
        {"negative_rms", opencvYaml(kWidth, kHeight, kMatrix, kDistortion) + "avg_reprojection_error: -0.5\n",
         "avg_reprojection_error"},
    };
    for (const Case& c : cases) expectRefused(write(std::string(c.name) + ".yml", c.text), 640, 480, c.reason);
    // The same checks on a ROS file, read by the other reader.
    std::string nanRos = rosYaml("plumb_bob", "-0.25, .nan, 0.0005, -0.0011, -0.01", 5);
    expectRefused(write("nan_ros.yaml", nanRos), 1280, 720, "k2 is not finite");
    std::string textRos = rosYaml("plumb_bob", "-0.25, much, 0.0005, -0.0011, -0.01", 5);
    expectRefused(write("text_ros.yaml", textRos), 1280, 720, "row or column of numbers");
}

// ---------------------------------------------------------------- the lens model

TEST(LensModel, DistortionIsOpenCvsAndItsInverseIsExactOverThePicture) {
    CameraModel m = distortedCamera();
    cv::Mat K = (cv::Mat_<double>(3, 3) << m.fx, 0, m.cx, 0, m.fy, m.cy, 0, 0, 1);
    cv::Mat D(1, 8, CV_64F, m.distortion);
    std::vector<cv::Point3d> points;
    for (double x = -0.55; x <= 0.55; x += 0.05)
        for (double y = -0.42; y <= 0.42; y += 0.06) points.push_back({x, y, 1.0});
    std::vector<cv::Point2d> pixels;
    cv::projectPoints(points, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), K, D, pixels);
    double worstForward = 0, worstInverse = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        double xd, yd, x, y;
        distortNormalised(m, points[i].x, points[i].y, &xd, &yd);
        worstForward = std::max(worstForward, std::hypot(m.fx * xd + m.cx - pixels[i].x, m.fy * yd + m.cy - pixels[i].y));
        ASSERT_TRUE(undistortNormalised(m, xd, yd, &x, &y)) << points[i];
        worstInverse = std::max(worstInverse, std::hypot(x - points[i].x, y - points[i].y));
    }
    EXPECT_LT(worstForward, 1e-9) << "pixels";
    EXPECT_LT(worstInverse * m.fx, 1e-9) << "pixels";
}

// k1 = -0.5: xd = x (1 - 0.5 r^2) rises to its top at r = sqrt(2/3) and falls
// after; a point past the fold comes back into the picture and has no
// undistorted point on the lens's one-to-one part.
TEST(LensModel, PointsPastTheFoldOfAStrongDistortionHaveNoInverse) {
    CameraModel m = centredPinholeCamera(640, 480, 600);
    m.distortion[0] = -0.5;
    m.distortionCount = 5;
    double x, y, xd, yd;
    distortNormalised(m, 1.1, 0.0, &xd, &yd);
    ASSERT_LT(xd, 0.55);
    ASSERT_TRUE(undistortNormalised(m, xd, yd, &x, &y));
    EXPECT_LT(x, std::sqrt(2.0 / 3.0)) << "the preimage inside the fold, not the point past it";
    const double top = std::sqrt(2.0 / 3.0) * (1 - 0.5 * 2.0 / 3.0);
    EXPECT_FALSE(undistortNormalised(m, top + 0.01, 0.0, &x, &y));
    EXPECT_FALSE(undistortNormalised(m, (top + 0.01) / std::sqrt(2.0), (top + 0.01) / std::sqrt(2.0), &x, &y));
}

}  // namespace
