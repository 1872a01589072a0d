// percentile.h - the one percentile of the project's figures and summaries:
// linear interpolation between the closest ranks of the sorted values, NaN
// values left out (NaN when nothing is left), an infinite neighbour taken
// as it is.
//
// Usage:
//     double median = percentile(values, 0.5), p95 = percentile(values, 0.95);
#ifndef PLATFORM_PERCENTILE_H
#define PLATFORM_PERCENTILE_H

#include <vector>

// fraction from 0 (the smallest) to 1 (the largest).
double percentile(std::vector<double> values, double fraction);

#endif
