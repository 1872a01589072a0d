// hud.h - the viewer's heads-up lines (--hud): the frame rate, the board's
// state (found, tracked or lost) and the focal length; while the lens is
// searched (--self-calibrate), a second line with the views kept and the
// stage in use (then that the lens is done), and the marks of what the
// search still needs: the picture cells the kept views cover and the region
// to bring the board to next (drawn by render/hud_drawing.h).
//
// State: the times of the frames of the last second, private here.
// Threads: the frame loop's thread only.
//
// Usage:
//     noteFrameAnalysed();   // once per frame, after tracking
//     drawHudLine();         // display stage, last before the picture ends
#ifndef APP_HUD_H
#define APP_HUD_H

// Counts a frame for the frame rate (frames over the last second).
void noteFrameAnalysed();

// The first line, e.g. "30.0 fps  board found  f 600.0 px".
void formatHudLine(char* text, int size);

// The second line while self-calibrating, e.g. "lens: views 7 of 25, stage f
// k1; bring the board to the top left" or "lens done: stage full, f 601.2 px".
void formatGuidanceLine(char* text, int size);

// Display stage: the first line.
void drawHudLine();

// Display stage with --self-calibrate: the search's marks and both lines.
void drawHudWithGuidance();

#endif
