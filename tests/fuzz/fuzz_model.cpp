// fuzz_model.cpp - libFuzzer target for models from strangers, read the way
// the viewer reads them: in the model reader program under its memory and
// time watch. The first byte picks the file's format (its extension), the rest
// is the file. Any input must load or be refused, in this process's time and
// memory: a reader that crashes, hangs or grows is stopped and reported, and a
// model that comes back must hold together (indices within its vertices,
// texture roles within its textures, material values in range, textures of
// their stated size).
//
// Usage:
//     tests/fuzz/run.sh 600        # every target, ten minutes each
//     build-fuzz/fuzz_model build-fuzz/corpus/model
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model_contained.h"

namespace {

const char* const kExtensions[] = {".glb", ".gltf", ".obj", ".ply", ".dae", ".fbx", ".stl", ".3ds"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string path = "/tmp/fuzz_model_" + std::to_string(getpid()) + kExtensions[data[0] % 8];
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);
    Model model;
    if (loadModelContained(path, "", &model)) {
        const long long textures = static_cast<long long>(model.textures.size());
        for (const ModelMesh& mesh : model.meshes) {
            for (unsigned index : mesh.indices)
                if (index >= mesh.positions.size() / 3) std::abort();
            for (int role : {mesh.texture, mesh.normalTexture, mesh.metalRoughnessTexture, mesh.emissiveTexture})
                if (role < -1 || role >= textures) std::abort();
            if (!(mesh.roughness >= 0 && mesh.roughness <= 1 && mesh.shininess >= 0)) std::abort();
        }
        for (const ModelTexture& t : model.textures)
            if (t.rgba.size() != std::size_t(t.width) * std::size_t(t.height) * 4) std::abort();
    }
    std::remove(path.c_str());
    return 0;
}
