// model_closed.cpp - tells whether triangle meshes enclose a volume with
// their front faces outward, so that culling their back faces opens no hole.
//
// Corners are welded by exact position first: files split vertices along
// texture seams and hard edges, and those splits must not count as open
// edges. Then every directed edge must occur once, and its reverse once; the
// signed volume (the sum of the tetrahedra from the origin) must be positive,
// which it is for counter-clockwise front faces seen from outside.
//
// Usage (inside the loader):
//     mesh.closed = enclosesVolumeOutward({&mesh});
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "model_parts.h"

namespace {

struct PositionKey {
    std::uint32_t bits[3];
    bool operator==(const PositionKey& other) const { return std::memcmp(bits, other.bits, sizeof bits) == 0; }
};

struct PositionHash {
    std::size_t operator()(const PositionKey& key) const {
        std::uint64_t h = 1469598103934665603ULL;  // FNV-1a over the three words
        for (std::uint32_t word : key.bits) h = (h ^ word) * 1099511628211ULL;
        return static_cast<std::size_t>(h);
    }
};

PositionKey keyOf(const float* position) {
    PositionKey key;
    for (int k = 0; k < 3; ++k) {
        const float value = position[k] + 0.0f;  // -0 and +0 weld together
        std::memcpy(&key.bits[k], &value, sizeof value);
    }
    return key;
}

std::uint64_t edge(std::uint32_t from, std::uint32_t to) { return (static_cast<std::uint64_t>(from) << 32) | to; }

double tetrahedronVolume(const float* a, const float* b, const float* c) {
    return (a[0] * (static_cast<double>(b[1]) * c[2] - static_cast<double>(b[2]) * c[1]) +
            a[1] * (static_cast<double>(b[2]) * c[0] - static_cast<double>(b[0]) * c[2]) +
            a[2] * (static_cast<double>(b[0]) * c[1] - static_cast<double>(b[1]) * c[0])) /
           6.0;
}

}  // namespace

bool enclosesVolumeOutward(const std::vector<const ModelMesh*>& meshes) {
    std::unordered_map<PositionKey, std::uint32_t, PositionHash> welded;
    std::vector<std::uint64_t> edges;
    double volume = 0.0;
    for (const ModelMesh* mesh : meshes) {
        for (std::size_t t = 0; t + 2 < mesh->indices.size(); t += 3) {
            const float* corner[3];
            std::uint32_t id[3];
            for (int k = 0; k < 3; ++k) {
                corner[k] = &mesh->positions[3 * static_cast<std::size_t>(mesh->indices[t + k])];
                id[k] = welded.emplace(keyOf(corner[k]), static_cast<std::uint32_t>(welded.size())).first->second;
            }
            if (id[0] == id[1] || id[1] == id[2] || id[2] == id[0]) continue;  // no area, no edge
            edges.insert(edges.end(), {edge(id[0], id[1]), edge(id[1], id[2]), edge(id[2], id[0])});
            volume += tetrahedronVolume(corner[0], corner[1], corner[2]);
        }
    }
    if (edges.empty() || !(volume > 0.0)) return false;
    std::sort(edges.begin(), edges.end());
    if (std::adjacent_find(edges.begin(), edges.end()) != edges.end()) return false;
    for (std::uint64_t e : edges)
        if (!std::binary_search(edges.begin(), edges.end(), edge(static_cast<std::uint32_t>(e), e >> 32)))
            return false;
    return true;
}
