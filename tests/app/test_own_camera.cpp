// The README's "With your own camera" steps, run as written, with a
// distorted sample sweep standing in for camera 0: print the board,
// calibrate the lens, start the viewer with the lens and the scene without
// buildings, steer the ship, quit. The commands are read from the README
// itself, so the section cannot drift from what works.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "camera_file.h"
#include "viewer_fixture.h"

namespace {

const std::string kReadme = README_PATH;
const std::string kBuildFolder = BUILD_FOLDER;
const std::string kClip = LENS_CLIP;

// The indented command lines of the README's section, in order.
std::vector<std::string> sectionCommands(const std::string& title) {
    std::ifstream in(kReadme);
    std::vector<std::string> commands;
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## " + title;
        else if (inSection && line.find("build/bin/") != std::string::npos && line.rfind("    ", 0) == 0)
            commands.push_back(line.substr(line.find_first_not_of(' ')));
    }
    return commands;
}

// The program's name and its arguments, split at spaces.
std::vector<std::string> words(const std::string& command) {
    std::vector<std::string> out;
    std::istringstream in(command);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

bool exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

class OwnCamera : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        char name[] = "/tmp/own-camera-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
        // The commands name build/bin/...: here build is this build's folder.
        ASSERT_EQ(symlink(kBuildFolder.c_str(), (folder + "/build").c_str()), 0);
    }
    void TearDown() override {
        ViewerTest::TearDown();
        std::system(("rm -rf " + folder).c_str());
    }
    // The camera (the argument "0") replaced by the clip.
    std::vector<std::string> withClip(const std::string& command) {
        std::vector<std::string> argv = words(command);
        for (std::string& w : argv)
            if (w == "0") w = kClip;
        argv[0] = folder + "/" + argv[0];
        return argv;
    }
    std::string folder;
};

}  // namespace

TEST_F(OwnCamera, ReadmeStepsWorkWithAVideoForTheCamera) {
    std::vector<std::string> commands = sectionCommands("With your own camera");
    ASSERT_EQ(commands.size(), 3u) << "expected make_board, arcalibrate and arviewer";
    ASSERT_NE(commands[0].find("make_board"), std::string::npos);
    ASSERT_NE(commands[1].find("arcalibrate"), std::string::npos);
    ASSERT_NE(commands[2].find("arviewer"), std::string::npos);

    ChildProcess board = launch(withClip(commands[0]), "", folder);
    ASSERT_EQ(waitForExit(&board, 120), 0) << readFile(board.stderrPath);
    EXPECT_TRUE(exists(folder + "/board.pdf"));

    ChildProcess calibration = launch(withClip(commands[1]), "", folder);
    ASSERT_EQ(waitForExit(&calibration, 600), 0) << readFile(calibration.stderrPath);
    CameraModel lens;
    std::string error;
    ASSERT_TRUE(readCameraFile(folder + "/camera.yml", 0, 0, &lens, &error)) << error;

    viewer = launch(withClip(commands[2]), server.display, folder);
    window = findWindow(server, kViewerTitle, 30);
    ASSERT_NE(window, 0ul) << readFile(viewer.stderrPath);
    cv::Mat ended = waitForStillPicture(server, window, 300);
    ASSERT_FALSE(ended.empty());
    ASSERT_TRUE(pressKeys(server, window, "o s s Left Up"));
    usleep(800000);
    EXPECT_GT(cv::norm(captureWindow(server, window), ended, cv::NORM_INF), 40) << "the keys moved nothing";
    ASSERT_TRUE(pressClosingKey(server, window, "q"));
    EXPECT_EQ(waitForExit(&viewer, 30), 0) << readFile(viewer.stderrPath);
}
