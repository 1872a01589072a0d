// hud.h - a line of text in the picture's top-left corner: the frame rate,
// the board's state (found, tracked or lost) and the focal length.
//
// The text is drawn by OpenCV into an image of its own and put over the
// picture with glDrawPixels, so it needs nothing but a current GL context:
// the same drawing serves the viewer's window and arrender's offscreen
// context (where GLUT's fonts cannot be used).
//
// Usage:
//     noteFrameAnalysed();   // once per frame, after tracking
//     drawHud();             // display stage, last before the picture ends
#ifndef APP_HUD_H
#define APP_HUD_H

// Counts a frame for the frame rate (frames over the last second).
void noteFrameAnalysed();

// The text of the line, e.g. "30.0 fps  board found  f 600.0 px".
void formatHudLine(char* text, int size);

// Display stage: the line over the picture, in window pixels.
void drawHud();

#endif
