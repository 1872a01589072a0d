// sample_truth.cpp - reading the sample video's true cameras.
#include "sample_truth.h"

#include <cstdio>
#include <fstream>

#include "tsai.h"

std::vector<SampleTruth> readSampleTruth(const std::string& path) {
    std::vector<SampleTruth> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        SampleTruth t;
        int frame, covered = 0;
        if (std::sscanf(line.c_str(), "%d,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%d", &frame, &t.f, &t.R[0],
                        &t.R[1], &t.R[2], &t.R[3], &t.R[4], &t.R[5], &t.R[6], &t.R[7], &t.R[8], &t.T[0], &t.T[1],
                        &t.T[2], &covered) < 14)
            break;
        t.covered = covered != 0;
        rows.push_back(t);
    }
    return rows;
}

cv::Point2d truePixel(const SampleTruth& t, int k, cv::Size pattern, cv::Size picture) {
    double x, y;
    tsaiProject(k % pattern.width, k / pattern.width, 0, &x, &y, t.f, t.T, t.R);
    return {x + picture.width / 2, y + picture.height / 2};
}
