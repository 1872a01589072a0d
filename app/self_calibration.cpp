// self_calibration.cpp - the view collection, the attempts and the worker.
#include "self_calibration.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "calibration_views.h"
#include "lens_calibration.h"

namespace {

using Views = std::vector<std::vector<cv::Point2f>>;

// A calibration is attempted once the collection holds enough views for a
// trustworthy one and again whenever it has changed by this many views.
constexpr long kChangesBetweenAttempts = 3;

// The worker's hand-off: one job in, one result out. On the heap and never
// freed while the worker may run (the process may end from a callback).
struct Worker {
    std::mutex mutex;
    std::condition_variable changed;
    cv::Size pattern, picture;
    Views job;
    bool hasJob = false, busy = false, stopping = false;
    bool hasResult = false;
    LensCalibration result;
    bool trusted = false;
};

struct SelfCalibration {
    bool running = false;
    bool handedBack = false;
    SelfCalibrationWork work = kCalibrateInLoop;
    ViewCollection views;
    long changesAtLastAttempt = 0;
    bool attempted = false;
    bool haveTrusted = false;
    CameraModel trusted;
    long framesWhileComputing = 0;  // frames the loop went through during the latest attempt
    cv::Mat grey;
    Worker* worker = nullptr;
    std::thread* thread = nullptr;
};

SelfCalibration self;

bool calibrateAndJudge(const Views& views, cv::Size pattern, cv::Size picture, LensCalibration* result) {
    std::string error;
    return calibrateLens(views, pattern, picture, result, &error) && calibrationTrustworthy(*result, nullptr);
}

void runWorker(Worker* w) {
    for (;;) {
        Views job;
        {
            std::unique_lock<std::mutex> lock(w->mutex);
            w->changed.wait(lock, [w] { return w->hasJob || w->stopping; });
            if (w->stopping) return;
            job.swap(w->job);
            w->hasJob = false;
            w->busy = true;
        }
        LensCalibration result;
        bool trusted = calibrateAndJudge(job, w->pattern, w->picture, &result);
        std::lock_guard<std::mutex> lock(w->mutex);
        w->result = result;
        w->trusted = trusted;
        w->hasResult = true;
        w->busy = false;
    }
}

// A new attempt is due when the views suffice and have changed enough since
// the last one; on the worker, only while it is idle.
bool attemptDue() {
    if (static_cast<int>(self.views.views.size()) < kTrustMinViews) return false;
    if (self.attempted && self.views.changes < self.changesAtLastAttempt + kChangesBetweenAttempts) return false;
    if (self.work == kCalibrateInLoop) return true;
    std::lock_guard<std::mutex> lock(self.worker->mutex);
    return !self.worker->busy && !self.worker->hasJob;
}

void attemptCalibration() {
    self.attempted = true;
    self.changesAtLastAttempt = self.views.changes;
    self.framesWhileComputing = 0;
    Views views = keptCorners(self.views);
    if (self.work == kCalibrateInLoop) {
        LensCalibration result;
        if (calibrateAndJudge(views, self.views.pattern, self.views.picture, &result)) {
            self.trusted = result.camera;
            self.haveTrusted = true;
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lock(self.worker->mutex);
        self.worker->job.swap(views);
        self.worker->hasJob = true;
    }
    self.worker->changed.notify_all();
}

// The worker's latest result, when it came in trusted.
void collectWorkerResult() {
    std::lock_guard<std::mutex> lock(self.worker->mutex);
    if (self.worker->busy || self.worker->hasJob) ++self.framesWhileComputing;
    if (!self.worker->hasResult) return;
    self.worker->hasResult = false;
    if (!self.worker->trusted) return;
    self.trusted = self.worker->result.camera;
    self.haveTrusted = true;
}

}  // namespace

void startSelfCalibration(cv::Size picture, cv::Size pattern, SelfCalibrationWork work) {
    stopSelfCalibration();
    self = SelfCalibration();
    self.running = true;
    self.work = work;
    initViewCollection(&self.views, picture, pattern, kDefaultCalibrationViews);
    if (work != kCalibrateOnWorker) return;
    self.worker = new Worker();
    self.worker->pattern = pattern;
    self.worker->picture = picture;
    self.thread = new std::thread(runWorker, self.worker);
}

void offerBoardView(const cv::Mat& frame, const cv::Point2f* corners, int count, long frameIndex) {
    if (!self.running || self.handedBack || self.haveTrusted) return;
    cv::cvtColor(frame, self.grey, cv::COLOR_BGR2GRAY);
    // The tracking's corners are good enough for a pose; a lens wants them
    // refined with a window that stays inside the board's outer squares.
    std::vector<cv::Point2f> view(corners, corners + count);
    if (refineBoardCorners(self.grey, self.views.pattern, &view)) offerView(&self.views, view, self.grey, frameIndex);
    if (attemptDue()) attemptCalibration();
}

bool takeTrustedLens(CameraModel* model, long* framesWhileComputing) {
    if (!self.running || self.handedBack) return false;
    if (self.work == kCalibrateOnWorker) collectWorkerResult();
    if (!self.haveTrusted) return false;
    *model = self.trusted;
    *framesWhileComputing = self.framesWhileComputing;
    self.handedBack = true;
    return true;
}

void stopSelfCalibration() {
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
