// sample_truth.h - the sample video's true cameras for the benchmarks: one
// row per frame of make_board_video's truth CSV (frame,f,r1..r9,tx,ty,tz,
// board_covered,...), and where the true camera puts a board corner.
//
// Usage:
//     std::vector<SampleTruth> truth = readSampleTruth("board_truth.csv");
//     cv::Point2d p = truePixel(truth[i], k, cv::Size(8, 6), frame.size());
#ifndef BENCH_SAMPLE_TRUTH_H
#define BENCH_SAMPLE_TRUTH_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>

struct SampleTruth {
    double f, R[9], T[3];
    bool covered;  // the card over the board (false where the file has no such column)
};

// The rows up to the first that does not read; empty when the file does not.
std::vector<SampleTruth> readSampleTruth(const std::string& path);

// Board corner k (the world point (k mod columns, k div columns, 0)) in
// pixels of a picture of this size, the centre halved as integers.
cv::Point2d truePixel(const SampleTruth& t, int k, cv::Size pattern, cv::Size picture);

#endif
