// fuzz_camera_file.cpp - libFuzzer target for the camera-file reader: any
// bytes, given as YAML or as OpenCV's XML, must be read or refused with a
// reason, never crash; a camera read must pass the reader's own checks.
//
// Usage:
//     tests/fuzz/run.sh 600        # every target, ten minutes each
//     build-fuzz/fuzz_camera_file build-fuzz/corpus/camera
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "camera_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string path =
        "/tmp/fuzz_camera_" + std::to_string(getpid()) + ((data[0] & 1) != 0 ? ".xml" : ".yml");
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);
    CameraModel model;
    std::string error;
    if (readCameraFile(path, 0, 0, &model, &error)) {
        std::string problem;
        if (!checkCameraModel(model, &problem)) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
