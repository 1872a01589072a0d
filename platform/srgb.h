// srgb.h - sRGB's transfer curve (IEC 61966-2-1): encoded values in 0..1 to
// linear light and back, and the linear light of every 8-bit level.
//
// Usage:
//     double linear = linearFromSrgb(level / 255.0);
//     const float* decode = linearOfSrgbLevels();  // decode[200]: linear light of level 200
#ifndef PLATFORM_SRGB_H
#define PLATFORM_SRGB_H

double linearFromSrgb(double encoded);
double srgbFromLinear(double linear);

// 256 values, made once; safe to call from any thread.
const float* linearOfSrgbLevels();

#endif
