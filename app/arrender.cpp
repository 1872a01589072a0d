// arrender.cpp - the viewer's frame loop without a window or an X server:
// the same start-up, the same idle and display stages, drawn into an
// offscreen OpenGL context, with the composed pictures written to a video or
// PNG snapshots, poses and stage times to a CSV, and key presses replayed
// at given frames.
//
// Usage: arrender board.avi -o out.avi --poses poses.csv --snapshot 299:last.png
//        arrender board.avi --keys "0:S,0:Left,120:Up" --frames 200
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "frame.h"
#include "frame_ages.h"
#include "frame_reader.h"
#include "lens_switch.h"
#include "offscreen_gl.h"
#include "options.h"
#include "percentile.h"
#include "recording.h"
#include "ship.h"
#include "startup.h"
#include "state.h"
#include "video.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRunError = 1;
// Frames between progress reports: on a terminal one line is rewritten,
// elsewhere (a log) a line is added now and then.
constexpr long kProgressEveryOnTerminal = 10, kProgressEveryInLog = 100;

double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double millisecondsSince(Clock::time_point start) { return millisecondsBetween(start, Clock::now()); }

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "arrender: %s\n", message.c_str());
    return status;
}

// The mesh loader traces every value to standard output; arrender keeps its
// standard output quiet.
bool loadShipQuietly() {
    std::fflush(stdout);
    int saved = dup(1);
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink) dup2(fileno(sink), 1);
    bool loaded = loadShipAssets();
    std::fflush(stdout);
    if (saved >= 0) dup2(saved, 1), close(saved);
    if (sink) std::fclose(sink);
    return loaded;
}

void applyKeys(const RenderOutputs& outputs, long frame) {
    for (const KeyAtFrame& k : outputs.keys) {
        if (k.frame != frame) continue;
        if (k.special) keyboard_s(k.code, 0, 0);
        else keyboard(static_cast<unsigned char>(k.code), 0, 0);
    }
}

// Per-stage milliseconds of every frame, for the summary.
struct Timings {
    std::vector<double> stages[kIdleStageCount + kDisplayStageCount + 2];
    std::vector<double> frames;
};

void addTimes(Timings* t, const StageTimes& s, double readBackMs, double writeMs) {
    for (int i = 0; i < kIdleStageCount; ++i) t->stages[i].push_back(s.idleMs[i]);
    for (int i = 0; i < kDisplayStageCount; ++i) t->stages[kIdleStageCount + i].push_back(s.displayMs[i]);
    t->stages[kIdleStageCount + kDisplayStageCount].push_back(readBackMs);
    t->stages[kIdleStageCount + kDisplayStageCount + 1].push_back(writeMs);
}

// A frame's whole time is known when the next one starts.
void finishLatestFrame(Recording* recording, Timings* t, double frameMs) {
    finishFrameRow(recording, frameMs);
    t->frames.push_back(frameMs);
}

double mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return v.empty() ? 0 : s / v.size();
}

double percentile95(const std::vector<double>& v) { return v.empty() ? 0 : percentile(v, 0.95); }

void printSummary(const Timings& t, long frames, long found, double seconds) {
    std::fprintf(stderr, "arrender: %ld frames, board found in %ld (%.1f%%), %.1f frames per second\n", frames,
                 found, frames ? 100.0 * found / frames : 0.0, seconds > 0 ? frames / seconds : 0.0);
    std::fprintf(stderr, "%-12s %9s %9s\n", "stage", "mean ms", "p95 ms");
    for (int i = 0; i < kIdleStageCount + kDisplayStageCount + 2; ++i) {
        const char* name = i < kIdleStageCount ? kIdleStageNames[i]
                           : i < kIdleStageCount + kDisplayStageCount ? kDisplayStageNames[i - kIdleStageCount]
                           : i == kIdleStageCount + kDisplayStageCount ? "readback" : "write";
        std::fprintf(stderr, "%-12s %9.3f %9.3f\n", name, mean(t.stages[i]), percentile95(t.stages[i]));
    }
    std::fprintf(stderr, "%-12s %9.3f %9.3f\n", "whole frame", mean(t.frames), percentile95(t.frames));
    // The first frame also starts the renderer (llvmpipe compiles its
    // shaders then): the steady figures leave it out.
    if (t.frames.size() < 2) return;
    std::vector<double> steady(t.frames.begin() + 1, t.frames.end());
    std::fprintf(stderr, "whole frame after the first: median %.3f ms, 99th percentile %.3f ms, max %.3f ms "
                 "(the first: %.3f ms)\n",
                 percentile(steady, 0.5), percentile(steady, 0.99), *std::max_element(steady.begin(), steady.end()),
                 t.frames.front());
}

void printProgress(long done, long total, double seconds, bool last) {
    static const bool terminal = isatty(2);
    long every = terminal ? kProgressEveryOnTerminal : kProgressEveryInLog;
    if (done % every != 0 ? !last : last && !terminal) return;  // already reported
    std::fprintf(stderr, "%sarrender: frame %ld of %ld, %.1f fps%s", terminal ? "\r" : "", done, total,
                 seconds > 0 ? done / seconds : 0.0, terminal && !last ? "" : "\n");
}

// The viewer's loop: idle stages, display stages, then what is recorded.
// A live source's frames the loop had no time for are dropped and counted;
// one that ends before --frames ends the run as a file would, with a line.
bool renderFrames(const RenderOutputs& options, long total, bool live, Recording* recording, FrameAges* ages,
                  std::string* error) {
    if (live) total = options.frameLimit;  // a live source's count means nothing
    if (options.frameLimit >= 0 && (total <= 0 || options.frameLimit < total)) total = options.frameLimit;
    Timings timings;
    long frame = 0, found = 0;
    auto start = Clock::now(), previousStart = start;
    while (options.frameLimit < 0 || frame < options.frameLimit) {
        auto frameStart = Clock::now();
        if (frame > 0) finishLatestFrame(recording, &timings, millisecondsBetween(previousStart, frameStart));
        previousStart = frameStart;
        applyKeys(options, frame);
        StageTimes times = {};
        if (!runIdleStages(&times)) break;
        runDisplayStages(&times);
        auto readStart = Clock::now();
        if (wantsPicture(*recording, frame)) readBackPicture(recording);
        double readBackMs = millisecondsSince(readStart);
        if (!options.frameAgesPath.empty()) noteFrameAge(ages, frame);
        auto writeStart = Clock::now();
        if (!recordFrame(recording, frame, times, readBackMs, error)) return false;
        addTimes(&timings, times, readBackMs, millisecondsSince(writeStart));
        found += chess.found ? 1 : 0;
        ++frame;
        if (total > 0) printProgress(frame, total, millisecondsSince(start) / 1000, false);
    }
    if (frame > 0) finishLatestFrame(recording, &timings, millisecondsSince(previousStart));
    if (total > 0) printProgress(frame, total, millisecondsSince(start) / 1000, true);
    printSummary(timings, frame, found, millisecondsSince(start) / 1000);
    if (live) {
        std::fprintf(stderr, "arrender: %ld frames of the source dropped (the loop had no time for them)\n",
                     framesDropped());
        if (options.frameLimit < 0 || frame < options.frameLimit)
            std::fprintf(stderr, "arrender: the source ended early, after %ld frames\n", frame);
    }
    return recordLastFrame(recording, frame, error);
}

OffscreenGL offscreen;

bool openOffscreen(int width, int height, std::string* error) {
    if (createOffscreenGL(width, height, &offscreen)) return true;
    *error = "no OpenGL context";
    return false;
}

bool loadModel(int* status) {
    if (loadShipQuietly()) return true;
    std::fprintf(stderr, "arrender: cannot load the model's texture\n");
    *status = kRunError;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    ViewerOptions options;
    CommandLineOutcome outcome = parseViewerOptions(kRenderProgram, argc, argv, &options);
    if (!outcome.run) return outcome.status;
    // A full disk or a file-size limit is a write error of the recording,
    // reported as such, not a signal that ends the run half-written.
    std::signal(SIGXFSZ, SIG_IGN);
    StartUpHost host = {"arrender", kCalibrateInLoop, false, false, openOffscreen, loadModel};
    VideoFacts video;
    StartUpOutcome started = startUp(options, host, &video);
    if (!started.run) return started.status;
    std::string error;
    Recording recording;
    if (!openRecording(options.render, movie.width, movie.height, video.fps, &recording, &error)) {
        shutDown();
        destroyOffscreenGL(&offscreen);
        return fail(kRunError, error);
    }
    FrameAges ages;
    bool rendered =
        renderFrames(options.render, video.frameCount, isLiveSource(video.kind), &recording, &ages, &error);
    shutDown();
    if (rendered && !saveCameraInUse(&error)) rendered = false;
    if (rendered && !options.render.frameAgesPath.empty() && !writeFrameAges(ages, options.render.frameAgesPath, &error))
        rendered = false;
    bool closed = closeRecording(&recording, rendered, &error);
    destroyOffscreenGL(&offscreen);
    if (!rendered || !closed) return fail(kRunError, error);
    return 0;
}
