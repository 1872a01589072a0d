// lighting.cpp - the models' light record.
#include "lighting.h"

namespace {

ModelLight light = {{0, 1, 0}, 0.65f, 0.2f, {1, 1, 1}};

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
