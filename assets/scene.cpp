// scene.cpp - the built-in scene and scene files read with yaml-cpp.
#include "scene.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <set>

#include <yaml-cpp/yaml.h>

#include "text_file.h"

namespace {

constexpr long kMaxSceneBytes = 1L << 20;
constexpr int kMaxNesting = 32, kMaxIndent = 256;  // levels; characters of a line's indentation

// The two buildings beside the board, board frame. The far sides are
// measured, not squared: they keep their own values.
constexpr ScenePoint kPredio1[8] = {{2.0, 0.0, 8.2},  {2.0, 6.0, 8.2},  {2.0, 6.0, 12.4}, {2.0, 0.0, 12.4},
                                    {7.2, 0.0, 8.2},  {7.2, 6.0, 8.2},  {7.0, 6.0, 12.4}, {7.0, 0.0, 12.4}};
constexpr ScenePoint kPredio2[8] = {{11.0, 0.0, 1.0}, {11.0, 4.0, 1.0}, {11.0, 4.0, 5.0}, {11.0, 0.0, 5.0},
                                    {15.4, 0.0, 1.4}, {15.2, 4.0, 1.3}, {15.3, 4.0, 5.4}, {15.4, 0.0, 5.4}};

// The ship: 120 mesh units long, nose along the mesh's -y, turned so that
// its nose runs along the board's rows, starting beside the second building.
constexpr double kShipScale = 0.02;                        // board units per mesh unit
constexpr ScenePoint kShipOrientation = {90.0, 0.0, 90.0};  // degrees
constexpr ScenePoint kShipStart = {16.6, 1.2, 6.82};        // board frame
constexpr double kShipHeading = 180.0;                      // degrees
constexpr double kShipRise = 0.6, kShipTurn = 18.0, kShipAdvance = 1.0;

Occluder box(const ScenePoint (&corners)[8]) {
    Occluder o;
    for (int i = 0; i < 8; ++i) o.corners[i] = corners[i];
    return o;
}

bool fileExists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The folder of the running program, where the build puts the ship's files.
std::string programFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    path[length] = '\0';
    return folderOf(path);
}

// Where the scene file's own folder, the working directory or the program's
// folder has it.
bool findFile(const std::string& sceneFile, const std::string& name, std::string* found) {
    if (!name.empty() && name[0] == '/') {
        *found = name;
        return fileExists(name);
    }
    for (const std::string& candidate : {folderOf(sceneFile) + name, name, programFolder() + name})
        if (fileExists(candidate)) {
            *found = candidate;
            return true;
        }
    return false;
}

// Reading one file: the file's name for messages, the first problem found.
struct SceneReader {
    std::string path;
    std::string problem;

    bool fail(const std::string& field, const std::string& what) {
        if (problem.empty()) problem = path + ": " + field + ": " + what;
        return false;
    }
};

bool readNumber(SceneReader* r, const YAML::Node& node, const std::string& field, double* value) {
    if (!node.IsScalar()) return r->fail(field, "expected a number");
    try {
        *value = node.as<double>();
    } catch (const YAML::Exception&) {
        return r->fail(field, "expected a number, not '" + node.Scalar() + "'");
    }
    if (!std::isfinite(*value)) return r->fail(field, "expected a finite number");
    return true;
}

bool readPoint(SceneReader* r, const YAML::Node& node, const std::string& field, ScenePoint* p) {
    if (!node.IsSequence() || node.size() != 3) return r->fail(field, "expected [x, y, z]");
    for (int i = 0; i < 3; ++i)
        if (!readNumber(r, node[i], field + "[" + std::to_string(i) + "]", &(*p)[i])) return false;
    return true;
}

// Every key of a map must be one of the allowed ones.
bool onlyKeys(SceneReader* r, const YAML::Node& node, const std::string& field, std::set<std::string> allowed) {
    if (!node.IsMap()) return r->fail(field.empty() ? "the file" : field, "expected a map of keys");
    for (const auto& entry : node) {
        std::string key = entry.first.IsScalar() ? entry.first.Scalar() : "?";
        if (!allowed.count(key)) return r->fail(field.empty() ? key : field + "." + key, "unknown key");
    }
    return true;
}

bool readOccluders(SceneReader* r, const YAML::Node& node, std::vector<Occluder>* occluders) {
    if (node.IsNull()) return true;
    if (!node.IsSequence()) return r->fail("occluders", "expected a list of boxes");
    occluders->clear();
    for (size_t i = 0; i < node.size(); ++i) {
        std::string field = "occluders[" + std::to_string(i) + "]";
        if (!onlyKeys(r, node[i], field, {"corners"})) return false;
        YAML::Node corners = node[i]["corners"];
        if (!corners.IsSequence() || corners.size() != 8)
            return r->fail(field + ".corners", "expected a list of 8 corners [x, y, z]");
        Occluder o;
        for (int k = 0; k < 8; ++k)
            if (!readPoint(r, corners[k], field + ".corners[" + std::to_string(k) + "]", &o.corners[k])) return false;
        occluders->push_back(o);
    }
    return true;
}

bool readSteps(SceneReader* r, const YAML::Node& node, SceneModel* m) {
    if (!onlyKeys(r, node, "model.steps", {"rise", "turn", "advance"})) return false;
    if (node["rise"] && !readNumber(r, node["rise"], "model.steps.rise", &m->rise)) return false;
    if (node["turn"] && !readNumber(r, node["turn"], "model.steps.turn", &m->turn)) return false;
    if (node["advance"] && !readNumber(r, node["advance"], "model.steps.advance", &m->advance)) return false;
    return true;
}

bool readModelFiles(SceneReader* r, const YAML::Node& node, SceneModel* m) {
    if (!node["file"] || !node["file"].IsScalar()) return r->fail("model.file", "expected the model's file name");
    if (!findFile(r->path, node["file"].Scalar(), &m->file))
        return r->fail("model.file", "no file " + node["file"].Scalar());
    m->texture.clear();
    if (!node["texture"]) {
        if (isModel3DS(m->file)) return r->fail("model.texture", "a 3DS model needs its texture (a 24-bit BMP) named");
        return true;
    }
    if (!node["texture"].IsScalar()) return r->fail("model.texture", "expected a picture's file name");
    if (!findFile(r->path, node["texture"].Scalar(), &m->texture))
        return r->fail("model.texture", "no file " + node["texture"].Scalar());
    return true;
}

// Keys left out keep the model's defaults: scale 1, no turns, at the board's
// origin, heading 0, on the board, the built-in ship's steps.
bool readModel(SceneReader* r, const YAML::Node& node, SceneModel* m) {
    if (!onlyKeys(r, node, "model",
                  {"file", "texture", "scale", "orientation", "position", "heading", "floor", "steps"}))
        return false;
    *m = SceneModel{"", "", 1.0, {0, 0, 0}, {0, 0, 0}, 0.0, 0.0, kShipRise, kShipTurn, kShipAdvance};
    if (!readModelFiles(r, node, m)) return false;
    if (node["scale"] && !readNumber(r, node["scale"], "model.scale", &m->scale)) return false;
    if (!(m->scale > 0)) return r->fail("model.scale", "expected a positive number");
    if (node["orientation"] && !readPoint(r, node["orientation"], "model.orientation", &m->orientation))
        return false;
    if (node["position"] && !readPoint(r, node["position"], "model.position", &m->position)) return false;
    if (node["heading"] && !readNumber(r, node["heading"], "model.heading", &m->heading)) return false;
    if (node["floor"] && !readNumber(r, node["floor"], "model.floor", &m->floor)) return false;
    return !node["steps"] || readSteps(r, node["steps"], m);
}

// 1 or 0, true or false.
bool readAxesLike(SceneReader* r, const YAML::Node& node, const std::string& field, const std::string& expected,
                  bool* on) {
    double value = 0;
    if (node.IsScalar() && (node.Scalar() == "true" || node.Scalar() == "false")) {
        *on = node.Scalar() == "true";
        return true;
    }
    if (!readNumber(r, node, field, &value) || (value != 0 && value != 1)) return r->fail(field, expected);
    *on = value == 1;
    return true;
}

bool readAxes(SceneReader* r, const YAML::Node& node, bool* axes) {
    return readAxesLike(r, node, "axes", "expected 1 (draw the board's axes) or 0", axes);
}

bool readFraction(SceneReader* r, const YAML::Node& node, const std::string& field, double* value) {
    if (!readNumber(r, node, field, value)) return false;
    if (*value < 0 || *value > 1) return r->fail(field, "expected a number from 0 to 1");
    return true;
}

// The direction is made unit length; one pointing below the board's plane
// would light the board from underneath.
bool readLight(SceneReader* r, const YAML::Node& node, SceneLight* light) {
    if (!onlyKeys(r, node, "light", {"direction", "intensity", "ambient"})) return false;
    if (node["direction"]) {
        ScenePoint d;
        if (!readPoint(r, node["direction"], "light.direction", &d)) return false;
        double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (!(length > 0) || !std::isfinite(length)) return r->fail("light.direction", "expected a non-zero direction");
        if (d[1] <= 0) return r->fail("light.direction", "expected a light above the board (y > 0)");
        for (int i = 0; i < 3; ++i) light->direction[i] = d[i] / length;
    }
    if (node["intensity"] && !readFraction(r, node["intensity"], "light.intensity", &light->intensity)) return false;
    return !node["ambient"] || readFraction(r, node["ambient"], "light.ambient", &light->ambient);
}

// `shadows: 1`, `shadows: 0`, or a map {cast, strength}; a map without cast
// casts them.
bool readShadows(SceneReader* r, const YAML::Node& node, SceneShadows* shadows) {
    if (!node.IsMap()) {
        bool cast = false;
        if (!readAxesLike(r, node, "shadows", "expected 1 (cast shadows), 0, or {cast, strength}", &cast)) return false;
        shadows->cast = cast;
        return true;
    }
    if (!onlyKeys(r, node, "shadows", {"cast", "strength"})) return false;
    shadows->cast = true;
    if (node["cast"] && !readAxesLike(r, node["cast"], "shadows.cast", "expected 1 or 0", &shadows->cast))
        return false;
    return !node["strength"] || readFraction(r, node["strength"], "shadows.strength", &shadows->strength);
}

bool readScene(SceneReader* r, const YAML::Node& root, Scene* scene) {
    if (!onlyKeys(r, root, "", {"occluders", "model", "axes", "light", "shadows"})) return false;
    if (root["occluders"] && !readOccluders(r, root["occluders"], &scene->occluders)) return false;
    if (root["model"] && !readModel(r, root["model"], &scene->model)) return false;
    if (root["light"] && !readLight(r, root["light"], &scene->light)) return false;
    if (root["shadows"] && !readShadows(r, root["shadows"], &scene->shadows)) return false;
    return !root["axes"] || readAxes(r, root["axes"], &scene->axes);
}

}  // namespace

bool isModel3DS(const std::string& file) {
    if (file.size() < 4) return false;
    std::string ending = file.substr(file.size() - 4);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".3ds";
}

Scene builtInScene() {
    Scene s;
    s.occluders = {box(kPredio1), box(kPredio2)};
    s.model = SceneModel{"spaceship.3DS", "spaceshiptexture.bmp", kShipScale, kShipOrientation, kShipStart,
                         kShipHeading,    0.0,                    kShipRise,  kShipTurn,        kShipAdvance};
    s.axes = true;
    return s;
}

// A file without occluders has none; without a model, the built-in ship;
// without axes, the axes.
bool readSceneFile(const std::string& path, Scene* scene, std::string* error) {
    SceneReader reader{path, ""};
    YAML::Node root;
    std::string text, problem;
    if (!readTextFile(path, kMaxSceneBytes, "a scene file", &text, &problem)) {
        *error = path + ": " + problem;
        return false;
    }
    // The parser recurses once per level and would overflow the stack on a
    // file nested some thousands deep; a scene is nested four deep.
    if (nestedTooDeep(text, false, kMaxNesting, kMaxIndent)) {
        *error = path + ": nested too deeply for a scene file";
        return false;
    }
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        *error = path + ": not YAML: line " + std::to_string(e.mark.line + 1) + ": " + e.msg;
        return false;
    } catch (const std::exception& e) {
        *error = path + ": not YAML (" + e.what() + ")";
        return false;
    }
    Scene s;
    s.model = builtInScene().model;
    s.axes = true;
    bool ok = false;
    try {
        ok = readScene(&reader, root, &s);
    } catch (const YAML::Exception& e) {
        reader.fail("the file", e.msg);
    } catch (const std::exception& e) {
        reader.fail("the file", e.what());
    }
    if (!ok) {
        *error = reader.problem;
        return false;
    }
    *scene = s;
    return true;
}
