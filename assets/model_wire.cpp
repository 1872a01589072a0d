// model_wire.cpp - the Model record flattened to bytes and back (model_wire.h).
#include "model_wire.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char kMagic[8] = {'A', 'R', 'M', 'O', 'D', 'E', 'L', '1'};

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
        const std::int32_t texture = m.texture;
        const std::uint8_t closed = m.closed ? 1 : 0;
        w.raw(&texture, sizeof texture);
        w.raw(&closed, sizeof closed);
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
    if (!r.count(&meshes, 4 * 8 + sizeof(float) * 4 + 4 + 1)) return false;
    m.meshes.resize(meshes);
    for (ModelMesh& mesh : m.meshes) {
        std::int32_t texture = -1;
        std::uint8_t closed = 0;
        if (!r.array(&mesh.positions) || !r.array(&mesh.normals) || !r.array(&mesh.texcoords) ||
            !r.array(&mesh.indices) || !r.raw(mesh.diffuse, sizeof mesh.diffuse) || !r.raw(&texture, sizeof texture) ||
            !r.raw(&closed, sizeof closed))
            return false;
        const std::size_t vertices = mesh.positions.size() / 3;
        if (mesh.positions.size() % 3 != 0 || mesh.normals.size() != mesh.positions.size() ||
            (!mesh.texcoords.empty() && mesh.texcoords.size() != vertices * 2) || mesh.indices.size() % 3 != 0)
            return false;
        for (unsigned index : mesh.indices)
            if (index >= vertices) return false;
        if (texture < -1 || texture >= std::int64_t(m.textures.size())) return false;
        mesh.texture = texture;
        mesh.closed = closed != 0;
    }
    if (!r.done()) return false;
    *model = std::move(m);
    return true;
}
