// srgb.cpp - sRGB's transfer curve, both ways, and its 8-bit table.
#include "srgb.h"

#include <array>
#include <cmath>

double linearFromSrgb(double encoded) {
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

double srgbFromLinear(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

const float* linearOfSrgbLevels() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> levels{};
        for (int level = 0; level < 256; ++level) levels[level] = static_cast<float>(linearFromSrgb(level / 255.0));
        return levels;
    }();
    return table.data();
}
