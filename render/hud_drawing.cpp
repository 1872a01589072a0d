// hud_drawing.cpp - text lines and the lens search's marks over the picture.
#include "hud_drawing.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <opencv2/imgproc.hpp>

namespace {

constexpr int kMarginPx = 6;
constexpr int kLineSpacingPx = 22;
constexpr double kFontScale = 0.5;
constexpr int kTextThickness = 1, kOutlineThickness = 3;
constexpr float kCellTint[4] = {0.2f, 0.9f, 0.3f, 0.22f};    // covered cells, RGBA
constexpr float kTargetColour[4] = {1.0f, 0.85f, 0.1f, 0.9f};  // the region to go to next
constexpr float kTargetLineWidth = 3.0f;
constexpr int kTargetInsetPx = 2;

cv::Mat textImage;  // BGRA, stored row 0 at the top

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

void drawTextAt(const char* text, int x, int topFromWindowTop, int height) {
    renderText(text);
    glWindowPos2i(x, height - topFromWindowTop);
    glPixelZoom(1.0f, -1.0f);
    glDrawPixels(textImage.cols, textImage.rows, GL_BGRA, GL_UNSIGNED_BYTE, textImage.data);
    glPixelZoom(1.0f, 1.0f);
}

// Window pixels with the picture's own axes: x right, y down from the top.
void loadPictureCoordinates(int width, int height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
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

void drawMarks(const HudMarks& marks, int width, int height) {
    loadPictureCoordinates(width, height);
    glDisable(GL_TEXTURE_2D);
    glColor4fv(kCellTint);
    for (const cv::Rect& cell : marks.cells) drawRectangle(cell, GL_QUADS);
    if (marks.target.empty()) return;
    glColor4fv(kTargetColour);
    glLineWidth(kTargetLineWidth);
    const cv::Rect& t = marks.target;
    drawRectangle(cv::Rect(t.x + kTargetInsetPx, t.y + kTargetInsetPx, t.width - 2 * kTargetInsetPx,
                           t.height - 2 * kTargetInsetPx),
                  GL_LINE_LOOP);
}

}  // namespace

void drawHud(const char* const* lines, int count, const HudMarks* marks, int width, int height) {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (marks) drawMarks(*marks, width, height);
    for (int i = 0; i < count; ++i) drawTextAt(lines[i], kMarginPx, kMarginPx + i * kLineSpacingPx, height);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
}
