// model_light.h - the light that models drawn through the model loader are
// shaded with: one directional light and an ambient term in the board frame,
// times the light's colour. The 3DS ship is drawn unlit and ignores it.
//
// Threads: a plain record; the GL context's thread reads it.
#ifndef RENDER_MODEL_LIGHT_H
#define RENDER_MODEL_LIGHT_H

struct ModelLight {
    float direction[3];  // board frame, from the surface towards the light, unit length
    float intensity;     // the directional light, linear, 0..1
    float ambient;       // light from everywhere, linear, 0..1
    float colour[3];     // red, green, blue gain on both, linear; 1, 1, 1: the light as set
};

#endif
