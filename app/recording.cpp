// recording.cpp - video, snapshots and pose rows of arrender.
#include "recording.h"

#include <cmath>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include "lighting.h"
#include "picture.h"
#include "state.h"
#include "tsai.h"

namespace {

void writePoseHeader(std::FILE* out, bool lightColumns) {
    std::fprintf(out, "frame,found,f,r1,r2,r3,r4,r5,r6,r7,r8,r9,tx,ty,tz,rms_px,fy,cx,cy,tracked,ms_frame");
    for (const char* name : kIdleStageNames) std::fprintf(out, ",ms_%s", name);
    for (const char* name : kDisplayStageNames) std::fprintf(out, ",ms_%s", name);
    // The lens in use, so that with f, fy, cx, cy every row names the camera
    // that drew it (zeros without one).
    std::fprintf(out, ",ms_readback,k1,k2,p1,p2,k3,k4,k5,k6");
    // --light auto: the models' light, the smoothed gain on the scene's.
    std::fprintf(out, "%s\n", lightColumns ? ",light_r,light_g,light_b" : "");
}

// Root mean square distance in pixels between the detected corners and the
// board corners projected through the current camera. The calibration's y
// is in units of f; fy / f brings it back to pixels.
double reprojectionRms() {
    if (!chess.found || !camera.calibrated || chess.cornerCount == 0) return NAN;
    double sum = 0.0, yScale = camera.fy / camera.f;
    for (int k = 0; k < chess.cornerCount; ++k) {
        double x, y;
        tsaiProject(chess.worldX[k], chess.worldY[k], 0.0, &x, &y, camera.f, camera.T, camera.R);
        double dx = x - chess.imageX[k], dy = (y - chess.imageY[k]) * yScale;
        sum += dx * dx + dy * dy;
    }
    return std::sqrt(sum / chess.cornerCount);
}

// Appends printf-style text to a row kept in memory.
template <typename... Values>
void append(std::string* row, const char* format, Values... values) {
    char text[64];
    std::snprintf(text, sizeof text, format, values...);
    *row += text;
}

// The frame's row but for its whole time, which is known only once the next
// frame starts: the columns before ms_frame and those after it.
void composePoseRow(Recording* r, long frame, const StageTimes& t, double readBackMs) {
    std::string& head = r->rowHead;
    std::string& tail = r->rowTail;
    head.clear();
    tail.clear();
    append(&head, "%ld,%d,%.9g", frame, chess.found ? 1 : 0, camera.f);
    for (double v : camera.R) append(&head, ",%.9g", v);
    for (double v : camera.T) append(&head, ",%.9g", v);
    append(&head, ",%.4f,%.9g,%.9g,%.9g,%d", reprojectionRms(), camera.fy, camera.cx, camera.cy, chess.tracked ? 1 : 0);
    for (double ms : t.idleMs) append(&tail, ",%.3f", ms);
    for (double ms : t.displayMs) append(&tail, ",%.3f", ms);
    append(&tail, ",%.3f", readBackMs);
    for (int k = 0; k < kMaxDistortionCoefficients; ++k)
        append(&tail, ",%.9g", lens.active && k < lens.model.distortionCount ? lens.model.distortion[k] : 0.0);
    if (r->options->lightColumns)
        for (float gain : modelLight().colour) append(&tail, ",%.6f", gain);
    tail += "\n";
    r->rowPending = true;
}

bool openVideo(Recording* r, double fps, std::string* error) {
    r->videoFile = pendingFile(r->options->videoPath);
    r->video.open(r->videoFile.partialPath, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                  fps > 0 ? fps : kDefaultFps, cv::Size(r->width, r->height));
    if (r->video.isOpened()) return true;
    *error = "cannot write video " + r->options->videoPath;
    discardFile(r->videoFile);
    return false;
}

bool openPoses(Recording* r, std::string* error) {
    r->posesFile = pendingFile(r->options->posesPath);
    r->poses = std::fopen(r->posesFile.partialPath.c_str(), "w");
    if (!r->poses) {
        *error = "cannot write poses " + r->options->posesPath;
        return false;
    }
    writePoseHeader(r->poses, r->options->lightColumns);
    return true;
}

}  // namespace

bool openRecording(const RenderOutputs& options, int width, int height, double fps, Recording* r,
                   std::string* error) {
    r->options = &options;
    r->width = width;
    r->height = height;
    r->poses = nullptr;
    r->rowPending = false;
    r->framesWritten = 0;
    r->bottomUp.create(height, width, CV_8UC3);
    r->picture.create(height, width, CV_8UC3);
    if (!options.videoPath.empty() && !openVideo(r, fps, error)) return false;
    if (!options.posesPath.empty() && !openPoses(r, error)) {
        closeRecording(r, false, error);
        return false;
    }
    return true;
}

bool wantsPicture(const Recording& r, long frame) {
    if (r.video.isOpened()) return true;
    for (const Snapshot& s : r.options->snapshots)
        if (s.frame == frame) return true;
    return false;
}

void readBackPicture(Recording* r) {
    readPicture(r->width, r->height, r->bottomUp.data);
    cv::flip(r->bottomUp, r->picture, 0);
}

// The current picture into the snapshots that name this frame.
bool writeSnapshots(Recording* r, long frame, std::string* error) {
    for (const Snapshot& s : r->options->snapshots) {
        if (s.frame != frame) continue;
        PendingFile f = pendingFile(s.path);
        if (!cv::imwrite(f.partialPath, r->picture)) {
            *error = "cannot write snapshot " + s.path;
            discardFile(f);
            return false;
        }
        r->snapshotFiles.push_back(f);
    }
    return true;
}

bool recordFrame(Recording* r, long frame, const StageTimes& times, double readBackMs, std::string* error) {
    if (r->video.isOpened()) {
        r->video.write(r->picture);
        ++r->framesWritten;
    }
    if (!writeSnapshots(r, frame, error)) return false;
    // A row that could not be written ends the run now rather than at its end.
    if (r->poses && std::ferror(r->poses)) {
        *error = "cannot write poses " + r->options->posesPath + " (is the disk full?)";
        return false;
    }
    if (r->poses) composePoseRow(r, frame, times, readBackMs);
    return true;
}

void finishFrameRow(Recording* r, double frameMs) {
    if (!r->poses || !r->rowPending) return;
    std::fprintf(r->poses, "%s,%.3f%s", r->rowHead.c_str(), frameMs, r->rowTail.c_str());
    r->rowPending = false;
}

bool recordLastFrame(Recording* r, long framesRendered, std::string* error) {
    bool wanted = false;
    for (const Snapshot& s : r->options->snapshots) wanted |= s.frame == kLastFrame;
    if (!wanted) return true;
    if (framesRendered == 0) {
        *error = "no frame to take a snapshot of";
        return false;
    }
    readBackPicture(r);
    return writeSnapshots(r, kLastFrame, error);
}

// The video writer reports no error (a full disk, a file-size limit): the
// finished file is read back and its frames counted.
bool videoComplete(const Recording& r) {
    cv::VideoCapture capture(r.videoFile.partialPath, cv::CAP_FFMPEG);
    return capture.isOpened() && static_cast<long>(capture.get(cv::CAP_PROP_FRAME_COUNT)) == r.framesWritten;
}

bool closeRecording(Recording* r, bool success, std::string* error) {
    bool wroteVideo = r->video.isOpened();
    if (wroteVideo) r->video.release();
    if (wroteVideo && success && !videoComplete(*r)) {
        *error = "cannot write video " + r->options->videoPath + ": it came out incomplete (is the disk full?)";
        success = false;
    }
    bool posesWritten = true;
    if (r->poses) posesWritten = std::fflush(r->poses) == 0 && !std::ferror(r->poses);
    if (r->poses) posesWritten = std::fclose(r->poses) == 0 && posesWritten;
    r->poses = nullptr;
    if (!posesWritten && success) {
        *error = "cannot write poses " + r->options->posesPath + " (is the disk full?)";
        success = false;
    }
    std::vector<PendingFile> files = r->snapshotFiles;
    if (!r->options->videoPath.empty()) files.push_back(r->videoFile);
    if (!r->options->posesPath.empty()) files.push_back(r->posesFile);
    for (const PendingFile& f : files) {
        if (success) success = commitFile(f, error);
        else discardFile(f);
    }
    return success;
}
