// ship.h - the steerable model: by default the spaceship, loaded once from
// "spaceship.3DS" and "spaceshiptexture.bmp" in the working directory,
// drawn unlit with its texture's colours on the board every frame, moved by
// the keyboard; a scene may name another model (scene.h), in 3DS (read by
// the project's own loader, as the ship) or any format Assimp reads.
//
// Pose, in the model's own units along its own axes: the translation
// (translacao_x, translacao_y, translacao_z) and the heading rotation_z, in
// degrees about the board's normal. The model is drawn as
//     glRotate(orientation x) glRotate(orientation y) glRotate(orientation z)
//     glScale(scale) glTranslate(translacao) glRotate(rotation_z, normal)
// so for the ship (orientation 90, 0, 90; scale 0.02) the mesh's origin stands
// at board point (X, Y), height H, with (X, Y, H) = 0.02 (-translacao_y,
// translacao_x, -translacao_z). Keys: A/S lower/raise by a step (0.6 squares
// for the ship; never below the floor, the board), O/P put it at the board's
// origin, Left/Right turn by a step (18 degrees), Up/Down move a step (one
// square) along/against its nose, which at heading 0 points along the
// board's rows.
//
// State: the model's files, buffers and axes, private here; its pose and
// steps, and the 3DS mesh, in state.h. Threads: the frame loop's thread
// only (the GL context current for initNave and drawShip).
//
// Usage:
//     setUpShip(scene.model);     // at start-up: its pose and steps
//     if (!initNave()) return 0;  // after the GL context exists
//     drawShip();                 // every frame, in the board frame
#ifndef APP_SHIP_H
#define APP_SHIP_H

#include <string>

#include "keys.h"
#include "scene.h"


// The model's start pose, steps and axes from the scene. A model in another
// format than 3DS is read here (before any window opens); false, with the
// loader's line on standard error, when it cannot be.
bool setUpShip(const SceneModel& model);

// The model of --model: y up, scaled so that its largest side spans
// sizeSquares, standing on the board with its centre over boardCentre
// (board frame). False when it cannot be read.
bool setUpStandingModel(const std::string& file, double sizeSquares, const ScenePoint& boardCentre,
                        SceneModel* model);

// Loads the mesh (a missing or malformed 3DS mesh leaves the ship empty,
// with its trace on standard output) and the texture. False when a 3DS
// model's texture cannot be loaded.
bool loadShipAssets();

// loadShipAssets, and on a missing texture an error message; false then, and
// the viewer ends with status 0.
bool initNave();

// After initNave: the GL objects of the scene's shadows and of --antialias
// for a width x height picture. False when this GL cannot make one of them
// (one line said): the model is then drawn without it.
bool setUpShipLook(bool antialias, int width, int height);

// Display stage: with the scene's shadows, the shadow first (shadow_map.h);
// the model, lighting off, texture on, its triangles, texture off; with
// --antialias into the overlay's multisampled box (overlay_multisample.h).
void drawShip();

// Character keys: the ship's keys of the key table (keys.h), either case.
void keyboard(unsigned char key, int x, int y);
// Special keys: kKeyLeft, kKeyUp, kKeyRight, kKeyDown.
void keyboard_s(int key, int x, int y);
// A key table's action on the ship; the window's actions do nothing here.
void steerShip(KeyAction action);

#endif
