// scene.h - what is drawn on the board: boxes standing for real objects (the
// occluders, drawn into the depth buffer only) and the steerable model with
// its place, size, turns and key steps. The built-in scene (two buildings
// and the ship) is one such record; a scene file, YAML written by hand or by
// another program (JSON too), gives another:
//
//     occluders:                    # boxes, board frame; an empty list is allowed
//       - corners: [[2.0, 0.0, 8.2], [2.0, 6.0, 8.2], ...]   # 8 corners
//     model:
//       file: spaceship.3DS         # relative: the scene file's folder, the working directory, the program's
//       texture: spaceshiptexture.bmp   # optional where the model names its own
//       scale: 0.02                 # board units per model unit
//       orientation: [90, 0, 90]    # degrees, applied as glRotate(x) glRotate(y) glRotate(z)
//       position: [16.6, 1.2, 6.82] # start, board frame, board units
//       heading: 180                # degrees about the board's normal
//       floor: 0                    # lowest height of the model's origin, board units
//       steps: { rise: 0.6, turn: 18, advance: 1 }   # board units, degrees, board units
//     axes: 1                       # 1 draws the board's axes, 0 does not
//     light:                        # how models other than a 3DS mesh are lit
//       direction: [-0.4, 1.0, -0.55] # board frame, towards the light (made unit length)
//       intensity: 0.65             # the directional light, 0..1
//       ambient: 0.2                # light from everywhere, 0..1
//     shadows: { cast: 1, strength: 0.5 }   # the model's shadow on the board and occluders
//
// The board frame: x along the board's rows, y up from the board, z across
// the rows; one unit is one square. The corners of a box go in the order
// of the faces' table in buildings.cpp: 0-3 the side at smaller x (bottom
// near, top near, top far, bottom far), 4-7 the side at larger x likewise.
// At heading 0 the model's forward (Up key) is the board's +x once oriented.
//
// A file without occluders has none, without a model shows the built-in
// ship, without axes draws them, without light has kDefaultSceneLight,
// without shadows casts none (`shadows: 1` casts them at strength 0.5).
// Light: intensity + ambient at most 1 keeps a white surface facing the
// light out of saturation; the direction may not be zero or point below
// the board. Shadow strength: 0 (none) to 1 (black). A file is checked whole before anything
// opens: an unknown key, a value of
// the wrong type, a box without exactly 8 corners, a model or texture file
// that does not exist, or text that is not YAML gives false with one line
// naming the file and the field. Nothing here touches OpenGL.
//
// Usage:
//     Scene scene = builtInScene();
//     if (!readSceneFile("room.yml", &scene, &error)) fail(error);
#ifndef APP_SCENE_H
#define APP_SCENE_H

#include <array>
#include <string>
#include <vector>

using ScenePoint = std::array<double, 3>;  // board frame, board units

struct Occluder {
    std::array<ScenePoint, 8> corners;
};

struct SceneModel {
    std::string file;     // the model's path, as found
    std::string texture;  // empty: the model's own
    double scale;         // board units per model unit
    ScenePoint orientation;  // degrees about the model's x, y, z
    ScenePoint position;     // start, board frame
    double heading;          // degrees about the board's normal
    double floor;            // lowest height of the model's origin
    double rise, turn, advance;  // key steps: board units, degrees, board units
};

// One directional light and an ambient term, for the models drawn through
// the model loader (the 3DS ship is drawn unlit).
struct SceneLight {
    ScenePoint direction;  // board frame, from the surface towards the light, unit length
    double intensity;      // 0..1
    double ambient;        // 0..1
};
constexpr SceneLight kDefaultSceneLight = {{-0.33075929, 0.82689823, -0.45479403}, 0.65, 0.2};

// The model's shadow, the video darkened where the model keeps the light
// from the board and the occluders.
struct SceneShadows {
    bool cast;        // false: no shadows
    double strength;  // 0: none, 1: black
};
constexpr double kDefaultShadowStrength = 0.5;

struct Scene {
    std::vector<Occluder> occluders;
    SceneModel model;
    bool axes;
    SceneLight light = kDefaultSceneLight;
    SceneShadows shadows = {false, kDefaultShadowStrength};
};

// The two buildings beside the board and the ship from spaceship.3DS and
// spaceshiptexture.bmp in the working directory.
Scene builtInScene();

// A 3DS mesh by its file name (any case): a scene reads it with the
// project's own loader, which needs the texture named.
bool isModel3DS(const std::string& file);

// Reads a scene file into *scene; false with one line in *error.
bool readSceneFile(const std::string& path, Scene* scene, std::string* error);

#endif
