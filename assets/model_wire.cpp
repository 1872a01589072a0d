// model_wire.cpp - the Model record flattened to bytes and back (model_wire.h):
// meshes with their materials and texture roles, checked as they are read.
#include "model_wire.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char kMagic[8] = {'A', 'R', 'M', 'O', 'D', 'E', 'L', '2'};

class Writer {
public:
    void raw(const void* data, std::size_t size) { out.append(static_cast<const char*>(data), size); }
    void count(std::uint64_t n) { raw(&n, sizeof n); }
    void text(const std::string& s) {
        count(s.size());
        raw(s.data(), s.size());
    }
    template <typename T>
    void array(const std::vector<T>& v) {
        count(v.size());
        raw(v.data(), v.size() * sizeof(T));
    }
    std::string out;
};

class Reader {
public:
    Reader(const char* data, std::size_t size) : at(data), left(size) {}
    bool raw(void* data, std::size_t size) {
        if (size > left) return false;
        if (size > 0) std::memcpy(data, at, size);
        at += size;
        left -= size;
        return true;
    }
    bool count(std::uint64_t* n, std::size_t elementSize) {
        // A count is never more elements than the bytes that remain could hold.
        return raw(n, sizeof *n) && *n <= left / elementSize;
    }
    bool text(std::string* s) {
        std::uint64_t n = 0;
        if (!count(&n, 1)) return false;
        s->assign(at, n);
        skip(n);
        return true;
    }
    template <typename T>
    bool array(std::vector<T>* v) {
        std::uint64_t n = 0;
        if (!count(&n, sizeof(T))) return false;
        v->resize(n);
        return raw(v->data(), n * sizeof(T));
    }
    bool done() const { return left == 0; }

private:
    void skip(std::size_t n) {
        at += n;
        left -= n;
    }
    const char* at;
    std::size_t left;
};

// Four counts, the diffuse colour, four texture indices, two flags and nine
// material values.
constexpr std::size_t kMinimumMeshBytes = 4 * 8 + sizeof(float) * 4 + 4 * 4 + 2 + sizeof(float) * 9;

bool isUnitRange(const float* values, int n) {
    for (int k = 0; k < n; ++k)
        if (!(values[k] >= 0.0f && values[k] <= 1.0f)) return false;  // NaN fails too
    return true;
}

bool isTextureIndex(std::int32_t index, std::size_t textures) {
    return index >= -1 && index < static_cast<std::int64_t>(textures);
}

// The material's values within the ranges loadModel gives them.
bool readMaterial(Reader* r, std::size_t textures, ModelMesh* mesh) {
    std::int32_t roles[4];
    std::uint8_t flags[2];
    float material[9];
    if (!r->raw(mesh->diffuse, sizeof mesh->diffuse) || !r->raw(roles, sizeof roles) ||
        !r->raw(flags, sizeof flags) || !r->raw(material, sizeof material))
        return false;
    for (std::int32_t role : roles)
        if (!isTextureIndex(role, textures)) return false;
    if (flags[0] > 1 || flags[1] > static_cast<std::uint8_t>(ModelShading::kMetalRoughness)) return false;
    if (!isUnitRange(mesh->diffuse, 4) || !isUnitRange(material, 3) || !isUnitRange(material + 4, 5) ||
        !(material[3] >= 0.0f && material[3] <= kMaxModelShininess))
        return false;
    mesh->texture = roles[0];
    mesh->normalTexture = roles[1];
    mesh->metalRoughnessTexture = roles[2];
    mesh->emissiveTexture = roles[3];
    mesh->closed = flags[0] != 0;
    mesh->shading = static_cast<ModelShading>(flags[1]);
    for (int k = 0; k < 3; ++k) mesh->specular[k] = material[k], mesh->emissive[k] = material[6 + k];
    mesh->shininess = material[3];
    mesh->metallic = material[4];
    mesh->roughness = material[5];
    return true;
}

bool readMesh(Reader* r, std::size_t textures, ModelMesh* mesh) {
    if (!r->array(&mesh->positions) || !r->array(&mesh->normals) || !r->array(&mesh->texcoords) ||
        !r->array(&mesh->indices) || !readMaterial(r, textures, mesh))
        return false;
    const std::size_t vertices = mesh->positions.size() / 3;
    if (mesh->positions.size() % 3 != 0 || mesh->normals.size() != mesh->positions.size() ||
        (!mesh->texcoords.empty() && mesh->texcoords.size() != vertices * 2) || mesh->indices.size() % 3 != 0)
        return false;
    for (unsigned index : mesh->indices)
        if (index >= vertices) return false;
    return true;
}

}  // namespace

std::string encodeModel(const Model& model) {
    Writer w;
    w.raw(kMagic, sizeof kMagic);
    w.text(model.path);
    w.raw(model.boundsMin, sizeof model.boundsMin);
    w.raw(model.boundsMax, sizeof model.boundsMax);
    w.count(model.textures.size());
    for (const ModelTexture& t : model.textures) {
        const std::int32_t side[2] = {t.width, t.height};
        w.raw(side, sizeof side);
        w.array(t.rgba);
        w.text(t.source);
    }
    w.count(model.meshes.size());
    for (const ModelMesh& m : model.meshes) {
        w.array(m.positions);
        w.array(m.normals);
        w.array(m.texcoords);
        w.array(m.indices);
        w.raw(m.diffuse, sizeof m.diffuse);
        const std::int32_t textures[4] = {m.texture, m.normalTexture, m.metalRoughnessTexture, m.emissiveTexture};
        const std::uint8_t flags[2] = {static_cast<std::uint8_t>(m.closed ? 1 : 0), static_cast<std::uint8_t>(m.shading)};
        const float material[9] = {m.specular[0], m.specular[1], m.specular[2], m.shininess, m.metallic,
                                   m.roughness,   m.emissive[0], m.emissive[1], m.emissive[2]};
        w.raw(textures, sizeof textures);
        w.raw(flags, sizeof flags);
        w.raw(material, sizeof material);
    }
    return std::move(w.out);
}

bool decodeModel(const char* bytes, std::size_t size, Model* model) {
    Reader r(bytes, size);
    char magic[sizeof kMagic];
    if (!r.raw(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0) return false;
    Model m;
    if (!r.text(&m.path) || !r.raw(m.boundsMin, sizeof m.boundsMin) || !r.raw(m.boundsMax, sizeof m.boundsMax))
        return false;
    std::uint64_t textures = 0;
    if (!r.count(&textures, 8 + 8 + 8)) return false;
    m.textures.resize(textures);
    for (ModelTexture& t : m.textures) {
        std::int32_t side[2];
        if (!r.raw(side, sizeof side) || !r.array(&t.rgba) || !r.text(&t.source)) return false;
        if (side[0] < 0 || side[1] < 0 || t.rgba.size() != std::size_t(side[0]) * std::size_t(side[1]) * 4)
            return false;
        t.width = side[0];
        t.height = side[1];
    }
    std::uint64_t meshes = 0;
    if (!r.count(&meshes, kMinimumMeshBytes)) return false;
    m.meshes.resize(meshes);
    for (ModelMesh& mesh : m.meshes)
        if (!readMesh(&r, m.textures.size(), &mesh)) return false;
    if (!r.done()) return false;
    *model = std::move(m);
    return true;
}
