// frame_age_report.cpp - how old the frames of a live stream were when
// arrender finished their pictures, from its --frame-ages log and the video
// it recorded, for bench/stream_latency.sh.
//
// The stream's frames carry their index as a row of black and white squares
// in the top left corner; the recorded pictures are read back to check that
// the frame drawn is the one the log names. The server sends frame i at
// i / fps after frame 0, so a frame's age when shown is measured from the
// moment it was sent: a backlog in the socket or the decoder counts, which
// the reader's own decoding time would hide. The start of the stream is
// taken from the frame decoded soonest after its sending, which makes every
// age a little short by that frame's own delay (on the loopback, well under
// a millisecond when the reader keeps up; with every frame kept, the delay
// of the first frame, which waits for the start-up).
//
// Usage: frame_age_report LABEL AGES.csv RECORDED.avi FPS SOURCE_FRAMES
// Prints one line: frames drawn, dropped, age (mean, 95th percentile and
// maximum, in ms and source frames; the 95th percentile from the stream's
// first second on), the loop's median frame time, the time
// from the stream's last frame to the last picture, whether the goal holds.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "csv_fields.h"
#include "percentile.h"

namespace {

// The squares as the script draws them: 12 bits, each a square of side
// min(48, width / 16) pixels, 7/6 of that apart, a third of it from the corner.
constexpr int kBits = 12;
int squareSide(int width) { return std::min(48, width / 16); }

struct Row {
    double sourceFrame, decodedMs, shownMs, dropped;
};

bool readAges(const std::string& path, std::vector<Row>* rows) {
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return false;
    const std::vector<std::string> header = splitCsvFields(line);
    const int columns[4] = {csvColumn(header, "source_frame"), csvColumn(header, "decoded_ms"),
                            csvColumn(header, "shown_ms"), csvColumn(header, "dropped")};
    for (int c : columns)
        if (c < 0) return false;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = splitCsvFields(line);
        double v[4];
        for (int i = 0; i < 4; ++i)
            if (columns[i] >= (int)f.size() || !parseCsvNumber(f[columns[i]], &v[i])) return false;
        rows->push_back({v[0], v[1], v[2], v[3]});
    }
    return !rows->empty();
}

// The index drawn in a picture's corner; -1 where the overlay covers a
// square (a grey that is neither the black nor the white drawn).
long indexIn(const cv::Mat& picture) {
    const int side = squareSide(picture.cols), stride = side * 7 / 6, corner = side / 3;
    long index = 0;
    for (int k = 0; k < kBits; ++k) {
        const cv::Vec3b p = picture.at<cv::Vec3b>(corner + side / 2, corner + k * stride + side / 2);
        const int grey = (p[0] + p[1] + p[2]) / 3;
        if (grey > 40 && grey < 215) return -1;
        if (grey <= 40) index |= 1L << k;
    }
    return index;
}

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? NAN : sum / v.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: frame_age_report LABEL AGES.csv RECORDED.avi FPS SOURCE_FRAMES\n");
        return 2;
    }
    const std::string label = argv[1];
    const double fps = std::atof(argv[4]), period = 1000.0 / fps;
    const long sourceFrames = std::atol(argv[5]);
    std::vector<Row> rows;
    if (!readAges(argv[2], &rows) || !(fps > 0)) {
        std::fprintf(stderr, "frame_age_report: cannot read %s\n", argv[2]);
        return 1;
    }
    cv::VideoCapture recorded(argv[3]);
    long mismatched = 0, pictures = 0, covered = 0;
    cv::Mat picture;
    for (size_t i = 0; i < rows.size() && recorded.read(picture); ++i, ++pictures) {
        const long shown = indexIn(picture);
        if (shown < 0) ++covered;
        else if (shown != (long)rows[i].sourceFrame && ++mismatched <= 3)
            std::fprintf(stderr, "frame_age_report: picture %zu shows frame %ld, the log says %.0f\n", i, shown,
                         rows[i].sourceFrame);
    }

    // Frame i was sent i periods after frame 0, and decoded some time later:
    // the frame decoded soonest after its sending stands for the start.
    double start = INFINITY;
    for (const Row& r : rows) start = std::min(start, r.decodedMs - r.sourceFrame * period);
    std::vector<double> ages, loop;
    for (size_t i = 0; i < rows.size(); ++i) {
        ages.push_back(rows[i].shownMs - (start + rows[i].sourceFrame * period));
        if (i > 0) loop.push_back(rows[i].shownMs - rows[i - 1].shownMs);
    }
    // After the first second: a reader that keeps up has drained by then what
    // the stream sent while the program started.
    std::vector<double> settled;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].sourceFrame * period >= 1000) settled.push_back(ages[i]);
    const double settledP95 = percentile(settled, 0.95);
    const double loopMedian = percentile(loop, 0.5), p95 = percentile(ages, 0.95);
    const double maxAge = percentile(ages, 1.0);
    const double streamEnd = start + (sourceFrames - 1) * period;
    const double endDelay = rows.back().shownMs - streamEnd;
    const double goal = period + loopMedian + 5;
    std::printf("%-12s drawn %4zu of %4ld  dropped %4.0f  age mean %7.1f ms (%5.1f frames)  p95 %7.1f ms (%5.1f)"
                "  max %7.1f ms (%5.1f)  p95 after 1 s %7.1f ms  loop median %5.1f ms  end %+7.3f s"
                "  goal p95 <= %.1f ms: %s (after 1 s: %s), end <= 0.2 s: %s"
                "  pictures checked %ld, covered %ld, wrong %ld\n",
                label.c_str(), rows.size(), sourceFrames, rows.back().dropped, mean(ages), mean(ages) / period, p95,
                p95 / period, maxAge, maxAge / period, settledP95, loopMedian, endDelay / 1000, goal,
                p95 <= goal ? "yes" : "no", settledP95 <= goal ? "yes" : "no", endDelay <= 200 ? "yes" : "no", pictures, covered, mismatched);
    return 0;
}
