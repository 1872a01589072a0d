// arrender, the viewer's frame loop without a window: what it records, that
// it draws what the viewer's window shows (keys included), and clean
// failures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "viewer_fixture.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kViewer = ARVIEWER_PATH;
const std::string kBinFolder = folderOf(kViewer);
const std::string kSampleVideo = SAMPLE_VIDEO;
const std::string kSampleTruth = SAMPLE_TRUTH;

bool exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

std::string scratchFolder() {
    char folder[] = "/tmp/arrender-test-XXXXXX";
    return mkdtemp(folder) ? folder : "";
}

// Runs arrender in the folder of the ship's files; its exit status.
int render(const std::vector<std::string>& arguments, ChildProcess* child) {
    std::vector<std::string> argv = {kRenderer};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    *child = launch(argv, "", kBinFolder);
    return waitForExit(child, 300);
}

// Share of pixels whose channels differ by more than the given levels.
double shareDiffering(const cv::Mat& a, const cv::Mat& b, int levels) {
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    cv::Mat over = difference.reshape(1) > levels;
    return static_cast<double>(cv::countNonZero(over)) / over.total();
}

class ArrenderAgainstViewer : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        folder = scratchFolder();
    }
    void TearDown() override {
        ViewerTest::TearDown();
        std::system(("rm -rf " + folder).c_str());
    }

    // The viewer's window once the sample video has played, after the keys.
    cv::Mat viewerPicture(const std::string& keys) {
        if (playToEnd(kViewer, kSampleVideo, kBinFolder).empty()) return {};
        return pressAndCapture(keys);
    }

    std::string folder;
};

}  // namespace

TEST(Arrender, RecordsEveryFrameAtTheSourceSizeAndOnePoseRowEach) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(render({kSampleVideo, "-o", folder + "/out.avi", "--poses", folder + "/poses.csv"}, &child), 0)
        << readFile(child.stderrPath);
    int sourceFrames = 0, recordedFrames = 0;
    cv::Mat source = lastVideoFrame(kSampleVideo, &sourceFrames);
    cv::Mat recorded = lastVideoFrame(folder + "/out.avi", &recordedFrames);
    EXPECT_EQ(recordedFrames, sourceFrames);
    EXPECT_EQ(recorded.size(), source.size());
    cv::VideoCapture capture(folder + "/out.avi", cv::CAP_FFMPEG);
    EXPECT_NEAR(capture.get(cv::CAP_PROP_FPS), 30.0, 0.01);
    std::string poses = readFile(folder + "/poses.csv");
    EXPECT_EQ(std::count(poses.begin(), poses.end(), '\n'), sourceFrames + 1);
    std::string summary = readFile(child.stderrPath);
    EXPECT_NE(summary.find(std::to_string(sourceFrames) + " frames, board found in"), std::string::npos) << summary;
    EXPECT_NE(summary.find("p95 ms"), std::string::npos);
    std::system(("rm -rf " + folder).c_str());
}

TEST_F(ArrenderAgainstViewer, LastSnapshotIsTheViewersWindow) {
    ChildProcess child;
    ASSERT_EQ(render({kSampleVideo, "--snapshot", "last:" + folder + "/last.png"}, &child), 0);
    cv::Mat snapshot = cv::imread(folder + "/last.png");
    cv::Mat window = viewerPicture("");
    ASSERT_FALSE(window.empty());
    ASSERT_EQ(snapshot.size(), window.size());
    EXPECT_LT(shareDiffering(snapshot, window, 4), 0.001);
}

TEST_F(ArrenderAgainstViewer, KeysPutTheShipWhereTheViewersKeysDo) {
    int frames = 0;
    lastVideoFrame(kSampleVideo, &frames);
    std::string last = std::to_string(frames - 1);
    ChildProcess child;
    ASSERT_EQ(render({kSampleVideo, "--keys", last + ":S," + last + ":Left," + last + ":Left," + last + ":Up",
                      "--snapshot", last + ":" + folder + "/keys.png"},
                     &child),
              0);
    cv::Mat snapshot = cv::imread(folder + "/keys.png");
    cv::Mat window = viewerPicture("s Left Left Up");
    ASSERT_FALSE(window.empty());
    EXPECT_LT(shareDiffering(snapshot, window, 4), 0.001);
    // And the keys did move it: without them the picture differs.
    ASSERT_EQ(render({kSampleVideo, "--snapshot", "last:" + folder + "/plain.png"}, &child), 0);
    EXPECT_GT(shareDiffering(cv::imread(folder + "/plain.png"), snapshot, 40), 0.001);
}

TEST(Arrender, BadArgumentsAndSourcesFailCleanly) {
    std::string folder = scratchFolder();
    // Frames wider than anything drawn, refused before they are allocated.
    const std::string wideFolder = scratchFolder(), wide = wideFolder + "/wide.avi";
    {
        cv::VideoWriter writer(wide, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 5, cv::Size(9000, 64));
        ASSERT_TRUE(writer.isOpened());
        for (int i = 0; i < 2; ++i) writer.write(cv::Mat(64, 9000, CV_8UC3, cv::Scalar(128, 128, 128)));
    }
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* said;  // part of the line
    } cases[] = {
        {{}, 2, ""},
        {{kSampleVideo, "--frames", "ten"}, 2, ""},
        {{kSampleVideo, "--keys", "3:Q"}, 2, ""},
        {{kSampleVideo, "--snapshot", "x.png"}, 2, ""},
        {{kSampleVideo, "--bogus", "1"}, 2, ""},
        {{kSampleVideo, "-o"}, 2, ""},
        // Boards the search cannot look for, refused before the run.
        {{kSampleVideo, "--board", "2x5", "--frames", "5"}, 2, "at least 3 x 3 inner corners"},
        {{kSampleVideo, "--board", "7x2", "--frames", "5"}, 2, "at least 3 x 3 inner corners"},
        {{"/nonexistent/clip.avi", "-o", folder + "/a.avi"}, 1, ""},
        {{kSampleVideo, "-o", "/nonexistent/folder/b.avi"}, 1, ""},
        // The snapshot cannot be written: the video is not left behind either.
        {{kSampleVideo, "--frames", "5", "-o", folder + "/c.avi", "--snapshot", "2:/nonexistent/d.png"}, 1, ""},
        // A folder or a device where a file belongs.
        {{kSampleVideo, "--frames", "5", "--camera", folder}, 1, "is a folder"},
        {{kSampleVideo, "--frames", "5", "--scene", folder}, 1, "is a folder"},
        {{kSampleVideo, "--frames", "5", "--camera", "/dev/zero"}, 1, "is not a regular file"},
        {{kSampleVideo, "--frames", "5", "--scene", "/dev/zero"}, 1, "is not a regular file"},
        {{wide, "-o", folder + "/e.avi"}, 1, "frames are 9000 x 64; at most 8192 x 8192"},
    };
    for (const Case& c : cases) {
        ChildProcess child;
        std::string last = c.arguments.empty() ? "" : c.arguments.back();
        EXPECT_EQ(render(c.arguments, &child), c.status) << last;
        std::string error = readFile(child.stderrPath);
        EXPECT_EQ(error.rfind("arrender: ", 0), 0u) << error;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
    }
    std::remove(wide.c_str());
    rmdir(wideFolder.c_str());
    for (const char* name : {"a.avi", "b.avi", "c.avi", ".c.partial.avi", "e.avi"}) EXPECT_FALSE(exists(folder + "/" + name)) << name;
    EXPECT_TRUE(std::system(("rmdir " + folder).c_str()) == 0) << "files left in " << folder;
}

// Under a file-size limit every output fails to be written: the run fails
// with the output's line, and nothing is left in the folder, under the final
// name or a temporary one.
TEST(Arrender, AWriteErrorFailsTheRunAndLeavesNoFile) {
    std::string folder = scratchFolder();
    struct Case {
        std::vector<std::string> outputs;
        const char* said;
    } cases[] = {
        {{"-o", folder + "/out.avi"}, "cannot write video"},
        {{"--poses", folder + "/poses.csv"}, "cannot write poses"},
        {{"--snapshot", "5:" + folder + "/five.png"}, "cannot write snapshot"},
    };
    for (const Case& c : cases) {
        // 16 blocks of the shell's: at most 16 KB, less than any of the outputs, even
        // the shorter clip's poses in the sanitizer build.
        std::vector<std::string> argv = {"/bin/sh", "-c", "ulimit -f 16 && exec \"$0\" \"$@\"", kRenderer,
                                         kSampleVideo, "--frames", "200"};
        argv.insert(argv.end(), c.outputs.begin(), c.outputs.end());
        ChildProcess child = launch(argv, "", kBinFolder);
        EXPECT_EQ(waitForExit(&child, 300), 1) << c.said;
        std::string error = readFile(child.stderrPath);
        EXPECT_NE(error.find(std::string("arrender: ") + c.said), std::string::npos) << error;
    }
    EXPECT_TRUE(std::system(("rmdir " + folder).c_str()) == 0) << "files left in " << folder;
}

// --hud writes its line into the picture's top-left corner and nowhere else.
TEST(Arrender, HudLineLiesInTheTopLeftCorner) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(render({kSampleVideo, "--frames", "30", "--snapshot", "29:" + folder + "/plain.png"}, &child), 0);
    ASSERT_EQ(render({kSampleVideo, "--frames", "30", "--hud", "--snapshot", "29:" + folder + "/hud.png"}, &child), 0);
    cv::Mat plain = cv::imread(folder + "/plain.png"), hud = cv::imread(folder + "/hud.png");
    ASSERT_FALSE(plain.empty());
    cv::Mat difference, grey;
    cv::absdiff(plain, hud, difference);
    cv::cvtColor(difference, grey, cv::COLOR_BGR2GRAY);
    cv::Rect changed = cv::boundingRect(grey > 0);
    EXPECT_GT(changed.area(), 0);
    EXPECT_LT(changed.x, 20);
    EXPECT_LT(changed.y, 20);
    EXPECT_LT(changed.br().y, 40) << "the line reaches far down";
    std::system(("rm -rf " + folder).c_str());
}

// Every option that changes the poses, at once, on the sample video with
// its covered frames: two runs give the same poses, whatever the timing.
TEST(Arrender, PosesDependOnTheVideoAloneWithEveryPoseOption) {
    std::string folder = scratchFolder();
    ChildProcess child;
    for (const char* name : {"/a.csv", "/b.csv"})
        ASSERT_EQ(render({kSampleVideo, "--track", "--refine", "--smooth", "--self-calibrate", "--hud", "--poses",
                          folder + name},
                         &child),
                  0);
    auto poseColumns = [](const std::string& text) {
        std::string kept;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            size_t end = 0;
            for (int field = 0; field < 20 && end != std::string::npos; ++field) end = line.find(',', end + 1);
            kept += line.substr(0, end) + "\n";
        }
        return kept;
    };
    std::string a = poseColumns(readFile(folder + "/a.csv")), b = poseColumns(readFile(folder + "/b.csv"));
    EXPECT_GT(a.size(), 1000u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.find(",1\n"), std::string::npos) << "no frame was tracked";
    std::system(("rm -rf " + folder).c_str());
}
