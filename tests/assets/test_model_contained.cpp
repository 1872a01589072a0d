// Models read in the model reader program: real models come back exactly as
// the process itself reads them, warnings included; hostile files (a count
// claiming gigabytes, nesting that overflows the parser's stack, a cut file)
// are refused in one line; the memory and time watches stop a reader; and a
// damaged answer is refused, never read past its end; materials and their
// textures' roles come back as the file gives them.
#include <gtest/gtest.h>

#include <filesystem>
#include <cmath>
#include <fstream>
#include <functional>

#include <opencv2/imgcodecs.hpp>

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
        EXPECT_EQ(m.shading, n.shading);
        EXPECT_TRUE(std::equal(m.specular, m.specular + 3, n.specular));
        EXPECT_TRUE(std::equal(m.emissive, m.emissive + 3, n.emissive));
        EXPECT_EQ(m.shininess, n.shininess);
        EXPECT_EQ(m.metallic, n.metallic);
        EXPECT_EQ(m.roughness, n.roughness);
        EXPECT_EQ(m.normalTexture, n.normalTexture);
        EXPECT_EQ(m.metalRoughnessTexture, n.metalRoughnessTexture);
        EXPECT_EQ(m.emissiveTexture, n.emissiveTexture);
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

namespace {

// Four single-colour pictures beside the models: base, normal map,
// metal-roughness map, emissive map.
void writeRolePictures(const std::string& folder) {
    const char* names[] = {"base.png", "normal.png", "metalrough.png", "glow.png"};
    const cv::Scalar colours[] = {{0, 200, 255}, {255, 128, 128}, {0, 128, 255}, {0, 0, 255}};
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(cv::imwrite(folder + "/" + names[i], cv::Mat(4, 4, CV_8UC3, colours[i])));
}

const ModelMesh& onlyMesh(const Model& model) {
    EXPECT_EQ(model.meshes.size(), 1u);
    return model.meshes.at(0);
}

}  // namespace

TEST(ModelMaterials, GltfFactorsAndTextureRolesSurviveTheReaderProcess) {
    const std::string folder = freshFolder("gltf-material");
    writeRolePictures(folder);
    writeSquareGltfWithMaterial(folder + "/square.gltf",
                                R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0.25,)"
                                R"("roughnessFactor":0.75,"metallicRoughnessTexture":{"index":2}},)"
                                R"("normalTexture":{"index":1},"emissiveTexture":{"index":3},)"
                                R"("emissiveFactor":[0.5,0.25,0]})",
                                {"base.png", "normal.png", "metalrough.png", "glow.png"});
    Model model;
    const Loaded loaded = loadContained(folder + "/square.gltf", &model);
    ASSERT_TRUE(loaded.ok) << loaded.err;
    EXPECT_EQ(loaded.err, "");
    const ModelMesh& mesh = onlyMesh(model);
    EXPECT_EQ(mesh.shading, ModelShading::kMetalRoughness);
    EXPECT_FLOAT_EQ(mesh.metallic, 0.25f);
    EXPECT_FLOAT_EQ(mesh.roughness, 0.75f);
    EXPECT_FLOAT_EQ(mesh.emissive[0], 0.5f);
    EXPECT_FLOAT_EQ(mesh.emissive[1], 0.25f);
    ASSERT_EQ(model.textures.size(), 4u);
    // Each role names its own picture, told apart by its colour (RGBA).
    const int roles[4] = {mesh.texture, mesh.normalTexture, mesh.metalRoughnessTexture, mesh.emissiveTexture};
    const unsigned char red[4] = {255, 128, 255, 255}, blue[4] = {0, 255, 0, 0};
    for (int r = 0; r < 4; ++r) {
        ASSERT_GE(roles[r], 0) << r;
        const ModelTexture& texture = model.textures[static_cast<std::size_t>(roles[r])];
        EXPECT_EQ(texture.rgba[0], red[r]) << r;
        EXPECT_EQ(texture.rgba[2], blue[r]) << r;
    }
}

TEST(ModelMaterials, ObjHighlightAndGlowSurviveTheReaderProcess) {
    const std::string folder = freshFolder("obj-material");
    writeRolePictures(folder);
    writeText(folder + "/square.obj",
              "mtllib square.mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
              "usemtl shiny\nf 1/1 2/2 3/3 4/4\n");
    writeText(folder + "/square.mtl",
              "newmtl shiny\nKd 0.5 0.5 0.5\nKs 0.25 0.5 0.75\nNs 40\nKe 0.1 0.2 0.3\nmap_Kd base.png\n"
              "norm normal.png\nmap_Ke glow.png\n");
    Model model;
    const Loaded loaded = loadContained(folder + "/square.obj", &model);
    ASSERT_TRUE(loaded.ok) << loaded.err;
    const ModelMesh& mesh = onlyMesh(model);
    EXPECT_EQ(mesh.shading, ModelShading::kBlinnPhong);
    EXPECT_FLOAT_EQ(mesh.specular[0], 0.25f);
    EXPECT_FLOAT_EQ(mesh.specular[2], 0.75f);
    EXPECT_FLOAT_EQ(mesh.shininess, 40.0f);
    EXPECT_FLOAT_EQ(mesh.emissive[2], 0.3f);
    EXPECT_GE(mesh.texture, 0);
    EXPECT_GE(mesh.normalTexture, 0);
    EXPECT_GE(mesh.emissiveTexture, 0);
    EXPECT_EQ(mesh.metalRoughnessTexture, -1);
    EXPECT_NE(mesh.normalTexture, mesh.texture);
}

TEST(ModelWire, MaterialsOutOfTheirRangesAreRefused) {
    Model model;
    ModelMesh mesh;
    mesh.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    mesh.indices = {0, 1, 2};
    model.meshes.push_back(mesh);
    Model copy;
    const std::string good = encodeModel(model);
    ASSERT_TRUE(decodeModel(good.data(), good.size(), &copy));
    const std::vector<std::function<void(ModelMesh*)>> faults = {
        [](ModelMesh* m) { m->normalTexture = 0; },  // the model has no textures
        [](ModelMesh* m) { m->emissiveTexture = -2; },
        [](ModelMesh* m) { m->metalRoughnessTexture = 1 << 30; },
        [](ModelMesh* m) { m->roughness = std::nanf(""); },
        [](ModelMesh* m) { m->emissive[1] = INFINITY; },
        [](ModelMesh* m) { m->specular[0] = -0.5f; },
        [](ModelMesh* m) { m->shininess = 1e9f; },
        [](ModelMesh* m) { m->diffuse[0] = std::nanf(""); },
        [](ModelMesh* m) { m->shading = static_cast<ModelShading>(7); },
    };
    for (std::size_t f = 0; f < faults.size(); ++f) {
        Model damaged = model;
        faults[f](&damaged.meshes[0]);
        const std::string bytes = encodeModel(damaged);
        Model out;
        out.path = "kept";
        EXPECT_FALSE(decodeModel(bytes.data(), bytes.size(), &out)) << f;
        EXPECT_EQ(out.path, "kept");
    }
}
