// Models read in the model reader program: real models come back exactly as
// the process itself reads them, warnings included; hostile files (a count
// claiming gigabytes, nesting that overflows the parser's stack, a cut file)
// are refused in one line; the memory and time watches stop a reader; and a
// damaged answer is refused, never read past its end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "model.h"
#include "model_contained.h"
#include "model_files.h"
#include "model_wire.h"

namespace fs = std::filesystem;
using namespace model_files;

namespace {

const fs::path kModels = ASSIMP_MODELS_DIR;
const fs::path kData = TEST_DATA_DIR;

struct Loaded {
    bool ok;
    std::string err;
};

Loaded loadContained(const std::string& path, Model* model, const ModelReadLimits& limits = {}) {
    testing::internal::CaptureStderr();
    const bool ok = loadModelContained(path, "", model, limits);
    return {ok, testing::internal::GetCapturedStderr()};
}

int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

void expectSameModel(const Model& a, const Model& b) {
    ASSERT_EQ(a.meshes.size(), b.meshes.size());
    ASSERT_EQ(a.textures.size(), b.textures.size());
    EXPECT_EQ(a.path, b.path);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(a.boundsMin[k], b.boundsMin[k]);
        EXPECT_EQ(a.boundsMax[k], b.boundsMax[k]);
    }
    for (std::size_t i = 0; i < a.meshes.size(); ++i) {
        const ModelMesh &m = a.meshes[i], &n = b.meshes[i];
        EXPECT_EQ(m.positions, n.positions);
        EXPECT_EQ(m.normals, n.normals);
        EXPECT_EQ(m.texcoords, n.texcoords);
        EXPECT_EQ(m.indices, n.indices);
        EXPECT_TRUE(std::equal(m.diffuse, m.diffuse + 4, n.diffuse));
        EXPECT_EQ(m.texture, n.texture);
        EXPECT_EQ(m.closed, n.closed);
    }
    for (std::size_t i = 0; i < a.textures.size(); ++i) {
        EXPECT_EQ(a.textures[i].width, b.textures[i].width);
        EXPECT_EQ(a.textures[i].height, b.textures[i].height);
        EXPECT_EQ(a.textures[i].rgba, b.textures[i].rgba);
        EXPECT_EQ(a.textures[i].source, b.textures[i].source);
    }
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace

TEST(ContainedModels, RealModelsComeBackAsTheProcessReadsThemWithTheirWarnings) {
    for (const fs::path& file : {kModels / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",
                                 kModels / "Collada/duck.dae", kModels / "OBJ/spider.obj", kModels / "PLY/cube.ply"}) {
        SCOPED_TRACE(file.string());
        Model own, contained;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(loadModel(file.string(), "", &own));
        const std::string ownWarnings = testing::internal::GetCapturedStderr();
        const Loaded loaded = loadContained(file.string(), &contained);
        ASSERT_TRUE(loaded.ok) << loaded.err;
        EXPECT_EQ(loaded.err, ownWarnings);
        expectSameModel(own, contained);
    }
}

TEST(ContainedModels, HostileFilesAreRefusedInOneLine) {
    const std::string folder = freshFolder("contained");
    // A binary PLY whose header claims 900 million vertices and faces.
    writeBytes(folder + "/huge.ply",
               "ply\nformat binary_little_endian 1.0\nelement vertex 900000000\nproperty float x\n"
               "property float y\nproperty float z\nelement face 900000000\n"
               "property list uchar int vertex_indices\nend_header\n" +
                   std::string(16, '\0'));
    // JSON nested deeper than the glTF parser's stack.
    const int depth = 300000;
    writeBytes(folder + "/deep.gltf", "{\"asset\":{\"version\":\"2.0\"},\"extras\":" + std::string(depth, '[') +
                                          std::string(depth, ']') + "}");
    {
        std::ifstream in(kModels / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        writeBytes(folder + "/cut.glb", bytes.substr(0, bytes.size() / 3));
    }
    for (const std::string& path : {(kData / "oom-4k.glb").string(), folder + "/huge.ply", folder + "/deep.gltf",
                                    folder + "/cut.glb", folder + "/missing.glb", folder}) {
        SCOPED_TRACE(path);
        Model model;
        model.path = "kept";
        const Loaded loaded = loadContained(path, &model);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(model.path, "kept");
        EXPECT_EQ(lineCount(loaded.err), 1) << loaded.err;
        EXPECT_EQ(loaded.err.rfind("model: " + path + ": ", 0), 0u) << loaded.err;
    }
}

TEST(ContainedModels, HostileTexturesLeaveTheModelInItsColoursWithOneLine) {
    const std::string folder = freshFolder("contained_textures");
    // A TGA header announcing 65535 x 65535 texels, then a cut duck's TGA.
    std::string huge = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\xff', '\xff', '\xff', '\xff', 24, 0};
    writeBytes(folder + "/huge.tga", huge + std::string(64, '\x40'));
    std::ifstream in(kModels / "Collada/duckCM.tga", std::ios::binary);
    const std::string duck((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    writeBytes(folder + "/cut.tga", duck.substr(0, duck.size() / 3));
    for (const char* picture : {"huge.tga", "cut.tga"}) {
        SCOPED_TRACE(picture);
        writeSquareObj(folder, "square", picture);
        Model model;
        const Loaded loaded = loadContained(folder + "/square.obj", &model);
        ASSERT_TRUE(loaded.ok) << loaded.err;
        EXPECT_EQ(lineCount(loaded.err), 1) << loaded.err;
        EXPECT_NE(loaded.err.find(std::string(picture) + ": "), std::string::npos) << loaded.err;
        EXPECT_TRUE(model.textures.empty());
        EXPECT_EQ(model.meshes[0].texture, -1);
    }
}

TEST(ContainedModels, TheMemoryAndTimeWatchesStopTheReader) {
    const std::string duck = (kModels / "Collada/duck.dae").string();
    Model model;
    ModelReadLimits small;
    small.memoryBytes = 8LL << 20;  // less than the reader's libraries alone
    Loaded loaded = loadContained(duck, &model, small);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.err.find("needs more than 8 MB of memory to read; refused"), std::string::npos) << loaded.err;
    EXPECT_EQ(lineCount(loaded.err), 1) << loaded.err;

    ModelReadLimits hurried;
    hurried.seconds = 0.001;  // less than starting a program takes
    loaded = loadContained(duck, &model, hurried);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.err.find("takes longer than 0.001 s to read; refused"), std::string::npos) << loaded.err;
    EXPECT_TRUE(model.meshes.empty());
}

TEST(ModelWire, EveryCutOrDamagedAnswerIsRefusedWithoutReadingPastIt) {
    Model model;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(loadModel((kModels / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb").string(), "", &model));
    testing::internal::GetCapturedStderr();
    const std::string bytes = encodeModel(model);
    Model copy;
    ASSERT_TRUE(decodeModel(bytes.data(), bytes.size(), &copy));
    expectSameModel(model, copy);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 64) {
        // A copy of just the cut part, so that a read past it is a sanitizer error.
        std::vector<char> part(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
        Model kept;
        kept.path = "kept";
        EXPECT_FALSE(decodeModel(part.data(), part.size(), &kept)) << cut;
        EXPECT_EQ(kept.path, "kept");
    }
    for (std::size_t at = 8; at < std::min<std::size_t>(bytes.size(), 400); ++at) {
        std::string damaged = bytes;
        damaged[at] = char(damaged[at] ^ 0x80);
        Model out;
        if (decodeModel(damaged.data(), damaged.size(), &out)) {
            for (const ModelMesh& mesh : out.meshes)
                for (unsigned index : mesh.indices) EXPECT_LT(index, mesh.positions.size() / 3);
        }
    }
}
