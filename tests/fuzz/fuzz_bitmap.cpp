// fuzz_bitmap.cpp - libFuzzer target for the BMP decoder: any input must decode
// or be rejected without reading out of bounds, and a success must give a
// picture within the size limits with exactly width x height x 4 bytes.
//
// Usage:
//     tests/fuzz/run.sh 600        # every target, ten minutes each
//     build-fuzz/fuzz_bitmap build-fuzz/corpus/bitmap
#include <cstdint>
#include <cstdlib>

#include "bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BitmapImage image;
    if (decodeBitmap(data, size, "input", &image)) {
        if (image.width < 1 || image.width > kMaxBitmapSide || image.height < 1 ||
            image.height > kMaxBitmapSide ||
            image.rgba.size() != static_cast<std::size_t>(image.width) * image.height * 4)
            std::abort();
    }
    return 0;
}
