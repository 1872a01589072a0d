// frame_ages.h - how old each frame is when its picture is finished:
// arrender's --frame-ages log, which the stream latency benchmark reads.
//
// One row per frame drawn: frame, source_frame (the frame's index among the
// frames the source delivered; dropped ones count), decoded_ms (when the
// reader had it) and shown_ms (when its picture was read back), both from
// the moment the first frame drawn was decoded, and dropped (the source's
// frames dropped so far). Kept in memory and written once at the end, under
// a temporary name until complete.
//
// Usage:
//     FrameAges ages;
//     for each frame: draw(); readBack(); noteFrameAge(&ages, frame);
//     if (!writeFrameAges(ages, "ages.csv", &error)) fail(error);
#ifndef APP_FRAME_AGES_H
#define APP_FRAME_AGES_H

#include <chrono>
#include <string>
#include <vector>

struct FrameAgeRow {
    long frame, sourceFrame, dropped;
    double decodedMs, shownMs;
};

struct FrameAges {
    std::vector<FrameAgeRow> rows;
    std::chrono::steady_clock::time_point origin;
};

// Notes the frame the reader gave last, its picture finished now.
void noteFrameAge(FrameAges* ages, long frame);

// False, with one line in *error and nothing under path, when it cannot be written.
bool writeFrameAges(const FrameAges& ages, const std::string& path, std::string* error);

#endif
