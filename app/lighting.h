// lighting.h - the light on the models drawn through the model loader: the
// scene's light, its colour and intensity followed, with --light auto, by
// what the board's squares measure in the video (board_light.h: the white
// squares' linear colour over that of the first frame measured, smoothed
// over 0.3 s of the video's time).
//
// State: the light record and, with --light auto, the board light's
// follower, private here. Threads: the main (GL) thread only.
//
// Usage:
//     setUpModelLight(scene.light);         // at start-up
//     startFollowingBoardLight();           // at start-up, --light auto; then every frame,
//     followLightOfBoard();                 // after the board search: setMeasuredLightGain
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

// The board's light followed afresh: no reference yet, gain 1, 1, 1.
void startFollowingBoardLight();

// Idle stage (--light auto), after the board search: where the whole board
// was found in movie.frame, its squares measured and the smoothed gain set
// as the light's colour; elsewhere, or when the measurement is refused, the
// gain stays.
void followLightOfBoard();

#endif
