// percentile.cpp - interpolated percentiles.
#include "percentile.h"

#include <algorithm>
#include <cmath>

double percentile(std::vector<double> values, double fraction) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }), values.end());
    if (values.empty() || !(fraction >= 0 && fraction <= 1)) return NAN;
    std::sort(values.begin(), values.end());
    double position = fraction * (values.size() - 1);
    size_t below = static_cast<size_t>(position);
    if (below + 1 >= values.size()) return values.back();
    double at = values[below], above = values[below + 1];
    if (std::isinf(above) || std::isinf(at)) return position > below ? above : at;
    return at + (position - below) * (above - at);
}
