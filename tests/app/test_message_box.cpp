// The error message box: text on standard error always; on a display, a
// window with the caption that waits until the user dismisses it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "message_box.h"
#include "viewer_harness.h"

namespace {

const char* const kCaption = "Quorvane";
const char* const kText = "Image file: spaceshiptexture.bmp not found";

// Shows the box in a child process on the given display.
pid_t showInChild(const std::string& display) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        showErrorMessage(kCaption, kText);
        _exit(0);
    }
    return pid;
}

// 0 when the child has exited within the timeout, -1 otherwise.
int waitChild(pid_t pid, double seconds) {
    for (int i = 0; i < seconds * 50; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return 0;
        usleep(20000);
    }
    return -1;
}

}  // namespace

TEST(MessageBox, WithoutDisplayWritesTextAndReturns) {
    const char* saved = std::getenv("DISPLAY");
    std::string previous = saved ? saved : "";
    unsetenv("DISPLAY");
    testing::internal::CaptureStderr();
    showErrorMessage(kCaption, kText);
    std::string error = testing::internal::GetCapturedStderr();
    if (!previous.empty()) setenv("DISPLAY", previous.c_str(), 1);
    EXPECT_NE(error.find(kText), std::string::npos) << error;
}

TEST(MessageBox, WaitsOnDisplayUntilDismissed) {
    XServer server = startXServer();
    ASSERT_FALSE(server.display.empty()) << "could not start Xvfb";
    for (const char* dismissal : {"Return", "Escape", "click"}) {
        pid_t child = showInChild(server.display);
        unsigned long window = findWindow(server, kCaption, 20);
        ASSERT_NE(window, 0ul) << dismissal;
        EXPECT_EQ(waitChild(child, 0.5), -1) << "returned before being dismissed";
        if (std::string(dismissal) == "click") {
            cv::Size size = windowSize(server, window);
            std::string command = "DISPLAY=" + server.display + " xdotool mousemove --window " +
                                  std::to_string(window) + " " + std::to_string(size.width / 2) + " " +
                                  std::to_string(size.height - 28) + " click 1";
            EXPECT_EQ(std::system(command.c_str()), 0);
        } else {
            // The box may be gone before the key's release arrives, which
            // xdotool reports as an error: only the outcome counts.
            pressKeys(server, window, dismissal);
        }
        EXPECT_EQ(waitChild(child, 20), 0) << dismissal;
        kill(child, SIGKILL);
        waitpid(child, nullptr, WNOHANG);
    }
    stopXServer(&server);
}
