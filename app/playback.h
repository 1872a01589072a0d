// playback.h - the viewer as a video player: a file plays at its own pace
// (each frame shown when its timestamp comes due on the wall clock), Space
// pauses and resumes it; a camera, or --fast, is never held back.
//
// Pacing only decides when the next frame is taken; it never skips one, so
// a slow machine plays slower rather than differently.
//
// State: the caller's Playback record; no state of its own.
//
// Usage:
//     Playback p = newPlayback(paced);
//     double waitMs = millisecondsUntilDue(&p, movie.timestampMs);  // 0: show it now
//     togglePause(&p);                                               // Space
#ifndef APP_PLAYBACK_H
#define APP_PLAYBACK_H

#include <chrono>

struct Playback {
    bool paced;   // frames wait for their time
    bool paused;
    bool started;  // origin is set: the first frame has been shown
    std::chrono::steady_clock::time_point origin;    // wall time of timestamp 0
    std::chrono::steady_clock::time_point pausedAt;
};

Playback newPlayback(bool paced);

// How long the frame with this timestamp must still wait, in milliseconds;
// 0 when it is due (always, unpaced). The first frame sets the clock.
double millisecondsUntilDue(Playback* playback, double timestampMs);

// Pauses, or resumes where it stopped: the paused time does not count.
void togglePause(Playback* playback);

#endif
