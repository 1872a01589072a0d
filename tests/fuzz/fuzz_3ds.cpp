// fuzz_3ds.cpp - libFuzzer target for the 3DS chunk walker: any input must load
// or be rejected without reading or writing out of bounds, and a success must
// leave counts and triangle indexes within the record's capacity.
//
// Usage:
//     tests/fuzz/run.sh 600        # every target, ten minutes each
//     build-fuzz/fuzz_3ds -dict=tests/fuzz/3ds.dict build-fuzz/corpus/3ds
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "3dsloader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static obj_type mesh;
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (stream == nullptr) return 0;
    const int loaded = read3DSChunks(&mesh, stream, static_cast<long long>(size), "input", nullptr);
    std::fclose(stream);
    if (loaded) {
        if (mesh.vertex_count > kMeshCapacity || mesh.polygon_count > kMeshCapacity) std::abort();
        for (int i = 0; i < mesh.polygon_count; ++i) {
            const mesh_polygon& p = mesh.polygons[i];
            if (p.a >= kMeshCapacity || p.b >= kMeshCapacity || p.c >= kMeshCapacity) std::abort();
        }
    }
    return 0;
}
