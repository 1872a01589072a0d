// frame_ages.cpp - the frame-age log (frame_ages.h).
#include "frame_ages.h"

#include <cstdio>

#include "atomic_file.h"
#include "frame_reader.h"

namespace {

double millisecondsFrom(std::chrono::steady_clock::time_point origin, std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t - origin).count();
}

}  // namespace

void noteFrameAge(FrameAges* ages, long frame) {
    const auto now = std::chrono::steady_clock::now();
    const FrameOrigin origin = lastFrameOrigin();
    if (ages->rows.empty()) ages->origin = origin.decoded;
    ages->rows.push_back({frame, origin.index, framesDropped(), millisecondsFrom(ages->origin, origin.decoded),
                          millisecondsFrom(ages->origin, now)});
}

bool writeFrameAges(const FrameAges& ages, const std::string& path, std::string* error) {
    const PendingFile file = pendingFile(path);
    std::FILE* out = std::fopen(file.partialPath.c_str(), "w");
    if (out == nullptr) return *error = "cannot write frame ages " + path, false;
    bool ok = std::fprintf(out, "frame,source_frame,decoded_ms,shown_ms,dropped\n") > 0;
    for (const FrameAgeRow& r : ages.rows)
        ok = ok && std::fprintf(out, "%ld,%ld,%.3f,%.3f,%ld\n", r.frame, r.sourceFrame, r.decodedMs, r.shownMs,
                                r.dropped) > 0;
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        discardFile(file);
        return *error = "cannot write frame ages " + path + " (is the disk full?)", false;
    }
    return commitFile(file, error);
}
