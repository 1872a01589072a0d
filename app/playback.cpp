// playback.cpp - pacing a file by its timestamps, and pausing it.
#include "playback.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

// A frame later than this behind its time restarts the clock from it, so
// that a stall (a slow frame, a dragged window) is not made up for by
// rushing through the frames after it.
constexpr double kMaxLagMs = 250.0;

}  // namespace

Playback newPlayback(bool paced) {
    Playback p{};
    p.paced = paced;
    return p;
}

double millisecondsUntilDue(Playback* p, double timestampMs) {
    if (!p->paced) return 0.0;
    Clock::time_point now = Clock::now();
    auto offset = std::chrono::duration_cast<Clock::duration>(Milliseconds(timestampMs));
    if (!p->started) {
        p->started = true;
        p->origin = now - offset;
        return 0.0;
    }
    double wait = Milliseconds(p->origin + offset - now).count();
    if (wait < -kMaxLagMs) {
        p->origin = now - offset;
        return 0.0;
    }
    return wait > 0 ? wait : 0.0;
}

void togglePause(Playback* p) {
    Clock::time_point now = Clock::now();
    if (p->paused) p->origin += now - p->pausedAt;
    else p->pausedAt = now;
    p->paused = !p->paused;
}
