// hud.cpp - the frame-rate and state line over the picture.
#include "hud.h"

#include <chrono>
#include <cstdio>
#include <deque>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <opencv2/imgproc.hpp>

#include "state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kRateWindowSeconds = 1.0;
constexpr int kTextBytes = 96;
constexpr int kMarginPx = 6;
constexpr double kFontScale = 0.5;
constexpr int kTextThickness = 1, kOutlineThickness = 3;

std::deque<Clock::time_point> analysedFrames;  // within the last window
cv::Mat textImage;                             // BGRA, stored row 0 at the top

double frameRate() {
    if (analysedFrames.size() < 2) return 0.0;
    double seconds = std::chrono::duration<double>(analysedFrames.back() - analysedFrames.front()).count();
    return seconds > 0 ? (analysedFrames.size() - 1) / seconds : 0.0;
}

const char* boardState() {
    if (chess.found) return "found";
    if (chess.tracked) return "tracked";
    return "lost";
}

// White text with a dark outline on a transparent image just large enough.
void renderText(const char* text) {
    int baseline = 0;
    cv::Size size = cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, kFontScale, kOutlineThickness, &baseline);
    textImage.create(size.height + baseline + 2 * kOutlineThickness, size.width + 2 * kOutlineThickness, CV_8UC4);
    textImage.setTo(cv::Scalar(0, 0, 0, 0));
    cv::Point origin(kOutlineThickness, kOutlineThickness + size.height);
    cv::putText(textImage, text, origin, cv::FONT_HERSHEY_SIMPLEX, kFontScale, cv::Scalar(0, 0, 0, 200),
                kOutlineThickness, cv::LINE_AA);
    cv::putText(textImage, text, origin, cv::FONT_HERSHEY_SIMPLEX, kFontScale, cv::Scalar(255, 255, 255, 255),
                kTextThickness, cv::LINE_AA);
}

}  // namespace

void noteFrameAnalysed() {
    Clock::time_point now = Clock::now();
    analysedFrames.push_back(now);
    while (std::chrono::duration<double>(now - analysedFrames.front()).count() > kRateWindowSeconds)
        analysedFrames.pop_front();
}

void formatHudLine(char* text, int size) {
    std::snprintf(text, size, "%.1f fps  board %s  f %.1f px", frameRate(), boardState(), camera.f);
}

void drawHud() {
    char text[kTextBytes];
    formatHudLine(text, sizeof text);
    renderText(text);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glWindowPos2i(kMarginPx, movie.height - kMarginPx);
    glPixelZoom(1.0f, -1.0f);
    glDrawPixels(textImage.cols, textImage.rows, GL_BGRA, GL_UNSIGNED_BYTE, textImage.data);
    glPixelZoom(1.0f, 1.0f);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
}
