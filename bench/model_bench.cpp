// model_bench.cpp - how fast a large model draws over the video background in
// an offscreen GL context (Mesa's software renderer), as the viewer draws it.
//
// Writes a textured torus of 100,000 triangles (OBJ, MTL and a 1024 x 1024
// PNG) into a temporary folder, loads it with loadModel, and draws it every
// frame, turning, over a 640 x 480 background picture put down with
// glDrawPixels as the viewer does, with glFinish per frame. Reports the load
// time, then milliseconds per frame (mean, median, 95th percentile) and
// frames per second for: the background alone; the model in buffer objects
// without culling, with the default culling (closed meshes) and with every
// mesh culled; untextured and lit; and drawn in immediate mode
// (glBegin/glEnd per triangle, as the ship is) for comparison. --model draws
// another file instead of the torus.
//
// Usage: build/bin/model_bench [--frames N] [--model FILE [--texture FILE]]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "model.h"
#include "model_gl.h"
#include "offscreen_gl.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 640, kHeight = 480;          // pixels, the sample video's size
constexpr int kTorusRings = 250, kTorusSides = 200; // 2 x 250 x 200 = 100,000 triangles
constexpr int kCoarseTorusSides = 40;               // --triangles N: N / 80 rings of 40 sides
constexpr double kTorusRadius = 1.0, kTubeRadius = 0.4;  // model units
constexpr int kTextureSide = 1024;                  // texels
constexpr int kDefaultFrames = 200, kWarmUpFrames = 10;
constexpr double kDegreesPerFrame = 1.5;
constexpr double kModelWidthInView = 0.55;          // share of the picture's width the model spans

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of every thread of the process (llvmpipe's included): less
// disturbed than the clock by other programs on a shared machine.
double processMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Positions shared around the seams (so that the torus is found closed),
// texture coordinates split along them.
void writeTorus(const fs::path& folder, int rings, int sides) {
    std::ofstream obj(folder / "torus.obj");
    obj << "mtllib torus.mtl\n";
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j) {
            const double a = 2 * M_PI * i / rings, b = 2 * M_PI * j / sides;
            const double r = kTorusRadius + kTubeRadius * std::cos(b);
            obj << "v " << r * std::cos(a) << ' ' << r * std::sin(a) << ' ' << kTubeRadius * std::sin(b) << '\n';
        }
    for (int i = 0; i <= rings; ++i)
        for (int j = 0; j <= sides; ++j) obj << "vt " << 4.0 * i / rings << ' ' << 1.0 * j / sides << '\n';
    auto corner = [rings, sides](int i, int j) {  // OBJ counts from 1
        const int position = (i % rings) * sides + (j % sides) + 1;
        return ' ' + std::to_string(position) + '/' + std::to_string(i * (sides + 1) + j + 1);
    };
    obj << "usemtl checker\n";
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < sides; ++j)
            obj << 'f' << corner(i, j) << corner(i + 1, j) << corner(i + 1, j + 1) << "\nf" << corner(i, j)
                << corner(i + 1, j + 1) << corner(i, j + 1) << '\n';
    std::ofstream(folder / "torus.mtl") << "newmtl checker\nKd 0.8 0.6 0.2\nmap_Kd checker.png\n";
    cv::Mat texture(kTextureSide, kTextureSide, CV_8UC3);
    for (int y = 0; y < kTextureSide; ++y)
        for (int x = 0; x < kTextureSide; ++x)
            texture.at<cv::Vec3b>(y, x) = ((x / 64 + y / 64) % 2) ? cv::Vec3b(40, 40 + y / 8, 200)
                                                                  : cv::Vec3b(230, 230, 100 + x / 8);
    cv::imwrite((folder / "checker.png").string(), texture);
}

cv::Mat backgroundPicture() {
    cv::Mat picture(kHeight, kWidth, CV_8UC3);
    cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(255));
    cv::GaussianBlur(picture, picture, cv::Size(9, 9), 3);
    return picture;
}

void drawBackground(const cv::Mat& picture) {
    glDepthMask(GL_FALSE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glWindowPos2i(0, kHeight);
    glPixelZoom(1.0f, -1.0f);
    glDrawPixels(kWidth, kHeight, GL_BGR, GL_UNSIGNED_BYTE, picture.data);
    glPixelZoom(1.0f, 1.0f);
    glDepthMask(GL_TRUE);
}

// A camera 4 model widths away looking at the model's centre, the model
// turning about its own z axis and tipped towards the camera.
void placeModel(const Model& model, int frame) {
    double centre[3], size = 0;
    for (int k = 0; k < 3; ++k) {
        centre[k] = (model.boundsMin[k] + model.boundsMax[k]) / 2;
        size = std::max(size, static_cast<double>(model.boundsMax[k] - model.boundsMin[k]));
    }
    const double distance = 4 * size, halfWidth = size / 2 / kModelWidthInView / 4;  // at the near plane, size away
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-halfWidth, halfWidth, -halfWidth * kHeight / kWidth, halfWidth * kHeight / kWidth, size, 8 * size);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(0, 0, -distance);
    glRotated(-60, 1, 0, 0);
    glRotated(frame * kDegreesPerFrame, 0, 0, 1);
    glTranslated(-centre[0], -centre[1], -centre[2]);
}

void setUpLight() {
    const GLfloat ambient[] = {0.3f, 0.3f, 0.3f, 1}, diffuse[] = {0.8f, 0.8f, 0.8f, 1}, position[] = {1, 2, 3, 0};
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
}

// The ship's way: one glVertex call per corner.
void drawImmediate(const Model& model, const std::vector<GLuint>& textures) {
    glDisable(GL_LIGHTING);
    for (const ModelMesh& mesh : model.meshes) {
        const bool textured = mesh.texture >= 0;
        if (textured) {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, textures[static_cast<std::size_t>(mesh.texture)]);
            glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        }
        glColor4fv(mesh.diffuse);
        glBegin(GL_TRIANGLES);
        for (unsigned index : mesh.indices) {
            if (textured) glTexCoord2fv(&mesh.texcoords[2 * index]);
            glVertex3fv(&mesh.positions[3 * index]);
        }
        glEnd();
        glDisable(GL_TEXTURE_2D);
    }
}

struct Figures {
    double mean, median, p95, processorMean;
};

Figures measure(int frames, const cv::Mat& background, const std::function<void(int)>& drawFrame) {
    std::vector<double> times;
    double processorStart = 0;
    for (int frame = -kWarmUpFrames; frame < frames; ++frame) {
        if (frame == 0) processorStart = processMilliseconds();
        const Clock::time_point start = Clock::now();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawBackground(background);
        drawFrame(frame);
        glFinish();
        if (frame >= 0) times.push_back(millisecondsSince(start));
    }
    const double processorMean = (processMilliseconds() - processorStart) / frames;
    double sum = 0;
    for (double t : times) sum += t;
    std::sort(times.begin(), times.end());
    return {sum / times.size(), times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 95 / 100)],
            processorMean};
}

void report(const char* name, const Figures& f) {
    std::printf("%-38s %8.2f %8.2f %8.2f %8.1f %10.2f\n", name, f.mean, f.median, f.p95, 1000.0 / f.mean,
                f.processorMean);
}

struct Options {
    int frames = kDefaultFrames;
    std::string model, texture;
    std::string writeFolder;  // --write: only write the torus's files there
    int triangles = 0;        // --triangles: the written torus's, about; 0: 100,000
};

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            std::printf("usage: model_bench [--frames N] [--model FILE [--texture FILE]]\n"
                        "       model_bench --write FOLDER [--triangles N]\n"
                        "Milliseconds per frame of a 100,000-triangle textured torus (or FILE) drawn over a\n"
                        "640 x 480 background in an offscreen GL context; --write only writes the torus\n"
                        "(torus.obj, torus.mtl, checker.png) into FOLDER, e.g. for arrender --model; with\n"
                        "--triangles N a coarser torus of about N triangles (40 sides a ring).\n");
            std::exit(0);
        } else if (arg == "--frames" && hasValue) {
            options->frames = std::atoi(argv[++i]);
        } else if (arg == "--model" && hasValue) {
            options->model = argv[++i];
        } else if (arg == "--texture" && hasValue) {
            options->texture = argv[++i];
        } else if (arg == "--triangles" && hasValue) {
            options->triangles = std::atoi(argv[++i]);
            if (options->triangles < 2 * kCoarseTorusSides * 3) {
                std::fprintf(stderr, "model_bench: --triangles needs at least %d\n", 2 * kCoarseTorusSides * 3);
                return false;
            }
        } else if (arg == "--write" && hasValue) {
            options->writeFolder = argv[++i];
        } else {
            std::fprintf(stderr, "model_bench: unknown or incomplete option %s (see --help)\n", arg.c_str());
            return false;
        }
    }
    if (options->frames > 0) return true;
    std::fprintf(stderr, "model_bench: --frames needs a positive count\n");
    return false;
}

// The viewer's default light for models, seen from the camera's side.
constexpr ModelLight kBenchLight = {{-0.31f, 0.78f, 0.54f}, 0.65f, 0.2f, {1, 1, 1}};

void runAll(const Model& model, int frames) {
    const cv::Mat background = backgroundPicture();
    setUpLight();
    ModelBuffers buffers;
    if (!uploadModel(model, &buffers)) return;
    Model untextured = model;
    for (ModelMesh& mesh : untextured.meshes) mesh.texture = -1;
    ModelBuffers lit;
    if (!uploadModel(untextured, &lit)) return;

    std::printf("%-38s %8s %8s %8s %8s %10s\n", "640 x 480 frame", "mean ms", "median", "p95", "fps", "cpu ms");
    report("background alone", measure(frames, background, [](int) {}));
    const std::pair<const char*, ModelCulling> cullings[] = {{"buffer objects, no culling", ModelCulling::kNone},
                                                             {"buffer objects, closed meshes culled", ModelCulling::kClosedMeshes},
                                                             {"buffer objects, every mesh culled", ModelCulling::kAllMeshes}};
    for (const auto& [name, culling] : cullings) {
        buffers.culling = culling;
        report(name, measure(frames, background, [&](int frame) {
                   placeModel(model, frame);
                   drawModel(buffers, kBenchLight);
               }));
    }
    report("untextured, shaded, closed meshes culled", measure(frames, background, [&](int frame) {
               placeModel(model, frame);
               drawModel(lit, kBenchLight);
           }));
    report("immediate mode, no culling", measure(frames, background, [&](int frame) {
               placeModel(model, frame);
               drawImmediate(model, buffers.textures);
           }));
    releaseModel(&lit);
    releaseModel(&buffers);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) return 1;
    if (!options.writeFolder.empty()) {
        std::error_code made;
        fs::create_directories(options.writeFolder, made);
        if (options.triangles > 0)
            writeTorus(options.writeFolder, options.triangles / (2 * kCoarseTorusSides), kCoarseTorusSides);
        else
            writeTorus(options.writeFolder, kTorusRings, kTorusSides);
        return fs::exists(fs::path(options.writeFolder) / "torus.obj") ? 0 : 1;
    }
    const fs::path folder = fs::temp_directory_path() / ("model_bench_" + std::to_string(::getpid()));
    if (options.model.empty()) {
        fs::create_directories(folder);
        writeTorus(folder, kTorusRings, kTorusSides);
        options.model = (folder / "torus.obj").string();
    }
    Model model;
    const Clock::time_point start = Clock::now();
    const bool loaded = loadModel(options.model, options.texture, &model);
    const double loadMs = millisecondsSince(start);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (!loaded) return 1;
    std::size_t closed = 0;
    for (const ModelMesh& mesh : model.meshes) closed += mesh.closed;
    std::printf("%s: %zu triangles in %zu meshes (%zu closed), %zu textures, loaded in %.0f ms\n",
                options.model.c_str(), modelTriangleCount(model), model.meshes.size(), closed, model.textures.size(),
                loadMs);
    OffscreenGL gl;
    if (!createOffscreenGL(kWidth, kHeight, &gl)) return 1;
    runAll(model, options.frames);
    destroyOffscreenGL(&gl);
    return 0;
}
