// lighting.cpp - the models' light record, and the stage that follows the
// board's light.
#include "lighting.h"

#include "board_light.h"
#include "state.h"

namespace {

ModelLight light = {{0, 1, 0}, 0.65f, 0.2f, {1, 1, 1}};

BoardLight boardLight;

}  // namespace

void setUpModelLight(const SceneLight& s) {
    for (int i = 0; i < 3; ++i) light.direction[i] = static_cast<float>(s.direction[i]), light.colour[i] = 1.0f;
    light.intensity = static_cast<float>(s.intensity);
    light.ambient = static_cast<float>(s.ambient);
}

void setMeasuredLightGain(const float gain[3]) {
    for (int i = 0; i < 3; ++i) light.colour[i] = gain[i];
}

const ModelLight& modelLight() { return light; }

void startFollowingBoardLight() {
    initBoardLight(&boardLight);
    setMeasuredLightGain(boardLight.gain);
}

void followLightOfBoard() {
    if (!chess.found || chess.cornerCount != chess.patternSize.area()) return;
    BoardSquares squares;
    if (!measureBoardSquares(movie.frame, chess.corners, chess.patternSize, &squares)) return;
    followBoardLight(&boardLight, squares, movie.timestampMs);
    setMeasuredLightGain(boardLight.gain);
}
