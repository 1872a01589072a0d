// 3dsloader.cpp - the 3DS chunk walker (see 3dsloader.h for the supported
// chunks and the limits).
//
// Usage:
//     static obj_type ship;
//     Load3DS(&ship, path);
#include "3dsloader.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "file_length.h"

namespace {

constexpr long long kChunkHeaderBytes = 6;  // 16-bit identifier, 32-bit length

enum ChunkId : std::uint16_t {
    kMainChunk = 0x4D4D,
    kEditorChunk = 0x3D3D,
    kObjectBlock = 0x4000,
    kTriangleMesh = 0x4100,
    kVerticesList = 0x4110,
    kFacesDescription = 0x4120,
    kMappingList = 0x4140,
};

struct ChunkStream {
    FILE* stream;
    long long length;
    const char* fileName;
    FILE* trace;
};

__attribute__((format(printf, 2, 3))) bool fail(const ChunkStream& in, const char* format, ...) {
    std::fprintf(stderr, "3dsloader: %s: ", in.fileName);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return false;
}

bool failTruncated(const ChunkStream& in) { return fail(in, "truncated file"); }

__attribute__((format(printf, 2, 3))) void trace(const ChunkStream& in, const char* format, ...) {
    if (in.trace == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(in.trace, format, args);
    va_end(args);
}

// Little-endian reads; false at the end of the file.
bool readU16(const ChunkStream& in, std::uint16_t* value) {
    unsigned char b[2];
    if (std::fread(b, 1, 2, in.stream) != 2) return false;
    *value = static_cast<std::uint16_t>(b[0] | b[1] << 8);
    return true;
}

bool readU32(const ChunkStream& in, std::uint32_t* value) {
    unsigned char b[4];
    if (std::fread(b, 1, 4, in.stream) != 4) return false;
    *value = b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return true;
}

bool readFloat(const ChunkStream& in, float* value) {
    std::uint32_t bits;
    if (!readU32(in, &bits)) return false;
    std::memcpy(value, &bits, sizeof *value);
    return true;
}

bool readCount(const ChunkStream& in, const char* what, std::uint16_t* count) {
    if (!readU16(in, count)) return failTruncated(in);
    if (*count > kMeshCapacity)
        return fail(in, "%s count %d above the capacity of %d", what, *count, kMeshCapacity);
    return true;
}

// The name runs to its zero byte; the record keeps 19 characters and a zero.
bool readName(const ChunkStream& in, char (&name)[20]) {
    char kept[sizeof name] = {};
    for (std::size_t i = 0;; ++i) {
        int c = std::fgetc(in.stream);
        if (c == EOF) return failTruncated(in);
        if (c == 0) break;
        if (i + 1 < sizeof kept) kept[i] = static_cast<char>(c);
    }
    std::memcpy(name, kept, sizeof name);
    return true;
}

bool readVertices(const ChunkStream& in, obj_type* object) {
    std::uint16_t count = 0;
    if (!readCount(in, "vertex", &count)) return false;
    object->vertex_count = count;
    trace(in, "Number of vertices: %d\n", count);
    for (int i = 0; i < count; ++i) {
        mesh_vertex& v = object->vertices[i];
        if (!readFloat(in, &v.x)) return failTruncated(in);
        trace(in, "Vertices list x: %f\n", static_cast<double>(v.x));
        if (!readFloat(in, &v.y)) return failTruncated(in);
        trace(in, "Vertices list y: %f\n", static_cast<double>(v.y));
        if (!readFloat(in, &v.z)) return failTruncated(in);
        trace(in, "Vertices list z: %f\n", static_cast<double>(v.z));
    }
    return true;
}

bool readCorner(const ChunkStream& in, const char* line, int* corner) {
    std::uint16_t index;
    if (!readU16(in, &index)) return failTruncated(in);
    *corner = index;
    trace(in, line, index);
    if (index >= kMeshCapacity)
        return fail(in, "triangle index %d at or above the capacity of %d", index, kMeshCapacity);
    return true;
}

bool readTriangles(const ChunkStream& in, obj_type* object) {
    std::uint16_t count = 0;
    if (!readCount(in, "triangle", &count)) return false;
    object->polygon_count = count;
    trace(in, "Number of polygons: %d\n", count);
    for (int i = 0; i < count; ++i) {
        mesh_polygon& p = object->polygons[i];
        std::uint16_t flags;
        if (!readCorner(in, "Polygon point a: %d\n", &p.a) ||
            !readCorner(in, "Polygon point b: %d\n", &p.b) ||
            !readCorner(in, "Polygon point c: %d\n", &p.c))
            return false;
        if (!readU16(in, &flags)) return failTruncated(in);
        trace(in, "Face flags: %x\n", flags);
    }
    return true;
}

bool readMapping(const ChunkStream& in, obj_type* object) {
    std::uint16_t count = 0;
    if (!readCount(in, "texture coordinate", &count)) return false;
    for (int i = 0; i < count; ++i) {
        mesh_mapping& m = object->mapping[i];
        if (!readFloat(in, &m.u)) return failTruncated(in);
        trace(in, "Mapping list u: %f\n", static_cast<double>(m.u));
        if (!readFloat(in, &m.v)) return failTruncated(in);
        trace(in, "Mapping list v: %f\n", static_cast<double>(m.v));
    }
    return true;
}

// Acts on one chunk whose header has been read; containers are entered by
// doing nothing, unknown chunks are skipped whole.
bool readChunkBody(const ChunkStream& in, std::uint16_t id, std::uint32_t length,
                   obj_type* object) {
    switch (id) {
    case kMainChunk:
    case kEditorChunk:
    case kTriangleMesh:
        return true;
    case kObjectBlock:
        return readName(in, object->name);
    case kVerticesList:
        return readVertices(in, object);
    case kFacesDescription:
        return readTriangles(in, object);
    case kMappingList:
        return readMapping(in, object);
    default:
        if (std::fseek(in.stream, static_cast<long>(length - kChunkHeaderBytes), SEEK_CUR) != 0)
            return fail(in, "cannot skip chunk 0x%x", id);
        return true;
    }
}

bool walkChunks(const ChunkStream& in, obj_type* object) {
    for (;;) {
        long start = std::ftell(in.stream);
        if (start < 0) return fail(in, "cannot tell the file position");
        if (start >= in.length) return true;
        std::uint16_t id;
        std::uint32_t length;
        if (!readU16(in, &id)) return failTruncated(in);
        trace(in, "ChunkID: %x\n", id);
        if (!readU32(in, &length)) return failTruncated(in);
        trace(in, "ChunkLenght: %x\n", length);
        if (length < kChunkHeaderBytes)
            return fail(in, "chunk 0x%x has length %u, below its 6-byte header", id, length);
        if (start + static_cast<long long>(length) > in.length)
            return fail(in, "chunk 0x%x of length %u runs past the end of the file", id, length);
        if (!readChunkBody(in, id, length, object)) return false;
    }
}

}  // namespace

int read3DSChunks(obj_type* object, FILE* stream, long long length,
                  const char* fileName, FILE* trace) {
    const ChunkStream in{stream, length, fileName, trace};
    // Walk into a copy, so that a malformed file leaves the caller's record as it was.
    std::unique_ptr<obj_type> loaded(new (std::nothrow) obj_type(*object));
    if (!loaded) return fail(in, "out of memory"), 0;
    if (!walkChunks(in, loaded.get())) return 0;
    *object = *loaded;
    return 1;
}

int Load3DS(obj_type* object, char* path) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return 0;
    int result = 0;
    long long length = fileLength(fileno(file));
    if (length < 0)
        std::fprintf(stderr, "3dsloader: %s: not a regular file\n", path);
    else
        result = read3DSChunks(object, file, length, path, stdout);
    std::fclose(file);
    return result;
}
