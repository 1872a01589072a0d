// shadow_map.h - the model's shadow on the real world: the board's plane and
// the occluders, which stand for real objects, are darkened where the model
// keeps the light off them. The video is what is darkened: the shadow is a
// shadow-only surface, its pixels multiplied by 1 - strength where fully in
// shadow, with soft edges.
//
// A directional light (the scene's direction, towards the light) casts it.
// The caster, drawn by the caller between beginShadowCasting and
// endShadowCasting, goes into a depth map seen from the light, an
// orthographic box fitted to the caster's bounds. drawShadows then draws the
// part of the board's plane under that box and the occluders' faces with a
// program that looks each point up in the map, 5 x 5 comparisons filtered
// bilinearly (percentage-closer filtering) spread over 0.15 board units, the
// width of the shadow's soft edge. The depth test against the occluders' depth hides a
// shadow on the board behind a real object; the occluders' own faces, drawn
// at their own depth, take the shadow of a model between them and the
// light. Nothing is written to depth. The model does not shade itself.
//
// Threads: the GL context's thread only.
//
// Usage:
//     ShadowMap map;
//     if (!setUpShadowMap(&map)) { /* one line said; no shadows */ }
//     if (!shadowMapHolds(map, light.direction, casterBox)) {
//         beginShadowCasting(&map, light.direction, casterBox);  drawTheModel();  endShadowCasting(&map);
//     }
//     drawShadows(map, scene.occluders, 0.5f);   // with the camera's board frame loaded
//     releaseShadowMap(&map);
#ifndef RENDER_SHADOW_MAP_H
#define RENDER_SHADOW_MAP_H

#include <vector>

#include "scene.h"

constexpr int kShadowMapSide = 512;  // texels

// Corners of the caster's bounds in the board frame.
struct ShadowCaster {
    float corners[8][3];
};

struct ShadowMap {
    unsigned depthTexture = 0;
    unsigned framebuffer = 0;
    unsigned program = 0;
    float boardToMap[16] = {};  // board frame to map texture coordinates and depth, column-major
    float footprint[4][3] = {};  // the board plane's part under the light's box
    float depthBias = 0;         // in map depth: a receiver this much behind the caster is lit
    float filterStep[2] = {};    // map coordinates between the filter's taps
    bool casting = false;        // within begin/end
    // What the map was last cast from: the light and the caster's corners.
    bool cast = false;
    double castDirection[3] = {};
    float castCorners[8][3] = {};
    int savedViewport[4] = {};
    int savedFramebuffer = 0;
};

// Creates the depth map, its framebuffer and the program; false with one
// line on standard error (and nothing left allocated) when this GL cannot.
bool setUpShadowMap(ShadowMap* map);

// Binds the depth map and loads the light's matrices (board frame); the
// caller then draws the caster with depth writes, and nothing else.
// lightDirection: towards the light, unit length, above the board (y > 0).
void beginShadowCasting(ShadowMap* map, const double lightDirection[3], const ShadowCaster& caster);

// True when the map already holds this caster's shadow from this light:
// both live in the board frame, so a camera that moves leaves the map as it
// is, and only a model that moves (or a new light) needs it cast again.
bool shadowMapHolds(const ShadowMap& map, const double lightDirection[3], const ShadowCaster& caster);

// The framebuffer, viewport and matrices as before beginShadowCasting.
void endShadowCasting(ShadowMap* map);

// The shadow darkening the picture: strength 0..1. The camera's matrices in
// the board frame must be current; the GL state is left as found.
void drawShadows(const ShadowMap& map, const std::vector<Occluder>& occluders, float strength);

void releaseShadowMap(ShadowMap* map);

#endif
