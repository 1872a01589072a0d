// hud.h - a line of text in the picture's top-left corner: the frame rate,
// the board's state (found, tracked or lost) and the focal length.
//
// The text is drawn by OpenCV into an image of its own and put over the
// picture with glDrawPixels, so it needs nothing but a current GL context:
// the same drawing serves the viewer's window and arrender's offscreen
// context (where GLUT's fonts cannot be used).
//
// While the lens is searched (--self-calibrate), drawHudWithGuidance adds
// what the search still needs: the picture cells the kept views have
// covered (tinted green), the region to bring the board to next (a yellow
// frame), and a second line with the views kept and the stage in use; once
// the whole model is in use, the cells go and the line says the lens is done.
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

// The second line while self-calibrating, e.g. "lens: views 7 of 25, stage f
// k1; bring the board to the top left" or "lens done: stage full, f 601.2 px".
void formatGuidanceLine(char* text, int size);

// Display stage with --self-calibrate: the guidance, then the line.
void drawHudWithGuidance();

#endif
