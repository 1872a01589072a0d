// hud.cpp - the frame-rate and state line over the picture.
#include "hud.h"

#include <chrono>
#include <cstdio>
#include <deque>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <opencv2/imgproc.hpp>

#include "lens_calibration.h"
#include "self_calibration.h"
#include "state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kRateWindowSeconds = 1.0;
constexpr int kTextBytes = 160;
constexpr int kLineSpacingPx = 22;
constexpr float kCellTint[4] = {0.2f, 0.9f, 0.3f, 0.22f};    // covered cells, RGBA
constexpr float kTargetColour[4] = {1.0f, 0.85f, 0.1f, 0.9f};  // the region to go to next
constexpr float kTargetLineWidth = 3.0f;
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

void drawTextAt(const char* text, int x, int topFromWindowTop) {
    renderText(text);
    glWindowPos2i(x, movie.height - topFromWindowTop);
    glPixelZoom(1.0f, -1.0f);
    glDrawPixels(textImage.cols, textImage.rows, GL_BGRA, GL_UNSIGNED_BYTE, textImage.data);
    glPixelZoom(1.0f, 1.0f);
}

// Window pixels with the picture's own axes: x right, y down from the top.
void loadPictureCoordinates() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, movie.width, movie.height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void drawRectangle(const cv::Rect& r, GLenum mode) {
    glBegin(mode);
    glVertex2i(r.x, r.y);
    glVertex2i(r.x + r.width, r.y);
    glVertex2i(r.x + r.width, r.y + r.height);
    glVertex2i(r.x, r.y + r.height);
    glEnd();
}

void drawGuidance(const ViewGuidance& g) {
    cv::Size picture(movie.width, movie.height);
    loadPictureCoordinates();
    glDisable(GL_TEXTURE_2D);
    glColor4fv(kCellTint);
    for (int cell = 0; cell < kCoverageCells; ++cell)
        if (g.cells[cell]) drawRectangle(cellRectangle(cell, picture), GL_QUADS);
    if (g.suggested < 0) return;
    glColor4fv(kTargetColour);
    glLineWidth(kTargetLineWidth);
    cv::Rect target = regionRectangle(g.suggested, picture);
    drawRectangle(cv::Rect(target.x + 2, target.y + 2, target.width - 4, target.height - 4), GL_LINE_LOOP);
}

void beginOverlay() {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

void endOverlay() {
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
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
    beginOverlay();
    drawTextAt(text, kMarginPx, kMarginPx);
    endOverlay();
}

void formatGuidanceLine(char* text, int size) {
    SelfCalibrationStatus s = selfCalibrationStatus();
    const char* stage = s.stage >= 0 ? lensStageName(static_cast<LensStage>(s.stage)) : "none yet";
    if (s.done) {
        std::snprintf(text, size, "lens done: stage %s, f %.1f px", stage, camera.f);
        return;
    }
    int n = std::snprintf(text, size, "lens: views %d of %d, stage %s", s.guidance.views, s.guidance.capacity, stage);
    if (n < 0 || n >= size) return;
    if (s.guidance.suggested >= 0)
        std::snprintf(text + n, size - n, "; bring the board to the %s", regionName(s.guidance.suggested));
    else if (s.guidance.steeperTilts || s.guidance.otherTiltDirections)
        std::snprintf(text + n, size - n, "; tilt the board more, this way and that");
}

void drawHudWithGuidance() {
    char line[kTextBytes], guidance[kTextBytes];
    formatHudLine(line, sizeof line);
    formatGuidanceLine(guidance, sizeof guidance);
    SelfCalibrationStatus s = selfCalibrationStatus();
    beginOverlay();
    if (s.running && !s.done) drawGuidance(s.guidance);
    drawTextAt(line, kMarginPx, kMarginPx);
    drawTextAt(guidance, kMarginPx, kMarginPx + kLineSpacingPx);
    endOverlay();
}
