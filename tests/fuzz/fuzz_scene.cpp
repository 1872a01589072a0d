// fuzz_scene.cpp - libFuzzer target for the scene reader: any bytes given as
// a scene file must be read or refused with a reason, never crash, and never
// recurse without bound (the reader refuses nesting before yaml-cpp sees it).
//
// Usage:
//     tests/fuzz/run.sh 600        # every target, ten minutes each
//     build-fuzz/fuzz_scene build-fuzz/corpus/scene
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scene.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = "/tmp/fuzz_scene_" + std::to_string(getpid()) + ".yml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    Scene scene;
    std::string error;
    if (!readSceneFile(path, &scene, &error) && error.empty()) std::abort();
    std::remove(path.c_str());
    return 0;
}
