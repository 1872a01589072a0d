// 3DS trace, chunk walk and rejection of malformed files, on files built here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "3dsloader.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& b, unsigned v) { b.insert(b.end(), {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)}); }
void put32(Bytes& b, std::uint32_t v) { put16(b, v & 0xFFFF), put16(b, v >> 16); }
void putFloat(Bytes& b, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put32(b, bits);
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A chunk whose length field is the true length plus lengthError.
Bytes chunk(unsigned id, const Bytes& body, long lengthError = 0) {
    Bytes out;
    put16(out, id);
    put32(out, static_cast<std::uint32_t>(body.size() + 6 + lengthError));
    return cat({out, body});
}

Bytes vertexList(const std::vector<mesh_vertex>& vertices, unsigned count) {
    Bytes body;
    put16(body, count);
    for (const mesh_vertex& v : vertices) putFloat(body, v.x), putFloat(body, v.y), putFloat(body, v.z);
    return chunk(0x4110, body);
}
Bytes vertexList(const std::vector<mesh_vertex>& v) { return vertexList(v, static_cast<unsigned>(v.size())); }

Bytes faceList(const std::vector<mesh_polygon>& faces, const Bytes& subChunks = {}) {
    Bytes body;
    put16(body, static_cast<unsigned>(faces.size()));
    for (const mesh_polygon& f : faces) put16(body, f.a), put16(body, f.b), put16(body, f.c), put16(body, 7);
    return chunk(0x4120, cat({body, subChunks}));
}

Bytes mappingList(const std::vector<mesh_mapping>& mapping, unsigned count) {
    Bytes body;
    put16(body, count);
    for (const mesh_mapping& m : mapping) putFloat(body, m.u), putFloat(body, m.v);
    return chunk(0x4140, body);
}
Bytes mappingList(const std::vector<mesh_mapping>& m) { return mappingList(m, static_cast<unsigned>(m.size())); }

Bytes objectBlock(const std::string& name, const Bytes& meshBody) {
    Bytes nameBytes(name.begin(), name.end());
    nameBytes.push_back(0);
    return chunk(0x4000, cat({nameBytes, chunk(0x4100, meshBody)}));
}

Bytes meshFile(const Bytes& editorBody) { return chunk(0x4D4D, chunk(0x3D3D, editorBody)); }

const std::vector<mesh_vertex> kTriangle = {{1.5f, -2, 0.25f}, {3, 4, 5}, {-1, 0, 2}};
const std::vector<mesh_mapping> kTriangleMapping = {{0, 0}, {1, 0.5f}, {0.25f, 1}};

Bytes triangleMesh() { return cat({vertexList(kTriangle), faceList({{0, 1, 2}}), mappingList(kTriangleMapping)}); }
Bytes triangleFile() { return meshFile(objectBlock("tri", triangleMesh())); }

std::unique_ptr<obj_type> recordFilledWith(unsigned char byte) {
    std::unique_ptr<obj_type> record(new obj_type);
    std::memset(record.get(), byte, sizeof *record);
    return record;
}

bool sameRecord(const obj_type& a, const obj_type& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Per process: CTest runs the tests of this file in parallel processes.
std::string tempPath(const std::string& name) {
    return testing::TempDir() + "assets_test_" + std::to_string(getpid()) + "_" + name;
}

std::string writeTemp(const Bytes& bytes, const std::string& name) {
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

struct Loaded {
    int result;
    std::string out, err;
};

Loaded loadFile(obj_type* record, std::string path) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = Load3DS(record, &path[0]);
    std::string out = testing::internal::GetCapturedStdout();
    return {result, out, testing::internal::GetCapturedStderr()};
}

Loaded loadBytes(obj_type* record, const Bytes& bytes, const std::string& name = "mesh.3ds") {
    return loadFile(record, writeTemp(bytes, name));
}

// A malformed file: result 0, the record as it was, one line on standard error
// that names the file and mentions the offending value.
void expectRejected(const Bytes& bytes, const std::string& mention) {
    SCOPED_TRACE(mention);
    auto record = recordFilledWith(0x5A), before = recordFilledWith(0x5A);
    const std::string path = writeTemp(bytes, "rejected.3ds");
    const Loaded loaded = loadFile(record.get(), path);
    EXPECT_EQ(loaded.result, 0);
    EXPECT_TRUE(sameRecord(*record, *before));
    EXPECT_EQ(loaded.err.rfind("3dsloader: " + path + ": ", 0), 0u) << loaded.err;
    EXPECT_NE(loaded.err.find(mention), std::string::npos) << loaded.err;
    EXPECT_EQ(std::count(loaded.err.begin(), loaded.err.end(), '\n'), 1) << loaded.err;
}

}  // namespace

TEST(ThreeDSTrace, SmallFileTracesEveryHeaderAndValueInOrder) {
    auto record = recordFilledWith(0);
    const Loaded loaded = loadBytes(record.get(), triangleFile());
    EXPECT_EQ(loaded.result, 1);
    EXPECT_EQ(loaded.err, "");
    EXPECT_EQ(loaded.out,
              "ChunkID: 4d4d\nChunkLenght: 78\n"
              "ChunkID: 3d3d\nChunkLenght: 72\n"
              "ChunkID: 4000\nChunkLenght: 6c\n"
              "ChunkID: 4100\nChunkLenght: 62\n"
              "ChunkID: 4110\nChunkLenght: 2c\n"
              "Number of vertices: 3\n"
              "Vertices list x: 1.500000\nVertices list y: -2.000000\nVertices list z: 0.250000\n"
              "Vertices list x: 3.000000\nVertices list y: 4.000000\nVertices list z: 5.000000\n"
              "Vertices list x: -1.000000\nVertices list y: 0.000000\nVertices list z: 2.000000\n"
              "ChunkID: 4120\nChunkLenght: 10\n"
              "Number of polygons: 1\n"
              "Polygon point a: 0\nPolygon point b: 1\nPolygon point c: 2\nFace flags: 7\n"
              "ChunkID: 4140\nChunkLenght: 20\n"
              "Mapping list u: 0.000000\nMapping list v: 0.000000\n"
              "Mapping list u: 1.000000\nMapping list v: 0.500000\n"
              "Mapping list u: 0.250000\nMapping list v: 1.000000\n");
    EXPECT_STREQ(record->name, "tri");
    EXPECT_EQ(record->vertex_count, 3);
    EXPECT_EQ(record->polygon_count, 1);
    EXPECT_EQ(record->vertices[0].x, 1.5f);
    EXPECT_EQ(record->vertices[2].z, 2.0f);
    EXPECT_EQ(record->polygons[0].c, 2);
    EXPECT_EQ(record->mapping[1].v, 0.5f);
    EXPECT_EQ(record->mapping[2].u, 0.25f);
}

TEST(ThreeDSWalk, UnknownChunksAreSkippedWithOnlyTheirHeaderLines) {
    Bytes version;
    put32(version, 3);
    const Bytes material = chunk(0xAFFF, chunk(0xA000, Bytes{'r', 'e', 'd', 0}));
    const Bytes smoothing = chunk(0x4150, Bytes{1, 0, 0, 0});
    const Bytes file = chunk(0x4D4D, cat({chunk(0x0002, version),
        chunk(0x3D3D, cat({material, objectBlock("box", cat({vertexList(kTriangle),
                                                             faceList({{2, 1, 0}}, smoothing),
                                                             mappingList(kTriangleMapping)}))}))}));
    auto record = recordFilledWith(0);
    const Loaded loaded = loadBytes(record.get(), file);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_NE(loaded.out.find("ChunkID: 2\nChunkLenght: a\nChunkID: 3d3d\n"), std::string::npos);
    EXPECT_NE(loaded.out.find("ChunkID: afff\nChunkLenght: 10\nChunkID: 4000\n"), std::string::npos);
    EXPECT_NE(loaded.out.find("Face flags: 7\nChunkID: 4150\nChunkLenght: a\nChunkID: 4140\n"), std::string::npos);
    EXPECT_EQ(loaded.out.find("a000"), std::string::npos);
    EXPECT_EQ(record->polygons[0].a, 2);
    EXPECT_EQ(record->mapping[2].v, 1.0f);
}

TEST(ThreeDSWalk, WithoutMappingListTextureCoordinatesStayZero) {
    auto record = recordFilledWith(0);
    const Loaded loaded = loadBytes(record.get(), meshFile(objectBlock("bare", cat({vertexList(kTriangle), faceList({{0, 1, 2}})}))));
    EXPECT_EQ(loaded.result, 1);
    EXPECT_EQ(record->vertex_count, 3);
    for (const mesh_mapping& m : record->mapping) ASSERT_TRUE(m.u == 0 && m.v == 0);
}

TEST(ThreeDSWalk, LaterObjectsRefillTheListsFromIndexZero) {
    const std::vector<mesh_vertex> four = {{9, 9, 9}, {8, 8, 8}, {7, 7, 7}, {6, 6, 6}};
    const Bytes file = meshFile(cat({objectBlock("first", cat({vertexList(four), faceList({{0, 1, 2}, {1, 2, 3}})})),
                                     objectBlock("second", triangleMesh())}));
    auto record = recordFilledWith(0);
    EXPECT_EQ(loadBytes(record.get(), file).result, 1);
    EXPECT_STREQ(record->name, "second");
    EXPECT_EQ(record->vertex_count, 3);
    EXPECT_EQ(record->polygon_count, 1);
    EXPECT_EQ(record->vertices[0].x, 1.5f);  // the second object's
    EXPECT_EQ(record->vertices[3].x, 6.0f);  // left from the first
    EXPECT_EQ(record->polygons[1].c, 3);
}

TEST(ThreeDSWalk, EmptyFileLoadsAndLeavesRecordUntouched) {
    auto record = recordFilledWith(0xA5), before = recordFilledWith(0xA5);
    const Loaded loaded = loadBytes(record.get(), {});
    EXPECT_EQ(loaded.result, 1);
    EXPECT_EQ(loaded.out + loaded.err, "");
    EXPECT_TRUE(sameRecord(*record, *before));
}

TEST(ThreeDSWalk, MissingFileFailsSilentlyAndLeavesRecordUntouched) {
    auto record = recordFilledWith(0xA5), before = recordFilledWith(0xA5);
    const Loaded loaded = loadFile(record.get(), tempPath("no_such_file.3ds"));
    EXPECT_EQ(loaded.result, 0);
    EXPECT_EQ(loaded.out + loaded.err, "");
    EXPECT_TRUE(sameRecord(*record, *before));
}

TEST(ThreeDSNames, LongNamesKeep19CharactersAndTheWalkGoesOn) {
    for (const std::string name : {"nineteen_characters", "twenty__characters__", "a_name_of_thirty_characters___"}) {
        SCOPED_TRACE(name);
        auto record = recordFilledWith(0x5A);
        EXPECT_EQ(loadBytes(record.get(), meshFile(objectBlock(name, triangleMesh()))).result, 1);
        EXPECT_EQ(std::string(record->name), name.substr(0, 19));
        EXPECT_EQ(record->polygon_count, 1);
        EXPECT_EQ(record->mapping[2].u, 0.25f);
    }
}

TEST(ThreeDSRejects, CountsAboveCapacity) {
    expectRejected(meshFile(objectBlock("v", vertexList({}, 8001))), "vertex count 8001");
    expectRejected(meshFile(objectBlock("m", mappingList({}, 65535))), "texture coordinate count 65535");
    Bytes faces;
    put16(faces, 8001);
    expectRejected(meshFile(objectBlock("f", chunk(0x4120, faces))), "triangle count 8001");
}

TEST(ThreeDSRejects, TriangleIndexAtCapacity) {
    expectRejected(meshFile(objectBlock("i", faceList({{0, 8000, 1}}))), "triangle index 8000");
}

TEST(ThreeDSRejects, FullCapacityStillLoads) {
    std::vector<mesh_vertex> vertices(kMeshCapacity, mesh_vertex{1, 2, 3});
    std::vector<mesh_polygon> faces(kMeshCapacity, mesh_polygon{0, 7999, 4000});
    std::vector<mesh_mapping> mapping(kMeshCapacity, mesh_mapping{0.5f, 0.5f});
    auto record = recordFilledWith(0);
    const Loaded loaded = loadBytes(record.get(), meshFile(objectBlock("full", cat({vertexList(vertices), faceList(faces), mappingList(mapping)}))));
    EXPECT_EQ(loaded.result, 1);
    EXPECT_EQ(record->vertex_count, kMeshCapacity);
    EXPECT_EQ(record->polygon_count, kMeshCapacity);
    EXPECT_EQ(record->polygons[kMeshCapacity - 1].b, 7999);
}

TEST(ThreeDSRejects, ChunkLengthBelowItsHeader) {
    expectRejected(meshFile(chunk(0xAFFF, {}, -1)), "length 5");
    expectRejected(meshFile(chunk(0xAFFF, {}, -6)), "length 0");
    expectRejected(chunk(0x4D4D, {}, -6), "length 0");
}

TEST(ThreeDSRejects, ChunkLengthPastTheEndOfTheFile) {
    expectRejected(chunk(0x4D4D, chunk(0x3D3D, {}), 1), "past the end");
    expectRejected(meshFile(chunk(0xAFFF, Bytes(4, 0), 0x7FFFFFF0)), "past the end");
}

TEST(ThreeDSRejects, EveryTruncationOfAValidFileIsRejected) {
    Bytes file = triangleFile();
    auto record = recordFilledWith(0x5A), before = recordFilledWith(0x5A);
    for (std::size_t size = 1; size < file.size(); ++size) {
        FILE* stream = fmemopen(file.data(), size, "rb");
        ASSERT_NE(stream, nullptr);
        testing::internal::CaptureStderr();
        const int result = read3DSChunks(record.get(), stream, static_cast<long long>(size), "cut.3ds", nullptr);
        const std::string err = testing::internal::GetCapturedStderr();
        std::fclose(stream);
        ASSERT_EQ(result, 0) << size;
        ASSERT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        ASSERT_TRUE(sameRecord(*record, *before)) << size;
    }
}
