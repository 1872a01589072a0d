// Scene files and models in common formats: the files as read (the built-in
// scene's own file, JSON, every kind of bad file), and through arrender on
// the sample video: the default scene draws exactly the built-in picture,
// occluders come from the file, a bad file stops before any output, and a
// model from Debian's Assimp test files stands where the board is.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "scene.h"
#include "viewer_harness.h"

namespace {

const std::string kRenderer = ARRENDER_PATH;
const std::string kBinFolder = kRenderer.substr(0, kRenderer.find_last_of('/'));
const std::string kScenes = kBinFolder + "/scenes";
const std::string kSampleVideo = SAMPLE_VIDEO;
const std::string kSampleTruth = SAMPLE_TRUTH;
const std::string kHiddenShipVideo = HIDDEN_SHIP_VIDEO;  // ends with a building before the ship
const std::string kHiddenShipTruth = HIDDEN_SHIP_TRUTH;
const std::string kAssimpModels = "/usr/share/assimp/models";

std::string scratchFolder() {
    char folder[] = "/tmp/scene-test-XXXXXX";
    return mkdtemp(folder) ? folder : "";
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

bool exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

int render(const std::vector<std::string>& arguments, ChildProcess* child) {
    std::vector<std::string> argv = {kRenderer};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    *child = launch(argv, "", kBinFolder);
    return waitForExit(child, 300);
}

bool samePicture(const std::string& a, const std::string& b) {
    cv::Mat x = cv::imread(a), y = cv::imread(b);
    return !x.empty() && x.size() == y.size() && cv::norm(x, y, cv::NORM_INF) == 0;
}

// The scene of default.yml with other text in place of its occluders.
std::string defaultSceneWithOccluders(const std::string& occluders) {
    std::ifstream in(kScenes + "/default.yml");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t from = text.find("occluders:"), to = text.find("model:");
    return text.substr(0, from) + occluders + "\n" + text.substr(to);
}

}  // namespace

TEST(SceneFile, DefaultFileIsTheBuiltInScene) {
    // As the viewer reads it: from its folder, where the ship's files lie.
    ASSERT_EQ(chdir(kBinFolder.c_str()), 0);
    Scene read;
    std::string error;
    ASSERT_TRUE(readSceneFile(kScenes + "/default.yml", &read, &error)) << error;
    Scene builtIn = builtInScene();
    ASSERT_EQ(read.occluders.size(), builtIn.occluders.size());
    for (size_t b = 0; b < read.occluders.size(); ++b) EXPECT_EQ(read.occluders[b].corners, builtIn.occluders[b].corners);
    EXPECT_EQ(read.model.scale, builtIn.model.scale);
    EXPECT_EQ(read.model.orientation, builtIn.model.orientation);
    EXPECT_EQ(read.model.position, builtIn.model.position);
    EXPECT_EQ(read.model.heading, builtIn.model.heading);
    EXPECT_EQ(read.model.rise, builtIn.model.rise);
    EXPECT_EQ(read.model.turn, builtIn.model.turn);
    EXPECT_EQ(read.model.advance, builtIn.model.advance);
    EXPECT_TRUE(read.axes);
    ASSERT_TRUE(readSceneFile(kScenes + "/no-buildings.yml", &read, &error)) << error;
    EXPECT_TRUE(read.occluders.empty());
}

TEST(SceneFile, JsonAndRelativePathsFromTheScenesFolder) {
    std::string folder = scratchFolder();
    writeFile(folder + "/chair.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    writeFile(folder + "/room.json",
              R"({"occluders": [{"corners": [[0,0,0],[0,1,0],[0,1,1],[0,0,1],[1,0,0],[1,1,0],[1,1,1],[1,0,1]]}],
                  "model": {"file": "chair.obj", "scale": 0.5, "position": [1, 0, 2], "steps": {"turn": 45}},
                  "axes": 0})");
    Scene scene;
    std::string error;
    ASSERT_TRUE(readSceneFile(folder + "/room.json", &scene, &error)) << error;
    ASSERT_EQ(scene.occluders.size(), 1u);
    EXPECT_EQ(scene.occluders[0].corners[6], (ScenePoint{1, 1, 1}));
    EXPECT_EQ(scene.model.file, folder + "/chair.obj");
    EXPECT_EQ(scene.model.scale, 0.5);
    EXPECT_EQ(scene.model.turn, 45);
    EXPECT_EQ(scene.model.orientation, (ScenePoint{0, 0, 0}));
    EXPECT_FALSE(scene.axes);
    std::system(("rm -rf " + folder).c_str());
}

TEST(SceneFile, LightAndShadows) {
    std::string folder = scratchFolder();
    Scene scene;
    std::string error;
    writeFile(folder + "/plain.yml", "axes: 0\n");
    ASSERT_TRUE(readSceneFile(folder + "/plain.yml", &scene, &error)) << error;
    EXPECT_FALSE(scene.shadows.cast);
    EXPECT_DOUBLE_EQ(scene.shadows.strength, kDefaultShadowStrength);
    EXPECT_DOUBLE_EQ(scene.light.intensity, kDefaultSceneLight.intensity);
    EXPECT_LE(scene.light.intensity + scene.light.ambient, 1.0) << "a white surface saturates by default";

    writeFile(folder + "/lit.yml", "light: {direction: [0, 2, 0], intensity: 0.5, ambient: 0.1}\nshadows: 1\n");
    ASSERT_TRUE(readSceneFile(folder + "/lit.yml", &scene, &error)) << error;
    EXPECT_EQ(scene.light.direction, (ScenePoint{0, 1, 0})) << "made unit length";
    EXPECT_DOUBLE_EQ(scene.light.intensity, 0.5);
    EXPECT_DOUBLE_EQ(scene.light.ambient, 0.1);
    EXPECT_TRUE(scene.shadows.cast);

    writeFile(folder + "/soft.yml", "shadows: {strength: 0.3}\n");
    ASSERT_TRUE(readSceneFile(folder + "/soft.yml", &scene, &error)) << error;
    EXPECT_TRUE(scene.shadows.cast) << "a shadows map without cast casts them";
    EXPECT_DOUBLE_EQ(scene.shadows.strength, 0.3);
    writeFile(folder + "/off.yml", "shadows: {cast: false, strength: 0.3}\n");
    ASSERT_TRUE(readSceneFile(folder + "/off.yml", &scene, &error)) << error;
    EXPECT_FALSE(scene.shadows.cast);
    std::system(("rm -rf " + folder).c_str());
}

TEST(SceneFile, BadFilesNameTheFileAndTheField) {
    std::string folder = scratchFolder();
    writeFile(folder + "/ship.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    struct Case {
        const char* text;
        const char* field;  // expected in the message
    } cases[] = {
        {"occluders: []\nmodel: {file: ship.obj}\nlights: 2\n", "lights"},
        {"model: {file: ship.obj, scale: big}\n", "model.scale"},
        {"model: {file: ship.obj, scale: -1}\n", "model.scale"},
        {"model: {file: ship.obj, colour: red}\n", "model.colour"},
        {"model: {file: nowhere.obj}\n", "model.file"},
        {"model: {file: ship.obj, texture: nowhere.png}\n", "model.texture"},
        {"occluders: [{corners: [[0,0,0],[0,1,0],[0,1,1]]}]\nmodel: {file: ship.obj}\n", "occluders[0].corners"},
        {"occluders: [{corners: [[0,0,0],[0,1,0],[0,1,1],[0,0,1],[1,0,0],[1,1,0],[1,1,1],[1,0]]}]\n",
         "occluders[0].corners[7]"},
        {"model: {file: ship.obj, position: [1, 2]}\n", "model.position"},
        {"model: {file: ship.obj, steps: {jump: 3}}\n", "model.steps.jump"},
        {"axes: maybe\n", "axes"},
        {"model: [unclosed\n", "not YAML"},
        {"- just\n- a list\n", "the file"},
        {"light: {direction: [0, 0, 0]}\n", "light.direction"},
        {"light: {direction: [0, -1, 0]}\n", "light.direction"},
        {"light: {intensity: 1.5}\n", "light.intensity"},
        {"light: {ambient: -0.1}\n", "light.ambient"},
        {"light: {colour: [1, 1, 1]}\n", "light.colour"},
        {"shadows: 2\n", "shadows"},
        {"shadows: {strength: 3}\n", "shadows.strength"},
        {"shadows: {cast: 1, softness: 2}\n", "shadows.softness"},
    };
    for (const Case& c : cases) {
        writeFile(folder + "/bad.yml", c.text);
        Scene scene = builtInScene();
        std::string error;
        EXPECT_FALSE(readSceneFile(folder + "/bad.yml", &scene, &error)) << c.text;
        EXPECT_EQ(error.find(folder + "/bad.yml"), 0u) << error;
        EXPECT_NE(error.find(c.field), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(scene.occluders.size(), 2u) << "a bad file changed the scene";
    }
    // Files no scene is: nested past any parser's stack, far too large, a
    // folder, a device, missing.
    writeFile(folder + "/deep.yml", "model: " + std::string(200000, '[') + "\n");
    writeFile(folder + "/large.yml", "# " + std::string(3 << 20, 'x') + "\n");
    writeFile(folder + "/indented.yml", "model:\n" + std::string(100000, ' ') + "file: a.obj\n");
    std::pair<std::string, const char*> strangers[] = {
        {folder + "/deep.yml", "nested too deeply"}, {folder + "/indented.yml", "nested too deeply"},
        {folder + "/large.yml", "larger than 1 MB"},   {folder, "is a folder"},
        {"/dev/zero", "is not a regular file"},         {folder + "/missing.yml", "cannot read"}};
    for (const auto& [path, said] : strangers) {
        std::string error;
        Scene scene;
        EXPECT_FALSE(readSceneFile(path, &scene, &error)) << path;
        EXPECT_NE(error.find(said), std::string::npos) << error;
    }
    std::system(("rm -rf " + folder).c_str());
}

TEST(SceneRendering, DefaultSceneDrawsTheBuiltInPicture) {
    std::string folder = scratchFolder();
    ChildProcess child;
    ASSERT_EQ(render({kHiddenShipVideo, "--snapshot", "90:" + folder + "/plain.png", "--keys", "60:O,60:S"}, &child), 0);
    ASSERT_EQ(render({kHiddenShipVideo, "--scene", kScenes + "/default.yml", "--snapshot",
                      "90:" + folder + "/scene.png", "--keys", "60:O,60:S"},
                     &child),
              0)
        << readFile(child.stderrPath);
    EXPECT_TRUE(samePicture(folder + "/plain.png", folder + "/scene.png"));
    std::system(("rm -rf " + folder).c_str());
}

TEST(SceneRendering, OccludersComeFromTheSceneFile) {
    // At the clip's end the first building stands before the ship's place:
    // with the default scene the ship is hidden, without occluders it shows.
    std::string folder = scratchFolder();
    writeFile(folder + "/open.yml", defaultSceneWithOccluders("occluders: []"));
    ChildProcess child;
    ASSERT_EQ(render({kHiddenShipVideo, "--scene", kScenes + "/default.yml", "--snapshot", "last:" + folder + "/hidden.png"},
                     &child),
              0);
    ASSERT_EQ(render({kHiddenShipVideo, "--scene", folder + "/open.yml", "--snapshot", "last:" + folder + "/open.png"},
                     &child),
              0)
        << readFile(child.stderrPath);
    int frames = 0;
    cv::Mat video = lastVideoFrame(kHiddenShipVideo, &frames);
    int hiddenPixels = cv::countNonZero(overlayMask(cv::imread(folder + "/hidden.png"), video));
    int openPixels = cv::countNonZero(overlayMask(cv::imread(folder + "/open.png"), video));
    EXPECT_GT(openPixels, hiddenPixels + 50);
    std::system(("rm -rf " + folder).c_str());
}

TEST(SceneRendering, BadSceneOrModelStopsBeforeAnyOutput) {
    std::string folder = scratchFolder();
    writeFile(folder + "/bad.yml", "model: {file: spaceship.3DS, texture: spaceshiptexture.bmp, scale: 0}\n");
    writeFile(folder + "/cut.glb", "glTF\x02\0\0\0garbage");
    struct Case {
        std::vector<std::string> options;
        const char* message;
    } cases[] = {
        {{"--scene", folder + "/bad.yml"}, "model.scale"},
        {{"--scene", folder + "/none.yml"}, "none.yml"},
        {{"--model", folder + "/cut.glb"}, "cut.glb"},
        {{"--model", folder + "/missing.obj"}, "missing.obj"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {kSampleVideo, "-o", folder + "/out.avi", "--poses", folder + "/p.csv"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ChildProcess child;
        EXPECT_EQ(render(arguments, &child), 1) << c.message;
        std::string error = readFile(child.stderrPath);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
        EXPECT_FALSE(exists(folder + "/out.avi"));
        EXPECT_FALSE(exists(folder + "/p.csv"));
    }
    std::system(("rm -rf " + folder).c_str());
}

// A model stands over the board's centre, 3 squares across: its pixels lie
// where the box of 3 squares around the centre projects, and nowhere else.
TEST(SceneRendering, ModelsInCommonFormatsStandOnTheBoard) {
    std::vector<TruthFrame> truth = readGroundTruth(kSampleTruth);
    const int frame = 60;
    cv::Mat video = videoFrameAt(kSampleVideo, frame);
    ASSERT_FALSE(video.empty());
    // The board's centre (3.5, 2.5) in world X, Y; up is world -Z.
    std::vector<cv::Point2f> corners;
    for (double X : {2.0, 5.0})
        for (double Y : {1.0, 4.0})
            for (double Z : {0.0, -3.0}) corners.push_back(projectToPixel(truth[frame], X, Y, Z, video.size()));
    cv::Rect box = cv::boundingRect(corners);
    std::string folder = scratchFolder();
    for (const char* model : {"/glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",
                                     "/glTF2/BoxTextured-glTF/BoxTextured.gltf", "/OBJ/spider.obj",
                                     "/3DS/cube_with_diffuse_texture.3DS"}) {
        ChildProcess child;
        ASSERT_EQ(render({kSampleVideo, "--model", kAssimpModels + model, "--frames", std::to_string(frame + 1),
                          "--snapshot", std::to_string(frame) + ":" + folder + "/model.png"},
                         &child),
                  0)
            << model << ": " << readFile(child.stderrPath);
        cv::Mat mask = overlayMask(cv::imread(folder + "/model.png"), video);
        int inside = cv::countNonZero(mask(box));
        // Lit, the spider's dark legs over the board's black squares hardly
        // differ from the video: a share of the box smaller than the others'.
        EXPECT_GT(inside, box.area() / 30) << model;
        EXPECT_LT(cv::countNonZero(mask) - inside, 20) << model << " drew outside its place";
    }
    std::system(("rm -rf " + folder).c_str());
}
