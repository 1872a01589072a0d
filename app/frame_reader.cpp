// frame_reader.cpp - the decoding thread and its one-frame hand-off.
#include "frame_reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "video.h"

namespace {

// One frame held by the loop, one ready for it, one being decoded.
constexpr int kBuffers = 3;

// Everything both threads see, guarded by mutex. It lives on the heap and is
// never freed: a process that ends while the reader waits (exit() from a
// callback) must not destroy what the reader still uses.
struct HandOff {
    std::mutex mutex;
    std::condition_variable changed;
    cv::Mat ready;  // decoded, waiting for the loop
    double readyTimestampMs = 0;
    FrameOrigin readyOrigin, heldOrigin;
    bool hasReady = false;
    bool ended = false;  // the capture delivered no more frames
    bool stopping = false;
    bool finished = false;  // the reader thread has returned
    // The newest-frame mode's buffers: the one the loop holds, the ready one.
    int heldBuffer = -1, readyBuffer = -1;
    long dropped = 0;
};

// The reader thread's own state.
struct Decoder {
    cv::VideoCapture* capture = nullptr;
    cv::Mat pending;  // a frame start-up already took
    cv::Mat raw[kBuffers], normalised[kBuffers];
    int next = 0;  // buffer to decode into
    int width = 0, height = 0;
    long index = 0;
    long decodedIndex = -1;  // the frame decoded last, and when
    std::chrono::steady_clock::time_point decodedAt;
    double fps = kDefaultFps, lastTimestampMs = -1;
    // Set by a stop: a read that returns after it is not normalised, since a
    // reader left stuck in a read must not use the normalisation's work
    // areas once another reader may.
    std::atomic<bool> stopping{false};
};

// Readers left stuck in a read, kept reachable for as long as the process
// lives (their threads may still use them).
struct Abandoned {
    HandOff* handOff;
    Decoder* decoder;
};
std::vector<Abandoned>* abandoned = nullptr;

HandOff* handOff = nullptr;
Decoder* decoder = nullptr;
std::thread* reader = nullptr;
long droppedByLastReader = 0;

// The capture's timestamp when it has a usable one, else index over rate.
double timestampOf(Decoder* d) {
    double ms = d->capture->get(cv::CAP_PROP_POS_MSEC);
    if (!std::isfinite(ms) || ms < 0 || (d->index > 0 && ms <= d->lastTimestampMs))
        ms = d->index * 1000.0 / d->fps;
    d->lastTimestampMs = ms;
    return ms;
}

// Decodes the next frame into buffer b; false at the end.
bool decodeFrameOrEnd(Decoder* d, int b, cv::Mat* frame, double* timestampMs) {
    if (!d->pending.empty()) {
        d->pending.copyTo(d->raw[b]);
        d->pending.release();
    } else if (!d->capture->read(d->raw[b]) || d->raw[b].empty() || d->stopping) {
        return false;
    }
    cv::Mat result = normaliseFrame(d->raw[b], d->width, d->height);
    // The normalisation may answer in a work area of its own, which the
    // next frame overwrites: such frames get a buffer of their own.
    if (result.data != d->raw[b].data) result.copyTo(d->normalised[b]), result = d->normalised[b];
    *frame = result;
    *timestampMs = timestampOf(d);
    d->decodedIndex = d->index++;
    d->decodedAt = std::chrono::steady_clock::now();
    return true;
}

// A capture or a frame that makes OpenCV throw ends the video there, with
// one line: the exception must not leave the thread (it would end the
// process).
bool decodeFrame(Decoder* d, int b, cv::Mat* frame, double* timestampMs) {
    try {
        return decodeFrameOrEnd(d, b, frame, timestampMs);
    } catch (const cv::Exception& e) {
        std::fprintf(stderr, "video: frame %ld cannot be decoded (%s); the video ends there\n", d->index,
                     e.err.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "video: frame %ld cannot be decoded (%s); the video ends there\n", d->index, e.what());
    }
    return false;
}

// Every frame: the buffers in turn, each frame waiting until the loop has
// taken the one before.
void readEveryFrame(HandOff* h, Decoder* d) {
    for (;;) {
        cv::Mat frame;
        double timestampMs = 0;
        const int b = d->next;
        d->next = (d->next + 1) % kBuffers;
        bool decoded = decodeFrame(d, b, &frame, &timestampMs);
        std::unique_lock<std::mutex> lock(h->mutex);
        h->changed.wait(lock, [h] { return !h->hasReady || h->stopping; });
        if (h->stopping) return;
        if (!decoded) {
            h->ended = true;
            h->changed.notify_all();
            return;
        }
        h->ready = frame;
        h->readyTimestampMs = timestampMs;
        h->readyOrigin = {d->decodedIndex, d->decodedAt};
        h->hasReady = true;
        h->changed.notify_all();
    }
}

// The newest frame: never waits for the loop; a frame not yet taken when the
// next is decoded is dropped. Decoding goes into a buffer that neither the
// loop holds nor is ready.
void readNewestFrame(HandOff* h, Decoder* d) {
    for (;;) {
        int b = 0;
        {
            std::lock_guard<std::mutex> lock(h->mutex);
            if (h->stopping) return;
            while (b == h->heldBuffer || b == h->readyBuffer) ++b;
        }
        cv::Mat frame;
        double timestampMs = 0;
        bool decoded = decodeFrame(d, b, &frame, &timestampMs);
        std::lock_guard<std::mutex> lock(h->mutex);
        if (h->stopping) return;
        if (!decoded) {
            h->ended = true;
            h->changed.notify_all();
            return;
        }
        if (h->hasReady) ++h->dropped;
        h->ready = frame;
        h->readyTimestampMs = timestampMs;
        h->readyOrigin = {d->decodedIndex, d->decodedAt};
        h->readyBuffer = b;
        h->hasReady = true;
        h->changed.notify_all();
    }
}

// The reader thread: reads until the end or a stop, then says it is done.
void runReader(HandOff* h, Decoder* d, FrameReaderMode mode) {
    if (mode == FrameReaderMode::kNewestFrame) readNewestFrame(h, d);
    else readEveryFrame(h, d);
    std::lock_guard<std::mutex> lock(h->mutex);
    h->finished = true;
    h->changed.notify_all();
}

}  // namespace

bool startFrameReader(cv::VideoCapture* capture, const cv::Mat& pendingFrame, int width, int height,
                      FrameReaderMode mode) {
    if (reader || !capture) return false;
    handOff = new HandOff();
    decoder = new Decoder();
    decoder->capture = capture;
    decoder->pending = pendingFrame;
    decoder->width = width;
    decoder->height = height;
    double fps = capture->get(cv::CAP_PROP_FPS);
    if (std::isfinite(fps) && fps > 0) decoder->fps = fps;
    droppedByLastReader = 0;
    reader = new std::thread(runReader, handOff, decoder, mode);
    return true;
}

namespace {

// Takes the ready frame; the caller holds the hand-off's lock.
void takeReadyFrame(cv::Mat* frame, double* timestampMs) {
    *frame = handOff->ready;
    *timestampMs = handOff->readyTimestampMs;
    handOff->heldOrigin = handOff->readyOrigin;
    handOff->ready.release();
    handOff->heldBuffer = handOff->readyBuffer;
    handOff->readyBuffer = -1;
    handOff->hasReady = false;
    handOff->changed.notify_all();
}

}  // namespace

bool readNextFrame(cv::Mat* frame, double* timestampMs) {
    if (!handOff) return false;  // no reader started
    std::unique_lock<std::mutex> lock(handOff->mutex);
    handOff->changed.wait(lock, [] { return handOff->hasReady || handOff->ended; });
    if (!handOff->hasReady) return false;
    takeReadyFrame(frame, timestampMs);
    return true;
}

FrameWait readNextFrameWithin(cv::Mat* frame, double* timestampMs, int waitMs) {
    if (!handOff) return FrameWait::kEnded;
    std::unique_lock<std::mutex> lock(handOff->mutex);
    if (!handOff->changed.wait_for(lock, std::chrono::milliseconds(std::max(waitMs, 0)),
                                   [] { return handOff->hasReady || handOff->ended; }))
        return FrameWait::kLate;
    if (!handOff->hasReady) return FrameWait::kEnded;
    takeReadyFrame(frame, timestampMs);
    return FrameWait::kFrame;
}

cv::VideoCapture* stopFrameReader(int waitMs) {
    if (!reader) return nullptr;
    bool finished;
    {
        std::unique_lock<std::mutex> lock(handOff->mutex);
        handOff->stopping = true;
        decoder->stopping = true;
        handOff->changed.notify_all();
        finished = handOff->changed.wait_for(lock, std::chrono::milliseconds(std::max(waitMs, 0)),
                                             [] { return handOff->finished; });
        droppedByLastReader = handOff->dropped;
    }
    if (!finished) {
        // Stuck in a read: the thread keeps its capture, decoder and hand-off,
        // never freed, and ends when the read returns.
        reader->detach();
        if (!abandoned) abandoned = new std::vector<Abandoned>();
        abandoned->push_back({handOff, decoder});
        delete reader;
        reader = nullptr;
        decoder = nullptr;
        handOff = nullptr;
        return nullptr;
    }
    reader->join();
    cv::VideoCapture* capture = decoder->capture;
    delete reader;
    delete decoder;
    delete handOff;
    reader = nullptr;
    decoder = nullptr;
    handOff = nullptr;
    return capture;
}

long framesDropped() {
    if (!handOff) return droppedByLastReader;
    std::lock_guard<std::mutex> lock(handOff->mutex);
    return handOff->dropped;
}

FrameOrigin lastFrameOrigin() {
    if (!handOff) return FrameOrigin();
    std::lock_guard<std::mutex> lock(handOff->mutex);
    return handOff->heldOrigin;
}
