// Model textures in the formats beyond PNG, JPEG and BMP: the Collada duck
// with its TGA, hand-made pictures in each format (files beside the model
// and a picture embedded in a glTF file) decoded upright in their colours,
// HDR made 8-bit, and hostile pictures (sides announced far beyond the
// bound, cut files, empty files) refused with one line, the mesh left in its
// material colour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "model.h"
#include "model_files.h"
#include "model_load.h"
#include "picture_files.h"

namespace fs = std::filesystem;
using namespace model_files;
using namespace picture_files;

namespace {

const fs::path kModels = ASSIMP_MODELS_DIR;

Bytes readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The quadrant picture as the loader should store it: RGBA, bottom row first.
Bytes expectedQuadrants() {
    cv::Mat rgba, flipped;
    cv::cvtColor(quadrantPicture(), rgba, cv::COLOR_BGR2RGBA);
    cv::flip(rgba, flipped, 0);
    return Bytes(flipped.data, flipped.data + flipped.total() * 4);
}

Bytes pngHeader(std::uint32_t width, std::uint32_t height) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (std::uint32_t v : {width, height})
        for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<unsigned char>(v >> shift));
    out.insert(out.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    std::uint32_t crc = 0xffffffffu;         // over the chunk's type and data
    for (std::size_t k = 12; k < out.size(); ++k) {
        crc ^= out[k];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xffffffffu;
    for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<unsigned char>(crc >> shift));
    return out;
}

// Loads a square OBJ whose material names picture (written with bytes),
// expecting the picture refused: one line naming problem, no texture.
void expectRefused(const std::string& folder, const std::string& picture, const Bytes& bytes,
                   const std::string& problem) {
    SCOPED_TRACE(picture);
    writeBytes(folder + "/" + picture, bytes);
    writeSquareObj(folder, "square", picture, cv::Vec3f(0.25f, 0.5f, 1.0f));
    Model model;
    const Loaded loaded = load(folder + "/square.obj", &model);
    ASSERT_TRUE(loaded.ok) << loaded.err;
    EXPECT_EQ(lineCount(loaded.err), 1) << loaded.err;
    EXPECT_NE(loaded.err.find(picture + ": " + problem), std::string::npos) << loaded.err;
    EXPECT_NE(loaded.err.find("drawn in its material colour"), std::string::npos) << loaded.err;
    EXPECT_TRUE(model.textures.empty());
    EXPECT_EQ(model.meshes[0].texture, -1);
    EXPECT_EQ(model.meshes[0].diffuse[2], 1.0f);
}

}  // namespace

TEST(ModelTextureFormats, ColladaDuckWearsItsTgaPicture) {
    Model model;
    const Loaded duck = load(kModels / "Collada/duck.dae", &model);
    ASSERT_TRUE(duck.ok) << duck.err;
    EXPECT_EQ(duck.err, "");
    ASSERT_EQ(model.textures.size(), 1u);
    for (const ModelMesh& mesh : model.meshes) EXPECT_EQ(mesh.texture, 0);
    const ModelTexture& texture = model.textures[0];
    EXPECT_EQ(fs::path(texture.source).filename(), "duckCM.tga");
    // An uncompressed 24-bit TGA stored bottom row first, as the loader keeps
    // it: each texel is the file's blue, green, red turned around.
    const Bytes tga = readBytes(kModels / "Collada/duckCM.tga");
    ASSERT_GE(tga.size(), 18u + 512u * 512u * 3u);  // a footer follows the texels
    ASSERT_EQ(texture.width, 512);
    ASSERT_EQ(texture.height, 512);
    std::size_t wrong = 0;
    for (std::size_t k = 0; k < 512u * 512u; ++k) {
        const unsigned char* file = &tga[18 + 3 * k];
        const unsigned char* rgba = &texture.rgba[4 * k];
        wrong += rgba[0] != file[2] || rgba[1] != file[1] || rgba[2] != file[0] || rgba[3] != 255;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(ModelTextureFormats, EveryFormatDecodesUprightInItsColours) {
    const std::string folder = freshFolder("picture_formats");
    const cv::Mat quadrants = quadrantPicture();
    ASSERT_TRUE(cv::imwrite(folder + "/quadrants.bmp", quadrants));
    const std::vector<std::pair<std::string, Bytes>> pictures = {
        {"bottom_first.tga", makeTga(quadrants, false, false)},
        {"top_first.tga", makeTga(quadrants, false, true)},
        {"runs.tga", makeTga(quadrants, true, false)},
        {"quadrants.psd", makePsd(quadrants)},
        {"quadrants.gif", makeGif(quadrants)},
        {"quadrants.ppm", makePpm(quadrants)},
        {"quadrants.bmp", readBytes(folder + "/quadrants.bmp")},
    };
    const Bytes expected = expectedQuadrants();
    for (const auto& [name, bytes] : pictures) {
        SCOPED_TRACE(name);
        writeBytes(folder + "/" + name, bytes);
        writeSquareObj(folder, "square", name);
        Model model;
        const Loaded loaded = load(folder + "/square.obj", &model);
        ASSERT_TRUE(loaded.ok) << loaded.err;
        EXPECT_EQ(loaded.err, "");
        ASSERT_EQ(model.textures.size(), 1u);
        EXPECT_EQ(model.meshes[0].texture, 0);
        EXPECT_EQ(model.textures[0].width, 64);
        EXPECT_TRUE(model.textures[0].rgba == expected);
    }
}

TEST(ModelTextureFormats, EmbeddedTgaAndPsdPicturesDecodeLikeFiles) {
    const std::string folder = freshFolder("embedded_formats");
    const Bytes expected = expectedQuadrants();
    for (const auto& [mime, bytes] : {std::pair<std::string, Bytes>{"image/x-tga", makeTga(quadrantPicture(), true, true)},
                                      {"image/vnd.adobe.photoshop", makePsd(quadrantPicture())}}) {
        SCOPED_TRACE(mime);
        writeSquareGltfWithImage(folder + "/square.gltf", bytes, mime, cv::Vec3f(0, 0, 0));
        Model model;
        const Loaded loaded = load(folder + "/square.gltf", &model);
        ASSERT_TRUE(loaded.ok) << loaded.err;
        EXPECT_EQ(loaded.err, "");
        ASSERT_EQ(model.textures.size(), 1u);
        EXPECT_EQ(model.textures[0].source, "embedded #0");
        EXPECT_TRUE(model.textures[0].rgba == expected);
    }
}

TEST(ModelTextureFormats, GreyAndHighDynamicRangePicturesBecomeEightBitRgba) {
    const std::string folder = freshFolder("grey_and_hdr");
    writeSquareObj(folder, "square", "unused.png");
    writeBytes(folder + "/grey.pgm", makePgm(cv::Mat(2, 3, CV_8UC1, cv::Scalar(77))));
    Model model;
    ASSERT_TRUE(load(folder + "/square.obj", &model, folder + "/grey.pgm").ok);
    ASSERT_EQ(model.textures.size(), 1u);
    EXPECT_EQ(Bytes(model.textures[0].rgba.begin(), model.textures[0].rgba.begin() + 4), (Bytes{77, 77, 77, 255}));

    // Radiance levels: black stays black, 0.5 is lifted by gamma 2.2, 1 is
    // full white and brighter levels are clamped to it.
    writeBytes(folder + "/levels.hdr", makeHdrRow({0.0f, 0.5f, 1.0f, 4.0f}));
    const Loaded loaded = load(folder + "/square.obj", &model, folder + "/levels.hdr");
    ASSERT_TRUE(loaded.ok) << loaded.err;
    EXPECT_EQ(loaded.err, "");
    ASSERT_EQ(model.textures.size(), 1u);
    ASSERT_EQ(model.textures[0].width, 4);
    const std::vector<unsigned char>& rgba = model.textures[0].rgba;
    const int half = static_cast<int>(std::lround(255.0 * std::pow(0.5, 1.0 / 2.2)));
    EXPECT_EQ(rgba[0], 0);
    EXPECT_NEAR(rgba[4], half, 1);
    EXPECT_EQ(rgba[8], 255);
    EXPECT_EQ(rgba[12], 255);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(rgba[4 * k + 1], rgba[4 * k]) << k;
        EXPECT_EQ(rgba[4 * k + 3], 255) << k;
    }
}

TEST(ModelTextureFaults, HugeAnnouncedSidesAreRefusedBeforeDecoding) {
    const std::string folder = freshFolder("huge_pictures");
    Bytes tga = tgaHeader(65535, 65535);
    tga.resize(tga.size() + 300, 0x40);
    Bytes psd = psdHeader(30000, 30000);
    psd.resize(psd.size() + 300, 0x40);
    const Bytes bigPng = pngHeader(12000, 12000), hugePng = pngHeader(30000, 30000);
    expectRefused(folder, "huge.tga", tga, "65535 x 65535 texels, more than");
    expectRefused(folder, "huge.psd", psd, "30000 x 30000 texels, more than");
    expectRefused(folder, "big.png", bigPng, "12000 x 12000 texels, more than");
    expectRefused(folder, "huge.png", hugePng, "30000 x 30000 texels, more than");

    writeSquareGltfWithImage(folder + "/square.gltf", tga, "image/x-tga", cv::Vec3f(0, 0, 0));
    Model model;
    const Loaded embedded = load(folder + "/square.gltf", &model);
    ASSERT_TRUE(embedded.ok) << embedded.err;
    EXPECT_EQ(lineCount(embedded.err), 1) << embedded.err;
    EXPECT_NE(embedded.err.find("embedded picture: 65535 x 65535 texels, more than"), std::string::npos)
        << embedded.err;
    EXPECT_TRUE(model.textures.empty());
}

TEST(ModelTextureFaults, CutAndEmptyPicturesAreRefusedWithOneLine) {
    const std::string folder = freshFolder("cut_pictures");
    const cv::Mat quadrants = quadrantPicture();
    const Bytes duck = readBytes(kModels / "Collada/duckCM.tga");
    auto cut = [](Bytes bytes, std::size_t keep) {
        bytes.resize(keep);
        return bytes;
    };
    expectRefused(folder, "duck_half.tga", cut(duck, duck.size() / 2), "cut short");
    expectRefused(folder, "duck_one_short.tga", cut(duck, 18 + 512 * 512 * 3 - 1), "cut short");
    const Bytes runs = makeTga(quadrants, true, false), psd = makePsd(quadrants), gif = makeGif(quadrants);
    expectRefused(folder, "runs.tga", cut(runs, runs.size() - 4), "cut short");
    expectRefused(folder, "planes.psd", cut(psd, psd.size() / 2), "cut short");
    expectRefused(folder, "lzw.gif", cut(gif, gif.size() / 2), "cut short");
    expectRefused(folder, "header_only.psd", cut(psd, 10), "cannot be decoded");
    expectRefused(folder, "nothing.tga", {}, "empty picture");
}
