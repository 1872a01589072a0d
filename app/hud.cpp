// hud.cpp - the heads-up lines and the lens search's marks.
#include "hud.h"

#include <chrono>
#include <cstdio>
#include <deque>

#include "frame_reader.h"
#include "hud_drawing.h"
#include "lens_calibration.h"
#include "self_calibration.h"
#include "state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kRateWindowSeconds = 1.0;
constexpr int kTextBytes = 160;

std::deque<Clock::time_point> analysedFrames;  // within the last window

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

// The cells the kept views cover and the region to go to, in picture pixels.
HudMarks searchMarks(const ViewGuidance& g) {
    cv::Size picture(movie.width, movie.height);
    HudMarks marks;
    for (int cell = 0; cell < kCoverageCells; ++cell)
        if (g.cells[cell]) marks.cells.push_back(cellRectangle(cell, picture));
    if (g.suggested >= 0) marks.target = regionRectangle(g.suggested, picture);
    return marks;
}

}  // namespace

void noteFrameAnalysed() {
    Clock::time_point now = Clock::now();
    analysedFrames.push_back(now);
    while (std::chrono::duration<double>(now - analysedFrames.front()).count() > kRateWindowSeconds)
        analysedFrames.pop_front();
}

// A live source's frames dropped by the reader follow, once there are any
// (a file's are never dropped).
void formatHudLine(char* text, int size) {
    int n = std::snprintf(text, size, "%.1f fps  board %s  f %.1f px", frameRate(), boardState(), camera.f);
    const long dropped = framesDropped();
    if (dropped > 0 && n > 0 && n < size) std::snprintf(text + n, size - n, "  dropped %ld", dropped);
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

void drawHudLine() {
    char line[kTextBytes];
    formatHudLine(line, sizeof line);
    const char* lines[] = {line};
    drawHud(lines, 1, nullptr, movie.width, movie.height);
}

void drawHudWithGuidance() {
    char line[kTextBytes], guidance[kTextBytes];
    formatHudLine(line, sizeof line);
    formatGuidanceLine(guidance, sizeof guidance);
    SelfCalibrationStatus s = selfCalibrationStatus();
    HudMarks marks;
    if (s.running && !s.done) marks = searchMarks(s.guidance);
    const char* lines[] = {line, guidance};
    drawHud(lines, 2, &marks, movie.width, movie.height);
}
