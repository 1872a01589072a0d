// lighting.h - the light on the models drawn through the model loader: the
// scene's light, its colour and intensity followed, with --light auto, by
// what the board's squares measure in the video.
//
// Threads: the main (GL) thread only.
//
// Usage:
//     setUpModelLight(scene.light);         // at start-up
//     setMeasuredLightGain(gain);           // --light auto, after each frame's measurement
//     drawPlacedModel(buffers, placement, pose, modelLight());
#ifndef APP_LIGHTING_H
#define APP_LIGHTING_H

#include "model_light.h"
#include "scene.h"

void setUpModelLight(const SceneLight& light);

// The light's red, green and blue gains, linear, relative to the light as
// the scene sets it.
void setMeasuredLightGain(const float gain[3]);

const ModelLight& modelLight();

#endif
