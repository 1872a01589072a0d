// self_calibration.cpp - the lens search, its attempts and the worker.
#include "self_calibration.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "lens_search.h"

namespace {

// The worker's hand-off: one attempt in, one result out. On the heap and
// never freed while the worker may run (the process may end from a callback).
struct Worker {
    std::mutex mutex;
    std::condition_variable changed;
    LensAttempt job;
    bool hasJob = false, busy = false, stopping = false;
    bool hasResult = false;
    LensAttempt jobDone;
    LensAttemptResult result;
};

struct SelfCalibration {
    bool running = false;
    SelfCalibrationWork work = kCalibrateInLoop;
    LensSearch search;
    bool switchPending = false;
    LensSwitchReport report;
    long framesWhileComputing = 0;  // frames the loop went through during the latest attempt
    cv::Mat grey;
    Worker* worker = nullptr;
    std::thread* thread = nullptr;
};

SelfCalibration self;

void runWorker(Worker* w) {
    for (;;) {
        LensAttempt job;
        {
            std::unique_lock<std::mutex> lock(w->mutex);
            w->changed.wait(lock, [w] { return w->hasJob || w->stopping; });
            if (w->stopping) return;
            job = std::move(w->job);
            w->hasJob = false;
            w->busy = true;
        }
        LensAttemptResult result;
        runLensAttempt(job, &result);
        std::lock_guard<std::mutex> lock(w->mutex);
        w->jobDone = std::move(job);
        w->result = std::move(result);
        w->hasResult = true;
        w->busy = false;
    }
}

bool workerIdle() {
    std::lock_guard<std::mutex> lock(self.worker->mutex);
    return !self.worker->busy && !self.worker->hasJob && !self.worker->hasResult;
}

// A result taken back into the search; a switch waits for takeTrustedLens.
void acceptResult(const LensAttempt& attempt, const LensAttemptResult& result) {
    if (!acceptLensAttempt(&self.search, attempt, result)) return;
    const StageJudgement& chosen = result.staged.stages[result.decision.stage];
    self.report = LensSwitchReport{result.decision.stage, chosen.calibration.keptCount, chosen.predictedPx,
                                   self.framesWhileComputing};
    self.switchPending = true;
}

void attemptCalibration() {
    self.framesWhileComputing = 0;
    LensAttempt attempt = prepareLensAttempt(&self.search);
    if (self.work == kCalibrateInLoop) {
        LensAttemptResult result;
        runLensAttempt(attempt, &result);
        acceptResult(attempt, result);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(self.worker->mutex);
        self.worker->job = std::move(attempt);
        self.worker->hasJob = true;
    }
    self.worker->changed.notify_all();
}

void collectWorkerResult() {
    LensAttempt attempt;
    LensAttemptResult result;
    {
        std::lock_guard<std::mutex> lock(self.worker->mutex);
        if (self.worker->busy || self.worker->hasJob) ++self.framesWhileComputing;
        if (!self.worker->hasResult) return;
        self.worker->hasResult = false;
        attempt = std::move(self.worker->jobDone);
        result = std::move(self.worker->result);
    }
    acceptResult(attempt, result);
}

}  // namespace

void startSelfCalibration(cv::Size picture, cv::Size pattern, SelfCalibrationWork work) {
    stopSelfCalibration();
    self = SelfCalibration();
    self.running = true;
    self.work = work;
    initLensSearch(&self.search, picture, pattern);
    if (work != kCalibrateOnWorker) return;
    self.worker = new Worker();
    self.thread = new std::thread(runWorker, self.worker);
}

void offerBoardView(const cv::Mat& frame, const cv::Point2f* corners, int count, long frameIndex,
                    double viewerFocal) {
    if (!self.running || self.search.done) return;
    cv::cvtColor(frame, self.grey, cv::COLOR_BGR2GRAY);
    // The tracking's corners are good enough for a pose; a lens wants them
    // refined with a window that stays inside the board's outer squares.
    std::vector<cv::Point2f> view(corners, corners + count);
    if (!refineBoardCorners(self.grey, self.search.views.pattern, &view)) return;
    bool due = offerLensView(&self.search, view, self.grey, frameIndex, viewerFocal);
    if (due && (self.work == kCalibrateInLoop || workerIdle())) attemptCalibration();
}

bool takeTrustedLens(CameraModel* model, LensSwitchReport* report) {
    if (!self.running) return false;
    if (self.work == kCalibrateOnWorker) collectWorkerResult();
    if (!self.switchPending) return false;
    self.switchPending = false;
    *model = self.search.inUse.model;
    *report = self.report;
    return true;
}

SelfCalibrationStatus selfCalibrationStatus() {
    SelfCalibrationStatus s;
    s.running = self.running;
    s.done = self.search.done;
    s.stage = self.running ? self.search.inUse.stage : -1;
    if (self.running) s.guidance = guideViews(self.search.views);
    else s.guidance = ViewGuidance{};
    return s;
}

void stopSelfCalibration() {
    self.running = false;  // later offers and takes do nothing
    if (!self.thread) return;
    {
        std::lock_guard<std::mutex> lock(self.worker->mutex);
        self.worker->stopping = true;
    }
    self.worker->changed.notify_all();
    self.thread->join();
    delete self.thread;
    delete self.worker;
    self.thread = nullptr;
    self.worker = nullptr;
}
