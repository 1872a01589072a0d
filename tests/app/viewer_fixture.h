// viewer_fixture.h - a GoogleTest fixture for tests that drive the real
// viewer: one private Xvfb per test suite, the viewer stopped after each test.
//
// Usage:
//     class MyViewerTest : public ViewerTest {};
//     TEST_F(MyViewerTest, Plays) { cv::Mat p = playToEnd(VIEWER, "board.avi", folderOf(VIEWER)); }
#ifndef VIEWER_FIXTURE_H
#define VIEWER_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "viewer_harness.h"

// The folder of a file path (the viewer reads the ship's files from its
// working directory, which the tests make the folder beside it).
inline std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

class ViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = startXServer(); }
    static void TearDownTestSuite() { stopXServer(&server); }
    void SetUp() override { ASSERT_FALSE(server.display.empty()) << "could not start Xvfb"; }
    void TearDown() override { stopProcess(&viewer); }

    // Starts the viewer on a video from the given folder (as fast as it can,
    // not at the video's pace) and waits until the video has played; the
    // still picture, or empty on failure.
    cv::Mat playToEnd(const std::string& viewerPath, const std::string& video, const std::string& folder) {
        viewer = launch({viewerPath, video, "--fast"}, server.display, folder);
        window = findWindow(server, kViewerTitle, 30);
        if (!window) return {};
        return waitForStillPicture(server, window, 120);
    }

    // Presses the keys, makes the viewer compose its picture again, captures it.
    cv::Mat pressAndCapture(const std::string& keys) {
        if (!keys.empty() && !pressKeys(server, window, keys)) return {};
        forceRepaint(server, window);
        return captureWindow(server, window);
    }

    static inline XServer server;
    ChildProcess viewer;
    unsigned long window = 0;
};

#endif
