// hud_drawing.h - text and marks over the finished picture: lines of text in
// the top-left corner (white with a dark outline, drawn by OpenCV into an
// image of their own and put over the picture with glDrawPixels, so that it
// needs nothing but a current GL context: GLUT's fonts cannot serve an
// offscreen one), and the marks of a lens search, picture cells tinted green
// and a target region framed in yellow, in picture pixels.
//
// State: the text's image, reused from frame to frame, private here.
// Threads: the GL context's thread only.
//
// Usage:
//     const char* lines[] = {"30.0 fps  board found  f 600.0 px"};
//     drawHudLines(lines, 1, 640, 480);
#ifndef RENDER_HUD_DRAWING_H
#define RENDER_HUD_DRAWING_H

#include <vector>

#include <opencv2/core.hpp>

// The cells tinted and the region framed (empty: none), picture pixels.
struct HudMarks {
    std::vector<cv::Rect> cells;
    cv::Rect target;
};

// Display stage: the marks, then count lines of text from the top-left
// corner down, over a width x height window.
void drawHud(const char* const* lines, int count, const HudMarks* marks, int width, int height);

#endif
