// Models drawn in an offscreen GL context through a known orthographic
// camera and read back: pictures upright on OBJ and glTF squares, a real GLB
// box covering exactly its face with its texture's colours, untextured parts
// lit in their material colour in linear light, highlights that never
// saturate white, normal maps turning the light, the fixed-function way
// when the program does not build, the near face shown under mirroring
// matrices, open surfaces kept, the caller's GL state left as it was.
#include <gtest/gtest.h>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <algorithm>
#include <filesystem>
#include <functional>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "model.h"
#include "model_files.h"
#include "model_gl.h"
#include "offscreen_gl.h"

namespace fs = std::filesystem;
using namespace model_files;

namespace {

const fs::path kModels = ASSIMP_MODELS_DIR;
constexpr int kSide = 128;         // picture, pixels
constexpr double kHalfView = 1.0;  // the view spans [-1, 1] in x and y, model units
const cv::Vec3b kBackground(255, 0, 255);  // red, green, blue
const cv::Vec3b kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255), kWhite(255, 255, 255);

Model loadQuietly(const std::string& path) {
    Model model;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loadModel(path, "", &model)) << path;
    testing::internal::GetCapturedStderr();
    return model;
}

// Full white light from the camera's side, no ambient: a matte surface
// facing the camera shows its own colour.
constexpr ModelLight kFrontLight = {{0, 0, 1}, 1.0f, 0.0f, {1, 1, 1}};

// A camera on +z looking down -z; the caller's own light, which the model
// must ignore, saturating.
void frontCamera() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-kHalfView, kHalfView, -kHalfView, kHalfView, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat full[4] = {1, 1, 1, 1};
    glLightfv(GL_LIGHT0, GL_AMBIENT, full);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, full);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
}

cv::Mat readPicture() {
    cv::Mat bottomUp(kSide, kSide, CV_8UC3), picture;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSide, kSide, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data);
    cv::flip(bottomUp, picture, 0);
    return picture;
}

// The picture, row 0 at the top, red-green-blue; light in eye space.
cv::Mat drawUploaded(const ModelBuffers& buffers, const ModelLight& light) {
    glClearColor(kBackground[0] / 255.0f, kBackground[1] / 255.0f, kBackground[2] / 255.0f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawModel(buffers, light);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    return readPicture();
}

cv::Mat draw(const Model& model, ModelCulling culling = ModelCulling::kClosedMeshes,
             const std::function<void()>& turn = [] {}, const ModelLight& light = kFrontLight) {
    frontCamera();
    turn();
    ModelBuffers buffers;
    EXPECT_TRUE(uploadModel(model, &buffers));
    buffers.culling = culling;
    const cv::Mat picture = drawUploaded(buffers, light);
    releaseModel(&buffers);
    return picture;
}

cv::Point pixelAt(double x, double y) {
    return {static_cast<int>((x + kHalfView) / (2 * kHalfView) * kSide),
            static_cast<int>((kHalfView - y) / (2 * kHalfView) * kSide)};
}

cv::Point2d modelPointOf(int column, int row) {
    return {(column + 0.5) / kSide * 2 * kHalfView - kHalfView, kHalfView - (row + 0.5) / kSide * 2 * kHalfView};
}

void expectColour(const cv::Mat& picture, double x, double y, cv::Vec3b colour, int tolerance = 2) {
    const cv::Vec3b seen = picture.at<cv::Vec3b>(pixelAt(x, y));
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(seen[k], colour[k], tolerance) << "at " << x << ", " << y << ": " << seen;
}

// The colour the texture puts at model point p of the face z = 0.5, by the
// record's triangles and texture coordinates, from the picture file itself
// (row 0 at the top, so v counts from the last row), repeated as GL_REPEAT
// does; upsideDown: as if the picture were stored the other way up.
bool referenceColour(const ModelMesh& mesh, const cv::Mat& picture, cv::Point2d p, bool upsideDown, cv::Vec3b* colour) {
    for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
        cv::Point2d corner[3], uv[3];
        bool onFace = true;
        for (int k = 0; k < 3; ++k) {
            const unsigned i = mesh.indices[t + k];
            onFace = onFace && std::abs(mesh.positions[3 * i + 2] - 0.5f) < 1e-5f;
            corner[k] = {mesh.positions[3 * i], mesh.positions[3 * i + 1]};
            uv[k] = {mesh.texcoords[2 * i], mesh.texcoords[2 * i + 1]};
        }
        const cv::Point2d e1 = corner[1] - corner[0], e2 = corner[2] - corner[0], d = p - corner[0];
        const double area = e1.cross(e2), b1 = d.cross(e2) / area, b2 = e1.cross(d) / area;
        if (!onFace || b1 < 0 || b2 < 0 || b1 + b2 > 1) continue;
        const cv::Point2d at = uv[0] + b1 * (uv[1] - uv[0]) + b2 * (uv[2] - uv[0]);
        const double u = at.x - std::floor(at.x), v = at.y - std::floor(at.y);  // the texture repeats
        const double fromTop = upsideDown ? v : 1.0 - v;
        const int column = std::min(picture.cols - 1, static_cast<int>(u * picture.cols));
        const int row = std::min(picture.rows - 1, static_cast<int>(fromTop * picture.rows));
        const cv::Vec3b bgr = picture.at<cv::Vec3b>(row, column);
        *colour = cv::Vec3b(bgr[2], bgr[1], bgr[0]);
        return true;
    }
    return false;
}

}  // namespace

TEST(ModelPicture, ObjAndGltfSquaresShowTheirPictureUpright) {
    const std::string folder = freshFolder("upright");
    ASSERT_TRUE(cv::imwrite(folder + "/quadrants.png", quadrantPicture()));
    writeSquareObj(folder, "square", "quadrants.png");
    writeSquareGltf(folder + "/square.gltf", quadrantPicture(), cv::Vec3f(0, 0, 0));
    for (const char* name : {"square.obj", "square.gltf"}) {
        SCOPED_TRACE(name);
        // glTF's matte surfaces keep a faint highlight, bright in sRGB's dark end.
        const cv::Mat picture = draw(loadQuietly(folder + "/" + name));
        expectColour(picture, -0.5, 0.5, kRed, 32);
        expectColour(picture, 0.5, 0.5, kGreen, 32);
        expectColour(picture, -0.5, -0.5, kBlue, 32);
        expectColour(picture, 0.5, -0.5, kWhite, 2);
    }
}

TEST(ModelPicture, RealGlbBoxCoversItsFaceAndShowsItsTexture) {
    const Model box = loadQuietly((kModels / "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb").string());
    ASSERT_EQ(box.meshes.size(), 1u);
    const cv::Mat logo = cv::imread((kModels / "glTF2/BoxTextured-glTF/CesiumLogoFlat.png").string());
    const cv::Mat picture = draw(box);
    constexpr double kEdgeMargin = 0.03;  // model units, about two pixels
    int misplaced = 0, compared = 0;
    double difference = 0, differenceUpsideDown = 0;
    for (int row = 0; row < kSide; ++row)
        for (int column = 0; column < kSide; ++column) {
            const cv::Point2d p = modelPointOf(column, row);
            const double distance = std::max(std::abs(p.x), std::abs(p.y));  // 0.5 on the face's edge
            const cv::Vec3b seen = picture.at<cv::Vec3b>(row, column);
            if (distance < 0.5 - kEdgeMargin) misplaced += seen == kBackground;
            if (distance > 0.5 + kEdgeMargin) misplaced += seen != kBackground;
            cv::Vec3b expected, upsideDown;
            if (distance > 0.5 - kEdgeMargin || !referenceColour(box.meshes[0], logo, p, false, &expected) ||
                !referenceColour(box.meshes[0], logo, p, true, &upsideDown))
                continue;
            difference += cv::norm(seen, expected, cv::NORM_L1) / 3;
            differenceUpsideDown += cv::norm(seen, upsideDown, cv::NORM_L1) / 3;
            ++compared;
        }
    EXPECT_EQ(misplaced, 0);
    ASSERT_GT(compared, kSide * kSide / 8);
    EXPECT_LT(difference / compared, 12.0);  // texture filtering aside, the picture itself
    EXPECT_GT(differenceUpsideDown / compared, 3 * difference / compared);
}

TEST(ModelShading, UntexturedPartsAreLitInTheirMaterialColourInLinearLight) {
    // Its normals are unusable and computed again; base colour 0.8, 0, 0, linear as glTF has it.
    const Model box = loadQuietly((kModels / "glTF2/BoxBadNormals-glTF-Binary/BoxBadNormals.glb").string());
    const cv::Vec3b red = draw(box).at<cv::Vec3b>(pixelAt(0, 0));
    EXPECT_GT(red[0], 150);
    EXPECT_LT(red[1], 60);

    const std::string folder = freshFolder("lit");
    writeSquareObj(folder, "square", "missing.png", cv::Vec3f(0.0f, 0.5f, 1.0f));
    const Model square = loadQuietly(folder + "/square.obj");
    expectColour(draw(square), 0, 0, cv::Vec3b(0, 128, 255));
    // Turned by 60 degrees, half the light: half the linear colour, which
    // sRGB shows as 93 and 188, not 64 and 128.
    expectColour(draw(square, ModelCulling::kClosedMeshes, [] { glRotatef(60, 0, 1, 0); }), 0, 0,
                 cv::Vec3b(0, 93, 188));
    // The light's colour gain tints it.
    const ModelLight greenish = {{0, 0, 1}, 1.0f, 0.0f, {0.0f, 1.0f, 0.0f}};
    expectColour(draw(square, ModelCulling::kClosedMeshes, [] {}, greenish), 0, 0, cv::Vec3b(0, 128, 0));
}

TEST(ModelShading, HighlightsNeverSaturateWhiteAndTexturesModulate) {
    const std::string folder = freshFolder("shiny");
    writeText(folder + "/square.obj", "mtllib square.mtl\nv -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
                                      "usemtl shiny\nf 1 2 3 4\n");
    writeText(folder + "/square.mtl", "newmtl shiny\nKd 1 1 1\nKs 1 1 1\nNs 20\n");
    const ModelLight viewersDefault = {{0, 0, 1}, 0.65f, 0.2f, {1, 1, 1}};
    const cv::Vec3b white = draw(loadQuietly(folder + "/square.obj"), ModelCulling::kNone, [] {}, viewersDefault)
                                .at<cv::Vec3b>(pixelAt(0, 0));
    for (int k = 0; k < 3; ++k) {
        EXPECT_LT(white[k], 255);
        EXPECT_GT(white[k], 235);  // 0.85 of diffuse light, and some highlight
    }
    // Half the light on the picture's white quadrant: darker than the texture.
    const std::string pictures = freshFolder("modulated");
    ASSERT_TRUE(cv::imwrite(pictures + "/quadrants.png", quadrantPicture()));
    writeSquareObj(pictures, "square", "quadrants.png");
    const ModelLight half = {{0, 0, 1}, 0.5f, 0.0f, {1, 1, 1}};
    expectColour(draw(loadQuietly(pictures + "/square.obj"), ModelCulling::kNone, [] {}, half), 0.5, -0.5,
                 cv::Vec3b(188, 188, 188));
}

TEST(ModelShading, ANormalMapTurnsTheLight) {
    // A normal map leaning every normal towards +u (the square's +x), lit from +x.
    const std::string folder = freshFolder("normal-map");
    ASSERT_TRUE(cv::imwrite(folder + "/white.png", cv::Mat(4, 4, CV_8UC3, cv::Scalar(255, 255, 255))));
    ASSERT_TRUE(cv::imwrite(folder + "/lean.png", cv::Mat(4, 4, CV_8UC3, cv::Scalar(218, 128, 218))));  // BGR
    const std::string matte = R"("pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0})";
    writeSquareGltfWithMaterial(folder + "/flat.gltf", "{" + matte + "}", {"white.png"});
    writeSquareGltfWithMaterial(folder + "/leaning.gltf", "{" + matte + R"(,"normalTexture":{"index":1}})",
                                {"white.png", "lean.png"});
    const ModelLight fromRight = {{0.866f, 0, 0.5f}, 1.0f, 0.0f, {1, 1, 1}};
    const ModelLight fromLeft = {{-0.866f, 0, 0.5f}, 1.0f, 0.0f, {1, 1, 1}};
    const Model flat = loadQuietly(folder + "/flat.gltf"), leaning = loadQuietly(folder + "/leaning.gltf");
    const int flatRight = draw(flat, ModelCulling::kNone, [] {}, fromRight).at<cv::Vec3b>(pixelAt(0, 0))[1];
    const int leaningRight = draw(leaning, ModelCulling::kNone, [] {}, fromRight).at<cv::Vec3b>(pixelAt(0, 0))[1];
    const int leaningLeft = draw(leaning, ModelCulling::kNone, [] {}, fromLeft).at<cv::Vec3b>(pixelAt(0, 0))[1];
    EXPECT_GT(leaningRight, flatRight + 20);
    EXPECT_LT(leaningLeft, flatRight - 20);
    // The same under a mirroring projection (the picture flipped, the lean kept).
    const int mirroredRight =
        draw(leaning, ModelCulling::kNone, [] { glMatrixMode(GL_PROJECTION); glScalef(1, -1, 1); glMatrixMode(GL_MODELVIEW); },
             fromRight).at<cv::Vec3b>(pixelAt(0, 0))[1];
    EXPECT_NEAR(mirroredRight, leaningRight, 3);
}

TEST(ModelShading, ABrokenProgramGivesOneLineAndALitFixedFunctionModel) {
    const std::string folder = freshFolder("fallback");
    writeSquareObj(folder, "square", "", cv::Vec3f(1, 1, 1));
    const Model square = loadQuietly(folder + "/square.obj");
    const ModelShaderSources broken = {modelShaderSources().vertex, "void main() { this is not GLSL }"};
    frontCamera();
    ModelBuffers buffers;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(uploadModel(square, &buffers, broken));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("shading: ", 0), 0u) << err;
    EXPECT_NE(err.find("; models drawn fixed-function\n"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(buffers.programs.empty());
    const cv::Vec3b facing = drawUploaded(buffers, {{0, 0, 1}, 0.65f, 0.2f, {1, 1, 1}}).at<cv::Vec3b>(pixelAt(0, 0));
    const cv::Vec3b slanting = drawUploaded(buffers, {{0.8f, 0, 0.6f}, 0.65f, 0.2f, {1, 1, 1}}).at<cv::Vec3b>(pixelAt(0, 0));
    const cv::Vec3b unlit = drawUploaded(buffers, {{0, 0, -1}, 0.65f, 0.2f, {1, 1, 1}}).at<cv::Vec3b>(pixelAt(0, 0));
    EXPECT_NEAR(facing[0], 0.85 * 255, 3);    // the light's own intensity and ambient, not the caller's
    EXPECT_LT(slanting[0], facing[0] - 20);
    EXPECT_NEAR(unlit[0], 0.2 * 255, 3);      // the ambient keeps it from black
    // The caller's light and lighting as they were.
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    GLfloat callersAmbient[4];
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, callersAmbient);
    EXPECT_EQ(callersAmbient[0], 1.0f);
    releaseModel(&buffers);
}

TEST(ModelCulling, TheNearFaceShowsUnderMirroringMatrices) {
    const std::string folder = freshFolder("mirrors");
    writeCubeObj(folder, "cube", {false, false, true});  // +z red, -z green; closed as a whole
    const Model cube = loadQuietly(folder + "/cube.obj");
    auto scaled = [](GLenum matrix, float x, float y) {
        return [=] {
            glMatrixMode(matrix);
            glScalef(x, y, 1);
            glMatrixMode(GL_MODELVIEW);
            glScalef(0.5f, 0.5f, 0.5f);
        };
    };
    for (const auto& turn : {scaled(GL_MODELVIEW, 1, 1), scaled(GL_MODELVIEW, -1, 1), scaled(GL_PROJECTION, 1, -1)}) {
        const cv::Mat picture = draw(cube, ModelCulling::kAllMeshes, turn);
        expectColour(picture, 0, 0, kRed);
        expectColour(picture, 0.9, 0.9, kBackground);
    }
    // Both mirrors at once, as the viewer's board frame has them.
    auto both = [&] {
        scaled(GL_PROJECTION, 1, -1)();
        glScalef(1, 1, -1);
    };
    expectColour(draw(cube, ModelCulling::kAllMeshes, both), 0, 0, kGreen);  // z turned: -z faces the camera
}

TEST(ModelCulling, OpenSurfacesSeenFromBehindStayUnlessEveryMeshIsCulled) {
    const std::string folder = freshFolder("open");
    writeSquareObj(folder, "square", "", cv::Vec3f(1, 1, 1));
    const Model square = loadQuietly(folder + "/square.obj");
    auto fromBehind = [] { glRotatef(180, 0, 1, 0); };
    expectColour(draw(square, ModelCulling::kClosedMeshes, fromBehind), 0, 0, kWhite);  // two-sided light
    expectColour(draw(square, ModelCulling::kNone, fromBehind), 0, 0, kWhite);
    expectColour(draw(square, ModelCulling::kAllMeshes, fromBehind), 0, 0, kBackground);
}

TEST(ModelGLState, DrawingLeavesTheCallersStateAndReleaseFreesTheNames) {
    const Model spider = loadQuietly((kModels / "OBJ/spider.obj").string());
    const Model engine = loadQuietly((kModels / "glTF2/BoxBadNormals-glTF-Binary/BoxBadNormals.glb").string());
    GLuint callersTexture = 0;
    glGenTextures(1, &callersTexture);
    glBindTexture(GL_TEXTURE_2D, callersTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glFrontFace(GL_CW);
    glColor4f(0.25f, 0.5f, 0.75f, 1.0f);
    ModelBuffers drawn[2];
    ASSERT_TRUE(uploadModel(spider, &drawn[0]));
    ASSERT_TRUE(uploadModel(engine, &drawn[1]));
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, callersTexture);
    glActiveTexture(GL_TEXTURE0);
    drawModel(drawn[0], kFrontLight);
    drawModel(drawn[1], kFrontLight);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);  // as a shadow map's pass
    drawModel(drawn[0], kFrontLight);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    GLint value = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &value);
    EXPECT_EQ(value, 0);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &value);
    EXPECT_EQ(value, GL_TEXTURE0);
    glActiveTexture(GL_TEXTURE1);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(static_cast<GLuint>(value), callersTexture);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(static_cast<GLuint>(value), callersTexture);
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &value);
    EXPECT_EQ(value, GL_MODULATE);
    glGetIntegerv(GL_FRONT_FACE, &value);
    EXPECT_EQ(value, GL_CW);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(value, 0);
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_COLOR_MATERIAL));
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[2], 0.75f);

    const ModelBuffers kept = drawn[0];
    for (ModelBuffers& buffers : drawn) releaseModel(&buffers);
    EXPECT_TRUE(drawn[0].meshes.empty());
    for (const ModelDrawMesh& mesh : kept.meshes) EXPECT_FALSE(glIsBuffer(mesh.vertexBuffer));
    for (GLuint texture : kept.textures) EXPECT_FALSE(glIsTexture(texture));
    EXPECT_TRUE(glIsTexture(callersTexture));
    glDeleteTextures(1, &callersTexture);
    glDisable(GL_TEXTURE_2D);
    glFrontFace(GL_CCW);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ModelGLState, TexturesLargerThanGLTakesLeaveTheirMeshesInColour) {
    Model model;
    model.path = "huge.obj";
    ModelMesh mesh;
    mesh.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    mesh.texcoords = {0, 0, 1, 0, 0, 1};
    mesh.indices = {0, 1, 2};
    mesh.texture = 0;
    model.meshes.push_back(mesh);
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    ModelTexture texture;
    texture.width = maxSide + 1;
    texture.height = 1;
    texture.rgba.assign(static_cast<std::size_t>(texture.width) * 4, 255);
    model.textures.push_back(texture);
    ModelBuffers buffers;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(uploadModel(model, &buffers));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("model: huge.obj: texture", 0), 0u) << err;
    EXPECT_EQ(buffers.meshes[0].texture, 0u);
    EXPECT_TRUE(buffers.textures.empty());
    releaseModel(&buffers);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    OffscreenGL gl;
    if (!createOffscreenGL(kSide, kSide, &gl)) return 1;
    const int result = RUN_ALL_TESTS();
    destroyOffscreenGL(&gl);
    return result;
}
