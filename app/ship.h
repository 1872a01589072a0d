// ship.h - the steerable spaceship: loaded once from "spaceship.3DS" and
// "spaceshiptexture.bmp" in the working directory, drawn unlit with its
// texture's colours on the board every frame, moved by the keyboard.
//
// Pose: the mesh's origin stands at board point (X, Y), height H, with
// (X, Y, H) = 0.02 (-translacao_y, translacao_x, -translacao_z); the heading
// rotation_z turns it about the board's normal. Keys: A/S lower/raise by 0.6
// squares (never below the board), O/P put it at the board's origin, Left/
// Right turn by 18 degrees, Up/Down move one square along/against its nose.
//
// Usage:
//     initNave();                 // after the GL context exists
//     drawShip();                 // every frame, in the board frame
#ifndef APP_SHIP_H
#define APP_SHIP_H

// Special-key codes, those of GLUT.
constexpr int kKeyLeft = 100, kKeyUp = 101, kKeyRight = 102, kKeyDown = 103;

// Loads the mesh (a missing or malformed mesh leaves the ship empty, with its
// trace on standard output) and the texture. False when the texture cannot
// be loaded.
bool loadShipAssets();

// loadShipAssets, and on a missing texture an error message, then the end of
// the process with status 0.
void initNave();

// Display stage: lighting off, texture on, the ship's triangles, texture off.
void drawShip();

// Character keys: A/a, S/s, O/o, P/p.
void keyboard(unsigned char key, int x, int y);
// Special keys: kKeyLeft, kKeyUp, kKeyRight, kKeyDown.
void keyboard_s(int key, int x, int y);

#endif
